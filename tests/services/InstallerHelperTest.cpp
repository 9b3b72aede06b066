#include "services/InstallerHelper.h"

#include "PackageServicesSupport.h"
#include "support/Mocks.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {
namespace {

using ::testing::InSequence;
using ::testing::StrictMock;

const QString hdiutil = QStringLiteral("/opt/tools/hdiutil");
const QString installer = QStringLiteral("/opt/tools/installer");
const QString expectedHash = QStringLiteral("ABCDEF0123");
const QString appName = QStringLiteral("Scan Pro");
const QString image = QStringLiteral("/downloads/Scan Pro 2.dmg");
const QString package = QStringLiteral("/downloads/Scan Pro.PKG");

// What the mocked steps fail with when a row makes them fail.
const auto hashFailure = InstallationError::mismatchHash(QStringLiteral("digest differs"));
const auto signatureFailure = InstallationError::mismatchSignature(QStringLiteral("not signed"));
const auto attachFailure = InstallationError::installationFailed(QStringLiteral("hdiutil: attach failed"));
const auto installFailure = InstallationError::installationFailed(QStringLiteral("User \"canceled\".\n"));

const QStringList signers{QStringLiteral("TARN (Q7XK2M9P4D)")};
const QStringList attachArguments{QStringLiteral("attach"), image, QStringLiteral("-nobrowse"),
                                  QStringLiteral("-plist")};

QStringList detachArguments(const QString& mountPoint) {
    return {QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet")};
}

QStringList installArguments(const QString& pkg) {
    return {QStringLiteral("-pkg"), u'\'' + pkg + u'\'', QStringLiteral("-target"), QStringLiteral("/")};
}

std::optional<InstallationError> failureIf(bool fails, const InstallationError& error) {
    return fails ? std::optional(error) : std::nullopt;
}

auto step(std::optional<InstallationError> failure) {
    return [failure](auto&&...) { return failure ? failingTask<void>(*failure) : readyTask(); };
}

auto toolStep(std::optional<InstallationError> failure, std::optional<QByteArray> output = QByteArray()) {
    return [failure, output](auto&&...) {
        return failure ? failingTask<std::optional<QByteArray>>(*failure) : readyTask(output);
    };
}

class InstallerHelperTest : public ::testing::Test {
protected:
    ~InstallerHelperTest() override { drainPostedEvents(); }

    // A mounted volume: a folder holding the given entries (a name ending in "/" is a folder).
    QString volumeWith(const QStringList& entries) {
        const QString mountPoint = directory.filePath(QStringLiteral("Volume"));
        QDir(mountPoint).removeRecursively();
        QDir().mkpath(mountPoint);
        for (const QString& entry : entries) {
            EXPECT_TRUE(entry.endsWith(u'/') ? QDir().mkpath(mountPoint + u'/' + entry)
                                             : writeFile(mountPoint + u'/' + entry, "xar!"));
        }
        return mountPoint;
    }

    // The steps of an image install that ends well, with the package found at `pkg`; the detach is the caller's.
    void expectImageInstall(const QByteArray& report, const QString& pkg) {
        EXPECT_CALL(*validator, validateHash(image, expectedHash)).WillOnce(step({}));
        EXPECT_CALL(*runner, runProcess(hdiutil, attachArguments)).WillOnce(toolStep({}, report));
        EXPECT_CALL(*validator, validateSignature(pkg, signers)).WillOnce(step({}));
        EXPECT_CALL(*runner, runWithAdminPrivileges(installer, installArguments(pkg), prompt())).WillOnce(toolStep({}));
    }

    QCoro::Task<> install(const QString& path) { return helper->install(path, appName, expectedHash, signers); }
    static QString prompt() { return QString::fromLatin1(DisclaimerTranslator::format).arg(appName); }

    DisclaimerTranslator translator;
    QTemporaryDir directory;
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<StrictMock<MockProcessRunner>> runner = std::make_shared<StrictMock<MockProcessRunner>>();
    std::shared_ptr<StrictMock<MockInstallerValidator>> validator =
            std::make_shared<StrictMock<MockInstallerValidator>>();
    std::shared_ptr<InstallerHelper> helper =
            std::make_shared<InstallerHelper>(logger, runner, validator, hdiutil, installer);
};

TEST_F(InstallerHelperTest, StandalonePackageInAnyCaseIsVerifiedThenInstalledAsAdministrator) {
    {
        InSequence order;
        EXPECT_CALL(*validator, validateHash(package, expectedHash)).WillOnce(step({}));
        EXPECT_CALL(*validator, validateSignature(package, signers)).WillOnce(step({}));
        EXPECT_CALL(*runner, runWithAdminPrivileges(installer, installArguments(package), prompt()))
                .WillOnce(toolStep({}, "installer: The install was successful."));
    }

    test::waitFor(install(package));

    EXPECT_EQ(logger->lines(),
              QStringList({QStringLiteral("[INFO] Install PKG '") + package + u'\'',
                           QStringLiteral("[INFO] PKG installed succsessfully: '") + package + u'\''}));
}

TEST_F(InstallerHelperTest, DiskImageIsVerifiedMountedSearchedInstalledThenDetachedOnce) {
    const QString mountPoint = volumeWith({QStringLiteral("Read Me.txt"), QStringLiteral("Scan Pro.pkg")});
    const QString pkg = mountPoint + QStringLiteral("/Scan Pro.pkg");
    {
        InSequence order;
        expectImageInstall(attachReport({std::nullopt, mountPoint}).toXml(), pkg);
        EXPECT_CALL(*runner, runProcess(hdiutil, detachArguments(mountPoint))).WillOnce(toolStep({}));
    }

    test::waitFor(install(image));

    // %1 the image, %2 the mount point, %3 the package.
    QStringList expected = QStringLiteral("Installing from DMG: '%1'|Mount DMG: '%1'|Successfully mounted DMG: '%1'|"
                                          "Mount point was successfully identified: %2|Searching for PKG in DMG at "
                                          "mount point '%2'|Install PKG '%3'|PKG installed succsessfully: '%3'|"
                                          "Unmount %2|DMG mount point '%2' successfully unmounted")
                                   .arg(image, mountPoint, pkg)
                                   .split(u'|');
    EXPECT_EQ(logger->lines(), expected.replaceInStrings(QRegularExpression(QStringLiteral("^")), "[INFO] "));
}

TEST_F(InstallerHelperTest, BinaryReportTrailingSlashAndTheFirstListedPackageAreUnderstood) {
    const QString mountPoint = volumeWith({QStringLiteral("b.pkg"), QStringLiteral("a.pkg"), QStringLiteral("c.pkg"),
                                           QStringLiteral("d.pkg"), QStringLiteral("e.pkg")}) +
                               u'/';
    // The first package in directory order, not in sorted order.
    QDirIterator listing(mountPoint, {QStringLiteral("*.pkg")}, QDir::Files);
    ASSERT_TRUE(listing.hasNext());
    listing.next();
    expectImageInstall(attachReport({mountPoint}).toBinary(), mountPoint + listing.fileName());
    EXPECT_CALL(*runner, runProcess(hdiutil, detachArguments(mountPoint))).WillOnce(toolStep({}));

    test::waitFor(install(image));
}

// Every way an install can fail. Texts may hold %1 (the installer file) and %2 (the mount point).
enum class Step { none, hash, attach, signature, install };
using AttachOutput = std::optional<std::optional<QByteArray>>;
struct FailureRow {
    const char* name;
    QString file;
    Step failing;
    InstallationError expected;
    bool critical;
    bool detached;
    AttachOutput attachOutput = {}; // unset: a usable report naming the volume
    QStringList volume = {QStringLiteral("Scan.pkg")};
    QString detachTarget = {}; // what is detached when not the volume's mount point
};

FailureRow unsupported(const char* name, const char* file, const char* extension) {
    return {name,
            QString::fromLatin1(file),
            Step::none,
            InstallationError::unsupportedFileExtension(
                    QStringLiteral("Unsupported file extension for installation: ") + QLatin1String(extension)),
            true,
            false};
}

FailureRow unusableReport(const char* name, const std::optional<QByteArray>& output, bool critical,
                          const char* shown = nullptr, const char* detached = nullptr) {
    const QString text = shown ? QString::fromLatin1(shown) : QString::fromUtf8(output.value_or(QByteArray()));
    return {name,
            image,
            Step::none,
            InstallationError::unableToMountDMG(QStringLiteral("Failed to parse mount point for DMG '%1' ") + text),
            critical,
            detached != nullptr,
            AttachOutput(output),
            {QStringLiteral("Scan.pkg")},
            QString::fromLatin1(detached)};
}

template <typename... Entity>
PropertyList withEntities(Entity... list) {
    PropertyList entities = PropertyList::array();
    (entities.append(std::move(list)), ...);
    PropertyList root = PropertyList::dictionary();
    root.insert(QStringLiteral("system-entities"), std::move(entities));
    return root;
}

PropertyList mountPointEntity(PropertyList mountPoint) {
    PropertyList entity = PropertyList::dictionary();
    entity.insert(QStringLiteral("mount-point"), std::move(mountPoint));
    return entity;
}

PropertyList deviceEntity(const char* device) {
    PropertyList entity = PropertyList::dictionary();
    entity.insert(QStringLiteral("dev-entry"), PropertyList::string(QString::fromLatin1(device)));
    return entity;
}

QList<FailureRow> failureRows() {
    using IE = InstallationError;
    const QString canceled = QStringLiteral("'. Error: installationFailed(\"User \\\"canceled\\\".\\n\")");
    QList<FailureRow> rows{
            unsupported("zip", "/downloads/Scan.zip", "zip"),
            unsupported("upper-case zip", "/downloads/Scan.ZIP", "zip"),
            unsupported("no extension", "/downloads.d/Scan", ""),
            {"package digest", package, Step::hash, hashFailure, false, false},
            {"package signature", package, Step::signature, signatureFailure, false, false},
            {"package install", package, Step::install,
             IE::installationFailed(QStringLiteral("Failed to install from standalone PKG: '%1") + canceled), true,
             false},
            {"image digest", image, Step::hash, hashFailure, false, false},
            {"attach", image, Step::attach,
             IE::unableToMountDMG(QStringLiteral("Failed to mount DMG: '%1'. Error: ") + genericDescription(2)), true,
             false},
            unusableReport("report not a property list", "hdiutil: attach: \"done\"\n", true),
            unusableReport("report neither UTF-8 nor a property list", "\xff\xfe\x01", true, "Unknown error"),
            unusableReport("no report", std::nullopt, true),
            unusableReport("no mount point in any entity", attachReport({std::nullopt, std::nullopt}).toXml(), false),
            unusableReport("entities missing", PropertyList::dictionary().toXml(), false),
            // Whatever an unusable report names as attached is detached.
            unusableReport("one stray entity beside a mount point",
                           withEntities(PropertyList::string(QStringLiteral("stray")),
                                        mountPointEntity(PropertyList::string(QStringLiteral("/V"))))
                                   .toXml(),
                           false, nullptr, "/V"),
            unusableReport("device entries without mount point",
                           withEntities(mountPointEntity(PropertyList::integer(7)), deviceEntity("/dev/disk4"),
                                        deviceEntity("/dev/disk4s1"))
                                   .toXml(),
                           false, nullptr, "/dev/disk4"),
            unusableReport("mount point not text", withEntities(mountPointEntity(PropertyList::integer(7))).toXml(),
                           false),
            {"only nested, upper-case or suffixed packages", image, Step::none,
             IE::pkgNotFound(QStringLiteral("No PKG found in DMG '%2'")), true, true},
            {"signature inside image", image, Step::signature, signatureFailure, false, true},
            {"install inside image", image, Step::install,
             IE::unableToMountDMG(QStringLiteral("Failed to install from DMG: '%1") + canceled), true, true},
    };
    rows[rows.size() - 3].volume = {QStringLiteral("Scan.PKG"), QStringLiteral("Inner/"),
                                    QStringLiteral("Inner/Scan.pkg"), QStringLiteral("Scan.pkg.txt")};
    return rows;
}

TEST_F(InstallerHelperTest, EachFailureHasItsErrorAndLogLevelAndDetachesExactlyWhenMounted) {
    for (const FailureRow& row : failureRows()) {
        SCOPED_TRACE(row.name);
        logger->clear();
        const QString mountPoint = volumeWith(row.volume);
        const bool isImage = row.file.endsWith(QLatin1String(".dmg"));
        const QString pkg = isImage ? mountPoint + QStringLiteral("/Scan.pkg") : row.file;
        const auto fails = [&](Step s) { return row.failing == s; };
        if (isImage || row.file == package) {
            InSequence order;
            EXPECT_CALL(*validator, validateHash(row.file, expectedHash))
                    .WillOnce(step(failureIf(fails(Step::hash), hashFailure)));
            if (isImage && !fails(Step::hash)) {
                EXPECT_CALL(*runner, runProcess(hdiutil, attachArguments))
                        .WillOnce(toolStep(failureIf(fails(Step::attach), attachFailure),
                                           row.attachOutput.value_or(attachReport({mountPoint}).toXml())));
            }
            const bool packageFound =
                    !isImage || (!row.attachOutput && row.volume.contains(QStringLiteral("Scan.pkg")));
            if (packageFound && !fails(Step::hash) && !fails(Step::attach)) {
                EXPECT_CALL(*validator, validateSignature(pkg, signers))
                        .WillOnce(step(failureIf(fails(Step::signature), signatureFailure)));
                if (!fails(Step::signature)) {
                    EXPECT_CALL(*runner, runWithAdminPrivileges(installer, installArguments(pkg), prompt()))
                            .WillOnce(toolStep(installFailure));
                }
            }
            if (row.detached) {
                EXPECT_CALL(*runner,
                            runProcess(hdiutil,
                                       detachArguments(row.detachTarget.isEmpty() ? mountPoint : row.detachTarget)))
                        .WillOnce(toolStep({}));
            }
        }

        const InstallationError expected(row.expected.kind(), QString(row.expected.text())
                                                                      .replace(QStringLiteral("%1"), row.file)
                                                                      .replace(QStringLiteral("%2"), mountPoint));
        EXPECT_EQ(failureOf<InstallationError>(install(row.file)), expected);
        drainPostedEvents();
        EXPECT_EQ(logger->criticalLines(),
                  row.critical ? QStringList(QStringLiteral("[CRITICAL] ") + expected.text()) : QStringList());
        ::testing::Mock::VerifyAndClearExpectations(runner.get());
        ::testing::Mock::VerifyAndClearExpectations(validator.get());
    }
}

TEST_F(InstallerHelperTest, UnlistableMountPointPassesThePlatformErrorOnAndDetaches) {
    const QString mountPoint = directory.filePath(QStringLiteral("Vanished Volume"));
    EXPECT_CALL(*validator, validateHash(image, expectedHash)).WillOnce(step({}));
    EXPECT_CALL(*runner, runProcess(hdiutil, attachArguments))
            .WillOnce(toolStep({}, attachReport({mountPoint}).toXml()));
    EXPECT_CALL(*runner, runProcess(hdiutil, detachArguments(mountPoint))).WillOnce(toolStep({}));

    const auto failure = failureOf<SystemError>(install(image));

    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->localizedDescription().contains(mountPoint));
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

TEST_F(InstallerHelperTest, DetachIsNotAwaitedKeepsTheHelperAliveAndItsFailureIsOnlyLogged) {
    const QString mountPoint = volumeWith({QStringLiteral("Scan.pkg")});
    PendingTask<std::optional<QByteArray>> detach;
    expectImageInstall(attachReport({mountPoint}).toXml(), mountPoint + QStringLiteral("/Scan.pkg"));
    EXPECT_CALL(*runner, runProcess(hdiutil, detachArguments(mountPoint))).WillOnce([&](auto&&...) {
        return detach.task();
    });

    test::waitFor(install(image));
    const std::weak_ptr<InstallerHelper> watched = helper;
    helper.reset();
    ASSERT_FALSE(watched.expired());
    EXPECT_EQ(logger->lines().last(), QStringLiteral("[INFO] Unmount ") + mountPoint);

    detach.fail(InstallationError::installationFailed(QStringLiteral("hdiutil: couldn't unmount")));
    EXPECT_TRUE(processEventsUntil([&] { return watched.expired(); }));
    EXPECT_EQ(logger->criticalLines(),
              QStringList(QStringLiteral("[CRITICAL] Failed to unmount DMG at: '") + mountPoint +
                          QStringLiteral("'. Details: ") + genericDescription(2)));
    EXPECT_EQ(logger->lines().last(), logger->criticalLines().last());
}

TEST_F(InstallerHelperTest, HelperNotOwnedBySharedPointerRefusesBeforeAnythingRuns) {
    InstallerHelper unshared(logger, runner, validator, hdiutil, installer);
    EXPECT_THROW(test::waitFor(unshared.install(image, appName, expectedHash, signers)), std::bad_weak_ptr);
}

} // namespace
} // namespace tarn::test
