#include "demo/DemoSandbox.h"

#include "demo/DemoEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <filesystem>
#include <system_error>

namespace tarn::demo {

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

DemoSandbox::DemoSandbox(const std::optional<QString>& keptFolder) {
    if (keptFolder) {
        const QFileInfo folder(*keptFolder);
        if (folder.exists() && !folder.isDir()) {
            throw DemoError(u"TARN_DEMO_SANDBOX: '%1' is not a folder."_s.arg(*keptFolder).toStdString());
        }
        if (!QDir().mkpath(folder.absoluteFilePath())) {
            throw DemoError(u"TARN_DEMO_SANDBOX: cannot create the folder '%1'."_s.arg(*keptFolder).toStdString());
        }
        root = QFileInfo(folder.absoluteFilePath()).canonicalFilePath();
        kept = true;
        return;
    }
    QTemporaryDir fresh(QDir(QDir::tempPath()).filePath(u"tarn-demo-XXXXXX"_s));
    if (!fresh.isValid()) {
        throw DemoError(u"Cannot create the demo's sandbox in '%1': %2"_s.arg(QDir::tempPath(), fresh.errorString())
                                .toStdString());
    }
    fresh.setAutoRemove(false); // removeTree below copes with what the tools leave read-only
    root = fresh.path();
}

DemoSandbox::~DemoSandbox() {
    if (!kept) {
        removeTree(root);
    }
}

QString DemoSandbox::folderFor(const QString& relative) const {
    const QString path = QDir(root).filePath(relative);
    if (!QDir().mkpath(path)) {
        throw DemoError(u"Cannot create the folder '%1' in the demo's sandbox."_s.arg(path).toStdString());
    }
    return path;
}

bool removeTree(const QString& folder) {
    const fs::path top(QFile::encodeName(folder).toStdString());
    std::error_code ignored;
    const auto isFolder = [&ignored](const fs::path& path) {
        return fs::symlink_status(path, ignored).type() == fs::file_type::directory;
    };
    // Every folder writable and searchable before the walk enters it, so that its entries can go.
    if (isFolder(top)) {
        fs::permissions(top, fs::perms::owner_all, fs::perm_options::add, ignored);
        std::error_code walking;
        for (fs::recursive_directory_iterator entry(top, walking), end; !walking && entry != end;
             entry.increment(walking)) {
            if (isFolder(entry->path())) {
                fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
            }
        }
    }
    std::error_code removing;
    fs::remove_all(top, removing);
    return !removing;
}

} // namespace tarn::demo
