#pragma once

#include "common/Xar.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tarn::tool {

// What a component's PackageInfo says about it.
struct PackageInfo {
    QString identifier;
    QString version;
    QString installLocation; // absolute and clean, "/" when the package names none
};

struct Component {
    QString fileName; // the package's own name, or its folder inside a product archive
    PackageInfo info;
    const XarEntry* payload = nullptr; // absent for a package that installs no files
};

struct PackageContents {
    QString title;
    QList<Component> components;
};

// The components of a component package (PackageInfo and Payload at the top) or of a product archive
// (a Distribution naming "#NAME.pkg" folders, each with its own PackageInfo and Payload).
PackageContents readPackageContents(const XarArchive& archive, const QString& packageFileName);

PackageInfo parsePackageInfo(const QByteArray& xml);
// The component folders a Distribution references, in document order, and its title.
QStringList parseDistribution(const QByteArray& xml, QString* title);

} // namespace tarn::tool
