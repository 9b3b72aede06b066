#include "services/InstallerHelper.h"

#include "ServicesTestSupport.h"
#include "support/Gate.h"
#include "support/Mocks.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {

using namespace Qt::StringLiterals;
namespace {

using ::testing::StrictMock;
using IE = InstallationError;

const QString hdiutil = u"/opt/tools/hdiutil"_s;
const QString installer = u"/opt/tools/installer"_s;
const QString expectedHash = u"ABCDEF0123"_s;
const QString appName = u"Scan Pro"_s;
const QString image = u"/downloads/Scan Pro 2.dmg"_s;
const QString package = u"/downloads/Scan Pro.PKG"_s;
const QStringList signers{u"TARN (Q7XK2M9P4D)"_s};
const QStringList attachArguments{u"attach"_s, image, u"-nobrowse"_s, u"-plist"_s};

// What the mocked steps fail with when a row makes them fail.
const auto hashFailure = IE::mismatchHash(u"digest differs"_s);
const auto signatureFailure = IE::mismatchSignature(u"not signed"_s);
const auto attachFailure = IE::installationFailed(u"hdiutil: attach failed"_s);
const auto installFailure = IE::installationFailed(u"User \"canceled\".\n"_s);

auto step(std::optional<InstallationError> failure) {
    return [failure](auto&&...) { return failure ? failingTask<void>(*failure) : readyTask(); };
}

auto toolStep(std::optional<InstallationError> failure, std::optional<QByteArray> output = QByteArray()) {
    return [failure, output](auto&&...) {
        return failure ? failingTask<std::optional<QByteArray>>(*failure) : readyTask(output);
    };
}

// A detach that fails once the test opens the gate.
QCoro::Task<std::optional<QByteArray>> failedDetach(Gate* gate) {
    co_await qCoro(gate, &Gate::opened);
    throw IE::installationFailed(u"hdiutil: couldn't unmount"_s);
}

class InstallerHelperTest : public ::testing::Test {
protected:
    ~InstallerHelperTest() override { drainPostedEvents(); }

    // A mounted volume: a folder holding the given entries (a name ending in "/" is a folder).
    QString volumeWith(const QStringList& entries) {
        const QString mountPoint = directory.filePath(u"Volume \u00e9"_s); // the reports' texts are UTF-8
        QDir(mountPoint).removeRecursively();
        QDir().mkpath(mountPoint);
        for (const QString& entry : entries) {
            EXPECT_TRUE(entry.endsWith(u'/') ? QDir().mkpath(mountPoint + u'/' + entry)
                                             : writeFile(mountPoint + u'/' + entry, "xar!"));
        }
        return mountPoint;
    }

    // The checks, tool runs and their outcomes of one install, in order; a failing step ends the steps.
    void expectSteps(const QString& file, const std::optional<QByteArray>& report, const QString& pkg,
                     const std::optional<InstallationError>& failure = {}, std::optional<QString> detached = {}) {
        ::testing::InSequence order;
        const auto fails = [&](const IE& e) { return failure == e ? failure : std::nullopt; };
        EXPECT_CALL(*validator, validateHash(file, expectedHash)).WillOnce(step(fails(hashFailure)));
        if (file == image && !fails(hashFailure)) {
            EXPECT_CALL(*runner, runProcess(hdiutil, attachArguments)).WillOnce(toolStep(fails(attachFailure), report));
        }
        if (!pkg.isEmpty() && !fails(hashFailure) && !fails(attachFailure)) {
            EXPECT_CALL(*validator, validateSignature(pkg, signers)).WillOnce(step(fails(signatureFailure)));
            if (!fails(signatureFailure)) {
                const QStringList arguments{u"-pkg"_s, u'\'' + pkg + u'\'', u"-target"_s, u"/"_s};
                EXPECT_CALL(*runner,
                            runWithAdminPrivileges(installer, arguments,
                                                   QString::fromLatin1(DisclaimerTranslator::format).arg(appName)))
                        .WillOnce(toolStep(fails(installFailure)));
            }
        }
        if (detached) {
            EXPECT_CALL(*runner, runProcess(hdiutil, QStringList{u"detach"_s, *detached, u"-quiet"_s}))
                    .WillOnce(toolStep({}));
        }
    }

    QCoro::Task<> install(const QString& path) { return helper->install(path, appName, expectedHash, signers); }

    DisclaimerTranslator translator;
    QTemporaryDir directory;
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<StrictMock<MockProcessRunner>> runner = std::make_shared<StrictMock<MockProcessRunner>>();
    std::shared_ptr<StrictMock<MockInstallerValidator>> validator =
            std::make_shared<StrictMock<MockInstallerValidator>>();
    std::shared_ptr<InstallerHelper> helper =
            std::make_shared<InstallerHelper>(logger, runner, validator, hdiutil, installer);
};

TEST_F(InstallerHelperTest, ImagesAreVerifiedMountedSearchedInstalledAndDetachedInOrder) {
    // A binary report with a partition before the volume, whose mount point ends in a slash; the first package in
    // directory order, not in sorted order.
    const QString mountPoint = volumeWith({u"Read Me.txt"_s, u"b.pkg"_s, u"a.pkg"_s, u"c.pkg"_s, u"e.pkg"_s}) + u'/';
    QDirIterator listing(mountPoint, {u"*.pkg"_s}, QDir::Files);
    ASSERT_TRUE(listing.hasNext());
    listing.next();
    const QString pkg = mountPoint + listing.fileName();
    expectSteps(image, toBinary(attachReport("<dict/>" + mountedAt(mountPoint))), pkg, {}, mountPoint);
    test::waitFor(install(image));
    QStringList expected = u"Installing from DMG: '%1'|Mount DMG: '%1'|Successfully mounted DMG: '%1'|"
                           "Mount point was successfully identified: %2|Searching for PKG in DMG at "
                           "mount point '%2'|Install PKG '%3'|PKG installed succsessfully: '%3'|"
                           "Unmount %2|DMG mount point '%2' successfully unmounted"_s.arg(image, mountPoint, pkg)
                                   .split(u'|');
    EXPECT_EQ(logger->lines(), expected.replaceInStrings(QRegularExpression(u"^"_s), "[INFO] "));
}

// Every way an install can fail. Texts may hold %1 (the installer file) and %2 (the mount point).
TEST_F(InstallerHelperTest, EachFailureHasItsErrorAndLogLevelAndDetachesExactlyWhatWasAttached) {
    const QString unparsed = u"Failed to parse mount point for DMG '%1' "_s;
    const QString canceled = u"'. Error: installationFailed(\"User \\\"canceled\\\".\\n\")"_s;
    const QString inVolume = u"%2/Scan.pkg"_s;
    const QString mounted = u"%2"_s;
    const auto unsupported = [](const char* extension) {
        return IE::unsupportedFileExtension(u"Unsupported file extension for installation: "_s +
                                            QLatin1String(extension));
    };
    const auto unusable = [&](const QByteArray& report) {
        return IE::unableToMountDMG(unparsed + QString::fromUtf8(report));
    };
    const QByteArray volumeReport; // a usable report naming the volume
    const QByteArray notPlist = "hdiutil: \"done\"\n";
    const QByteArray noMountPoint = attachReport("<dict/><dict/>");
    const QByteArray noEntities = "<plist><dict/></plist>";
    const QByteArray numberMountPoint = attachReport("<dict><key>mount-point</key><integer>7</integer></dict>");
    const QByteArray stray = attachReport("<string>s</string><dict><key>mount-point</key><string>/V</string></dict>");
    const QByteArray devices =
            attachReport("<dict><key>mount-point</key><integer>7</integer></dict><dict><key>dev-entry</key><string>"
                         "/dev/disk4</string></dict><dict><key>dev-entry</key><string>/dev/disk4s1</string></dict>");
    const auto pkgInstall = IE::installationFailed(u"Failed to install from standalone PKG: '%1"_s + canceled);
    const auto dmgInstall = IE::unableToMountDMG(u"Failed to install from DMG: '%1"_s + canceled);
    const auto notMounted = IE::unableToMountDMG(u"Failed to mount DMG: '%1'. Error: "_s + genericDescription(2));
    const auto noPkg = IE::pkgNotFound(u"No PKG found in DMG '%2'"_s);
    const QStringList decoys{u"Scan.PKG"_s, u"Inner/"_s, u"Inner/Scan.pkg"_s, u"Scan.pkg.txt"_s};
    // The file, hdiutil's report, the package signed and installed (if any), the step that fails, the error, whether
    // it is critical, and what is detached.
    using Row = std::tuple<const char*, QString, std::optional<QByteArray>, QString, std::optional<InstallationError>,
                           InstallationError, bool, std::optional<QString>>;
    const Row rows[] = {
            {"zip", u"/downloads/Scan.zip"_s, {}, {}, {}, unsupported("zip"), true, {}},
            {"upper-case zip", u"/downloads/Scan.ZIP"_s, {}, {}, {}, unsupported("zip"), true, {}},
            {"no extension", u"/downloads.d/Scan"_s, {}, {}, {}, unsupported(""), true, {}},
            {"package digest", package, {}, package, hashFailure, hashFailure, false, {}},
            {"package signature", package, {}, package, signatureFailure, signatureFailure, false, {}},
            {"package install", package, {}, package, installFailure, pkgInstall, true, {}},
            {"image digest", image, {}, {}, hashFailure, hashFailure, false, {}},
            {"attach", image, {}, {}, attachFailure, notMounted, true, {}},
            {"report not a property list", image, notPlist, {}, {}, unusable(notPlist), true, {}},
            {"report neither UTF-8 nor a plist", image, "\xff\xfe\x01", {}, {}, unusable("Unknown error"), true, {}},
            {"no report", image, std::nullopt, {}, {}, unusable({}), true, {}},
            {"no mount point in any entity", image, noMountPoint, {}, {}, unusable(noMountPoint), false, {}},
            {"entities missing", image, noEntities, {}, {}, unusable(noEntities), false, {}},
            {"mount point not text", image, numberMountPoint, {}, {}, unusable(numberMountPoint), false, {}},
            // Whatever an unusable report names as attached is detached.
            {"one stray entity beside a mount point", image, stray, {}, {}, unusable(stray), false, u"/V"_s},
            {"device entries without mount point", image, devices, {}, {}, unusable(devices), false, u"/dev/disk4"_s},
            {"only nested, upper-case or suffixed packages", image, volumeReport, {}, {}, noPkg, true, mounted},
            {"signature in image", image, volumeReport, inVolume, signatureFailure, signatureFailure, false, mounted},
            {"install in image", image, volumeReport, inVolume, installFailure, dmgInstall, true, mounted},
    };
    for (const auto& [name, file, report, pkg, failing, expected, critical, detached] : rows) {
        SCOPED_TRACE(name);
        logger->clear();
        // Decoys the search must pass over, beside the package when one is found.
        const QString mountPoint = volumeWith(pkg.isEmpty() ? decoys : decoys + QStringList(u"Scan.pkg"_s));
        const auto filled = [&](QString text) { return text.replace(u"%1"_s, file).replace(u"%2"_s, mountPoint); };
        const bool usable = report && report->isEmpty(); // names the volume
        if (file == image || file == package) {
            expectSteps(file, usable ? attachReport(mountedAt(mountPoint)) : report, filled(pkg), failing,
                        detached ? std::optional(filled(*detached)) : std::nullopt);
        }

        EXPECT_EQ(failureOf<InstallationError>(install(file)),
                  InstallationError(expected.kind(), filled(expected.text())));
        drainPostedEvents();
        EXPECT_EQ(logger->criticalLines(),
                  critical ? QStringList(u"[CRITICAL] "_s + filled(expected.text())) : QStringList());
        ::testing::Mock::VerifyAndClearExpectations(runner.get());
        ::testing::Mock::VerifyAndClearExpectations(validator.get());
    }
    logger->clear(); // a mount point that cannot be listed: the platform's error, not critical, and detached
    const QString vanished = directory.filePath(u"Vanished Volume"_s);
    expectSteps(image, attachReport(mountedAt(vanished)), {}, {}, vanished);
    EXPECT_TRUE(failureOf<SystemError>(install(image))->localizedDescription().contains(vanished));
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

TEST_F(InstallerHelperTest, DetachIsNotAwaitedKeepsTheHelperAliveAndItsFailureIsOnlyLogged) {
    const QString mountPoint = volumeWith({u"Scan.pkg"_s});
    Gate detached;
    expectSteps(image, attachReport(mountedAt(mountPoint)), mountPoint + u"/Scan.pkg"_s);
    EXPECT_CALL(*runner, runProcess(hdiutil, QStringList{u"detach"_s, mountPoint, u"-quiet"_s}))
            .WillOnce([&](auto&&...) { return failedDetach(&detached); });

    test::waitFor(install(image));
    const std::weak_ptr<InstallerHelper> watched = helper;
    helper.reset();
    ASSERT_FALSE(watched.expired());
    EXPECT_EQ(logger->lines().last(), u"[INFO] Unmount "_s + mountPoint);

    detached.open();
    EXPECT_TRUE(processEventsUntil([&] { return watched.expired(); }));
    EXPECT_EQ(logger->criticalLines(), QStringList(u"[CRITICAL] Failed to unmount DMG at: '"_s + mountPoint +
                                                   u"'. Details: "_s + genericDescription(2)));
    EXPECT_EQ(logger->lines().last(), logger->criticalLines().last());

    InstallerHelper unshared(logger, runner, validator, hdiutil, installer); // refuses before anything runs
    EXPECT_THROW(test::waitFor(unshared.install(image, appName, expectedHash, signers)), std::bad_weak_ptr);
}

} // namespace
} // namespace tarn::test
