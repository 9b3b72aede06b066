#pragma once

#include "common/SystemRoot.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarn::tool {

struct ReceiptPath {
    QString path; // relative to the install location, no leading "./"
    quint64 mode = 0;
    quint64 uid = 0;
    quint64 gid = 0;
};

// What an installed package left on the system, as the installer recorded it.
struct Receipt {
    QString pkgid;
    QString version;
    QString installLocation; // absolute within the system root, e.g. "/Applications"
    QString packageFileName;
    qint64 installTime = 0;   // seconds since the epoch
    QList<ReceiptPath> paths; // parents before their children
};

// The installed packages' receipts, one XML property list per package identifier in
// <root>/var/db/receipts/<pkgid>.plist. The stored plist has the keys `pkgutil --export-plist` prints,
// its install location written relative to the system root.
class ReceiptDatabase {
public:
    explicit ReceiptDatabase(SystemRoot root) : systemRoot(std::move(root)) {}

    // Reverse-DNS style: letters, digits, ".", "-", "_", "+"; neither empty nor starting with ".", so an
    // identifier always names a file inside the database.
    static bool isValidIdentifier(const QString& pkgid);

    const SystemRoot& root() const { return systemRoot; }
    // Where the receipts lie within the system root: "/var/db/receipts".
    static QString systemDirectory();
    // The receipt's path within the system root. Throws ToolError for an invalid identifier.
    static QString fileFor(const QString& pkgid);

    // Every read and removal resolves inside the system root (RootedFiles).
    // Absent when no receipt exists; throws ToolError when one exists but is damaged.
    std::optional<Receipt> find(const QString& pkgid) const;
    QStringList identifiers() const;
    // Removes the receipt; throws ToolError when that fails.
    void forget(const QString& pkgid) const;

    QByteArray serialize(const Receipt& receipt) const;
    // The receipt as `pkgutil --export-plist` prints it: the install location is given as it lies on this
    // machine, without its leading "/" (so "/" + location + "/" + path names an installed file).
    QByteArray exportPlist(const Receipt& receipt) const;

private:
    SystemRoot systemRoot;
};

} // namespace tarn::tool
