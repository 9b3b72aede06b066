#pragma once

#include "common/SystemRoot.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/stat.h>
#include <utility>

namespace tarn::tool {

// An open file descriptor, closed by its owner.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) : descriptor(descriptor) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : descriptor(std::exchange(other.descriptor, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(descriptor, other.descriptor);
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return descriptor; }
    explicit operator bool() const { return descriptor >= 0; }

private:
    int descriptor = -1;
};

// The system root as "/" for every path a tool touches. The kernel resolves each path beneath the root as
// a chroot would (openat2 with RESOLVE_IN_ROOT): "..", absolute links and links laid by earlier packages
// all stay inside, whatever they say. Paths are absolute within the system ("/Applications/Scan.app");
// changes are made with *at() calls relative to folders opened this way, never by host path strings.
class RootedFiles {
public:
    // Throws ToolError when the root cannot be opened or the kernel cannot resolve paths beneath it
    // (openat2 needs Linux 5.6): without that, nothing is touched.
    explicit RootedFiles(const SystemRoot& root);

    // Opens `path` with open(2) `flags`; an invalid descriptor, with errno set, when that fails.
    FileDescriptor open(const QString& path, int flags, mode_t mode = 0) const;
    // Opens `relative` below `folder` without following any link and without leaving it; an invalid
    // descriptor, with errno set, when that fails.
    static FileDescriptor openBeneath(int folder, const QString& relative, int flags, mode_t mode = 0);
    // A folder, links inside the root followed; throws ToolError when it is none. The last two folders
    // opened are kept, since entries come folder by folder (from staging to their place); forgetFolders()
    // drops them once a folder or a link on the way to one may have moved.
    FileDescriptor openFolder(const QString& path) const;
    void forgetFolders() const;

    // The opened folder that holds `path`, and the last component's name; throws ToolError for "/".
    struct Entry {
        FileDescriptor folder;
        QByteArray name;
    };
    Entry entry(const QString& path) const;
    // lstat(2) of `path`: the last component itself, not where it leads; absent when there is nothing.
    std::optional<struct stat> status(const QString& path) const;
    // Removes `path` and, for a folder, everything in it, without following links.
    void removeTree(const QString& path) const;

    // Where an opened folder lies on this machine, for the child processes that take paths.
    static QString hostPath(const FileDescriptor& folder);

private:
    FileDescriptor folderOrNothing(const QString& path) const;

    SystemRoot systemRoot;
    FileDescriptor rootFolder;
    struct KeptFolder {
        QString path;
        FileDescriptor folder;
    };
    mutable KeptFolder kept[2];
    mutable int nextKept = 0;
};

// "/a/b/c" gives "/a/b"; "/a" gives "/".
QString parentPath(const QString& path);
// Joins "/a" and "b/c" as "/a/b/c"; "/" and "b" as "/b".
QString childPath(const QString& folder, const QString& relative);

// The reason errno gives, for messages.
QString errnoText(int error);

} // namespace tarn::tool
