#include "fixtures/DiskImageBuilder.h"

#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <memory>

namespace tarn::fixtures {
namespace {

struct ReadEntry {
    QString path;
    QString symbolicLink;
    QString hardLink;
    bool operator==(const ReadEntry&) const = default;
};

void PrintTo(const ReadEntry& entry, std::ostream* out) {
    *out << entry.path.toStdString() << " -> " << entry.symbolicLink.toStdString() << entry.hardLink.toStdString();
}

QList<ReadEntry> entriesOf(const QString& imagePath) {
    std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(), &archive_read_free);
    archive_read_support_format_all(reader.get());
    QList<ReadEntry> found;
    if (archive_read_open_filename(reader.get(), imagePath.toLocal8Bit().constData(), 16384) != ARCHIVE_OK) {
        return found;
    }
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader.get(), &entry) == ARCHIVE_OK) {
        const char* link = archive_entry_symlink(entry);
        const char* hard = archive_entry_hardlink(entry);
        found.append({QString::fromUtf8(archive_entry_pathname(entry)), QString::fromUtf8(link ? link : ""),
                      QString::fromUtf8(hard ? hard : "")});
    }
    return found;
}

// The hostile-image tests are only worth anything if the names reach the image exactly as given.
TEST(DiskImageBuilder, TarKeepsHostileNamesAsGiven) {
    QTemporaryDir scratch;
    const QString image = scratch.filePath(QStringLiteral("hostile.dmg"));
    DiskImageBuilder()
            .setFormat(DiskImageBuilder::Format::tar)
            .addFile(QStringLiteral("/etc/planted"), "x")
            .addFile(QStringLiteral("../../up.txt"), "x")
            .addSymbolicLink(QStringLiteral("Applications"), QStringLiteral("/Applications"))
            .addHardLink(QStringLiteral("passwd"), QStringLiteral("/etc/passwd"))
            .write(image);

    EXPECT_EQ(entriesOf(image), QList<ReadEntry>({{QStringLiteral("/etc/planted"), {}, {}},
                                                  {QStringLiteral("../../up.txt"), {}, {}},
                                                  {QStringLiteral("Applications"), QStringLiteral("/Applications"), {}},
                                                  {QStringLiteral("passwd"), {}, QStringLiteral("/etc/passwd")}}));
}

TEST(DiskImageBuilder, FailsClearlyWhenItCannotWrite) {
    QTemporaryDir scratch;
    EXPECT_THROW(DiskImageBuilder()
                         .addFile(QStringLiteral("a.pkg"), "x")
                         .write(scratch.filePath(QStringLiteral("no/such/dir.dmg"))),
                 std::runtime_error);
    EXPECT_THROW(
            DiskImageBuilder().addFileFrom(QStringLiteral("a.pkg"), scratch.filePath(QStringLiteral("missing.pkg"))),
            std::runtime_error);
}

} // namespace
} // namespace tarn::fixtures
