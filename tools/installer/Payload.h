#pragma once

#include "common/ByteSource.h"

#include <QList>
#include <QString>

#include <memory>

namespace tarn::tool {

enum class PayloadItemKind { file, directory, symlink, hardlink };

// One entry of a payload, its path made relative to the install location and checked.
struct PayloadItem {
    QString path; // no leading "./", no empty, "." or ".." component
    PayloadItemKind kind = PayloadItemKind::file;
    QString linkTarget;      // a symbolic link's target as stored; a hard link's path
    quint32 mode = 0;        // permission bits
    bool isImplicit = false; // a parent directory the archive does not list itself
};

// Reads a whole payload (odc cpio, plain or gzip, bzip2 or xz compressed) without writing anything and
// answers its entries, parents before children. Refuses, with a ToolError naming the entry, absolute
// paths, ".." components, links that lead outside the install location, entries that lie beyond a link,
// duplicates and special files. Every byte is read, so the payload's checksums are checked too.
QList<PayloadItem> inspectPayload(std::unique_ptr<ByteSource> payload);

// Extracts a payload into the open folder `stagingFolder`, entry by entry with *at() calls that never
// follow a link or leave the folder. `items` is what inspectPayload() answered for the same bytes; the
// archive must hold exactly those entries again. Directories are made writable by their owner so the
// staged tree can be moved and removed; files keep their modes, set-user-ID bits included.
void extractPayload(std::unique_ptr<ByteSource> payload, int stagingFolder, const QList<PayloadItem>& items);

} // namespace tarn::tool
