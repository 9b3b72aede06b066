#include "hdiutil/ImageListing.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tarn::hdiutil {

namespace {

const QString entriesSeparator = u"----------"_s;
const QString pathKey = u"Path"_s;

struct Field {
    QString key;
    QString value;
};

std::optional<Field> field(const QString& line) {
    const qsizetype separator = line.indexOf(u" = "_s);
    if (separator <= 0) {
        return std::nullopt;
    }
    return Field{line.left(separator), line.mid(separator + 3)};
}

// The counters 7-Zip prints after the entries ("Warnings: 1", "Errors: 2").
bool isSummaryLine(const QString& line) {
    static const QRegularExpression summary(u"^[A-Za-z][A-Za-z ]*: \\d+$"_s);
    return summary.match(line).hasMatch();
}

ListedEntry entryFromBlock(const QStringList& block) {
    ListedEntry entry;
    QSet<QString> seenKeys;
    for (const QString& line : block) {
        const auto parsed = field(line);
        if (!parsed || seenKeys.contains(parsed->key)) {
            throw ListingError("the image lists an entry whose name cannot be read safely");
        }
        seenKeys.insert(parsed->key);
        if (parsed->key == pathKey) {
            entry.path = parsed->value;
        } else if (parsed->key == QLatin1String("Folder")) {
            entry.isFolder = parsed->value == QLatin1String("+");
        } else if (parsed->key == QLatin1String("Symbolic Link")) {
            entry.symbolicLink = parsed->value;
        } else if (parsed->key == QLatin1String("Hard Link")) {
            entry.hardLink = parsed->value;
        } else if (parsed->key == QLatin1String("Size")) {
            entry.size = parsed->value.toULongLong();
        }
    }
    return entry;
}

bool isAbsolute(const QString& path) {
    return path.startsWith(u'/') || path.startsWith(u'\\');
}

// Path components split on both separators: names written on another system may use either.
QStringList pathComponents(const QString& path) {
    static const QRegularExpression separators(u"[/\\\\]"_s);
    return path.split(separators, Qt::SkipEmptyParts);
}

// Components without "." and empty ones; ".." kept, for the callers to judge.
QStringList normalized(const QString& path) {
    QStringList kept;
    for (const QString& component : pathComponents(path)) {
        if (component != QLatin1String(".")) {
            kept.append(component);
        }
    }
    return kept;
}

// Whether a link at `linkComponents` pointing at the relative `target` stays inside the volume, resolving
// the target by its text alone (what lies on disk later is checked again after extraction).
bool targetStaysInside(const QStringList& linkComponents, const QString& target) {
    qsizetype depth = linkComponents.size() - 1; // the link's own folder
    for (const QString& component : normalized(target)) {
        depth += component == QLatin1String("..") ? -1 : 1;
        if (depth < 0) {
            return false;
        }
    }
    return true;
}

QString quoted(const QString& text) {
    return u"'%1'"_s.arg(text);
}

} // namespace

ImageListing ImageListing::parse(const QByteArray& output) {
    QStringList lines = QString::fromUtf8(output).split(u'\n');
    for (QString& line : lines) {
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
    }
    const qsizetype separatorIndex = lines.indexOf(entriesSeparator);
    if (separatorIndex < 0) {
        throw ListingError("7-Zip gave no list of the image's entries");
    }

    ImageListing listing;
    for (qsizetype i = 0; i < separatorIndex; ++i) {
        const auto parsed = field(lines[i]);
        if (parsed && parsed->key == QLatin1String("Type")) {
            listing.formatNames.append(parsed->value);
        }
    }
    if (listing.formatNames.isEmpty()) {
        throw ListingError("7-Zip named no format for the image");
    }

    QStringList block;
    const auto closeBlock = [&] {
        if (block.isEmpty()) {
            return;
        }
        if (block.first().startsWith(pathKey + u" = "_s)) {
            listing.listedEntries.append(entryFromBlock(block));
        } else if (!std::all_of(block.cbegin(), block.cend(), isSummaryLine)) {
            throw ListingError("the image lists an entry whose name cannot be read safely");
        }
        block.clear();
    };
    for (qsizetype i = separatorIndex + 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty()) {
            closeBlock();
        } else {
            block.append(lines[i]);
        }
    }
    closeBlock();
    return listing;
}

quint64 ImageListing::contentSize() const {
    quint64 total = 0;
    for (const ListedEntry& entry : listedEntries) {
        // Saturating: a hostile listing must not wrap the sum round to something small.
        total = entry.size > ~quint64{0} - total ? ~quint64{0} : total + entry.size;
    }
    return total;
}

std::optional<QString> ImageListing::firstUnsafeEntry() const {
    QSet<QString> links;
    for (const ListedEntry& entry : listedEntries) {
        if (!entry.symbolicLink.isEmpty()) {
            links.insert(normalized(entry.path).join(u'/'));
        }
    }

    for (const ListedEntry& entry : listedEntries) {
        const QStringList components = normalized(entry.path);
        if (isAbsolute(entry.path)) {
            return u"the entry %1 has an absolute path"_s.arg(quoted(entry.path));
        }
        if (components.contains(u".."_s)) {
            return u"the entry %1 climbs out of the volume"_s.arg(quoted(entry.path));
        }
        for (qsizetype length = 1; length < components.size(); ++length) {
            const QString parent = components.first(length).join(u'/');
            if (links.contains(parent)) {
                return u"the entry %1 lies below the link %2"_s.arg(quoted(entry.path), quoted(parent));
            }
        }
        if (!entry.symbolicLink.isEmpty() &&
            (isAbsolute(entry.symbolicLink) || !targetStaysInside(components, entry.symbolicLink))) {
            return u"the link %1 leads out of the volume to %2"_s.arg(quoted(entry.path), quoted(entry.symbolicLink));
        }
        if (!entry.hardLink.isEmpty() && (isAbsolute(entry.hardLink) || normalized(entry.hardLink).contains(u".."_s))) {
            return u"the hard link %1 leads out of the volume to %2"_s.arg(quoted(entry.path), quoted(entry.hardLink));
        }
    }
    return std::nullopt;
}

std::optional<QString> ImageListing::volumeFolder() const {
    const bool namedVolume = std::any_of(formatNames.cbegin(), formatNames.cend(), [](const QString& format) {
        return format.compare(QLatin1String("HFS"), Qt::CaseInsensitive) == 0 ||
               format.compare(QLatin1String("HFSX"), Qt::CaseInsensitive) == 0 ||
               format.compare(QLatin1String("APFS"), Qt::CaseInsensitive) == 0;
    });
    if (!namedVolume || listedEntries.isEmpty()) {
        return std::nullopt;
    }
    std::optional<QString> folder;
    for (const ListedEntry& entry : listedEntries) {
        const QStringList components = normalized(entry.path);
        if (components.isEmpty() || (folder && components.first() != *folder)) {
            return std::nullopt;
        }
        if (components.size() == 1 && !entry.isFolder) {
            return std::nullopt; // a file at the top level: the entries are not under one volume folder
        }
        folder = components.first();
    }
    return folder;
}

} // namespace tarn::hdiutil
