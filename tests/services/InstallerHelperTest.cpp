#include "services/InstallerHelper.h"

#include "PackageServicesSupport.h"
#include "services/InstallerValidator.h"
#include "services/ProcessRunner.h"
#include "support/Mocks.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {

using namespace Qt::StringLiterals;
namespace {

using ::testing::InSequence;
using ::testing::StrictMock;

const QString hdiutil = u"/opt/tools/hdiutil"_s;
const QString installer = u"/opt/tools/installer"_s;
const QString expectedHash = u"ABCDEF0123"_s;
const QString appName = u"Scan Pro"_s;
const QString image = u"/downloads/Scan Pro 2.dmg"_s;
const QString package = u"/downloads/Scan Pro.PKG"_s;

// What the mocked steps fail with when a row makes them fail.
const auto hashFailure = InstallationError::mismatchHash(u"digest differs"_s);
const auto signatureFailure = InstallationError::mismatchSignature(u"not signed"_s);
const auto attachFailure = InstallationError::installationFailed(u"hdiutil: attach failed"_s);
const auto installFailure = InstallationError::installationFailed(u"User \"canceled\".\n"_s);

const QStringList signers{u"TARN (Q7XK2M9P4D)"_s};
const QStringList attachArguments{u"attach"_s, image, u"-nobrowse"_s, u"-plist"_s};

QStringList detachArguments(const QString& mountPoint) {
    return {u"detach"_s, mountPoint, u"-quiet"_s};
}

QStringList installArguments(const QString& pkg) {
    return {u"-pkg"_s, u'\'' + pkg + u'\'', u"-target"_s, u"/"_s};
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
        const QString mountPoint = directory.filePath(u"Volume"_s);
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

    EXPECT_EQ(logger->lines(), QStringList({u"[INFO] Install PKG '"_s + package + u'\'',
                                            u"[INFO] PKG installed succsessfully: '"_s + package + u'\''}));
}

TEST_F(InstallerHelperTest, DiskImageIsVerifiedMountedSearchedInstalledThenDetachedOnce) {
    const QString mountPoint = volumeWith({u"Read Me.txt"_s, u"Scan Pro.pkg"_s});
    const QString pkg = mountPoint + u"/Scan Pro.pkg"_s;
    {
        InSequence order;
        expectImageInstall(attachReport({std::nullopt, mountPoint}).toXml(), pkg);
        EXPECT_CALL(*runner, runProcess(hdiutil, detachArguments(mountPoint))).WillOnce(toolStep({}));
    }

    test::waitFor(install(image));

    // %1 the image, %2 the mount point, %3 the package.
    QStringList expected = u"Installing from DMG: '%1'|Mount DMG: '%1'|Successfully mounted DMG: '%1'|"
                           "Mount point was successfully identified: %2|Searching for PKG in DMG at "
                           "mount point '%2'|Install PKG '%3'|PKG installed succsessfully: '%3'|"
                           "Unmount %2|DMG mount point '%2' successfully unmounted"_s.arg(image, mountPoint, pkg)
                                   .split(u'|');
    EXPECT_EQ(logger->lines(), expected.replaceInStrings(QRegularExpression(u"^"_s), "[INFO] "));
}

TEST_F(InstallerHelperTest, BinaryReportTrailingSlashAndTheFirstListedPackageAreUnderstood) {
    const QString mountPoint = volumeWith({u"b.pkg"_s, u"a.pkg"_s, u"c.pkg"_s, u"d.pkg"_s, u"e.pkg"_s}) + u'/';
    // The first package in directory order, not in sorted order.
    QDirIterator listing(mountPoint, {u"*.pkg"_s}, QDir::Files);
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
    QStringList volume = {u"Scan.pkg"_s};
    QString detachTarget = {}; // what is detached when not the volume's mount point
};

FailureRow unsupported(const char* name, const char* file, const char* extension) {
    return {name,
            QString::fromLatin1(file),
            Step::none,
            InstallationError::unsupportedFileExtension(u"Unsupported file extension for installation: "_s +
                                                        QLatin1String(extension)),
            true,
            false};
}

FailureRow unusableReport(const char* name, const std::optional<QByteArray>& output, bool critical,
                          const char* shown = nullptr, const char* detached = nullptr) {
    const QString text = shown ? QString::fromLatin1(shown) : QString::fromUtf8(output.value_or(QByteArray()));
    return {name,
            image,
            Step::none,
            InstallationError::unableToMountDMG(u"Failed to parse mount point for DMG '%1' "_s + text),
            critical,
            detached != nullptr,
            AttachOutput(output),
            {u"Scan.pkg"_s},
            QString::fromLatin1(detached)};
}

template <typename... Entity>
PropertyList withEntities(Entity... list) {
    PropertyList entities = PropertyList::array();
    (entities.append(std::move(list)), ...);
    PropertyList root = PropertyList::dictionary();
    root.insert(u"system-entities"_s, std::move(entities));
    return root;
}

PropertyList mountPointEntity(PropertyList mountPoint) {
    PropertyList entity = PropertyList::dictionary();
    entity.insert(u"mount-point"_s, std::move(mountPoint));
    return entity;
}

PropertyList deviceEntity(const char* device) {
    PropertyList entity = PropertyList::dictionary();
    entity.insert(u"dev-entry"_s, PropertyList::string(QString::fromLatin1(device)));
    return entity;
}

QList<FailureRow> failureRows() {
    using IE = InstallationError;
    const QString canceled = u"'. Error: installationFailed(\"User \\\"canceled\\\".\\n\")"_s;
    QList<FailureRow> rows{
            unsupported("zip", "/downloads/Scan.zip", "zip"),
            unsupported("upper-case zip", "/downloads/Scan.ZIP", "zip"),
            unsupported("no extension", "/downloads.d/Scan", ""),
            {"package digest", package, Step::hash, hashFailure, false, false},
            {"package signature", package, Step::signature, signatureFailure, false, false},
            {"package install", package, Step::install,
             IE::installationFailed(u"Failed to install from standalone PKG: '%1"_s + canceled), true, false},
            {"image digest", image, Step::hash, hashFailure, false, false},
            {"attach", image, Step::attach,
             IE::unableToMountDMG(u"Failed to mount DMG: '%1'. Error: "_s + genericDescription(2)), true, false},
            unusableReport("report not a property list", "hdiutil: attach: \"done\"\n", true),
            unusableReport("report neither UTF-8 nor a property list", "\xff\xfe\x01", true, "Unknown error"),
            unusableReport("no report", std::nullopt, true),
            unusableReport("no mount point in any entity", attachReport({std::nullopt, std::nullopt}).toXml(), false),
            unusableReport("entities missing", PropertyList::dictionary().toXml(), false),
            // Whatever an unusable report names as attached is detached.
            unusableReport(
                    "one stray entity beside a mount point",
                    withEntities(PropertyList::string(u"stray"_s), mountPointEntity(PropertyList::string(u"/V"_s)))
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
             IE::pkgNotFound(u"No PKG found in DMG '%2'"_s), true, true},
            {"signature inside image", image, Step::signature, signatureFailure, false, true},
            {"install inside image", image, Step::install,
             IE::unableToMountDMG(u"Failed to install from DMG: '%1"_s + canceled), true, true},
    };
    rows[rows.size() - 3].volume = {u"Scan.PKG"_s, u"Inner/"_s, u"Inner/Scan.pkg"_s, u"Scan.pkg.txt"_s};
    return rows;
}

TEST_F(InstallerHelperTest, EachFailureHasItsErrorAndLogLevelAndDetachesExactlyWhenMounted) {
    for (const FailureRow& row : failureRows()) {
        SCOPED_TRACE(row.name);
        logger->clear();
        const QString mountPoint = volumeWith(row.volume);
        const bool isImage = row.file.endsWith(QLatin1String(".dmg"));
        const QString pkg = isImage ? mountPoint + u"/Scan.pkg"_s : row.file;
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
            const bool packageFound = !isImage || (!row.attachOutput && row.volume.contains(u"Scan.pkg"_s));
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

        const InstallationError expected(
                row.expected.kind(),
                QString(row.expected.text()).replace(u"%1"_s, row.file).replace(u"%2"_s, mountPoint));
        EXPECT_EQ(failureOf<InstallationError>(install(row.file)), expected);
        drainPostedEvents();
        EXPECT_EQ(logger->criticalLines(),
                  row.critical ? QStringList(u"[CRITICAL] "_s + expected.text()) : QStringList());
        ::testing::Mock::VerifyAndClearExpectations(runner.get());
        ::testing::Mock::VerifyAndClearExpectations(validator.get());
    }
}

TEST_F(InstallerHelperTest, UnlistableMountPointPassesThePlatformErrorOnAndDetaches) {
    const QString mountPoint = directory.filePath(u"Vanished Volume"_s);
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
    const QString mountPoint = volumeWith({u"Scan.pkg"_s});
    PendingTask<std::optional<QByteArray>> detach;
    expectImageInstall(attachReport({mountPoint}).toXml(), mountPoint + u"/Scan.pkg"_s);
    EXPECT_CALL(*runner, runProcess(hdiutil, detachArguments(mountPoint))).WillOnce([&](auto&&...) {
        return detach.task();
    });

    test::waitFor(install(image));
    const std::weak_ptr<InstallerHelper> watched = helper;
    helper.reset();
    ASSERT_FALSE(watched.expired());
    EXPECT_EQ(logger->lines().last(), u"[INFO] Unmount "_s + mountPoint);

    detach.fail(InstallationError::installationFailed(u"hdiutil: couldn't unmount"_s));
    EXPECT_TRUE(processEventsUntil([&] { return watched.expired(); }));
    EXPECT_EQ(logger->criticalLines(), QStringList(u"[CRITICAL] Failed to unmount DMG at: '"_s + mountPoint +
                                                   u"'. Details: "_s + genericDescription(2)));
    EXPECT_EQ(logger->lines().last(), logger->criticalLines().last());
}

TEST_F(InstallerHelperTest, HelperNotOwnedBySharedPointerRefusesBeforeAnythingRuns) {
    InstallerHelper unshared(logger, runner, validator, hdiutil, installer);
    EXPECT_THROW(test::waitFor(unshared.install(image, appName, expectedHash, signers)), std::bad_weak_ptr);
}

// The helper driving real child processes: small scripts record exactly what reached them, so arguments
// and shell quoting are checked end to end (the stand-in tools installing real packages are the
// end-to-end suite's).
// Each tool writes its arguments, NUL-terminated, to "<tool>.<first argument>.args" next to itself.
const char* const recordArguments = "here=$(dirname \"$0\")\n"
                                    "printf '%s\\0' \"$@\" > \"$here/$(basename \"$0\").$1.args\"\n";

const char* const pkgutilBody =
        "printf '   Certificate Chain:\\n    1. Developer ID Installer: Norwell Labs (H4VN8C2T6R)\\n'\n";

const char* const hdiutilBody = R"(case "$1" in
attach) cat "$here/attach.plist" ;;
detach) exit 0 ;;
*) exit 2 ;;
esac
)";

// Reads the AppleScript statement back the way the script runner does, then runs its command line
// through the shell, so the exit status and standard error of the command are the runner's own.
const char* const osascriptBody = R"(statement=$2
command=$(printf '%s' "$statement" | sed -e 's/^do shell script "//' \
    -e 's/" with administrator privileges with prompt ".*$//' -e 's/\\\(.\)/\1/g')
printf '%s' "$statement" | sed -e 's/^.*" with administrator privileges with prompt "//' -e 's/"$//' \
    -e 's/\\\(.\)/\1/g' > "$here/prompt.txt"
exec /bin/sh -c "$command"
)";

const char* const installerBody = "echo 'installer: The install was successful.'\n";

class PackageToolsProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tools.isValid() && files.isValid());
        for (const auto& [name, body] :
             {std::pair("pkgutil", pkgutilBody), std::pair("hdiutil", hdiutilBody),
              std::pair("osascript", osascriptBody), std::pair("installer", installerBody)}) {
            ASSERT_FALSE(writeScript(tools, QString::fromLatin1(name),
                                     QString::fromLatin1(recordArguments) + QString::fromLatin1(body))
                                 .isEmpty());
        }
    }

    QString tool(const char* name) const { return tools.filePath(QString::fromLatin1(name)); }

    // The arguments a tool received on its last run with this first argument; empty when it never ran.
    QStringList argumentsOf(const char* name, const char* firstArgument) const {
        const QByteArray record = readFile(
                tools.filePath(u"%1.%2.args"_s.arg(QString::fromLatin1(name), QString::fromLatin1(firstArgument))));
        QStringList arguments;
        for (const QByteArray& argument : record.split('\0')) {
            arguments.append(QString::fromUtf8(argument));
        }
        arguments.removeLast(); // after the last terminator
        return arguments;
    }

    // Mounts a volume, whose name and package name hold characters the shell treats specially, then
    // installs the image holding it and waits for the detach.
    QCoro::Task<> installImage(const QString& packageName) {
        EXPECT_TRUE(writeFile(mountPoint + u'/' + packageName, "xar!"));
        EXPECT_TRUE(writeFile(tools.filePath(u"attach.plist"_s), attachReport({mountPoint}).toXml()));
        EXPECT_TRUE(writeFile(image, imageContent));
        return helper->install(image, appName, InstallerValidator::sha512Hash(imageContent).toUpper(), signers);
    }

    bool detachFinished() const { return logger->lines().filter(u"successfully unmounted"_s).size() == 1; }

    const QString appName = u"Scan \"Pro\" \\ 2"_s;
    const QByteArray imageContent = QByteArray(100'000, 'x');
    const QStringList signers{u"Norwell Labs (H4VN8C2T6R)"_s};
    DisclaimerTranslator translator;
    QTemporaryDir tools;
    QTemporaryDir files;
    const QString mountPoint = files.filePath(u"Scan 'Pro' Volume"_s);
    const QString image = files.filePath(u"Scan Pro 2.dmg"_s);
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<ProcessRunner> runner = std::make_shared<ProcessRunner>(logger, tool("osascript"));
    std::shared_ptr<InstallerValidator> validator =
            std::make_shared<InstallerValidator>(logger, runner, tool("pkgutil"));
    std::shared_ptr<InstallerHelper> helper =
            std::make_shared<InstallerHelper>(logger, runner, validator, tool("hdiutil"), tool("installer"));
};

TEST_F(PackageToolsProcessTest, DiskImageInstallKeepsEveryPathOneArgumentThroughTheShell) {
    const QString packageName = u"Scan 'Pro' \"v2\" $HOME `id` \\ it's.pkg"_s;
    const QString package = mountPoint + u'/' + packageName;

    test::waitFor(installImage(packageName));
    ASSERT_TRUE(processEventsUntil([&] { return detachFinished(); }));

    EXPECT_EQ(argumentsOf("hdiutil", "attach"), QStringList({u"attach"_s, image, u"-nobrowse"_s, u"-plist"_s}));
    EXPECT_EQ(argumentsOf("pkgutil", "--check-signature"), QStringList({u"--check-signature"_s, package}));
    EXPECT_EQ(argumentsOf("installer", "-pkg"), QStringList({u"-pkg"_s, package, u"-target"_s, u"/"_s}));
    EXPECT_EQ(readFile(tools.filePath(u"prompt.txt"_s)),
              QString::fromLatin1(DisclaimerTranslator::format).arg(appName).toUtf8());
    EXPECT_EQ(argumentsOf("hdiutil", "detach"), QStringList({u"detach"_s, mountPoint, u"-quiet"_s}));
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

} // namespace
} // namespace tarn::test
