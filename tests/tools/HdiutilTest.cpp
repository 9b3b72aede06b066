// hdiutil run as the real executable against images from the fixtures, and its listing and volume checks
// on their own.
#include "hdiutil/Hdiutil.h"

#include "PackageToolSupport.h"
#include "common/Plist.h"
#include "fixtures/DiskImageBuilder.h"
#include "hdiutil/ImageListing.h"
#include "hdiutil/VolumeTree.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn::test {
namespace {

using fixtures::DiskImageBuilder;
using ::testing::HasSubstr;
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

mode_t modeOf(const QString& path) {
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status.st_mode;
}

class HdiutilTest : public ::testing::Test {
protected:
    Sandbox sandbox;
    QString volumes = sandbox.path(QStringLiteral("/Volumes"));

    ToolRun hdiutil(const QStringList& arguments) const { return sandbox.run(QStringLiteral("hdiutil"), arguments); }

    QString image(const QString& name) const { return sandbox.outside(name); }

    // Attaches `name`, written by `builder`, and answers its volume's mount point.
    QString attach(const DiskImageBuilder& builder, const QString& name = QStringLiteral("suite.dmg")) const {
        builder.write(image(name));
        const ToolRun run = hdiutil({QStringLiteral("attach"), image(name), QStringLiteral("-plist")});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return mountPoints(run.out).value(1);
    }

    // Everything under Volumes but the (empty) folder of attach records.
    QStringList leftovers() const {
        QStringList found;
        QDirIterator entries(volumes, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            const QString path = QDir(volumes).relativeFilePath(entries.next());
            if (path != QLatin1String(".tarn-attached")) {
                found.append(path);
            }
        }
        return found;
    }
};

DiskImageBuilder installerImage() {
    DiskImageBuilder builder;
    builder.setVolumeName(QStringLiteral("Scanner Suite"))
            .addFile(QStringLiteral("Scanner Suite.pkg"), "signed package bytes")
            .addFile(QStringLiteral("Extras/Driver.pkg"), "nested package");
    return builder;
}

// Ctrl+C in a terminal reaches the whole chain: an attach stopped before its volume is in place
// removes its staging and leaves nothing under Volumes.
TEST_F(HdiutilTest, SignalledBeforeTheVolumeIsInPlaceItLeavesNothingUnderVolumes) {
    installerImage().write(image(QStringLiteral("suite.dmg")));
    const ProcessGate gate;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARN_SYSTEM_ROOT"), sandbox.path(QString()));
    environment.insert(QStringLiteral("TARN_TOOL_GATE"), gate.at("extracted"));

    const SignalledRun run =
            gate.runSignalled(toolPath(QStringLiteral("hdiutil")),
                              {QStringLiteral("attach"), image(QStringLiteral("suite.dmg")), QStringLiteral("-plist")},
                              environment, SIGINT, true);

    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_THAT(run.err, HasSubstr("interrupted by SIGINT"));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ').toStdString();
}

TEST_F(HdiutilTest, AttachReportsReadOnlyMountFoldersThatDetachRemoves) {
    installerImage().write(image(QStringLiteral("Scanner Suite.dmg")));
    const ToolRun attached = hdiutil({QStringLiteral("attach"), image(QStringLiteral("Scanner Suite.dmg")),
                                      QStringLiteral("-nobrowse"), QStringLiteral("-plist")});
    ASSERT_EQ(attached.exitCode, 0) << attached.err;
    const QString mountPoint = QDir(volumes).canonicalPath() + QStringLiteral("/Scanner Suite");
    EXPECT_EQ(mountPoints(attached.out), QStringList({QString(), mountPoint}))
            << "the whole image first, without a mount point, as the system reports it";
    EXPECT_EQ(readFile(mountPoint + QStringLiteral("/Scanner Suite.pkg")), "signed package bytes");
    EXPECT_EQ(readFile(mountPoint + QStringLiteral("/Extras/Driver.pkg")), "nested package");
    EXPECT_EQ(modeOf(mountPoint + QStringLiteral("/Scanner Suite.pkg")) & 0222, 0u);
    EXPECT_EQ(modeOf(mountPoint) & 0222, 0u);
    const QString second = attach(installerImage(), QStringLiteral("Scanner Suite.dmg"));
    EXPECT_EQ(second, mountPoint + QStringLiteral(" 1")) << "the same volume twice gets two folders";

    const ToolRun quiet = hdiutil({QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet")});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_TRUE(quiet.out.empty());
    EXPECT_EQ(readFile(second + QStringLiteral("/Scanner Suite.pkg")), "signed package bytes");
    EXPECT_EQ(hdiutil({QStringLiteral("detach"), second}).out, '"' + second.toStdString() + "\" ejected.\n");
    EXPECT_EQ(leftovers(), QStringList());

    EXPECT_THAT(hdiutil({QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet")}),
                FailsWith("hdiutil: detach failed - No such file or directory"));
}

TEST_F(HdiutilTest, WithoutSystemRootVolumesLiveInTheUsersRuntimeDirectory) {
    installerImage().write(image(QStringLiteral("suite.dmg")));
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("TARN_SYSTEM_ROOT"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

    const ToolRun attached = runTool(
            QStringLiteral("hdiutil"),
            {QStringLiteral("attach"), image(QStringLiteral("suite.dmg")), QStringLiteral("-plist")}, environment);

    ASSERT_EQ(attached.exitCode, 0) << attached.err;
    const QString mountPoint = mountPoints(attached.out).value(1);
    EXPECT_EQ(mountPoint, QDir(runtime.path()).canonicalPath() + QStringLiteral("/tarn-installer/Volumes/suite"));
    EXPECT_TRUE(QFileInfo::exists(mountPoint + QStringLiteral("/Scanner Suite.pkg")));
    EXPECT_EQ(runTool(QStringLiteral("hdiutil"), {QStringLiteral("detach"), mountPoint}, environment).exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(mountPoint));
}

TEST_F(HdiutilTest, DetachRefusesFoldersItDidNotMake) {
    // A folder of the same shape beside the volumes, one elsewhere, and an attached folder that was
    // replaced by another of the same name after attaching.
    const QString replaced = attach(installerImage());
    ASSERT_EQ(::chmod(QFile::encodeName(replaced).constData(), 0700), 0);
    ASSERT_TRUE(QDir(replaced).removeRecursively());
    for (const QString& folder : {volumes + QStringLiteral("/Backup"), image(QStringLiteral("Documents")), replaced}) {
        fixtures::writeFile(folder + QStringLiteral("/keep.txt"), "kept");

        EXPECT_THAT(hdiutil({QStringLiteral("detach"), folder, QStringLiteral("-quiet")}),
                    FailsWith("is not a volume attached by hdiutil"));
        EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/keep.txt"))) << folder.toStdString();
    }
}

TEST_F(HdiutilTest, AttachRefusesUnreadableAndHostileImagesAndLeavesNothing) {
    const QTemporaryDir outside;
    installerImage().writeDamaged(image(QStringLiteral("truncated.dmg")), DiskImageBuilder::Damage::truncated);
    installerImage().writeDamaged(image(QStringLiteral("wiped.dmg")), DiskImageBuilder::Damage::noFileSystem);
    fixtures::writeFile(image(QStringLiteral("notes.dmg")), "just some text, not an image\n");
    // Archives 7-Zip would open all the same: no disk images, refused before it sees them, however hostile
    // their entries (those are judged on the listing, below).
    DiskImageBuilder()
            .setFormat(DiskImageBuilder::Format::tar)
            .addFile(QStringLiteral("Scanner Suite.pkg"), "package")
            .addFile(QStringLiteral("../../escaped.txt"), "planted")
            .write(image(QStringLiteral("tar.dmg")));
    fixtures::writeFile(image(QStringLiteral("payload.txt")), QByteArray(4096, 'z'));
    QProcess zip;
    zip.start(QStandardPaths::findExecutable(QStringLiteral("7zz")),
              {QStringLiteral("a"), QStringLiteral("-tzip"), image(QStringLiteral("zip.dmg")),
               image(QStringLiteral("payload.txt"))});
    ASSERT_TRUE(zip.waitForFinished() && zip.exitCode() == 0);
    const char* notAnImage = "image not recognized (not a disk image";
    const struct {
        const char* name;
        std::optional<DiskImageBuilder> builder; // none: the image is written already, or missing
        const char* reason;
    } cases[] = {
            {"truncated.dmg", {}, ""}, {"wiped.dmg", {}, notAnImage}, {"notes.dmg", {}, notAnImage},
            {"missing.dmg", {}, ""},   {"tar.dmg", {}, notAnImage},   {"zip.dmg", {}, notAnImage},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.name);
        if (refused.builder) {
            refused.builder->write(image(QString::fromLatin1(refused.name)));
        }

        const ToolRun run = hdiutil({QStringLiteral("attach"), image(QString::fromLatin1(refused.name)),
                                     QStringLiteral("-nobrowse"), QStringLiteral("-plist")});

        EXPECT_EQ(run.exitCode, 1);
        EXPECT_THAT(run.err, StartsWith(std::string("hdiutil: attach failed - ") + refused.reason));
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(leftovers(), QStringList());
        EXPECT_TRUE(QDir(outside.path()).isEmpty());
        EXPECT_FALSE(QFileInfo::exists(sandbox.path(QStringLiteral("/escaped.txt"))));
    }
}

TEST_F(HdiutilTest, UsageErrorsExitNonZero) {
    for (const QStringList& arguments :
         {QStringList(), QStringList{QStringLiteral("mount"), QStringLiteral("x.dmg")},
          QStringList{QStringLiteral("attach"), QStringLiteral("x.dmg"), QStringLiteral("-mountroot")},
          QStringList{QStringLiteral("attach")},
          QStringList{QStringLiteral("detach"), QStringLiteral("a"), QStringLiteral("b")}}) {
        EXPECT_THAT(hdiutil(arguments), FailsWith("Usage: hdiutil attach IMAGE")) << arguments.join(u' ').toStdString();
    }
}

// A technical listing in 7-Zip's shape: the opened formats, the separator, one block per entry.
hdiutil::ImageListing listing(const QStringList& formats, const QStringList& entryBlocks) {
    QByteArray text = "\n7-Zip (z) 26.02 (x64)\n\nListing archive: /tmp/image.dmg\n\n--\nPath = /tmp/image.dmg\n";
    for (const QString& format : formats) {
        text += "Type = " + format.toUtf8() + "\nPhysical Size = 385024\n";
    }
    text += "\n----------\n";
    for (const QString& block : entryBlocks) {
        text += block.toUtf8() + "\n\n";
    }
    return hdiutil::ImageListing::parse(text);
}

QString file(const QString& path) {
    return QStringLiteral("Path = %1\nFolder = -\nSize = 3\nSymbolic Link = \nHard Link = ").arg(path);
}

QString folder(const QString& path) {
    return QStringLiteral("Path = %1\nFolder = +\nSize = 0").arg(path);
}

// HFS+ and APFS list the volume under one folder named after it; ISO 9660 lists the volume's contents at the
// top, so a single folder there is content, not the volume.
TEST(HdiutilListing, TakesTheSingleTopFolderOfNamedVolumesAsTheirRoot) {
    const QStringList underOneFolder{folder(QStringLiteral("Scanner Suite")),
                                     file(QStringLiteral("Scanner Suite/Scanner Suite.pkg"))};
    EXPECT_EQ(listing({QStringLiteral("Dmg"), QStringLiteral("HFS")}, underOneFolder).volumeFolder(),
              QStringLiteral("Scanner Suite"));
    EXPECT_EQ(listing({QStringLiteral("APFS")}, underOneFolder).volumeFolder(), QStringLiteral("Scanner Suite"));
    EXPECT_EQ(listing({QStringLiteral("Iso")}, underOneFolder).volumeFolder(), std::nullopt);
    EXPECT_EQ(listing({QStringLiteral("HFS")}, {folder(QStringLiteral("Suite")), file(QStringLiteral("a.pkg"))})
                      .volumeFolder(),
              std::nullopt);
}

QString link(const QString& path, const QString& target, bool hard = false) {
    return QStringLiteral("Path = %1\nFolder = -\nSize = 0\nSymbolic Link = %2\nHard Link = %3")
            .arg(path, hard ? QString() : target, hard ? target : QString());
}

// Entries that would land outside the volume, judged before anything is extracted.
TEST(HdiutilListing, NamesTheFirstEntryThatWouldLeaveTheVolume) {
    const QString outside = QStringLiteral("/tmp/outside");
    const struct {
        const char* name;
        QStringList entries;
        bool safe;
    } cases[] = {
            {"links inside", {file(QStringLiteral("a.pkg")), link(QStringLiteral("b"), QStringLiteral("a.pkg"))}, true},
            {"absolute path", {file(outside + QStringLiteral("/planted.txt"))}, false},
            {"climbing path", {file(QStringLiteral("../../escaped.txt"))}, false},
            {"absolute link", {link(QStringLiteral("Applications"), outside)}, false},
            {"entry through a link",
             {link(QStringLiteral("docs"), QStringLiteral("Extras")), file(QStringLiteral("docs/planted.txt"))},
             false},
            {"hard link out", {link(QStringLiteral("passwd"), QStringLiteral("/etc/passwd"), true)}, false},
    };
    for (const auto& entries : cases) {
        EXPECT_EQ(!listing({QStringLiteral("Iso")}, entries.entries).firstUnsafeEntry(), entries.safe) << entries.name;
    }
}

// What an image holds must fit in the free space, with a margin, before anything is extracted.
TEST_F(HdiutilTest, AttachRefusesAnImageWhoseContentsWouldNotFitTheFreeSpace) {
    installerImage().write(image(QStringLiteral("suite.dmg")));
    hdiutil::Environment environment = hdiutil::Environment::fromProcess();
    environment.volumesDirectory = volumes;
    const quint64 contents = 20 + 14; // both packages' bytes
    const quint64 margin = 64ULL * 1024 * 1024;
    const QStringList attach{QStringLiteral("attach"), image(QStringLiteral("suite.dmg")), QStringLiteral("-plist")};

    for (const quint64 free : {quint64{0}, contents + margin - 1}) {
        environment.freeBytes = [free](const QString&) { return free; };
        const hdiutil::Outcome refused = hdiutil::run(attach, environment);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_THAT(refused.standardError.toStdString(),
                    HasSubstr("attach failed - the image's contents (34 bytes) do not fit in the free space"));
        EXPECT_EQ(leftovers(), QStringList());
    }
    environment.freeBytes = [&](const QString&) { return contents + margin; };
    EXPECT_EQ(hdiutil::run(attach, environment).exitCode, 0);
}

// A name with a line break must not be able to pass off part of itself as another field or entry.
TEST(HdiutilListing, RefusesListingsWhoseEntriesCannotBeToldApart) {
    for (const QString& block :
         {QStringLiteral("Path = harmless\n../../etc/cron.d/job\nFolder = -"),
          QStringLiteral("Path = harmless\nPath = ../../escape\nFolder = -"), QStringLiteral("Folder = -\nSize = 3")}) {
        EXPECT_THROW(listing({QStringLiteral("tar")}, {file(QStringLiteral("a.pkg")), block}), hdiutil::ListingError)
                << block.toStdString();
    }
    EXPECT_THROW(hdiutil::ImageListing::parse("Scanning the drive for archives:\nERROR: cannot open\n"),
                 hdiutil::ListingError);
    EXPECT_THROW(hdiutil::ImageListing::parse(""), hdiutil::ListingError);
}

// A volume folder beside an "outside" folder that nothing may reach or change.
class HdiutilVolumeTree : public ::testing::Test {
public:
    QTemporaryDir base;
    QString volume = base.filePath(QStringLiteral("volume"));
    QString outside = base.filePath(QStringLiteral("outside"));

    void SetUp() override {
        fixtures::writeFile(volume + QStringLiteral("/Scanner Suite.pkg"), "data");
        fixtures::writeFile(outside + QStringLiteral("/secret"), "data");
        QDir().mkpath(volume + QStringLiteral("/Extras"));
    }

    void link(const QString& name, const QString& target, bool hard = false) const {
        const QByteArray from = QFile::encodeName(hard ? target : volume + u'/' + name);
        const QByteArray to = QFile::encodeName(hard ? volume + u'/' + name : target);
        ASSERT_EQ(hard ? ::link(from.constData(), to.constData()) : ::symlink(to.constData(), from.constData()), 0);
    }
};

TEST_F(HdiutilVolumeTree, FindsWhatReachesOutsideAndAcceptsWhatStaysInside) {
    const struct {
        const char* name;
        std::function<void(HdiutilVolumeTree&)> make;
        const char* reason; // empty when the tree is safe
    } cases[] = {
            {"links inside",
             [](auto& t) {
                 t.link(QStringLiteral("Extras/suite"), QStringLiteral("../Scanner Suite.pkg"));
                 t.link(QStringLiteral("extras"), QStringLiteral("Extras"));
                 t.link(QStringLiteral("Extras/copy.pkg"), t.volume + QStringLiteral("/Scanner Suite.pkg"), true);
             },
             ""},
            {"absolute link", [](auto& t) { t.link(QStringLiteral("secret"), t.outside + QStringLiteral("/secret")); },
             "the link 'secret' leads out"},
            {"climbing link", [](auto& t) { t.link(QStringLiteral("Extras/up"), QStringLiteral("../../outside")); },
             "the link 'Extras/up' leads out"},
            // Each link alone stays inside by its text; the kernel resolves "here/.." from the folder "here"
            // names, which is the volume itself, so together they climb out.
            {"composed links",
             [](auto& t) {
                 t.link(QStringLiteral("here"), QStringLiteral("."));
                 t.link(QStringLiteral("Extras/way"), QStringLiteral("../here/../outside"));
             },
             "leads out"},
            {"dangling link", [](auto& t) { t.link(QStringLiteral("gone"), QStringLiteral("missing/file")); },
             "the link 'gone' leads out"},
            {"hard link from outside",
             [](auto& t) { t.link(QStringLiteral("Extras/secret"), t.outside + QStringLiteral("/secret"), true); },
             "the file 'Extras/secret' is linked from outside"},
            {"pipe", [](auto& t) { ::mkfifo(QFile::encodeName(t.volume + QStringLiteral("/pipe")).constData(), 0600); },
             "'pipe' is neither a file, a folder nor a link"},
    };
    for (const auto& tree : cases) {
        SCOPED_TRACE(tree.name);
        ASSERT_TRUE(QDir(volume).removeRecursively());
        SetUp();
        tree.make(*this);
        const auto escape = hdiutil::firstEscape(volume);
        EXPECT_THAT(escape.value_or(QString()).toStdString(), HasSubstr(tree.reason));
        EXPECT_EQ(escape.has_value(), *tree.reason != '\0');
    }
}

TEST_F(HdiutilVolumeTree, ReadOnlyAndRemovalNeverReachThroughLinks) {
    link(QStringLiteral("Extras/outside"), outside);
    link(QStringLiteral("secret"), outside + QStringLiteral("/secret"));
    const mode_t outsideMode = modeOf(outside + QStringLiteral("/secret"));

    ASSERT_EQ(hdiutil::makeReadOnly(volume), std::nullopt);
    EXPECT_EQ(modeOf(volume + QStringLiteral("/Scanner Suite.pkg")) & 0222, 0u);
    EXPECT_EQ(modeOf(volume + QStringLiteral("/Extras")) & 0222, 0u);
    EXPECT_EQ(modeOf(volume) & 0222, 0u);
    EXPECT_EQ(modeOf(outside + QStringLiteral("/secret")), outsideMode);
    EXPECT_EQ(modeOf(outside) & 0200, 0200u);

    ASSERT_EQ(hdiutil::removeTree(volume), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(volume));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/secret")));
    EXPECT_EQ(hdiutil::removeTree(volume), std::nullopt) << "removing what is already gone is no failure";
}

} // namespace
} // namespace tarn::test
