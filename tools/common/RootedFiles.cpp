#include "common/RootedFiles.h"

#include "common/ToolError.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

int openat2Call(int folder, const QByteArray& path, int flags, mode_t mode, quint64 resolve) {
    open_how how{};
    how.flags = static_cast<quint64>(flags) | O_CLOEXEC;
    how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
    how.resolve = resolve;
    for (;;) {
        const long result = ::syscall(SYS_openat2, folder, path.constData(), &how, sizeof how);
        // The kernel asks for a retry when a rename raced with a resolution beneath a root.
        if (result >= 0 || errno != EAGAIN) {
            return static_cast<int>(result);
        }
    }
}

// "/" and "" resolve to the root itself.
QByteArray relativeOf(const QString& path) {
    const QString cleaned = QDir::cleanPath(u"/"_s + path);
    return cleaned == QLatin1String("/") ? QByteArray(".") : QFile::encodeName(cleaned.mid(1));
}

void removeBelow(int folder, const QByteArray& name, const QString& shown) {
    struct stat status {};
    if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return;
        }
        throw ToolError(u"cannot remove '%1': %2"_s.arg(shown, errnoText(errno)));
    }
    if (S_ISDIR(status.st_mode)) {
        // Emptying a folder needs write permission on it, which a staged or replaced tree may lack.
        ::fchmodat(folder, name.constData(), (status.st_mode & 07777) | S_IRWXU, 0);
        const int inner = ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        DIR* listing = inner >= 0 ? ::fdopendir(inner) : nullptr;
        if (listing == nullptr) {
            if (inner >= 0) {
                ::close(inner);
            }
            throw ToolError(u"cannot remove '%1': %2"_s.arg(shown, errnoText(errno)));
        }
        QList<QByteArray> names;
        while (const dirent* child = ::readdir(listing)) {
            const QByteArray childName(child->d_name);
            if (childName != "." && childName != "..") {
                names.append(childName);
            }
        }
        try {
            for (const QByteArray& childName : names) {
                removeBelow(::dirfd(listing), childName, shown + u'/' + QFile::decodeName(childName));
            }
        } catch (...) {
            ::closedir(listing);
            throw;
        }
        ::closedir(listing);
    }
    if (::unlinkat(folder, name.constData(), S_ISDIR(status.st_mode) ? AT_REMOVEDIR : 0) != 0) {
        throw ToolError(u"cannot remove '%1': %2"_s.arg(shown, errnoText(errno)));
    }
}

} // namespace

FileDescriptor::~FileDescriptor() {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

RootedFiles::RootedFiles(const SystemRoot& root) : systemRoot(root) {
    rootFolder =
            FileDescriptor(::open(QFile::encodeName(root.directory()).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!rootFolder) {
        throw ToolError(u"cannot open the system root '%1': %2"_s.arg(root.directory(), errnoText(errno)));
    }
    const FileDescriptor probe(openat2Call(rootFolder.get(), ".", O_PATH | O_DIRECTORY, 0, RESOLVE_IN_ROOT));
    if (!probe) {
        throw ToolError(errno == ENOSYS ? u"this kernel cannot resolve paths inside the system root (openat2 "
                                          "needs Linux 5.6 or later); nothing was changed"_s
                                        : u"cannot resolve paths inside the system root '%1': %2"_s.arg(
                                                  root.directory(), errnoText(errno)));
    }
}

FileDescriptor RootedFiles::open(const QString& path, int flags, mode_t mode) const {
    return FileDescriptor(
            openat2Call(rootFolder.get(), relativeOf(path), flags, mode, RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS));
}

FileDescriptor RootedFiles::openBeneath(int folder, const QString& relative, int flags, mode_t mode) {
    const QByteArray encoded = relative.isEmpty() ? QByteArray(".") : QFile::encodeName(relative);
    return FileDescriptor(
            openat2Call(folder, encoded, flags, mode, RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS));
}

FileDescriptor RootedFiles::folderOrNothing(const QString& path) const {
    for (const KeptFolder& folder : kept) {
        if (folder.folder && folder.path == path) {
            return FileDescriptor(::fcntl(folder.folder.get(), F_DUPFD_CLOEXEC, 0));
        }
    }
    FileDescriptor folder = open(path, O_PATH | O_DIRECTORY);
    if (folder) {
        kept[nextKept] = {path, FileDescriptor(::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0))};
        nextKept = 1 - nextKept;
    }
    return folder;
}

FileDescriptor RootedFiles::openFolder(const QString& path) const {
    FileDescriptor folder = folderOrNothing(path);
    if (!folder) {
        throw ToolError(u"cannot open the folder '%1': %2"_s.arg(path, errnoText(errno)));
    }
    return folder;
}

void RootedFiles::forgetFolders() const {
    for (KeptFolder& folder : kept) {
        folder = {};
    }
}

RootedFiles::Entry RootedFiles::entry(const QString& path) const {
    const QString cleaned = QDir::cleanPath(u"/"_s + path);
    if (cleaned == QLatin1String("/")) {
        throw ToolError(u"'/' has no folder above it"_s);
    }
    return {openFolder(parentPath(cleaned)), QFile::encodeName(cleaned.mid(cleaned.lastIndexOf(u'/') + 1))};
}

std::optional<struct stat> RootedFiles::status(const QString& path) const {
    struct stat status {};
    if (QDir::cleanPath(u"/"_s + path) == QLatin1String("/")) {
        return ::fstatat(rootFolder.get(), "", &status, AT_EMPTY_PATH) == 0 ? std::optional(status) : std::nullopt;
    }
    const FileDescriptor folder = folderOrNothing(parentPath(path));
    if (!folder) {
        return std::nullopt;
    }
    const QByteArray name = QFile::encodeName(path.mid(path.lastIndexOf(u'/') + 1));
    if (::fstatat(folder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return status;
}

void RootedFiles::removeTree(const QString& path) const {
    forgetFolders();
    const Entry target = entry(path);
    removeBelow(target.folder.get(), target.name, path);
}

QString RootedFiles::hostPath(const FileDescriptor& folder) {
    const QByteArray link = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(folder.get());
    QByteArray target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.constData(), target.data(), static_cast<size_t>(target.size()));
    return length > 0 ? QFile::decodeName(target.left(length)) : QString();
}

QString parentPath(const QString& path) {
    const QString cleaned = QDir::cleanPath(u"/"_s + path);
    const qsizetype slash = cleaned.lastIndexOf(u'/');
    return slash <= 0 ? u"/"_s : cleaned.left(slash);
}

QString childPath(const QString& folder, const QString& relative) {
    if (relative.isEmpty()) {
        return folder;
    }
    return folder.endsWith(u'/') ? folder + relative : folder + u'/' + relative;
}

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace tarn::tool
