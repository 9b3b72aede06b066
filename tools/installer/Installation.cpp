#include "Installation.h"

#include "Payload.h"
#include "PayloadStream.h"
#include "Transaction.h"
#include "common/Receipts.h"
#include "common/SignalDeferral.h"
#include "common/ToolError.h"

#include <QDateTime>
#include <QSet>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn::tool {

namespace fs = std::filesystem;

namespace {

fs::path toPath(const QString& path) {
    return fs::path(path.toStdString());
}

struct StagedComponent {
    const Component* component = nullptr;
    QList<PayloadItem> items;
    std::optional<Receipt> previousReceipt;
    fs::path installRoot;
    fs::path workDirectory; // beside the install location's contents, on the same file system
    fs::path staging;
};

// Removes the components' work folders however the installation ends.
struct WorkDirectories {
    std::vector<fs::path> paths;

    ~WorkDirectories() { removeAll(); }

    QStringList removeAll() noexcept {
        QStringList problems;
        for (const auto& path : paths) {
            std::error_code error;
            fs::remove_all(path, error);
            if (error) {
                problems.append(
                        QStringLiteral("cannot remove '%1': %2")
                                .arg(QString::fromStdString(path.string()), QString::fromStdString(error.message())));
            }
        }
        paths.clear();
        return problems;
    }
};

fs::path makeWorkDirectory(const fs::path& installRoot) {
    std::string pattern = (installRoot / ".tarn-installer-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw ToolError(QStringLiteral("cannot create a staging folder in '%1'")
                                .arg(QString::fromStdString(installRoot.string())));
    }
    return fs::path(pattern);
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

// Whether an existing path lies below a symbolic link within `root`: such a path is never touched, so
// that a receipt cannot make the installer remove anything outside the install location.
bool liesBeyondLink(const fs::path& root, const QString& relativePath) {
    fs::path current = root;
    const QStringList components = relativePath.split(u'/');
    for (qsizetype index = 0; index + 1 < components.size(); ++index) {
        current /= components[index].toStdString();
        std::error_code error;
        if (fs::is_symlink(fs::symlink_status(current, error))) {
            return true;
        }
    }
    return false;
}

void placeItems(Transaction& transaction, const StagedComponent& staged) {
    for (const auto& item : staged.items) {
        const fs::path target = staged.installRoot / item.path.toStdString();
        std::error_code error;
        const fs::file_status existing = fs::symlink_status(target, error);
        if (item.kind == PayloadItemKind::directory) {
            if (fs::is_directory(existing)) {
                continue;
            }
            if (fs::exists(existing)) {
                transaction.moveAside(target);
            }
            transaction.makeDirectory(target, static_cast<fs::perms>(item.mode) & fs::perms::mask);
            continue;
        }
        if (fs::exists(existing)) {
            transaction.moveAside(target);
        }
        transaction.moveIn(staged.staging / item.path.toStdString(), target);
    }
}

QString normalized(const fs::path& path) {
    return QString::fromStdString(path.lexically_normal().string());
}

// What the previous version installed and this package does not goes; folders only when they are empty.
void removeLeftovers(Transaction& transaction, const StagedComponent& staged, const QSet<QString>& kept,
                     const SystemRoot& root) {
    if (!staged.previousReceipt) {
        return;
    }
    const fs::path previousRoot = toPath(root.resolve(staged.previousReceipt->installLocation));
    QList<ReceiptPath> previous = staged.previousReceipt->paths;
    std::sort(previous.begin(), previous.end(), [](const ReceiptPath& left, const ReceiptPath& right) {
        return left.path.count(u'/') > right.path.count(u'/');
    });
    for (const auto& entry : previous) {
        const fs::path target = previousRoot / entry.path.toStdString();
        if (kept.contains(normalized(target)) || liesBeyondLink(previousRoot, entry.path)) {
            continue;
        }
        std::error_code error;
        const fs::file_status existing = fs::symlink_status(target, error);
        if (!fs::exists(existing)) {
            continue;
        }
        if (fs::is_directory(existing)) {
            if (fs::is_empty(target, error) && !error) {
                transaction.removeEmptyDirectory(target);
            }
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

void writeReceipts(Transaction& transaction, const std::vector<StagedComponent>& components, const SystemRoot& root) {
    const ReceiptDatabase receipts(root);
    const fs::path directory = toPath(receipts.directory());
    transaction.createDirectories(toPath(root.directory()), directory);
    const qint64 installTime = QDateTime::currentSecsSinceEpoch();
    for (const auto& staged : components) {
        const Receipt receipt = receiptFor(staged, installTime);
        const fs::path final = toPath(receipts.fileFor(receipt.pkgid));
        const fs::path pending = directory / ("." + final.filename().string() + ".new");
        std::error_code error;
        fs::remove(pending, error);
        transaction.writeFile(pending, receipts.serialize(receipt));
        if (fs::exists(fs::symlink_status(final, error))) {
            transaction.moveAside(final);
        }
        transaction.moveIn(pending, final);
    }
}

} // namespace

QStringList installPackage(const XarArchive& archive, const PackageContents& contents, const SystemRoot& root) {
    const ReceiptDatabase receipts(root);
    std::vector<StagedComponent> components;
    for (const auto& component : contents.components) {
        StagedComponent staged;
        staged.component = &component;
        if (component.payload) {
            staged.items = inspectPayload(payloadStream(archive.openStream(*component.payload)));
        }
        staged.previousReceipt = receipts.find(component.info.identifier);
        staged.installRoot = toPath(root.resolve(component.info.installLocation));
        components.push_back(std::move(staged));
    }

    QSet<QString> kept;
    for (const auto& staged : components) {
        for (const auto& item : staged.items) {
            kept.insert(normalized(staged.installRoot / item.path.toStdString()));
        }
    }

    Transaction transaction;
    WorkDirectories workDirectories;
    try {
        for (auto& staged : components) {
            SignalDeferral::checkpoint("staging");
            transaction.createDirectories(toPath(root.directory()), staged.installRoot);
            staged.workDirectory = makeWorkDirectory(staged.installRoot);
            workDirectories.paths.push_back(staged.workDirectory);
            staged.staging = staged.workDirectory / "payload";
            std::error_code error;
            if (!fs::create_directory(staged.staging, error)) {
                throw ToolError(QStringLiteral("cannot create the staging folder '%1'")
                                        .arg(QString::fromStdString(staged.staging.string())));
            }
            if (staged.component->payload) {
                extractPayload(payloadStream(archive.openStream(*staged.component->payload)),
                               QString::fromStdString(staged.staging.string()), staged.items);
            }
        }
        // The last point to stop; from here the installation is committed whatever arrives.
        SignalDeferral::checkpoint("staged");
        for (const auto& staged : components) {
            placeItems(transaction, staged);
        }
        SignalDeferral::passing("committing");
        for (const auto& staged : components) {
            removeLeftovers(transaction, staged, kept, root);
        }
        writeReceipts(transaction, components, root);
    } catch (const ToolError& error) {
        // The work folders go first: a folder this installation created can only go once it is empty.
        QStringList problems = workDirectories.removeAll();
        problems += transaction.rollback();
        if (problems.isEmpty()) {
            throw;
        }
        throw ToolError(error.message() + QStringLiteral("; could not undo everything: ") + problems.join(u"; "));
    } catch (...) {
        workDirectories.removeAll();
        transaction.rollback();
        throw;
    }
    QStringList problems = transaction.commit();
    problems += workDirectories.removeAll();
    return problems;
}

} // namespace tarn::tool
