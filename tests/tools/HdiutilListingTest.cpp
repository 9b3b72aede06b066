#include "hdiutil/ImageListing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarn::hdiutil {
namespace {

using ::testing::HasSubstr;

// A technical listing in 7-Zip's shape: the opened formats, the separator, one block per entry.
QByteArray listing(const QStringList& formats, const QStringList& entryBlocks) {
    QByteArray text = "\n7-Zip (z) 26.02 (x64)\n\nListing archive: /tmp/image.dmg\n\n--\nPath = /tmp/image.dmg\n";
    for (const QString& format : formats) {
        text += "Type = " + format.toUtf8() + "\nPhysical Size = 385024\n";
    }
    text += "\n----------\n";
    for (const QString& block : entryBlocks) {
        text += block.toUtf8() + "\n\n";
    }
    return text;
}

QString file(const QString& path) {
    return QStringLiteral("Path = %1\nFolder = -\nSize = 3\nSymbolic Link = \nHard Link = ").arg(path);
}

QString folder(const QString& path) {
    return QStringLiteral("Path = %1\nFolder = +\nSize = 0").arg(path);
}

QString symbolicLink(const QString& path, const QString& target) {
    return QStringLiteral("Path = %1\nFolder = -\nSymbolic Link = %2\nHard Link = ").arg(path, target);
}

QString hardLink(const QString& path, const QString& target) {
    return QStringLiteral("Path = %1\nFolder = -\nSymbolic Link = \nHard Link = %2").arg(path, target);
}

TEST(HdiutilListing, ReadsFormatsAndEntries) {
    const auto parsed = ImageListing::parse(
            listing({QStringLiteral("Dmg"), QStringLiteral("HFS")},
                    {folder(QStringLiteral("Scanner Suite")), file(QStringLiteral("Scanner Suite/Scanner Suite.pkg")),
                     symbolicLink(QStringLiteral("Scanner Suite/Read Me"), QStringLiteral("Scanner Suite.pkg"))}) +
            "\nWarnings: 1\n");

    EXPECT_EQ(parsed.formats(), QStringList({QStringLiteral("Dmg"), QStringLiteral("HFS")}));
    ASSERT_EQ(parsed.entries().size(), 3);
    EXPECT_TRUE(parsed.entries()[0].isFolder);
    EXPECT_EQ(parsed.entries()[1].path, QStringLiteral("Scanner Suite/Scanner Suite.pkg"));
    EXPECT_FALSE(parsed.entries()[1].isFolder);
    EXPECT_EQ(parsed.entries()[2].symbolicLink, QStringLiteral("Scanner Suite.pkg"));
    EXPECT_EQ(parsed.firstUnsafeEntry(), std::nullopt);
}

// A name with a line break must not be able to pass off part of itself as another field or entry.
TEST(HdiutilListing, RefusesListingsWhoseEntriesCannotBeToldApart) {
    const QString smuggledLine = QStringLiteral("Path = harmless\n../../etc/cron.d/job\nFolder = -");
    const QString repeatedPath = QStringLiteral("Path = harmless\nPath = ../../escape\nFolder = -");
    const QString orphanBlock = QStringLiteral("Folder = -\nSize = 3");

    for (const QString& block : {smuggledLine, repeatedPath, orphanBlock}) {
        EXPECT_THROW(ImageListing::parse(listing({QStringLiteral("tar")}, {file(QStringLiteral("a.pkg")), block})),
                     ListingError)
                << block.toStdString();
    }
    EXPECT_THROW(ImageListing::parse("Scanning the drive for archives:\nERROR: cannot open\n"), ListingError);
    EXPECT_THROW(ImageListing::parse(""), ListingError);
}

struct UnsafeCase {
    const char* name;
    QStringList blocks;
    const char* reason; // empty when the listing is safe
};

void PrintTo(const UnsafeCase& unsafeCase, std::ostream* out) {
    *out << unsafeCase.name;
}

class HdiutilUnsafeEntries : public ::testing::TestWithParam<UnsafeCase> {};

TEST_P(HdiutilUnsafeEntries, AreJudgedBeforeExtraction) {
    const auto verdict = ImageListing::parse(listing({QStringLiteral("tar")}, GetParam().blocks)).firstUnsafeEntry();
    if (QByteArray(GetParam().reason).isEmpty()) {
        EXPECT_EQ(verdict, std::nullopt);
    } else {
        ASSERT_TRUE(verdict.has_value());
        EXPECT_THAT(verdict->toStdString(), HasSubstr(GetParam().reason));
    }
}

INSTANTIATE_TEST_SUITE_P(
        Entries, HdiutilUnsafeEntries,
        ::testing::Values(
                UnsafeCase{"AbsolutePath", {file(QStringLiteral("/etc/passwd"))}, "'/etc/passwd' has an absolute path"},
                UnsafeCase{"ClimbingPath", {file(QStringLiteral("docs/../../up.txt"))}, "climbs out of the volume"},
                UnsafeCase{"ClimbingWithBackslashes", {file(QStringLiteral("..\\..\\up.txt"))}, "climbs out"},
                UnsafeCase{"AbsoluteLink",
                           {symbolicLink(QStringLiteral("Applications"), QStringLiteral("/Applications"))},
                           "the link 'Applications' leads out of the volume to '/Applications'"},
                UnsafeCase{"LinkClimbingOut",
                           {symbolicLink(QStringLiteral("a/b/link"), QStringLiteral("../../../outside"))},
                           "leads out of the volume"},
                UnsafeCase{"EntryBelowLink",
                           {symbolicLink(QStringLiteral("docs"), QStringLiteral("sub")),
                            file(QStringLiteral("./docs/readme.txt"))},
                           "'./docs/readme.txt' lies below the link 'docs'"},
                UnsafeCase{"HardLinkOut",
                           {hardLink(QStringLiteral("copy"), QStringLiteral("../../etc/shadow"))},
                           "the hard link 'copy' leads out"},
                UnsafeCase{"LinksStayingInside",
                           {folder(QStringLiteral("a")), folder(QStringLiteral("a/b")),
                            symbolicLink(QStringLiteral("a/b/up"), QStringLiteral("../../top.pkg")),
                            file(QStringLiteral("top.pkg")),
                            hardLink(QStringLiteral("a/copy"), QStringLiteral("top.pkg"))},
                           ""}),
        [](const auto& info) { return std::string(info.param.name); });

TEST(HdiutilListing, NamedVolumesHaveTheirFolderAsRoot) {
    const QStringList underOneFolder{folder(QStringLiteral("Scanner Suite")),
                                     file(QStringLiteral("Scanner Suite/Scanner Suite.pkg")),
                                     folder(QStringLiteral("Scanner Suite/[HFS+ Private Data]"))};
    EXPECT_EQ(
            ImageListing::parse(listing({QStringLiteral("Dmg"), QStringLiteral("HFS")}, underOneFolder)).volumeFolder(),
            QStringLiteral("Scanner Suite"));
    EXPECT_EQ(ImageListing::parse(listing({QStringLiteral("APFS")}, underOneFolder)).volumeFolder(),
              QStringLiteral("Scanner Suite"));

    // ISO 9660 lists the volume's contents at the top; a single folder there is content, not the volume.
    EXPECT_EQ(ImageListing::parse(listing({QStringLiteral("Iso")}, underOneFolder)).volumeFolder(), std::nullopt);
    const QStringList fileAtTop{folder(QStringLiteral("Scanner Suite")), file(QStringLiteral("Scanner Suite.pkg"))};
    EXPECT_EQ(ImageListing::parse(listing({QStringLiteral("HFS")}, fileAtTop)).volumeFolder(), std::nullopt);
}

} // namespace
} // namespace tarn::hdiutil
