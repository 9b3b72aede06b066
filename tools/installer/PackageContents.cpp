#include "PackageContents.h"

#include "common/Receipts.h"

#include <QDir>
#include <QSet>
#include <QUrl>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

// PackageInfo and Distribution are small XML documents; a large one is no package of ours.
constexpr qint64 maxDescriptionSize = 4 * 1024 * 1024;

void requireWellFormed(const QXmlStreamReader& xml, const QString& document) {
    if (xml.hasError()) {
        throw ToolError(u"the %1 is malformed: %2"_s.arg(document, xml.errorString()));
    }
}

bool isSafeName(const QString& name) {
    return !name.isEmpty() && !name.contains(u'/') && name != QLatin1String(".") && name != QLatin1String("..");
}

Component readComponent(const XarArchive& archive, const QString& folder, const QString& fileName) {
    const QString prefix = folder.isEmpty() ? QString() : folder + u'/';
    const XarEntry* packageInfo = archive.entry(prefix + u"PackageInfo"_s);
    if (!packageInfo || packageInfo->type != XarEntryType::file) {
        throw ToolError(u"'%1' has no PackageInfo"_s.arg(fileName));
    }
    Component component;
    component.fileName = fileName;
    component.info = parsePackageInfo(archive.contents(*packageInfo, maxDescriptionSize));
    const XarEntry* payload = archive.entry(prefix + u"Payload"_s);
    if (payload && payload->type != XarEntryType::file) {
        throw ToolError(u"the Payload of '%1' is not a file"_s.arg(fileName));
    }
    component.payload = payload;
    return component;
}

} // namespace

PackageInfo parsePackageInfo(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("pkg-info")) {
        requireWellFormed(reader, u"PackageInfo"_s);
        throw ToolError(u"the PackageInfo has no <pkg-info> element"_s);
    }
    const auto attributes = reader.attributes();
    PackageInfo info;
    info.identifier = attributes.value(QLatin1String("identifier")).toString();
    info.version = attributes.value(QLatin1String("version")).toString();
    const QString location = attributes.value(QLatin1String("install-location")).toString();
    reader.skipCurrentElement();
    requireWellFormed(reader, u"PackageInfo"_s);

    if (!ReceiptDatabase::isValidIdentifier(info.identifier)) {
        throw ToolError(u"the PackageInfo names an invalid identifier '%1'"_s.arg(info.identifier));
    }
    if (info.version.trimmed().isEmpty()) {
        throw ToolError(u"the PackageInfo of '%1' names no version"_s.arg(info.identifier));
    }
    if (location.isEmpty()) {
        info.installLocation = u"/"_s;
    } else {
        const QStringList components = location.split(u'/', Qt::SkipEmptyParts);
        if (!location.startsWith(u'/') || components.contains(u".."_s)) {
            throw ToolError(
                    u"the PackageInfo of '%1' names an unsafe install location '%2'"_s.arg(info.identifier, location));
        }
        info.installLocation = QDir::cleanPath(location);
    }
    return info;
}

QStringList parseDistribution(const QByteArray& xml, QString* title) {
    QXmlStreamReader reader(xml);
    QStringList folders;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement()) {
            continue;
        }
        if (reader.name() == QLatin1String("title") && title && title->isEmpty()) {
            *title = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (reader.name() == QLatin1String("pkg-ref")) {
            const QString reference = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            if (!reference.startsWith(u'#')) {
                continue;
            }
            const QString folder = QUrl::fromPercentEncoding(reference.mid(1).toUtf8());
            if (!isSafeName(folder)) {
                throw ToolError(u"the Distribution references an unsafe component '%1'"_s.arg(folder));
            }
            if (!folders.contains(folder)) {
                folders.append(folder);
            }
        }
    }
    requireWellFormed(reader, u"Distribution"_s);
    return folders;
}

PackageContents readPackageContents(const XarArchive& archive, const QString& packageFileName) {
    PackageContents contents;
    const XarEntry* distribution = archive.entry(u"Distribution"_s);
    if (!distribution) {
        contents.components.append(readComponent(archive, QString(), packageFileName));
    } else {
        const QStringList folders =
                parseDistribution(archive.contents(*distribution, maxDescriptionSize), &contents.title);
        if (folders.isEmpty()) {
            throw ToolError(u"the Distribution references no component package"_s);
        }
        for (const auto& folder : folders) {
            const XarEntry* directory = archive.entry(folder);
            if (!directory || directory->type != XarEntryType::directory) {
                throw ToolError(u"the component package '%1' is missing"_s.arg(folder));
            }
            contents.components.append(readComponent(archive, folder, folder));
        }
    }
    QSet<QString> identifiers;
    for (const auto& component : contents.components) {
        if (identifiers.contains(component.info.identifier)) {
            throw ToolError(u"the identifier '%1' appears twice"_s.arg(component.info.identifier));
        }
        identifiers.insert(component.info.identifier);
    }
    if (contents.title.isEmpty()) {
        contents.title = packageFileName;
    }
    return contents;
}

} // namespace tarn::tool
