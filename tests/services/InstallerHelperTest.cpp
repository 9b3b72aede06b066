#include "services/InstallerHelper.h"

#include "PackageServicesSupport.h"
#include "support/Mocks.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <dirent.h>

namespace tarn::test {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::StrictMock;
using ::testing::TypedEq;

const QString hdiutil = QStringLiteral("/opt/tools/hdiutil");
const QString installer = QStringLiteral("/opt/tools/installer");
const QString expectedHash = QStringLiteral("ABCDEF0123");
const QString appName = QStringLiteral("Scan Pro");

QStringList signers() {
    return {QStringLiteral("TARN (Q7XK2M9P4D)")};
}

QStringList attachArguments(const QString& image) {
    return {QStringLiteral("attach"), image, QStringLiteral("-nobrowse"), QStringLiteral("-plist")};
}

QStringList detachArguments(const QString& mountPoint) {
    return {QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet")};
}

QStringList installArguments(const QString& package) {
    return {QStringLiteral("-pkg"), u'\'' + package + u'\'', QStringLiteral("-target"), QStringLiteral("/")};
}

QString prompt() {
    return QString::fromLatin1(DisclaimerTranslator::format).arg(appName);
}

class InstallerHelperTest : public ::testing::Test {
protected:
    InstallerHelperTest() {
        QCoreApplication::installTranslator(&translator);
        ON_CALL(*validator, validateHash(::testing::An<QString>(), _)).WillByDefault(ReturnVoidTask());
        ON_CALL(*validator, validateSignature(::testing::An<QString>(), _)).WillByDefault(ReturnVoidTask());
    }
    ~InstallerHelperTest() override {
        drainPostedEvents();
        QCoreApplication::removeTranslator(&translator);
    }

    // A mounted volume: a folder holding the given entries (a name ending in "/" is a folder).
    QString volumeWith(const QStringList& entries) {
        const QString mountPoint = directory.filePath(QStringLiteral("Volume"));
        for (const QString& entry : entries) {
            if (entry.endsWith(u'/')) {
                QDir().mkpath(mountPoint + u'/' + entry);
            } else {
                EXPECT_TRUE(writeFile(mountPoint + u'/' + entry, "xar!"));
            }
        }
        QDir().mkpath(mountPoint);
        return mountPoint;
    }

    void expectAttach(const QString& image, const QByteArray& report) {
        EXPECT_CALL(*runner, runProcess(hdiutil, attachArguments(image))).WillOnce(ReturnTask(std::optional(report)));
    }

    void expectDetachOnce(const QString& mountPoint) {
        EXPECT_CALL(*runner, runProcess(hdiutil, detachArguments(mountPoint)))
                .WillOnce(ReturnTask(std::optional(QByteArray())));
    }

    QCoro::Task<> install(const QString& path) { return helper->install(path, appName, expectedHash, signers()); }

    DisclaimerTranslator translator;
    QTemporaryDir directory;
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<StrictMock<MockProcessRunner>> runner = std::make_shared<StrictMock<MockProcessRunner>>();
    std::shared_ptr<NiceMock<MockInstallerValidator>> validator = std::make_shared<NiceMock<MockInstallerValidator>>();
    std::shared_ptr<InstallerHelper> helper =
            std::make_shared<InstallerHelper>(logger, runner, validator, hdiutil, installer);
    const QString image = QStringLiteral("/downloads/Scan Pro 2.dmg");
};

TEST(InstallerHelperQuoting, KeepsAnyPathOneShellWord) {
    EXPECT_EQ(InstallerHelper::quotedForShell(QStringLiteral("/a b/c.pkg")), QStringLiteral("'/a b/c.pkg'"));
    EXPECT_EQ(InstallerHelper::quotedForShell(QStringLiteral("/it's/$x.pkg")), QStringLiteral("'/it'\\''s/$x.pkg'"));
    EXPECT_EQ(InstallerHelper::quotedForShell(QString()), QStringLiteral("''"));
}

class UnsupportedExtension : public InstallerHelperTest,
                             public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(UnsupportedExtension, FailsBeforeAnythingIsChecked) {
    const auto [path, extension] = GetParam();
    EXPECT_CALL(*validator, validateHash(::testing::An<QString>(), _)).Times(0);

    const QString message = QStringLiteral("Unsupported file extension for installation: ") + QLatin1String(extension);
    EXPECT_EQ(failureOf<InstallationError>(install(QString::fromUtf8(path))),
              InstallationError::unsupportedFileExtension(message));
    EXPECT_EQ(logger->lines(), QStringList(QStringLiteral("[CRITICAL] ") + message));
}

INSTANTIATE_TEST_SUITE_P(Paths, UnsupportedExtension,
                         ::testing::Values(std::pair("/downloads/Scan.zip", "zip"),
                                           std::pair("/downloads/Scan.ZIP", "zip"), std::pair("/downloads.d/Scan", ""),
                                           std::pair("/downloads/Scan.pkg.part", "part")));

TEST_F(InstallerHelperTest, StandalonePackageInAnyCaseIsVerifiedThenInstalledAsAdministrator) {
    const QString package = QStringLiteral("/downloads/Scan Pro.PKG");
    {
        InSequence order;
        EXPECT_CALL(*validator, validateHash(package, expectedHash)).WillOnce(ReturnVoidTask());
        EXPECT_CALL(*validator, validateSignature(package, signers())).WillOnce(ReturnVoidTask());
        EXPECT_CALL(*runner, runWithAdminPrivileges(installer, installArguments(package), prompt()))
                .WillOnce(ReturnTask(std::optional(QByteArray("installer: The install was successful."))));
    }

    test::waitFor(install(package));

    EXPECT_EQ(logger->lines(),
              QStringList({QStringLiteral("[INFO] Install PKG '") + package + u'\'',
                           QStringLiteral("[INFO] PKG installed succsessfully: '") + package + u'\''}));
}

TEST_F(InstallerHelperTest, StandaloneValidationFailuresPassUnchangedAndInstallNothing) {
    const QString package = QStringLiteral("/downloads/Scan.pkg");
    const auto hashFailure = InstallationError::mismatchHash(QStringLiteral("Could not validate SHA512 for x."));
    const auto signatureFailure = InstallationError::mismatchSignature(QStringLiteral("Error during ..."));
    EXPECT_CALL(*validator, validateHash(package, expectedHash))
            .WillOnce(ThrowTask<void>(hashFailure))
            .WillOnce(ReturnVoidTask());
    EXPECT_CALL(*validator, validateSignature(package, signers())).WillOnce(ThrowTask<void>(signatureFailure));

    EXPECT_EQ(failureOf<InstallationError>(install(package)), hashFailure);
    EXPECT_EQ(failureOf<InstallationError>(install(package)), signatureFailure);
    EXPECT_TRUE(logger->lines().isEmpty());
}

TEST_F(InstallerHelperTest, RefusedPromptForStandalonePackageIsInstallationFailedWithDebugText) {
    const QString package = QStringLiteral("/downloads/Scan.pkg");
    EXPECT_CALL(*runner, runWithAdminPrivileges(installer, installArguments(package), prompt()))
            .WillOnce(ThrowTask<std::optional<QByteArray>>(
                    InstallationError::installationFailed(QStringLiteral("execution error: User \"canceled\".\n"))));

    const QString message = QStringLiteral("Failed to install from standalone PKG: '/downloads/Scan.pkg'. Error: "
                                           "installationFailed(\"execution error: User \\\"canceled\\\".\\n\")");
    EXPECT_EQ(failureOf<InstallationError>(install(package)), InstallationError::installationFailed(message));
    EXPECT_EQ(logger->criticalLines(), QStringList(QStringLiteral("[CRITICAL] ") + message));
}

TEST_F(InstallerHelperTest, DiskImageSuccessWalksEveryStepThenDetachesOnce) {
    const QString mountPoint = volumeWith({QStringLiteral("Read Me.txt"), QStringLiteral("Scan Pro.pkg")});
    const QString package = mountPoint + QStringLiteral("/Scan Pro.pkg");
    {
        InSequence order;
        EXPECT_CALL(*validator, validateHash(image, expectedHash)).WillOnce(ReturnVoidTask());
        expectAttach(image, attachReport({std::nullopt, mountPoint}).toXml());
        EXPECT_CALL(*validator, validateSignature(package, signers())).WillOnce(ReturnVoidTask());
        EXPECT_CALL(*runner, runWithAdminPrivileges(installer, installArguments(package), prompt()))
                .WillOnce(ReturnTask(std::optional(QByteArray())));
        expectDetachOnce(mountPoint);
    }

    test::waitFor(install(image));

    EXPECT_EQ(logger->lines(),
              QStringList({QStringLiteral("[INFO] Installing from DMG: '") + image + u'\'',
                           QStringLiteral("[INFO] Mount DMG: '") + image + u'\'',
                           QStringLiteral("[INFO] Successfully mounted DMG: '") + image + u'\'',
                           QStringLiteral("[INFO] Mount point was successfully identified: ") + mountPoint,
                           QStringLiteral("[INFO] Searching for PKG in DMG at mount point '") + mountPoint + u'\'',
                           QStringLiteral("[INFO] Install PKG '") + package + u'\'',
                           QStringLiteral("[INFO] PKG installed succsessfully: '") + package + u'\'',
                           QStringLiteral("[INFO] Unmount ") + mountPoint,
                           QStringLiteral("[INFO] DMG mount point '") + mountPoint +
                                   QStringLiteral("' successfully unmounted")}));
}

TEST_F(InstallerHelperTest, BinaryAttachReportAndTrailingSlashMountPointAreUnderstood) {
    const QString mountPoint = volumeWith({QStringLiteral("Scan.pkg")}) + u'/';
    expectAttach(QStringLiteral("/downloads/Scan.DMG"), attachReport({mountPoint}).toBinary());
    EXPECT_CALL(*validator, validateSignature(mountPoint + QStringLiteral("Scan.pkg"), signers()))
            .WillOnce(ReturnVoidTask());
    EXPECT_CALL(*runner, runWithAdminPrivileges(installer, _, _)).WillOnce(ReturnTask(std::optional(QByteArray())));
    expectDetachOnce(mountPoint);

    test::waitFor(install(QStringLiteral("/downloads/Scan.DMG")));
}

TEST_F(InstallerHelperTest, FirstPackageInDirectoryListingOrderIsTaken) {
    const QStringList names{QStringLiteral("b.pkg"), QStringLiteral("a.pkg"), QStringLiteral("c.pkg"),
                            QStringLiteral("d.pkg"), QStringLiteral("e.pkg")};
    const QString mountPoint = volumeWith(names);
    QString firstListed;
    DIR* listing = opendir(QFile::encodeName(mountPoint).constData());
    ASSERT_NE(listing, nullptr);
    while (const dirent* entry = readdir(listing)) {
        if (QByteArray(entry->d_name).endsWith(".pkg")) {
            firstListed = QFile::decodeName(entry->d_name);
            break;
        }
    }
    closedir(listing);
    expectAttach(image, attachReport({mountPoint}).toXml());
    EXPECT_CALL(*validator, validateSignature(mountPoint + u'/' + firstListed, signers())).WillOnce(ReturnVoidTask());
    EXPECT_CALL(*runner, runWithAdminPrivileges(installer, _, _)).WillOnce(ReturnTask(std::optional(QByteArray())));
    expectDetachOnce(mountPoint);

    test::waitFor(install(image));
}

TEST_F(InstallerHelperTest, ImageDigestMismatchFailsBeforeAnythingIsAttached) {
    const auto hashFailure = InstallationError::mismatchHash(QStringLiteral("Could not validate SHA512 for x."));
    EXPECT_CALL(*validator, validateHash(image, expectedHash)).WillOnce(ThrowTask<void>(hashFailure));

    EXPECT_EQ(failureOf<InstallationError>(install(image)), hashFailure);
    EXPECT_EQ(logger->lines(), QStringList(QStringLiteral("[INFO] Installing from DMG: '") + image + u'\''));
}

TEST_F(InstallerHelperTest, FailedAttachIsUnableToMountWithTheLocalizedDescription) {
    EXPECT_CALL(*runner, runProcess(hdiutil, attachArguments(image)))
            .WillOnce(ThrowTask<std::optional<QByteArray>>(
                    InstallationError::installationFailed(QStringLiteral("hdiutil: attach failed"))));

    const QString message = QStringLiteral("Failed to mount DMG: '") + image +
                            QStringLiteral("'. Error: The operation could not be completed. (InstallationError "
                                           "error 2.)");
    EXPECT_EQ(failureOf<InstallationError>(install(image)), InstallationError::unableToMountDMG(message));
    EXPECT_EQ(logger->criticalLines(), QStringList(QStringLiteral("[CRITICAL] ") + message));
}

struct UnusableAttachReport {
    const char* name;
    std::optional<QByteArray> output;
    QString shownOutput;
    bool loggedAsCritical;
};

class UnusableAttachReports : public InstallerHelperTest, public ::testing::WithParamInterface<UnusableAttachReport> {};

TEST_P(UnusableAttachReports, FailWithTheParseMessageAndDetachNothing) {
    const UnusableAttachReport& row = GetParam();
    EXPECT_CALL(*runner, runProcess(hdiutil, attachArguments(image))).WillOnce(ReturnTask(row.output));

    const QString message =
            QStringLiteral("Failed to parse mount point for DMG '") + image + QStringLiteral("' ") + row.shownOutput;
    EXPECT_EQ(failureOf<InstallationError>(install(image)), InstallationError::unableToMountDMG(message));
    EXPECT_EQ(logger->criticalLines(),
              row.loggedAsCritical ? QStringList(QStringLiteral("[CRITICAL] ") + message) : QStringList());
    EXPECT_TRUE(logger->lines().contains(QStringLiteral("[INFO] Successfully mounted DMG: '") + image + u'\''));
}

QByteArray xmlOf(PropertyList list) {
    return list.toXml();
}

PropertyList dictionaryWith(const QString& key, PropertyList value) {
    PropertyList root = PropertyList::dictionary();
    root.insert(key, std::move(value));
    return root;
}

PropertyList entitiesWithStrayElement() {
    PropertyList entities = PropertyList::array();
    entities.append(PropertyList::string(QStringLiteral("stray")));
    entities.append(dictionaryWith(QStringLiteral("mount-point"), PropertyList::string(QStringLiteral("/Volumes/S"))));
    return dictionaryWith(QStringLiteral("system-entities"), std::move(entities));
}

PropertyList numericMountPoint() {
    PropertyList entities = PropertyList::array();
    entities.append(dictionaryWith(QStringLiteral("mount-point"), PropertyList::integer(7)));
    return dictionaryWith(QStringLiteral("system-entities"), std::move(entities));
}

INSTANTIATE_TEST_SUITE_P(
        Rows, UnusableAttachReports,
        ::testing::Values(UnusableAttachReport{"NotAPropertyList", QByteArray("hdiutil: attach: \"done\"\n"),
                                               QStringLiteral("hdiutil: attach: \"done\"\n"), true},
                          UnusableAttachReport{"NotUtf8NorAPropertyList", QByteArray("\xff\xfe\x01"),
                                               QStringLiteral("Unknown error"), true},
                          UnusableAttachReport{"NoOutput", std::nullopt, QString(), true},
                          UnusableAttachReport{
                                  "NoMountPointInAnyEntity", xmlOf(attachReport({std::nullopt, std::nullopt})),
                                  QString::fromUtf8(xmlOf(attachReport({std::nullopt, std::nullopt}))), false},
                          UnusableAttachReport{"EmptyEntities", xmlOf(attachReport({})),
                                               QString::fromUtf8(xmlOf(attachReport({}))), false},
                          UnusableAttachReport{"RootIsNoDictionary", xmlOf(PropertyList::array()),
                                               QString::fromUtf8(xmlOf(PropertyList::array())), false},
                          UnusableAttachReport{"EntitiesMissing", xmlOf(PropertyList::dictionary()),
                                               QString::fromUtf8(xmlOf(PropertyList::dictionary())), false},
                          UnusableAttachReport{"StrayEntity", xmlOf(entitiesWithStrayElement()),
                                               QString::fromUtf8(xmlOf(entitiesWithStrayElement())), false},
                          UnusableAttachReport{"MountPointNotText", xmlOf(numericMountPoint()),
                                               QString::fromUtf8(xmlOf(numericMountPoint())), false}),
        [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallerHelperTest, UnlistableMountPointPassesThePlatformErrorOnAndDetaches) {
    const QString mountPoint = directory.filePath(QStringLiteral("Vanished Volume"));
    expectAttach(image, attachReport({mountPoint}).toXml());
    expectDetachOnce(mountPoint);

    const auto failure = failureOf<SystemError>(install(image));

    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->localizedDescription().contains(mountPoint));
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

TEST_F(InstallerHelperTest, OnlyTopLevelLowerCasePackagesCountAndTheImageIsDetached) {
    const QString mountPoint = volumeWith({QStringLiteral("Scan.PKG"), QStringLiteral("Inner/"),
                                           QStringLiteral("Inner/Scan.pkg"), QStringLiteral("Scan.pkg.txt")});
    expectAttach(image, attachReport({mountPoint}).toXml());
    expectDetachOnce(mountPoint);

    const QString message = QStringLiteral("No PKG found in DMG '") + mountPoint + u'\'';
    EXPECT_EQ(failureOf<InstallationError>(install(image)), InstallationError::pkgNotFound(message));
    EXPECT_EQ(logger->criticalLines(), QStringList(QStringLiteral("[CRITICAL] ") + message));
}

TEST_F(InstallerHelperTest, SignatureFailureInsideImagePassesUnchangedAndDetaches) {
    const QString mountPoint = volumeWith({QStringLiteral("Scan.pkg")});
    const auto signatureFailure = InstallationError::mismatchSignature(QStringLiteral("Error during ..."));
    expectAttach(image, attachReport({mountPoint}).toXml());
    EXPECT_CALL(*validator, validateSignature(mountPoint + QStringLiteral("/Scan.pkg"), signers()))
            .WillOnce(ThrowTask<void>(signatureFailure));
    expectDetachOnce(mountPoint);

    EXPECT_EQ(failureOf<InstallationError>(install(image)), signatureFailure);
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

TEST_F(InstallerHelperTest, RefusedPromptInsideImageIsUnableToMountAndDetaches) {
    const QString mountPoint = volumeWith({QStringLiteral("Scan.pkg")});
    expectAttach(image, attachReport({mountPoint}).toXml());
    EXPECT_CALL(*runner,
                runWithAdminPrivileges(installer, installArguments(mountPoint + QStringLiteral("/Scan.pkg")), prompt()))
            .WillOnce(ThrowTask<std::optional<QByteArray>>(
                    InstallationError::installationFailed(QStringLiteral("User canceled."))));
    expectDetachOnce(mountPoint);

    const QString message = QStringLiteral("Failed to install from DMG: '") + image +
                            QStringLiteral("'. Error: installationFailed(\"User canceled.\")");
    EXPECT_EQ(failureOf<InstallationError>(install(image)), InstallationError::unableToMountDMG(message));
    EXPECT_EQ(logger->criticalLines(), QStringList(QStringLiteral("[CRITICAL] ") + message));
}

TEST_F(InstallerHelperTest, FailedDetachIsOnlyLogged) {
    const QString mountPoint = volumeWith({QStringLiteral("Scan.pkg")});
    expectAttach(image, attachReport({mountPoint}).toXml());
    EXPECT_CALL(*runner, runWithAdminPrivileges(installer, _, _)).WillOnce(ReturnTask(std::optional(QByteArray())));
    EXPECT_CALL(*runner, runProcess(hdiutil, detachArguments(mountPoint)))
            .WillOnce(ThrowTask<std::optional<QByteArray>>(
                    InstallationError::installationFailed(QStringLiteral("hdiutil: couldn't unmount"))));

    test::waitFor(install(image));

    EXPECT_EQ(logger->criticalLines(),
              QStringList(QStringLiteral("[CRITICAL] Failed to unmount DMG at: '") + mountPoint +
                          QStringLiteral("'. Details: The operation could not be completed. (InstallationError "
                                         "error 2.)")));
    EXPECT_EQ(logger->lines().last(), logger->criticalLines().last());
}

TEST_F(InstallerHelperTest, DetachIsNotAwaitedAndKeepsTheHelperAliveUntilItEnds) {
    const QString mountPoint = volumeWith({QStringLiteral("Scan.pkg")});
    PendingTask<std::optional<QByteArray>> detach;
    expectAttach(image, attachReport({mountPoint}).toXml());
    EXPECT_CALL(*runner, runWithAdminPrivileges(installer, _, _)).WillOnce(ReturnTask(std::optional(QByteArray())));
    EXPECT_CALL(*runner, runProcess(hdiutil, detachArguments(mountPoint))).WillOnce([&](auto&&...) {
        return detach.task();
    });

    test::waitFor(install(image));
    const std::weak_ptr<InstallerHelper> watched = helper;
    helper.reset();
    ASSERT_FALSE(watched.expired());
    EXPECT_EQ(logger->lines().last(), QStringLiteral("[INFO] Unmount ") + mountPoint);

    detach.finish(QByteArray());
    EXPECT_TRUE(processEventsUntil([&] { return watched.expired(); }));
    EXPECT_EQ(logger->lines().last(),
              QStringLiteral("[INFO] DMG mount point '") + mountPoint + QStringLiteral("' successfully unmounted"));
}

TEST_F(InstallerHelperTest, HelperNotOwnedBySharedPointerRefusesBeforeAttaching) {
    InstallerHelper unshared(logger, runner, validator, hdiutil, installer);
    EXPECT_CALL(*validator, validateHash(::testing::An<QString>(), _)).Times(0);

    EXPECT_THROW(test::waitFor(unshared.install(image, appName, expectedHash, signers())), std::bad_weak_ptr);
}

} // namespace
} // namespace tarn::test
