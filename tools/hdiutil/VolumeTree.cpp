#include "hdiutil/VolumeTree.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <system_error>
#include <utility>

using namespace Qt::StringLiterals;

namespace tarn::hdiutil {

namespace fs = std::filesystem;

namespace {

QString display(const fs::path& path) {
    return QString::fromStdString(path.string());
}

QString quoted(const fs::path& path) {
    return u"'%1'"_s.arg(display(path));
}

bool isInside(const fs::path& candidate, const fs::path& root) {
    const auto [rootEnd, candidateAt] = std::mismatch(root.begin(), root.end(), candidate.begin(), candidate.end());
    return rootEnd == root.end();
}

// Walks the tree below `root` without following links; `visit` answers an error to stop the walk.
template <typename Visit>
std::optional<QString> walk(const fs::path& root, Visit&& visit) {
    std::error_code error;
    fs::recursive_directory_iterator entries(root, fs::directory_options::none, error);
    for (; !error && entries != fs::recursive_directory_iterator(); entries.increment(error)) {
        if (auto stop = visit(entries->path())) {
            return stop;
        }
    }
    if (error) {
        return u"cannot read %1: %2"_s.arg(quoted(root), QString::fromStdString(error.message()));
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> firstEscape(const QString& rootPath) {
    std::error_code error;
    const fs::path root = fs::canonical(rootPath.toStdString(), error);
    if (error) {
        return u"cannot read '%1': %2"_s.arg(rootPath, QString::fromStdString(error.message()));
    }

    // A regular file with more links than the tree holds is linked from outside it.
    std::map<std::pair<dev_t, ino_t>, nlink_t> linksInTree;
    std::map<std::pair<dev_t, ino_t>, std::pair<nlink_t, fs::path>> linkedFiles;
    auto escape = walk(root, [&](const fs::path& path) -> std::optional<QString> {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            return u"cannot read %1"_s.arg(quoted(path));
        }
        if (S_ISLNK(status.st_mode)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(path, linkError);
            const fs::path resolved = fs::canonical(path, linkError);
            if (linkError || target.is_absolute() || !isInside(resolved, root)) {
                return u"the link %1 leads out of the volume"_s.arg(quoted(path.lexically_relative(root)));
            }
        } else if (S_ISREG(status.st_mode)) {
            if (status.st_nlink > 1) {
                const auto key = std::make_pair(status.st_dev, status.st_ino);
                ++linksInTree[key];
                linkedFiles[key] = {status.st_nlink, path};
            }
        } else if (!S_ISDIR(status.st_mode)) {
            return u"%1 is neither a file, a folder nor a link"_s.arg(quoted(path.lexically_relative(root)));
        }
        return std::nullopt;
    });
    if (escape) {
        return escape;
    }
    for (const auto& [key, file] : linkedFiles) {
        if (file.first > linksInTree[key]) {
            return u"the file %1 is linked from outside the volume"_s.arg(quoted(file.second.lexically_relative(root)));
        }
    }
    return std::nullopt;
}

std::optional<QString> makeReadOnly(const QString& rootPath) {
    const fs::path root = rootPath.toStdString();
    const auto dropWrite = [](const fs::path& path) -> std::optional<QString> {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            return u"cannot read %1"_s.arg(quoted(path));
        }
        if (S_ISLNK(status.st_mode)) {
            return std::nullopt; // chmod would change the link's target
        }
        if (::chmod(path.c_str(), status.st_mode & 07555) != 0) {
            return u"cannot make %1 read-only"_s.arg(quoted(path));
        }
        return std::nullopt;
    };
    if (auto failure = walk(root, dropWrite)) {
        return failure;
    }
    return dropWrite(root);
}

std::optional<QString> removeTree(const QString& rootPath) {
    const fs::path root = rootPath.toStdString();
    std::error_code error;
    if (!fs::exists(fs::symlink_status(root, error))) {
        return std::nullopt;
    }
    const auto restoreWrite = [](const fs::path& path) -> std::optional<QString> {
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
            ::chmod(path.c_str(), (status.st_mode & 07777) | S_IRWXU);
        }
        return std::nullopt;
    };
    restoreWrite(root);
    if (auto failure = walk(root, restoreWrite)) {
        return failure;
    }
    fs::remove_all(root, error);
    if (error) {
        return u"cannot remove %1: %2"_s.arg(quoted(root), QString::fromStdString(error.message()));
    }
    return std::nullopt;
}

} // namespace tarn::hdiutil
