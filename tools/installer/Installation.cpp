#include "Installation.h"

#include "Payload.h"
#include "PayloadStream.h"
#include "Transaction.h"
#include "common/Receipts.h"
#include "common/RootedFiles.h"
#include "common/SignalDeferral.h"
#include "common/ToolError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

// Absolute within the system root, cleaned: "/Applications".
QString systemPath(const QString& path) {
    return QDir::cleanPath(u"/"_s + path);
}

struct StagedComponent {
    const Component* component = nullptr;
    QList<PayloadItem> items;
    std::optional<Receipt> previousReceipt;
    QString installRoot;
    QString workDirectory; // beside the install location's contents, on the same file system
    QString staging;
};

// Removes the components' work folders however the installation ends.
struct WorkDirectories {
    explicit WorkDirectories(const RootedFiles& files) : files(files) {}
    ~WorkDirectories() { removeAll(); }
    WorkDirectories(const WorkDirectories&) = delete;
    WorkDirectories& operator=(const WorkDirectories&) = delete;

    QStringList removeAll() noexcept {
        QStringList problems;
        for (const auto& path : paths) {
            try {
                files.removeTree(path);
            } catch (const std::exception& error) {
                problems.append(QString::fromLocal8Bit(error.what()));
            }
        }
        paths.clear();
        return problems;
    }

    const RootedFiles& files;
    QStringList paths;
};

QString makeWorkDirectory(const RootedFiles& files, const QString& installRoot) {
    const FileDescriptor folder = files.openFolder(installRoot);
    for (;;) {
        const QString name =
                u".tarn-installer-%1"_s.arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
        if (::mkdirat(folder.get(), QFile::encodeName(name).constData(), 0700) == 0) {
            return childPath(installRoot, name);
        }
        if (errno != EEXIST) {
            throw ToolError(u"cannot create a staging folder in '%1': %2"_s.arg(installRoot, errnoText(errno)));
        }
    }
}

quint64 fileTypeBits(PayloadItemKind kind) {
    switch (kind) {
    case PayloadItemKind::directory:
        return S_IFDIR;
    case PayloadItemKind::symlink:
        return S_IFLNK;
    case PayloadItemKind::file:
    case PayloadItemKind::hardlink:
        return S_IFREG;
    }
    return 0;
}

// Whether an existing path lies below a symbolic link within the install location: such a path is never
// touched, so that a receipt cannot make the installer remove anything outside the install location.
bool liesBeyondLink(const RootedFiles& files, const QString& installRoot, const QString& relativePath) {
    const FileDescriptor location = files.open(installRoot, O_PATH | O_DIRECTORY);
    if (!location) {
        return true;
    }
    const qsizetype slash = relativePath.lastIndexOf(u'/');
    return !RootedFiles::openBeneath(location.get(), slash < 0 ? QString() : relativePath.left(slash),
                                     O_PATH | O_DIRECTORY);
}

void placeItems(Transaction& transaction, const RootedFiles& files, const StagedComponent& staged) {
    for (const auto& item : staged.items) {
        const QString target = childPath(staged.installRoot, item.path);
        const std::optional<struct stat> existing = files.status(target);
        if (item.kind == PayloadItemKind::directory) {
            if (existing && S_ISDIR(existing->st_mode)) {
                continue;
            }
            if (existing) {
                transaction.moveAside(target);
            }
            transaction.makeDirectory(target, static_cast<mode_t>(item.mode & 07777));
            continue;
        }
        if (existing) {
            transaction.moveAside(target);
        }
        transaction.moveIn(childPath(staged.staging, item.path), target);
    }
}

// What the previous version installed and this package does not goes; folders only when they are empty.
void removeLeftovers(Transaction& transaction, const RootedFiles& files, const StagedComponent& staged,
                     const QSet<QString>& kept) {
    if (!staged.previousReceipt) {
        return;
    }
    const QString previousRoot = systemPath(staged.previousReceipt->installLocation);
    QList<ReceiptPath> previous = staged.previousReceipt->paths;
    std::sort(previous.begin(), previous.end(), [](const ReceiptPath& left, const ReceiptPath& right) {
        return left.path.count(u'/') > right.path.count(u'/');
    });
    for (const auto& entry : previous) {
        const QString target = systemPath(childPath(previousRoot, entry.path));
        if (kept.contains(target) || liesBeyondLink(files, previousRoot, entry.path)) {
            continue;
        }
        const std::optional<struct stat> existing = files.status(target);
        if (!existing) {
            continue;
        }
        if (S_ISDIR(existing->st_mode)) {
            transaction.removeEmptyDirectory(target);
            continue;
        }
        transaction.moveAside(target);
    }
}

Receipt receiptFor(const StagedComponent& staged, qint64 installTime) {
    Receipt receipt;
    receipt.pkgid = staged.component->info.identifier;
    receipt.version = staged.component->info.version;
    receipt.installLocation = staged.component->info.installLocation;
    receipt.packageFileName = staged.component->fileName;
    receipt.installTime = installTime;
    const quint64 uid = geteuid();
    const quint64 gid = getegid();
    for (const auto& item : staged.items) {
        receipt.paths.append({item.path, fileTypeBits(item.kind) | item.mode, uid, gid});
    }
    return receipt;
}

void writeReceipts(Transaction& transaction, const RootedFiles& files, const std::vector<StagedComponent>& components,
                   const SystemRoot& root) {
    const ReceiptDatabase receipts(root);
    const QString directory = ReceiptDatabase::systemDirectory();
    transaction.createDirectories(directory);
    const qint64 installTime = QDateTime::currentSecsSinceEpoch();
    for (const auto& staged : components) {
        const Receipt receipt = receiptFor(staged, installTime);
        const QString final = childPath(directory, receipt.pkgid + u".plist"_s);
        const QString pending = childPath(directory, u'.' + receipt.pkgid + u".plist.new"_s);
        if (const auto stale = files.status(pending); stale && !S_ISDIR(stale->st_mode)) {
            const RootedFiles::Entry entry = files.entry(pending);
            ::unlinkat(entry.folder.get(), entry.name.constData(), 0);
        }
        transaction.writeFile(pending, receipts.serialize(receipt));
        if (files.status(final)) {
            transaction.moveAside(final);
        }
        transaction.moveIn(pending, final);
    }
}

// Each component with what its payload will place and the receipt it replaces; nothing is written yet.
std::vector<StagedComponent> inspectComponents(const XarArchive& archive, const PackageContents& contents,
                                               const ReceiptDatabase& receipts) {
    std::vector<StagedComponent> components;
    for (const auto& component : contents.components) {
        StagedComponent staged;
        staged.component = &component;
        if (component.payload) {
            staged.items = inspectPayload(payloadStream(archive.openStream(*component.payload)));
        }
        staged.previousReceipt = receipts.find(component.info.identifier);
        staged.installRoot = systemPath(component.info.installLocation);
        components.push_back(std::move(staged));
    }
    return components;
}

// Extracts the component's payload into a work folder beside its install location.
void stage(StagedComponent& staged, const XarArchive& archive, Transaction& transaction,
           WorkDirectories& workDirectories, const RootedFiles& files) {
    transaction.createDirectories(staged.installRoot);
    staged.workDirectory = makeWorkDirectory(files, staged.installRoot);
    workDirectories.paths.push_back(staged.workDirectory);
    staged.staging = childPath(staged.workDirectory, u"payload"_s);
    const FileDescriptor work = files.openFolder(staged.workDirectory);
    if (::mkdirat(work.get(), "payload", 0700) != 0) {
        throw ToolError(u"cannot create the staging folder '%1': %2"_s.arg(staged.staging, errnoText(errno)));
    }
    if (staged.component->payload) {
        const FileDescriptor staging = files.openFolder(staged.staging);
        extractPayload(payloadStream(archive.openStream(*staged.component->payload)), staging.get(), staged.items);
    }
}

// Names every set-user-ID and set-group-ID file installed.
void noticeSetIdFiles(const std::vector<StagedComponent>& components,
                      const std::function<void(const QString&)>& notice) {
    for (const auto& staged : components) {
        for (const auto& item : staged.items) {
            if (notice && item.kind == PayloadItemKind::file && (item.mode & (S_ISUID | S_ISGID)) != 0) {
                notice(u"'%1' is installed with its %2 bit (mode %3)"_s.arg(
                        childPath(staged.installRoot, item.path),
                        (item.mode & S_ISUID) != 0 ? u"set-user-ID"_s : u"set-group-ID"_s,
                        QString::number(item.mode & 07777, 8)));
            }
        }
    }
}

} // namespace

QStringList installPackage(const XarArchive& archive, const PackageContents& contents, const SystemRoot& root,
                           const std::function<void(const QString&)>& notice) {
    const RootedFiles files(root);
    std::vector<StagedComponent> components = inspectComponents(archive, contents, ReceiptDatabase(root));
    QSet<QString> kept;
    for (const auto& staged : components) {
        for (const auto& item : staged.items) {
            kept.insert(childPath(staged.installRoot, item.path));
        }
    }

    Transaction transaction(files);
    WorkDirectories workDirectories(files);
    try {
        for (auto& staged : components) {
            SignalDeferral::checkpoint("staging");
            stage(staged, archive, transaction, workDirectories, files);
        }
        // The last point to stop; from here the installation is committed whatever arrives.
        SignalDeferral::checkpoint("staged");
        for (const auto& staged : components) {
            placeItems(transaction, files, staged);
        }
        SignalDeferral::passing("committing");
        for (const auto& staged : components) {
            removeLeftovers(transaction, files, staged, kept);
        }
        writeReceipts(transaction, files, components, root);
    } catch (const ToolError& error) {
        // The work folders go first: a folder this installation created can only go once it is empty.
        QStringList problems = workDirectories.removeAll();
        problems += transaction.rollback();
        if (problems.isEmpty()) {
            throw;
        }
        throw ToolError(u"%1; could not undo everything: %2"_s.arg(error.message(), problems.join(u"; ")));
    } catch (...) {
        workDirectories.removeAll();
        transaction.rollback();
        throw;
    }
    QStringList problems = transaction.commit();
    problems += workDirectories.removeAll();
    noticeSetIdFiles(components, notice);
    return problems;
}

} // namespace tarn::tool
