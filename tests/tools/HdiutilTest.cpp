#include "fixtures/DiskImageBuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <memory>
#include <sys/stat.h>

namespace tarn {
namespace {

using fixtures::DiskImageBuilder;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct ToolRun {
    int exitCode = -1;
    QByteArray standardOutput;
    QString standardError;
};

// A temporary system root with its Volumes folder, and the real hdiutil run against it.
class HdiutilTest : public ::testing::Test {
protected:
    QTemporaryDir systemRoot;
    QTemporaryDir downloads;
    QString volumes = systemRoot.filePath(QStringLiteral("Volumes"));

    ToolRun hdiutil(const QStringList& arguments) const {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TARN_SYSTEM_ROOT"), systemRoot.path());
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TARN_TOOLS_DIR "/hdiutil"), arguments);
        process.waitForFinished(-1);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QString image(const QString& name) const { return downloads.filePath(name); }

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

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPointer = std::unique_ptr<void, PlistDeleter>;

QString stringEntry(plist_t dictionary, const char* key) {
    plist_t node = plist_dict_get_item(dictionary, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING) {
        return {};
    }
    char* value = nullptr;
    plist_get_string_val(node, &value);
    QString text = QString::fromUtf8(value);
    free(value);
    return text;
}

// The mount points of the entities in an attach report, in order (empty for an entity without one).
QStringList mountPoints(const QByteArray& report) {
    plist_t parsed = nullptr;
    plist_from_memory(report.constData(), static_cast<uint32_t>(report.size()), &parsed);
    PlistPointer root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        return {QStringLiteral("<not a plist dictionary>")};
    }
    plist_t entities = plist_dict_get_item(root.get(), "system-entities");
    if (!entities || plist_get_node_type(entities) != PLIST_ARRAY) {
        return {QStringLiteral("<no system-entities list>")};
    }
    QStringList found;
    for (uint32_t i = 0; i < plist_array_get_size(entities); ++i) {
        found.append(stringEntry(plist_array_get_item(entities, i), "mount-point"));
    }
    return found;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

DiskImageBuilder installerImage() {
    DiskImageBuilder builder;
    builder.setVolumeName(QStringLiteral("Scanner Suite"))
            .addFile(QStringLiteral("Scanner Suite.pkg"), "signed package bytes")
            .addFile(QStringLiteral("Read Me.PKG"), "upper-case suffix")
            .addFile(QStringLiteral("Extras/Driver.pkg"), "nested package");
    return builder;
}

TEST_F(HdiutilTest, AttachReportsAReadOnlyMountFolderAndDetachRemovesIt) {
    installerImage().write(image(QStringLiteral("Scanner Suite.dmg")));

    const ToolRun attached = hdiutil({QStringLiteral("attach"), image(QStringLiteral("Scanner Suite.dmg")),
                                      QStringLiteral("-nobrowse"), QStringLiteral("-plist")});
    ASSERT_EQ(attached.exitCode, 0) << attached.standardError.toStdString();

    const QString mountPoint = QDir(volumes).canonicalPath() + QStringLiteral("/Scanner Suite");
    EXPECT_EQ(mountPoints(attached.standardOutput), QStringList({QString(), mountPoint}))
            << "the whole image first, without a mount point, as the system reports it";
    EXPECT_EQ(contents(mountPoint + QStringLiteral("/Scanner Suite.pkg")), "signed package bytes");
    EXPECT_EQ(contents(mountPoint + QStringLiteral("/Read Me.PKG")), "upper-case suffix");
    EXPECT_EQ(contents(mountPoint + QStringLiteral("/Extras/Driver.pkg")), "nested package");
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(mountPoint + QStringLiteral("/Scanner Suite.pkg")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0222, 0u);
    ASSERT_EQ(::stat(QFile::encodeName(mountPoint).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0222, 0u);

    const ToolRun detached = hdiutil({QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet")});
    EXPECT_EQ(detached.exitCode, 0) << detached.standardError.toStdString();
    EXPECT_TRUE(detached.standardOutput.isEmpty());
    EXPECT_EQ(leftovers(), QStringList());

    const ToolRun again = hdiutil({QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_THAT(again.standardError.toStdString(), HasSubstr("hdiutil: detach failed - No such file or directory"));
}

TEST_F(HdiutilTest, WithoutSystemRootVolumesLiveInTheUsersRuntimeDirectory) {
    installerImage().write(image(QStringLiteral("suite.dmg")));
    QTemporaryDir runtime;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("TARN_SYSTEM_ROOT"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARN_TOOLS_DIR "/hdiutil"),
                  {QStringLiteral("attach"), image(QStringLiteral("suite.dmg")), QStringLiteral("-plist")});
    process.waitForFinished(-1);
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

    const QString mountPoint = mountPoints(process.readAllStandardOutput()).value(1);
    EXPECT_EQ(mountPoint, QDir(runtime.path()).canonicalPath() + QStringLiteral("/tarn-installer/Volumes/suite"));
    EXPECT_TRUE(QFileInfo::exists(mountPoint + QStringLiteral("/Scanner Suite.pkg")));
    process.start(QStringLiteral(TARN_TOOLS_DIR "/hdiutil"),
                  {QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet")});
    process.waitForFinished(-1);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(mountPoint));
}

TEST_F(HdiutilTest, SameVolumeAttachedTwiceGetsTwoFolders) {
    installerImage().write(image(QStringLiteral("suite.dmg")));
    const QStringList attach{QStringLiteral("attach"), image(QStringLiteral("suite.dmg")), QStringLiteral("-plist")};

    const QStringList first = mountPoints(hdiutil(attach).standardOutput);
    const QStringList second = mountPoints(hdiutil(attach).standardOutput);

    ASSERT_EQ(first.size(), 2);
    ASSERT_EQ(second.size(), 2);
    EXPECT_THAT(first[1].toStdString(), testing::EndsWith("/Volumes/suite"));
    EXPECT_THAT(second[1].toStdString(), testing::EndsWith("/Volumes/suite 1"));
    EXPECT_EQ(hdiutil({QStringLiteral("detach"), first[1], QStringLiteral("-quiet")}).exitCode, 0);
    EXPECT_TRUE(QFileInfo::exists(second[1] + QStringLiteral("/Scanner Suite.pkg")))
            << "detaching one leaves the other attached";
    EXPECT_EQ(hdiutil({QStringLiteral("detach"), second[1]}).standardOutput,
              '"' + second[1].toUtf8() + "\" ejected.\n");
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(HdiutilTest, DetachRefusesFoldersItDidNotMake) {
    installerImage().write(image(QStringLiteral("suite.dmg")));
    const QString attachedFolder = mountPoints(hdiutil({QStringLiteral("attach"), image(QStringLiteral("suite.dmg")),
                                                        QStringLiteral("-plist")})
                                                       .standardOutput)
                                           .value(1);
    ASSERT_FALSE(attachedFolder.isEmpty());

    // A folder of the same shape beside the volumes, one elsewhere, and an attached folder that was
    // replaced by another of the same name after attaching.
    const QString foreignVolume = volumes + QStringLiteral("/Backup");
    const QString elsewhere = downloads.filePath(QStringLiteral("Documents"));
    for (const QString& folder : {foreignVolume, elsewhere}) {
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile keep(folder + QStringLiteral("/keep.txt"));
        ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    }
    const QString replaced = attachedFolder;
    ASSERT_EQ(::chmod(QFile::encodeName(replaced).constData(), 0700), 0);
    ASSERT_TRUE(QDir(replaced).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(replaced));
    QFile keep(replaced + QStringLiteral("/keep.txt"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));

    for (const QString& folder : {foreignVolume, elsewhere, replaced}) {
        const ToolRun refused = hdiutil({QStringLiteral("detach"), folder, QStringLiteral("-quiet")});
        EXPECT_EQ(refused.exitCode, 1) << folder.toStdString();
        EXPECT_THAT(refused.standardError.toStdString(), HasSubstr("is not a volume attached by hdiutil"));
        EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/keep.txt"))) << folder.toStdString();
    }
}

TEST_F(HdiutilTest, ImagesThatCannotBeReadFailAndLeaveNothing) {
    installerImage().writeDamaged(image(QStringLiteral("truncated.dmg")), DiskImageBuilder::Damage::truncated);
    installerImage().writeDamaged(image(QStringLiteral("wiped.dmg")), DiskImageBuilder::Damage::noFileSystem);
    QFile text(image(QStringLiteral("notes.dmg")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("just some text, not an image\n");
    text.close();
    // Lists cleanly, then 7-Zip refuses the link "here" -> "." while extracting, after the package is out.
    DiskImageBuilder()
            .setFormat(DiskImageBuilder::Format::tar)
            .addFile(QStringLiteral("Scanner Suite.pkg"), "package")
            .addSymbolicLink(QStringLiteral("here"), QStringLiteral("."))
            .write(image(QStringLiteral("midway.dmg")));

    for (const char* name : {"truncated.dmg", "wiped.dmg", "notes.dmg", "missing.dmg", "midway.dmg"}) {
        const ToolRun run = hdiutil({QStringLiteral("attach"), image(QString::fromLatin1(name)),
                                     QStringLiteral("-nobrowse"), QStringLiteral("-plist")});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_THAT(run.standardError.toStdString(), StartsWith("hdiutil: attach failed - ")) << name;
        EXPECT_TRUE(run.standardOutput.isEmpty()) << name;
        EXPECT_EQ(leftovers(), QStringList()) << name;
    }
}

struct HostileImage {
    const char* name;
    std::function<void(DiskImageBuilder&, const QString& outside)> add;
};

void PrintTo(const HostileImage& hostile, std::ostream* out) {
    *out << hostile.name;
}

class HdiutilHostileImages : public HdiutilTest, public ::testing::WithParamInterface<HostileImage> {};

TEST_P(HdiutilHostileImages, AreRefusedWithoutWritingAnything) {
    QTemporaryDir outside;
    DiskImageBuilder builder;
    builder.setFormat(DiskImageBuilder::Format::tar).addFile(QStringLiteral("Scanner Suite.pkg"), "package");
    GetParam().add(builder, outside.path());
    builder.write(image(QStringLiteral("hostile.dmg")));

    const ToolRun run = hdiutil({QStringLiteral("attach"), image(QStringLiteral("hostile.dmg")),
                                 QStringLiteral("-nobrowse"), QStringLiteral("-plist")});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.standardError.toStdString(), StartsWith("hdiutil: attach failed - unsafe image: "));
    EXPECT_EQ(leftovers(), QStringList());
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(systemRoot.filePath(QStringLiteral("escaped.txt"))));
}

INSTANTIATE_TEST_SUITE_P(
        Entries, HdiutilHostileImages,
        ::testing::Values(HostileImage{"AbsolutePath",
                                       [](DiskImageBuilder& b, const QString& outside) {
                                           b.addFile(outside + QStringLiteral("/planted.txt"), "planted");
                                       }},
                          HostileImage{"ClimbingPath",
                                       [](DiskImageBuilder& b, const QString&) {
                                           b.addFile(QStringLiteral("../../escaped.txt"), "planted");
                                       }},
                          HostileImage{"LinkLeadingOut",
                                       [](DiskImageBuilder& b, const QString& outside) {
                                           b.addSymbolicLink(QStringLiteral("Applications"), outside);
                                       }},
                          HostileImage{"WriteThroughLink",
                                       [](DiskImageBuilder& b, const QString&) {
                                           b.addSymbolicLink(QStringLiteral("docs"), QStringLiteral("Extras"))
                                                   .addFile(QStringLiteral("docs/planted.txt"), "planted");
                                       }},
                          HostileImage{"HardLinkToOutside",
                                       [](DiskImageBuilder& b, const QString&) {
                                           b.addHardLink(QStringLiteral("passwd"), QStringLiteral("/etc/passwd"));
                                       }}),
        [](const auto& info) { return std::string(info.param.name); });

TEST_F(HdiutilTest, UsageErrorsExitNonZero) {
    for (const QStringList& arguments :
         {QStringList(), QStringList{QStringLiteral("mount"), QStringLiteral("x.dmg")},
          QStringList{QStringLiteral("attach"), QStringLiteral("x.dmg"), QStringLiteral("-mountroot")},
          QStringList{QStringLiteral("attach")},
          QStringList{QStringLiteral("detach"), QStringLiteral("a"), QStringLiteral("b")}}) {
        const ToolRun run = hdiutil(arguments);
        EXPECT_EQ(run.exitCode, 1) << arguments.join(u' ').toStdString();
        EXPECT_THAT(run.standardError.toStdString(), HasSubstr("Usage: hdiutil attach IMAGE"));
    }
}

} // namespace
} // namespace tarn
