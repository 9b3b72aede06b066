// hdiutil run as the real executable against images from the fixtures, and its listing and volume checks
// on their own.
#include "hdiutil/Hdiutil.h"

#include "PackageToolSupport.h"
#include "common/Plist.h"
#include "fixtures/DiskImageBuilder.h"
#include "hdiutil/ImageListing.h"
#include "hdiutil/VolumeTree.h"

#include <QScopeGuard>

#include <tuple>
#include <unistd.h>

namespace tarn::test {
namespace {

using fixtures::DiskImageBuilder;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// The mount points of the entities in an attach report, in order (empty for an entity without one).
QStringList mountPoints(const std::string& report) {
    const tool::Plist root = tool::Plist::parse(QByteArray::fromStdString(report));
    plist_t entities = root.isDictionary() ? plist_dict_get_item(root.get(), "system-entities") : nullptr;
    QStringList found;
    for (uint32_t i = 0; entities && i < plist_array_get_size(entities); ++i) {
        found.append(tool::stringEntry(plist_array_get_item(entities, i), "mount-point").value_or(QString()));
    }
    return found;
}

class HdiutilTest : public ::testing::Test {
protected:
    Sandbox sandbox;
    QString volumes = sandbox.path(u"/Volumes"_s);
    QString suite = sandbox.outside(u"Scanner Suite.dmg"_s);
    DiskImageBuilder builder = DiskImageBuilder()
                                       .setVolumeName(u"Scanner Suite"_s)
                                       .addFile(u"Scanner Suite.pkg"_s, "signed package bytes")
                                       .addFile(u"Extras/Driver.pkg"_s, "nested package");

    HdiutilTest() { builder.write(suite); }

    ToolRun hdiutil(const QStringList& arguments) const { return sandbox.run(u"hdiutil"_s, arguments); }

    // Attaches the suite again and answers its volume's mount point.
    QString attach() const { return mountPoints(hdiutil({u"attach"_s, suite, u"-plist"_s}).out).value(1); }

    // Everything in Volumes and its (empty) folder of attach records but that folder itself.
    QStringList leftovers() const {
        QStringList found =
                QDir(volumes).entryList(everyEntry) + QDir(volumes + u"/.tarn-attached"_s).entryList(everyEntry);
        found.removeOne(u".tarn-attached"_s);
        return found;
    }
};

TEST_F(HdiutilTest, AttachReportsReadOnlyMountFoldersThatDetachRemovesAndRefusesAnyOther) {
    const ToolRun attached = hdiutil({u"attach"_s, suite, u"-nobrowse"_s, u"-plist"_s});
    ASSERT_EQ(attached.exitCode, 0) << attached.err;
    const QString mountPoint = QDir(volumes).canonicalPath() + u"/Scanner Suite"_s;
    EXPECT_EQ(mountPoints(attached.out), QStringList({QString(), mountPoint}))
            << "the whole image first, without a mount point, as the system reports it";
    EXPECT_EQ(readFile(mountPoint + u"/Scanner Suite.pkg"_s), "signed package bytes");
    EXPECT_EQ(readFile(mountPoint + u"/Extras/Driver.pkg"_s), "nested package");
    EXPECT_EQ((statusOf(mountPoint + u"/Scanner Suite.pkg"_s).st_mode | statusOf(mountPoint).st_mode) & 0222, 0u);
    const QString second = attach();
    EXPECT_EQ(second, mountPoint + u" 1"_s) << "the same volume twice gets two folders";

    const ToolRun quiet = hdiutil({u"detach"_s, mountPoint, u"-quiet"_s});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_TRUE(quiet.out.empty());
    EXPECT_EQ(readFile(second + u"/Scanner Suite.pkg"_s), "signed package bytes");
    EXPECT_EQ(hdiutil({u"detach"_s, second}).out, '"' + second.toStdString() + "\" ejected.\n");
    EXPECT_THAT(hdiutil({u"detach"_s, mountPoint, u"-quiet"_s}),
                FailsWith("hdiutil: detach failed - No such file or directory"));

    // Refused: a folder of the same shape beside the volumes, one elsewhere, and an attached folder that was
    // replaced by another of the same name after attaching.
    const QString replaced = attach();
    ASSERT_EQ(::chmod(QFile::encodeName(replaced).constData(), 0700), 0);
    ASSERT_TRUE(QDir(replaced).removeRecursively());
    for (const QString& folder : {volumes + u"/Backup"_s, sandbox.outside(u"Documents"_s), replaced}) {
        fixtures::writeFile(folder + u"/keep.txt"_s, "kept");

        EXPECT_THAT(hdiutil({u"detach"_s, folder, u"-quiet"_s}), FailsWith("is not a volume attached by hdiutil"));
        EXPECT_TRUE(QFileInfo::exists(folder + u"/keep.txt"_s)) << folder.toStdString();
    }
}

// Ctrl+C in a terminal reaches the whole chain: an attach stopped before its volume is in place
// removes its staging and leaves nothing under Volumes, as a refused one does.
TEST_F(HdiutilTest, AttachInterruptedRefusedOrTooBigForTheFreeSpaceLeavesNothing) {
    const SignalledRun run =
            sandbox.signalled(u"hdiutil"_s, {u"attach"_s, suite, u"-plist"_s}, "extracted", SIGINT, true);

    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_THAT(run.err, HasSubstr("interrupted by SIGINT"));
    EXPECT_THAT(leftovers(), IsEmpty());

    const auto image = [&](const char* name) { return sandbox.outside(QString::fromLatin1(name)); };
    builder.writeDamaged(image("truncated.dmg"), DiskImageBuilder::Damage::truncated);
    builder.writeDamaged(image("wiped.dmg"), DiskImageBuilder::Damage::noFileSystem);
    // Archives 7-Zip would open all the same (an empty zip is its end record alone), refused before it sees
    // them, however hostile their entries (those are judged on the listing, below).
    fixtures::writeFile(image("zip.dmg"), QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
    DiskImageBuilder()
            .setFormat(DiskImageBuilder::Format::tar)
            .addFile(u"../../escaped.txt"_s, "planted")
            .write(image("tar.dmg"));
    const char* notAnImage = "image not recognized (not a disk image";
    const std::pair<const char*, const char*> cases[] = {
            {"truncated.dmg", ""},   {"wiped.dmg", notAnImage}, {"missing.dmg", ""},
            {"tar.dmg", notAnImage}, {"zip.dmg", notAnImage},
    };
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);

        const ToolRun run = hdiutil({u"attach"_s, image(name), u"-nobrowse"_s, u"-plist"_s});

        EXPECT_EQ(run.exitCode, 1);
        EXPECT_THAT(run.err, StartsWith(std::string("hdiutil: attach failed - ") + reason));
        EXPECT_TRUE(run.out.empty());
        EXPECT_THAT(leftovers(), IsEmpty());
        EXPECT_FALSE(QFileInfo::exists(sandbox.path(u"/escaped.txt"_s)));
    }
    for (const QString& line : {u""_s, u"mount x.dmg"_s, u"attach x.dmg -mountroot"_s, u"attach"_s, u"detach a b"_s}) {
        EXPECT_THAT(hdiutil(line.split(u' ', Qt::SkipEmptyParts)), FailsWith("Usage: hdiutil attach IMAGE"))
                << line.toStdString();
    }

    // Without a system root, volumes live in the user's runtime directory. What an image holds must fit in
    // the free space, with a margin, before anything is extracted.
    QTemporaryDir runtime;
    const auto restore = qScopeGuard([old = qgetenv("XDG_RUNTIME_DIR")] { qputenv("XDG_RUNTIME_DIR", old); });
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    hdiutil::Environment environment = hdiutil::Environment::fromProcess();
    EXPECT_EQ(environment.volumesDirectory, runtime.path() + u"/tarn-installer/Volumes"_s);
    environment.volumesDirectory = volumes;
    const quint64 needed = 20 + 14 + 64ULL * 1024 * 1024; // both packages' bytes and the margin
    for (const quint64 free : {needed - 1, needed}) {
        environment.freeBytes = [free](const QString&) { return free; };

        const hdiutil::Outcome outcome = hdiutil::run({u"attach"_s, suite, u"-plist"_s}, environment);

        EXPECT_EQ(outcome.exitCode, free == needed ? 0 : 1) << free;
        EXPECT_EQ(outcome.standardError.contains("attach failed - the image's contents (34 bytes) do not fit in "
                                                 "the free space"),
                  free != needed);
        EXPECT_EQ(leftovers().isEmpty(), free != needed);
    }
}

// A technical listing in 7-Zip's shape: the opened formats, the separator, one block per entry.
hdiutil::ImageListing listing(const QStringList& formats, const QStringList& entryBlocks) {
    QByteArray text = "\n7-Zip (z) 26.02 (x64)\n\nListing archive: /tmp/image.dmg\n\n--\nPath = /tmp/image.dmg\n";
    for (const QString& format : formats) {
        text += "Type = " + format.toUtf8() + "\nPhysical Size = 385024\n";
    }
    text += "\n----------\n" + entryBlocks.join(u"\n\n"_s).toUtf8() + "\n\n";
    return hdiutil::ImageListing::parse(text);
}

QString file(const QString& path) {
    return u"Path = %1\nFolder = -\nSize = 3\nSymbolic Link = \nHard Link = "_s.arg(path);
}

QString link(const QString& path, const QString& target, bool hard = false) {
    return u"Path = %1\nFolder = -\nSize = 0\nSymbolic Link = %2\nHard Link = %3"_s.arg(path, hard ? QString() : target,
                                                                                        hard ? target : QString());
}

// HFS+ and APFS list the volume under one folder named after it; ISO 9660 lists the volume's contents at the
// top, so a single folder there is content, not the volume.
TEST(HdiutilListing, FindsTheVolumeFolderAndTheFirstEntryThatWouldLeaveTheVolume) {
    const QString folder = u"Path = Scanner Suite\nFolder = +\nSize = 0"_s;
    const QStringList underOneFolder{folder, file(u"Scanner Suite/Scanner Suite.pkg"_s)};
    EXPECT_EQ(listing({u"Dmg"_s, u"HFS"_s}, underOneFolder).volumeFolder(), u"Scanner Suite"_s);
    EXPECT_EQ(listing({u"APFS"_s}, underOneFolder).volumeFolder(), u"Scanner Suite"_s);
    EXPECT_EQ(listing({u"Iso"_s}, underOneFolder).volumeFolder(), std::nullopt);
    EXPECT_EQ(listing({u"HFS"_s}, {folder, file(u"a.pkg"_s)}).volumeFolder(), std::nullopt);

    // Entries that would land outside the volume are judged before anything is extracted; a name with a line
    // break must not be able to pass off part of itself as another field or entry.
    const QString outside = u"/tmp/outside"_s;
    const std::pair<QStringList, bool> cases[] = {
            {{file(u"a.pkg"_s), link(u"b"_s, u"a.pkg"_s)}, true},
            {{file(outside + u"/planted.txt"_s)}, false},
            {{file(u"../../escaped.txt"_s)}, false},
            {{link(u"Applications"_s, outside)}, false},
            {{link(u"docs"_s, u"Extras"_s), file(u"docs/planted.txt"_s)}, false},
            {{link(u"passwd"_s, u"/etc/passwd"_s, true)}, false},
    };
    for (const auto& [entries, safe] : cases) {
        EXPECT_EQ(!listing({u"Iso"_s}, entries).firstUnsafeEntry(), safe) << entries.join(u'|').toStdString();
    }
    for (const QString& block : {u"Path = harmless\n../../etc/cron.d/job\nFolder = -"_s,
                                 u"Path = harmless\nPath = ../../escape\nFolder = -"_s, u"Folder = -\nSize = 3"_s}) {
        EXPECT_THROW(listing({u"tar"_s}, {file(u"a.pkg"_s), block}), hdiutil::ListingError) << block.toStdString();
    }
    EXPECT_THROW(hdiutil::ImageListing::parse("Scanning the drive for archives:\nERROR: cannot open\n"),
                 hdiutil::ListingError);
    EXPECT_THROW(hdiutil::ImageListing::parse(""), hdiutil::ListingError);
}

// A volume folder beside an "outside" folder that nothing may reach or change.
class HdiutilVolumeTree : public ::testing::Test {
public:
    // A link made by name in the volume, to `target`, or a hard link from an existing `target`.
    using Link = std::tuple<QString, QString, bool>;

    QTemporaryDir base;
    QString volume = base.filePath(u"volume"_s);
    QString outside = base.filePath(u"outside"_s);

    void make(const QList<Link>& links) {
        ASSERT_TRUE(QDir(volume).removeRecursively());
        fixtures::writeFile(volume + u"/Scanner Suite.pkg"_s, "data");
        fixtures::writeFile(outside + u"/secret"_s, "data");
        QDir().mkpath(volume + u"/Extras"_s);
        for (const auto& [name, target, hard] : links) {
            const QByteArray from = QFile::encodeName(target), to = QFile::encodeName(volume + u'/' + name);
            ASSERT_EQ(hard ? ::link(from, to) : ::symlink(from, to), 0) << to.constData();
        }
    }
};

TEST_F(HdiutilVolumeTree, FindsWhatReachesOutsideAndNeverReachesThroughLinksItself) {
    const struct {
        QList<Link> links;
        const char* reason; // empty when the tree is safe
    } cases[] = {
            {{{u"Extras/suite"_s, u"../Scanner Suite.pkg"_s, false},
              {u"extras"_s, u"Extras"_s, false},
              {u"Extras/copy.pkg"_s, volume + u"/Scanner Suite.pkg"_s, true}},
             ""},
            {{{u"secret"_s, outside + u"/secret"_s, false}}, "the link 'secret' leads out"},
            {{{u"Extras/up"_s, u"../../outside"_s, false}}, "the link 'Extras/up' leads out"},
            // Each link alone stays inside by its text; the kernel resolves "here/.." from the folder "here"
            // names, which is the volume itself, so together they climb out.
            {{{u"here"_s, u"."_s, false}, {u"Extras/way"_s, u"../here/../outside"_s, false}}, "leads out"},
            {{{u"gone"_s, u"missing/file"_s, false}}, "the link 'gone' leads out"},
            {{{u"Extras/secret"_s, outside + u"/secret"_s, true}}, "the file 'Extras/secret' is linked from outside"},
            {{}, "'pipe' is neither a file, a folder nor a link"},
    };
    for (const auto& tree : cases) {
        SCOPED_TRACE(tree.reason);
        make(tree.links);
        if (tree.links.isEmpty()) {
            ::mkfifo(QFile::encodeName(volume + u"/pipe"_s).constData(), 0600);
        }
        const auto escape = hdiutil::firstEscape(volume);
        EXPECT_THAT(escape.value_or(QString()).toStdString(), HasSubstr(tree.reason));
        EXPECT_EQ(escape.has_value(), *tree.reason != '\0');
    }

    // Making the volume read-only and removing it never reach through its links.
    make({{u"Extras/outside"_s, outside, false}, {u"secret"_s, outside + u"/secret"_s, false}});
    const mode_t outsideMode = statusOf(outside + u"/secret"_s).st_mode;

    ASSERT_EQ(hdiutil::makeReadOnly(volume), std::nullopt);
    for (const QString& inside : {u"/Scanner Suite.pkg"_s, u"/Extras"_s, QString()}) {
        EXPECT_EQ(statusOf(volume + inside).st_mode & 0222, 0u) << inside.toStdString();
    }
    EXPECT_EQ(statusOf(outside + u"/secret"_s).st_mode, outsideMode);
    EXPECT_EQ(statusOf(outside).st_mode & 0200, 0200u);

    ASSERT_EQ(hdiutil::removeTree(volume), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(volume));
    EXPECT_TRUE(QFileInfo::exists(outside + u"/secret"_s));
    EXPECT_EQ(hdiutil::removeTree(volume), std::nullopt) << "removing what is already gone is no failure";
}

} // namespace
} // namespace tarn::test
