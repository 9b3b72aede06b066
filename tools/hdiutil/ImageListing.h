#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

namespace tarn::hdiutil {

// One entry of a 7-Zip technical listing ("7zz l -slt"), as the archive states it.
struct ListedEntry {
    QString path;
    bool isFolder = false;
    QString symbolicLink; // target of a symbolic link, empty otherwise
    QString hardLink;     // target of a hard link, empty otherwise
    quint64 size = 0;     // bytes once extracted, as the image states it
};

class ListingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What 7-Zip says an image holds, read before anything is extracted: the formats it opened (outermost
// first, e.g. "Dmg" then "HFS") and every entry. Judging the entries here lets a hostile image be refused
// with a clear reason before a single file is written.
class ImageListing {
public:
    // Throws ListingError on output that is not a technical listing, or whose entry lines cannot be told
    // apart (a name with a line break could otherwise smuggle an entry past the checks).
    static ImageListing parse(const QByteArray& output);

    const QStringList& formats() const { return formatNames; }
    const QList<ListedEntry>& entries() const { return listedEntries; }

    // The first entry that would land outside the volume: an absolute path or a ".." component, a link
    // whose target is absolute or climbs out, an entry below a symbolic link. Empty when all are safe.
    std::optional<QString> firstUnsafeEntry() const;

    // The bytes the entries take once extracted, as the image states them.
    quint64 contentSize() const;

    // HFS+ and APFS volumes list under one folder named after the volume; that folder is the volume's root.
    // Empty for other formats, whose entries lie at the top level.
    std::optional<QString> volumeFolder() const;

private:
    QStringList formatNames;
    QList<ListedEntry> listedEntries;
};

} // namespace tarn::hdiutil
