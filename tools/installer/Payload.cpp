#include "Payload.h"

#include "common/ToolError.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <vector>

namespace tarn::tool {

namespace {

constexpr qint64 bufferSize = 64 * 1024;
constexpr int maxLinkHops = 40;

[[noreturn]] void refuse(const QString& path, const QString& reason) {
    throw ToolError(QStringLiteral("the Payload contains an unsafe entry '%1' (%2)").arg(path, reason));
}

// "./A.app//Contents/." becomes "A.app/Contents"; the payload's own root becomes "".
QString normalizedPath(const char* raw) {
    const QByteArray bytes(raw ? raw : "");
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) {
        refuse(text, QStringLiteral("its name is not UTF-8"));
    }
    if (text.startsWith(u'/')) {
        refuse(text, QStringLiteral("an absolute path"));
    }
    QStringList kept;
    for (const auto& component : text.split(u'/', Qt::SkipEmptyParts)) {
        if (component == QLatin1String("..")) {
            refuse(text, QStringLiteral("a '..' component"));
        }
        if (component != QLatin1String(".")) {
            kept.append(component);
        }
    }
    return kept.join(u'/');
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

// libarchive reading from a ByteSource. A failure of the source (a checksum that did not verify) is
// kept and rethrown, since it cannot travel through libarchive's C callbacks.
class PayloadReader {
public:
    explicit PayloadReader(std::unique_ptr<ByteSource> source)
        : source(std::move(source)), buffer(bufferSize), handle(archive_read_new()) {
        archive_read_support_filter_gzip(handle);
        archive_read_support_filter_bzip2(handle);
        archive_read_support_filter_xz(handle);
        archive_read_support_format_cpio(handle);
        if (archive_read_open(handle, this, nullptr, &PayloadReader::readCallback, nullptr) != ARCHIVE_OK) {
            // The destructor does not run for a constructor that throws.
            std::exception_ptr error;
            try {
                fail();
            } catch (...) {
                error = std::current_exception();
            }
            archive_read_free(handle);
            std::rethrow_exception(error);
        }
    }
    ~PayloadReader() { archive_read_free(handle); }
    PayloadReader(const PayloadReader&) = delete;
    PayloadReader& operator=(const PayloadReader&) = delete;

    struct archive* archive() const {
        return handle;
    }

    // The next entry, or null after the last.
    archive_entry* next() {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(handle, &entry);
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
        while (source->read(buffer.data(), bufferSize) > 0) {
        }
    }

    [[noreturn]] void fail() {
        rethrowFailure();
        const char* reason = archive_error_string(handle);
        throw ToolError(QStringLiteral("the Payload cannot be read: %1")
                                .arg(reason ? QString::fromUtf8(reason) : QStringLiteral("unknown error")));
    }

private:
    void rethrowFailure() {
        if (failure) {
            std::rethrow_exception(std::exchange(failure, nullptr));
        }
    }

    static la_ssize_t readCallback(struct archive* archive, void* clientData, const void** block) {
        auto* self = static_cast<PayloadReader*>(clientData);
        try {
            const qint64 got = self->source->read(self->buffer.data(), bufferSize);
            *block = self->buffer.data();
            return static_cast<la_ssize_t>(got);
        } catch (...) {
            self->failure = std::current_exception();
            archive_set_error(archive, EIO, "the payload stream failed");
            return -1;
        }
    }

    std::unique_ptr<ByteSource> source;
    std::vector<char> buffer;
    struct archive* handle;
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
            refuse(path, QStringLiteral("a hard link to a file the payload does not hold before it"));
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
            refuse(path, QStringLiteral("a link without a target"));
        }
        if (item.linkTarget.startsWith(u'/')) {
            refuse(path, QStringLiteral("a link leading outside the install location"));
        }
        break;
    }
    default:
        refuse(path, QStringLiteral("a special file"));
    }
    return item;
}

// Checks that need every entry: links that leave through other links, entries placed beyond a link.
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
    for (const auto& item : items) {
        for (QString parent = parentOf(item.path); !parent.isEmpty(); parent = parentOf(parent)) {
            if (symlinks.contains(parent)) {
                refuse(item.path, QStringLiteral("it lies beyond the link '%1'").arg(parent));
            }
        }
        if (item.kind == PayloadItemKind::symlink && !staysInside(item.path, symlinks)) {
            refuse(item.path, QStringLiteral("a link leading outside the install location"));
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
                    refuse(items[index].path, QStringLiteral("its parent '%1' is not a directory").arg(parent));
                }
                break;
            }
            seen.insert(parent, items.size());
            items.append({parent, PayloadItemKind::directory, QString(), 0755, true});
        }
    }
}

void sortParentsFirst(QList<PayloadItem>& items) {
    std::vector<std::pair<QStringList, PayloadItem>> keyed;
    keyed.reserve(static_cast<size_t>(items.size()));
    for (auto& item : items) {
        keyed.emplace_back(item.path.split(u'/'), std::move(item));
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& left, const auto& right) { return left.first < right.first; });
    items.clear();
    for (auto& [key, item] : keyed) {
        items.append(std::move(item));
    }
}

// Changes into a directory for the lifetime of the guard, so libarchive can refuse absolute paths.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const QString& directory) : previous(QDir::currentPath()) {
        if (!QDir::setCurrent(directory)) {
            throw ToolError(QStringLiteral("cannot enter the staging folder '%1'").arg(directory));
        }
    }
    ~WorkingDirectory() { QDir::setCurrent(previous); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    QString previous;
};

struct DiskWriter {
    struct archive* handle = archive_write_disk_new();
    ~DiskWriter() { archive_write_free(handle); }
};

[[noreturn]] void extractionFailed(const QString& path, struct archive* disk) {
    const char* reason = archive_error_string(disk);
    throw ToolError(QStringLiteral("cannot extract '%1': %2")
                            .arg(path, reason ? QString::fromUtf8(reason) : QStringLiteral("unknown error")));
}

void copyData(PayloadReader& reader, struct archive* disk, const QString& path) {
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
        if (archive_write_data_block(disk, block, size, offset) < ARCHIVE_WARN) {
            extractionFailed(path, disk);
        }
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
            refuse(path, QStringLiteral("it appears twice"));
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

void extractPayload(std::unique_ptr<ByteSource> payload, const QString& stagingDirectory,
                    const QList<PayloadItem>& items) {
    QSet<QString> expected;
    for (const auto& item : items) {
        if (!item.isImplicit) {
            expected.insert(item.path);
        }
    }

    PayloadReader reader(std::move(payload));
    DiskWriter disk;
    archive_write_disk_set_options(disk.handle,
                                   ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                           ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
    const WorkingDirectory insideStaging(stagingDirectory);
    while (archive_entry* entry = reader.next()) {
        const QString path = normalizedPath(archive_entry_pathname(entry));
        if (path.isEmpty()) {
            continue;
        }
        if (!expected.remove(path)) {
            throw ToolError(QStringLiteral("the Payload changed while it was being installed"));
        }
        archive_entry_copy_pathname(entry, path.toUtf8().constData());
        if (const char* hardlink = archive_entry_hardlink(entry)) {
            archive_entry_copy_hardlink(entry, normalizedPath(hardlink).toUtf8().constData());
        }
        if (archive_entry_filetype(entry) == AE_IFDIR) {
            archive_entry_set_perm(entry, archive_entry_perm(entry) | 0700);
        }
        if (archive_write_header(disk.handle, entry) < ARCHIVE_WARN) {
            extractionFailed(path, disk.handle);
        }
        if (archive_entry_size(entry) > 0) {
            copyData(reader, disk.handle, path);
        }
        if (archive_write_finish_entry(disk.handle) < ARCHIVE_WARN) {
            extractionFailed(path, disk.handle);
        }
    }
    reader.finish();
    if (archive_write_close(disk.handle) < ARCHIVE_WARN) {
        extractionFailed(stagingDirectory, disk.handle);
    }
    if (!expected.isEmpty()) {
        throw ToolError(QStringLiteral("the Payload changed while it was being installed"));
    }
}

} // namespace tarn::tool
