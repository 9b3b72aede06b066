#include "Transaction.h"

#include "common/ToolError.h"

#include <QDir>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

[[noreturn]] void failed(const QString& action, const QString& path, int error) {
    throw ToolError(u"cannot %1 '%2': %3"_s.arg(action, path, errnoText(error)));
}

// A rename that fails with EEXIST rather than replace what is at the destination.
int renameWithoutReplacing(int fromFolder, const char* fromName, int toFolder, const char* toName) {
    return ::renameat2(fromFolder, fromName, toFolder, toName, RENAME_NOREPLACE);
}

} // namespace

Transaction::~Transaction() {
    if (!finished) {
        rollback();
    }
}

void Transaction::createDirectories(const QString& directory) {
    QString current;
    for (const QString& component : QDir::cleanPath(u"/"_s + directory).split(u'/', Qt::SkipEmptyParts)) {
        current += u'/' + component;
        if (files.open(current, O_PATH | O_DIRECTORY)) {
            continue;
        }
        if (errno != ENOENT) {
            if (errno == ENOTDIR) {
                throw ToolError(u"'%1' is not a folder"_s.arg(current));
            }
            failed(u"open the folder"_s, current, errno);
        }
        const RootedFiles::Entry entry = files.entry(current);
        if (::mkdirat(entry.folder.get(), entry.name.constData(), 0777) != 0) {
            // Something that is no folder, a link leading nowhere for one.
            if (errno == EEXIST) {
                throw ToolError(u"'%1' is not a folder"_s.arg(current));
            }
            failed(u"create the folder"_s, current, errno);
        }
        steps.push_back({Kind::createdDirectory, current, {}, 0});
    }
}

void Transaction::makeDirectory(const QString& directory, mode_t finalMode) {
    const RootedFiles::Entry entry = files.entry(directory);
    if (::mkdirat(entry.folder.get(), entry.name.constData(), 0700) != 0) {
        failed(u"create the folder"_s, directory, errno);
    }
    steps.push_back({Kind::createdDirectory, directory, {}, finalMode});
    ::fchmodat(entry.folder.get(), entry.name.constData(), finalMode | S_IRWXU, 0);
}

void Transaction::moveAside(const QString& target) {
    const RootedFiles::Entry entry = files.entry(target);
    files.forgetFolders(); // the target may be a folder, or a link on the way to one
    for (;;) {
        const QByteArray aside =
                u".tarn-installer-aside-%1"_s.arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'))
                        .toLatin1();
        if (renameWithoutReplacing(entry.folder.get(), entry.name.constData(), entry.folder.get(), aside.constData()) ==
            0) {
            steps.push_back({Kind::movedAside, target, childPath(parentPath(target), QString::fromLatin1(aside)), 0});
            return;
        }
        if (errno != EEXIST) {
            failed(u"move aside"_s, target, errno);
        }
    }
}

void Transaction::moveIn(const QString& source, const QString& target) {
    const RootedFiles::Entry from = files.entry(source);
    const RootedFiles::Entry to = files.entry(target);
    if (renameWithoutReplacing(from.folder.get(), from.name.constData(), to.folder.get(), to.name.constData()) != 0) {
        if (errno == EEXIST) {
            throw ToolError(u"'%1' is in the way"_s.arg(target));
        }
        failed(u"move into place"_s, target, errno);
    }
    steps.push_back({Kind::placed, target, {}, 0});
}

void Transaction::writeFile(const QString& target, const QByteArray& contents) {
    const RootedFiles::Entry entry = files.entry(target);
    const FileDescriptor file(::openat(entry.folder.get(), entry.name.constData(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file) {
        failed(u"write"_s, target, errno);
    }
    steps.push_back({Kind::placed, target, {}, 0});
    for (qsizetype written = 0; written < contents.size();) {
        const ssize_t count =
                ::write(file.get(), contents.constData() + written, static_cast<size_t>(contents.size() - written));
        if (count < 0 && errno != EINTR) {
            failed(u"write"_s, target, errno);
        }
        written += count > 0 ? count : 0;
    }
}

bool Transaction::removeEmptyDirectory(const QString& directory) {
    const RootedFiles::Entry entry = files.entry(directory);
    files.forgetFolders();
    struct stat status {};
    if (::fstatat(entry.folder.get(), entry.name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        failed(u"remove the folder"_s, directory, errno);
    }
    if (::unlinkat(entry.folder.get(), entry.name.constData(), AT_REMOVEDIR) != 0) {
        if (errno == ENOTEMPTY || errno == EEXIST) {
            return false;
        }
        failed(u"remove the folder"_s, directory, errno);
    }
    steps.push_back({Kind::removedDirectory, directory, {}, static_cast<mode_t>(status.st_mode & 07777)});
    return true;
}

QStringList Transaction::commit() {
    finished = true;
    files.forgetFolders();
    QStringList problems;
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        try {
            if (step->kind == Kind::movedAside) {
                files.removeTree(step->aside);
            } else if (step->kind == Kind::createdDirectory && step->mode != 0) {
                const RootedFiles::Entry entry = files.entry(step->target);
                if (::fchmodat(entry.folder.get(), entry.name.constData(), step->mode, 0) != 0) {
                    problems.append(u"'%1': %2"_s.arg(step->target, errnoText(errno)));
                }
            }
        } catch (const ToolError& error) {
            problems.append(error.message());
        }
    }
    steps.clear();
    return problems;
}

QStringList Transaction::rollback() noexcept {
    finished = true;
    QStringList problems;
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        try {
            files.forgetFolders(); // every step undone may move a folder
            const RootedFiles::Entry entry = files.entry(step->target);
            const char* name = entry.name.constData();
            int result = 0;
            switch (step->kind) {
            case Kind::placed:
                result = ::unlinkat(entry.folder.get(), name, 0);
                break;
            case Kind::createdDirectory:
                result = ::unlinkat(entry.folder.get(), name, AT_REMOVEDIR);
                break;
            case Kind::movedAside: {
                const RootedFiles::Entry aside = files.entry(step->aside);
                result = ::renameat(aside.folder.get(), aside.name.constData(), entry.folder.get(), name);
                break;
            }
            case Kind::removedDirectory:
                result = ::mkdirat(entry.folder.get(), name, 0700);
                if (result == 0) {
                    result = ::fchmodat(entry.folder.get(), name, step->mode, 0);
                }
                break;
            }
            if (result != 0) {
                problems.append(u"'%1': %2"_s.arg(step->target, errnoText(errno)));
            }
        } catch (const std::exception& error) {
            problems.append(u"'%1': %2"_s.arg(step->target, QString::fromLocal8Bit(error.what())));
        }
    }
    steps.clear();
    return problems;
}

} // namespace tarn::tool
