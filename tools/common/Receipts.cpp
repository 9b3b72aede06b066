#include "common/Receipts.h"

#include "common/Plist.h"
#include "common/RootedFiles.h"
#include "common/ToolError.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

constexpr qint64 maxReceiptSize = 256LL * 1024 * 1024;

bool isSafeRelativePath(const QString& path) {
    if (path.isEmpty() || path.startsWith(u'/')) {
        return false;
    }
    const QStringList components = path.split(u'/');
    return std::none_of(components.begin(), components.end(), [](const QString& component) {
        return component.isEmpty() || component == QLatin1String(".") || component == QLatin1String("..");
    });
}

Plist toPlist(const Receipt& receipt, const QString& installLocation) {
    Plist root = Plist::dictionary();
    setString(root.get(), "install-location", installLocation);
    setString(root.get(), "install-process-name", u"installer"_s);
    setUnsigned(root.get(), "install-time", static_cast<quint64>(std::max<qint64>(receipt.installTime, 0)));
    const plist_t paths = plist_new_dict();
    for (const auto& path : receipt.paths) {
        const plist_t attributes = plist_new_dict();
        setUnsigned(attributes, "gid", path.gid);
        setUnsigned(attributes, "mode", path.mode);
        setUnsigned(attributes, "uid", path.uid);
        plist_dict_set_item(paths, path.path.toUtf8().constData(), attributes);
    }
    plist_dict_set_item(root.get(), "paths", paths);
    setString(root.get(), "pkg-filename", receipt.packageFileName);
    setString(root.get(), "pkg-version", receipt.version);
    setString(root.get(), "pkgid", receipt.pkgid);
    setUnsigned(root.get(), "receipt-plist-version", 1);
    setString(root.get(), "volume", u"/"_s);
    return root;
}

} // namespace

bool ReceiptDatabase::isValidIdentifier(const QString& pkgid) {
    static const QRegularExpression pattern(u"^[A-Za-z0-9_+\\-][A-Za-z0-9._+\\-]{0,254}$"_s);
    return pattern.match(pkgid).hasMatch();
}

QString ReceiptDatabase::systemDirectory() {
    return u"/var/db/receipts"_s;
}

QString ReceiptDatabase::fileFor(const QString& pkgid) {
    if (!isValidIdentifier(pkgid)) {
        throw ToolError(u"'%1' is not a valid package identifier"_s.arg(pkgid));
    }
    return systemDirectory() + u'/' + pkgid + u".plist"_s;
}

std::optional<Receipt> ReceiptDatabase::find(const QString& pkgid) const {
    if (!isValidIdentifier(pkgid)) {
        return std::nullopt;
    }
    FileDescriptor descriptor = RootedFiles(systemRoot).open(fileFor(pkgid), O_RDONLY);
    if (!descriptor && (errno == ENOENT || errno == ENOTDIR)) {
        return std::nullopt;
    }
    const QString damaged = u"the receipt for '%1' is damaged"_s.arg(pkgid);
    QFile file;
    if (!descriptor || !file.open(descriptor.get(), QIODevice::ReadOnly) || file.size() > maxReceiptSize) {
        throw ToolError(damaged);
    }
    const Plist plist = Plist::parse(file.readAll());
    if (!plist.isDictionary()) {
        throw ToolError(damaged);
    }
    Receipt receipt;
    const auto storedId = stringEntry(plist.get(), "pkgid");
    const auto version = stringEntry(plist.get(), "pkg-version");
    const auto location = stringEntry(plist.get(), "install-location");
    const auto installTime = unsignedEntry(plist.get(), "install-time");
    const plist_t paths = plist_dict_get_item(plist.get(), "paths");
    if (storedId != pkgid || !version || !location || !installTime || !paths ||
        plist_get_node_type(paths) != PLIST_DICT) {
        throw ToolError(damaged);
    }
    receipt.pkgid = pkgid;
    receipt.version = *version;
    receipt.installLocation = QDir::cleanPath(u"/"_s + *location);
    receipt.packageFileName = stringEntry(plist.get(), "pkg-filename").value_or(QString());
    receipt.installTime = static_cast<qint64>(*installTime);
    bool pathsIntact = true;
    forEachEntry(paths, [&](const QString& path, plist_t attributes) {
        if (!isSafeRelativePath(path) || plist_get_node_type(attributes) != PLIST_DICT) {
            pathsIntact = false;
            return;
        }
        receipt.paths.append({path, unsignedEntry(attributes, "mode").value_or(0),
                              unsignedEntry(attributes, "uid").value_or(0),
                              unsignedEntry(attributes, "gid").value_or(0)});
    });
    if (!pathsIntact) {
        throw ToolError(damaged);
    }
    return receipt;
}

QStringList ReceiptDatabase::identifiers() const {
    QStringList result;
    const FileDescriptor folder = RootedFiles(systemRoot).open(systemDirectory(), O_RDONLY | O_DIRECTORY);
    DIR* listing = folder ? ::fdopendir(::dup(folder.get())) : nullptr;
    if (listing == nullptr) {
        return result;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const QString name = QFile::decodeName(entry->d_name);
        struct stat status {};
        if (!name.endsWith(QLatin1String(".plist")) || ::fstatat(folder.get(), entry->d_name, &status, 0) != 0 ||
            !S_ISREG(status.st_mode)) {
            continue;
        }
        const QString pkgid = name.chopped(6);
        if (isValidIdentifier(pkgid)) {
            result.append(pkgid);
        }
    }
    ::closedir(listing);
    std::sort(result.begin(), result.end());
    return result;
}

void ReceiptDatabase::forget(const QString& pkgid) const {
    const RootedFiles::Entry entry = RootedFiles(systemRoot).entry(fileFor(pkgid));
    if (::unlinkat(entry.folder.get(), entry.name.constData(), 0) != 0) {
        throw ToolError(u"cannot forget '%1': %2"_s.arg(pkgid, errnoText(errno)));
    }
}

QByteArray ReceiptDatabase::serialize(const Receipt& receipt) const {
    QString stored = QDir::cleanPath(u"/"_s + receipt.installLocation).mid(1);
    return toPlist(receipt, stored.isEmpty() ? u"/"_s : stored).toXml();
}

QByteArray ReceiptDatabase::exportPlist(const Receipt& receipt) const {
    // Where the install location really lies, links inside the root followed as the installer followed
    // them; by name alone when it is gone.
    QString onThisMachine = systemRoot.resolve(receipt.installLocation).mid(1);
    try {
        const FileDescriptor location = RootedFiles(systemRoot).open(receipt.installLocation, O_PATH | O_DIRECTORY);
        const QString real = location ? RootedFiles::hostPath(location) : QString();
        if (!real.isEmpty()) {
            onThisMachine = real.mid(1);
        }
    } catch (const ToolError&) {
    }
    return toPlist(receipt, onThisMachine.isEmpty() ? u"/"_s : onThisMachine).toXml();
}

} // namespace tarn::tool
