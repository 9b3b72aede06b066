#include "Payload.h"

#include "common/RootedFiles.h"
#include "common/ToolError.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

constexpr qint64 bufferSize = 64 * 1024;
constexpr int maxLinkHops = 40;

[[noreturn]] void refuse(const QString& path, const QString& reason) {
    throw ToolError(u"the Payload contains an unsafe entry '%1' (%2)"_s.arg(path, reason));
}

// "./A.app//Contents/." becomes "A.app/Contents"; the payload's own root becomes "".
QString normalizedPath(const char* raw) {
    const QByteArray bytes(raw ? raw : "");
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) {
        refuse(text, u"its name is not UTF-8"_s);
    }
    if (text.startsWith(u'/')) {
        refuse(text, u"an absolute path"_s);
    }
    // Views, not copies: a deep path has a thousand components, and every entry's path is read twice.
    QString kept;
    kept.reserve(text.size());
    for (const QStringView component : QStringView(text).split(u'/', Qt::SkipEmptyParts)) {
        if (component == u"..") {
            refuse(text, u"a '..' component"_s);
        }
        if (component != u".") {
            if (!kept.isEmpty()) {
                kept += u'/';
            }
            kept += component;
        }
    }
    return kept;
}

QString parentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash);
}

// Follows a symbolic link through the payload's own links, as the file system would once it is
// extracted, and answers whether it stays inside the install location.
bool staysInside(const QString& linkPath, const QHash<QString, QString>& symlinks) {
    QStringList resolved = parentOf(linkPath).split(u'/', Qt::SkipEmptyParts);
    QStringList pending = symlinks.value(linkPath).split(u'/');
    int hops = 0;
    while (!pending.isEmpty()) {
        const QString component = pending.takeFirst();
        if (component.isEmpty() || component == QLatin1String(".")) {
            continue;
        }
        if (component == QLatin1String("..")) {
            if (resolved.isEmpty()) {
                return false;
            }
            resolved.removeLast();
            continue;
        }
        resolved.append(component);
        const auto link = symlinks.constFind(resolved.join(u'/'));
        if (link != symlinks.constEnd()) {
            if (++hops > maxLinkHops || link->startsWith(u'/')) {
                return false;
            }
            resolved.removeLast();
            pending = link->split(u'/') + pending;
        }
    }
    return true;
}

// libarchive reading from a ByteSource in two stages: one reader only decompresses, then the cpio
// reader reads its output. Between them the stream must open as an odc archive: libarchive reserves as
// much memory as an entry's name claims before reading it, and only the odc family caps that claim (at
// 256 KiB; newc allows 4 GiB). A failure of the source (a checksum that did not verify) is kept and
// rethrown, since it cannot travel through libarchive's C callbacks.
class PayloadReader {
public:
    explicit PayloadReader(std::unique_ptr<ByteSource> source)
        : source(std::move(source)), sourceBuffer(bufferSize), decodedBuffer(bufferSize) {
        archive_read_support_filter_gzip(decoder.get());
        archive_read_support_filter_bzip2(decoder.get());
        archive_read_support_filter_xz(decoder.get());
        archive_read_support_format_raw(decoder.get());
        archive_read_support_format_cpio(handle.get());
        archive_entry* whole = nullptr;
        if (archive_read_open(decoder.get(), this, nullptr, &PayloadReader::readSource, nullptr) != ARCHIVE_OK ||
            archive_read_next_header(decoder.get(), &whole) != ARCHIVE_OK) {
            fail(decoder.get());
        }
        if (archive_read_open(handle.get(), this, nullptr, &PayloadReader::readDecoded, nullptr) != ARCHIVE_OK) {
            fail(handle.get());
        }
    }

    struct archive* archive() const {
        return handle.get();
    }

    // The next entry, or null after the last.
    archive_entry* next() {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(handle.get(), &entry);
        if (status == ARCHIVE_EOF) {
            return nullptr;
        }
        if (status < ARCHIVE_WARN) {
            fail();
        }
        return entry;
    }

    // Reads what libarchive left unread, so that the payload's checksums are checked to its end.
    void finish() {
        rethrowFailure();
        while (source->read(sourceBuffer.data(), bufferSize) > 0) {
        }
    }

    [[noreturn]] void fail() { fail(handle.get()); }

private:
    struct Free {
        void operator()(struct archive* archive) const { archive_read_free(archive); }
    };
    using Handle = std::unique_ptr<struct archive, Free>;

    [[noreturn]] void fail(struct archive* which) {
        rethrowFailure();
        const char* reason = archive_error_string(which);
        throw ToolError(
                u"the Payload cannot be read: %1"_s.arg(reason ? QString::fromUtf8(reason) : u"unknown error"_s));
    }

    void rethrowFailure() {
        if (failure) {
            std::rethrow_exception(std::exchange(failure, nullptr));
        }
    }

    static la_ssize_t readSource(struct archive* archive, void* clientData, const void** block) {
        auto* self = static_cast<PayloadReader*>(clientData);
        try {
            const qint64 got = self->source->read(self->sourceBuffer.data(), bufferSize);
            *block = self->sourceBuffer.data();
            return static_cast<la_ssize_t>(got);
        } catch (...) {
            self->failure = std::current_exception();
            archive_set_error(archive, EIO, "the payload stream failed");
            return -1;
        }
    }

    static la_ssize_t readDecoded(struct archive* archive, void* clientData, const void** block) {
        auto* self = static_cast<PayloadReader*>(clientData);
        constexpr QByteArrayView odcMagic = "070707";
        la_ssize_t filled = 0;
        // The first call gathers enough bytes to see the magic, however the decoder splits its output.
        do {
            const la_ssize_t got =
                    archive_read_data(self->decoder.get(), self->decodedBuffer.data() + filled, bufferSize - filled);
            if (got < 0) {
                const char* reason = archive_error_string(self->decoder.get());
                archive_set_error(archive, archive_errno(self->decoder.get()), "%s",
                                  reason ? reason : "the payload cannot be decompressed");
                return -1;
            }
            if (got == 0) {
                break;
            }
            filled += got;
        } while (!self->formatChecked && filled < odcMagic.size());
        if (!self->formatChecked && filled > 0) {
            self->formatChecked = true;
            if (!QByteArrayView(self->decodedBuffer.data(), filled).startsWith(odcMagic)) {
                archive_set_error(archive, EILSEQ, "it is not an odc cpio archive");
                return -1;
            }
        }
        *block = self->decodedBuffer.data();
        return filled;
    }

    std::unique_ptr<ByteSource> source;
    std::vector<char> sourceBuffer;
    std::vector<char> decodedBuffer;
    Handle decoder{archive_read_new()};
    Handle handle{archive_read_new()};
    bool formatChecked = false;
    std::exception_ptr failure;
};

PayloadItem describe(archive_entry* entry, const QString& path, const QHash<QString, qsizetype>& seen,
                     const QList<PayloadItem>& items) {
    PayloadItem item;
    item.path = path;
    item.mode = static_cast<quint32>(archive_entry_perm(entry)) & 07777;
    if (const char* hardlink = archive_entry_hardlink(entry)) {
        item.kind = PayloadItemKind::hardlink;
        item.linkTarget = normalizedPath(hardlink);
        const auto target = seen.constFind(item.linkTarget);
        if (target == seen.constEnd() || items[*target].kind != PayloadItemKind::file) {
            refuse(path, u"a hard link to a file the payload does not hold before it"_s);
        }
        return item;
    }
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
        item.kind = PayloadItemKind::file;
        break;
    case AE_IFDIR:
        item.kind = PayloadItemKind::directory;
        break;
    case AE_IFLNK: {
        item.kind = PayloadItemKind::symlink;
        const char* target = archive_entry_symlink(entry);
        item.linkTarget = QString::fromUtf8(target ? target : "");
        if (item.linkTarget.isEmpty()) {
            refuse(path, u"a link without a target"_s);
        }
        if (item.linkTarget.startsWith(u'/')) {
            refuse(path, u"a link leading outside the install location"_s);
        }
        break;
    }
    default:
        refuse(path, u"a special file"_s);
    }
    return item;
}

// Checks that need every entry: links that leave through other links, entries placed beyond a link.
// Whether a folder lies beyond a link is worked out once per folder, so deep trees cost no more than
// their paths' length.
void checkLinks(const QList<PayloadItem>& items) {
    QHash<QString, QString> symlinks;
    for (const auto& item : items) {
        if (item.kind == PayloadItemKind::symlink) {
            symlinks.insert(item.path, item.linkTarget);
        }
    }
    if (symlinks.isEmpty()) {
        return;
    }
    // For each folder seen: the nearest link at or above it, or an empty text.
    QHash<QString, QString> linkAbove;
    const auto linkAtOrAbove = [&](const QString& folder) {
        QStringList unresolved;
        QString found;
        for (QString current = folder; !current.isEmpty(); current = parentOf(current)) {
            const auto known = linkAbove.constFind(current);
            if (known != linkAbove.constEnd()) {
                found = *known;
                break;
            }
            unresolved.append(current);
        }
        for (auto folderBelow = unresolved.crbegin(); folderBelow != unresolved.crend(); ++folderBelow) {
            if (symlinks.contains(*folderBelow)) {
                found = *folderBelow;
            }
            linkAbove.insert(*folderBelow, found);
        }
        return found;
    };
    for (const auto& item : items) {
        const QString link = linkAtOrAbove(parentOf(item.path));
        if (!link.isEmpty()) {
            refuse(item.path, u"it lies beyond the link '%1'"_s.arg(link));
        }
        if (item.kind == PayloadItemKind::symlink && !staysInside(item.path, symlinks)) {
            refuse(item.path, u"a link leading outside the install location"_s);
        }
    }
}

void addImplicitParents(QList<PayloadItem>& items, QHash<QString, qsizetype>& seen) {
    const qsizetype explicitCount = items.size();
    for (qsizetype index = 0; index < explicitCount; ++index) {
        for (QString parent = parentOf(items[index].path); !parent.isEmpty(); parent = parentOf(parent)) {
            const auto existing = seen.constFind(parent);
            if (existing != seen.constEnd()) {
                if (items[*existing].kind != PayloadItemKind::directory) {
                    refuse(items[index].path, u"its parent '%1' is not a directory"_s.arg(parent));
                }
                break;
            }
            seen.insert(parent, items.size());
            items.append({parent, PayloadItemKind::directory, QString(), 0755, true});
        }
    }
}

// Component by component, as if "/" sorted before every other character: parents come before their
// children, without splitting every path into components.
bool precedes(const QString& left, const QString& right) {
    const char16_t* a = QStringView(left).utf16();
    const char16_t* b = QStringView(right).utf16();
    const qsizetype common = std::min(left.size(), right.size());
    const auto [at, other] = std::mismatch(a, a + common, b);
    if (at == a + common) {
        return left.size() < right.size();
    }
    return *at == u'/' || (*other != u'/' && *at < *other);
}

void sortParentsFirst(QList<PayloadItem>& items) {
    std::sort(items.begin(), items.end(),
              [](const PayloadItem& left, const PayloadItem& right) { return precedes(left.path, right.path); });
}

[[noreturn]] void extractionFailed(const QString& path, int error) {
    throw ToolError(u"cannot extract '%1': %2"_s.arg(path, errnoText(error)));
}

// The staging folder's subfolders, opened below it without following any link (the staged tree is this
// payload's own), and made as needed for parents the archive does not list. The last one is kept: entries
// mostly come folder by folder.
class StagingFolders {
public:
    explicit StagingFolders(int staging) : staging(staging) {}

    int open(const QString& relative, const QString& entryPath) {
        if (relative.isEmpty()) {
            return staging;
        }
        if (relative == lastPath && last) {
            return last.get();
        }
        FileDescriptor folder = RootedFiles::openBeneath(staging, relative, O_PATH | O_DIRECTORY);
        if (!folder && errno == ENOENT) {
            makeParents(relative, entryPath);
            folder = RootedFiles::openBeneath(staging, relative, O_PATH | O_DIRECTORY);
        }
        if (!folder) {
            extractionFailed(entryPath, errno);
        }
        last = std::move(folder);
        lastPath = relative;
        return last.get();
    }

private:
    // Folder by folder from the staging folder down, each opened below the one before.
    void makeParents(const QString& relative, const QString& entryPath) {
        FileDescriptor current = RootedFiles::openBeneath(staging, QString(), O_PATH | O_DIRECTORY);
        for (const QString& component : relative.split(u'/')) {
            const QByteArray name = QFile::encodeName(component);
            if (!current || (::mkdirat(current.get(), name.constData(), 0755) != 0 && errno != EEXIST)) {
                extractionFailed(entryPath, errno);
            }
            current = RootedFiles::openBeneath(current.get(), component, O_PATH | O_DIRECTORY);
        }
    }

    int staging;
    FileDescriptor last;
    QString lastPath;
};

void writeData(PayloadReader& reader, int file, const QString& path) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    while (true) {
        const int status = archive_read_data_block(reader.archive(), &block, &size, &offset);
        if (status == ARCHIVE_EOF) {
            return;
        }
        if (status < ARCHIVE_WARN) {
            reader.fail();
        }
        const auto* bytes = static_cast<const char*>(block);
        while (size > 0) {
            const ssize_t written = ::pwrite(file, bytes, size, static_cast<off_t>(offset));
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                extractionFailed(path, errno);
            }
            bytes += written;
            size -= static_cast<size_t>(written);
            offset += written;
        }
    }
}

// One entry, written with *at() calls into its parent folder inside the staging folder.
void extractEntry(PayloadReader& reader, archive_entry* entry, const QString& path, int staging,
                  StagingFolders& folders) {
    const int parent = folders.open(parentOf(path), path);
    const QByteArray name = QFile::encodeName(path.mid(path.lastIndexOf(u'/') + 1));
    const auto mode = static_cast<mode_t>(archive_entry_perm(entry) & 07777);
    if (const char* hardlink = archive_entry_hardlink(entry)) {
        const QString existing = normalizedPath(hardlink);
        const FileDescriptor existingFolder =
                RootedFiles::openBeneath(staging, parentOf(existing), O_PATH | O_DIRECTORY);
        const QByteArray existingName = QFile::encodeName(existing.mid(existing.lastIndexOf(u'/') + 1));
        if (!existingFolder ||
            ::linkat(existingFolder.get(), existingName.constData(), parent, name.constData(), 0) != 0) {
            extractionFailed(path, errno);
        }
        if (archive_entry_size(entry) > 0) {
            const FileDescriptor file(::openat(parent, name.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
            if (!file) {
                extractionFailed(path, errno);
            }
            writeData(reader, file.get(), path);
        }
        return;
    }
    switch (archive_entry_filetype(entry)) {
    case AE_IFDIR:
        // Owner-writable, so that the staged tree can be moved and removed; a folder may exist already
        // as the parent of an entry listed before it.
        if (::mkdirat(parent, name.constData(), 0700) != 0 && errno != EEXIST) {
            extractionFailed(path, errno);
        }
        if (::fchmodat(parent, name.constData(), mode | S_IRWXU, 0) != 0) {
            extractionFailed(path, errno);
        }
        return;
    case AE_IFLNK: {
        const char* target = archive_entry_symlink(entry);
        if (target == nullptr) {
            refuse(path, u"a link without a target"_s);
        }
        if (::symlinkat(target, parent, name.constData()) != 0) {
            extractionFailed(path, errno);
        }
        return;
    }
    case AE_IFREG: {
        const FileDescriptor file(
                ::openat(parent, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file) {
            extractionFailed(path, errno);
        }
        writeData(reader, file.get(), path);
        const timespec times[2] = {{archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)},
                                   {archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)}};
        // The mode last: writing clears set-user-ID and set-group-ID bits.
        if (::ftruncate(file.get(), static_cast<off_t>(archive_entry_size(entry))) != 0 ||
            ::futimens(file.get(), times) != 0 || ::fchmod(file.get(), mode) != 0) {
            extractionFailed(path, errno);
        }
        return;
    }
    default:
        refuse(path, u"a special file"_s);
    }
}

} // namespace

QList<PayloadItem> inspectPayload(std::unique_ptr<ByteSource> payload) {
    PayloadReader reader(std::move(payload));
    QList<PayloadItem> items;
    QHash<QString, qsizetype> seen;
    while (archive_entry* entry = reader.next()) {
        const QString path = normalizedPath(archive_entry_pathname(entry));
        if (path.isEmpty()) {
            continue;
        }
        if (seen.contains(path)) {
            refuse(path, u"it appears twice"_s);
        }
        items.append(describe(entry, path, seen, items));
        seen.insert(path, items.size() - 1);
    }
    reader.finish();
    checkLinks(items);
    addImplicitParents(items, seen);
    sortParentsFirst(items);
    return items;
}

void extractPayload(std::unique_ptr<ByteSource> payload, int stagingFolder, const QList<PayloadItem>& items) {
    QSet<QString> expected;
    for (const auto& item : items) {
        if (!item.isImplicit) {
            expected.insert(item.path);
        }
    }

    PayloadReader reader(std::move(payload));
    StagingFolders folders(stagingFolder);
    while (archive_entry* entry = reader.next()) {
        const QString path = normalizedPath(archive_entry_pathname(entry));
        if (path.isEmpty()) {
            continue;
        }
        if (!expected.remove(path)) {
            throw ToolError(u"the Payload changed while it was being installed"_s);
        }
        extractEntry(reader, entry, path, stagingFolder, folders);
    }
    reader.finish();
    if (!expected.isEmpty()) {
        throw ToolError(u"the Payload changed while it was being installed"_s);
    }
}

} // namespace tarn::tool
