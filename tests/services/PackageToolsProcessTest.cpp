// The package services driving real child processes: first small scripts that record exactly what reached
// them, so arguments, shell quoting and exit statuses are checked end to end; then the project's own
// stand-in tools installing real signed packages.
#include "PackageServicesSupport.h"
#include "fixtures/DiskImageBuilder.h"
#include "fixtures/Packages.h"
#include "services/InstallerHelper.h"
#include "services/InstallerValidator.h"
#include "services/PkgUtilHelper.h"
#include "services/ProcessRunner.h"
#include "services/ToolPaths.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {
namespace {

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

const char* const installerBody = R"(if [ -e "$here/refuse" ]; then
    echo "installer: Error - the package is damaged" >&2
    exit 1
fi
echo "installer: The install was successful."
)";

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
        const QByteArray record = readFile(tools.filePath(
                QStringLiteral("%1.%2.args").arg(QString::fromLatin1(name), QString::fromLatin1(firstArgument))));
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
        EXPECT_TRUE(writeFile(tools.filePath(QStringLiteral("attach.plist")), attachReport({mountPoint}).toXml()));
        EXPECT_TRUE(writeFile(image, imageContent));
        return helper->install(image, appName, InstallerValidator::sha512Hash(imageContent).toUpper(), signers);
    }

    bool detachFinished() const { return logger->lines().filter(QStringLiteral("successfully unmounted")).size() == 1; }

    const QString appName = QStringLiteral("Scan \"Pro\" \\ 2");
    const QByteArray imageContent = QByteArray(100'000, 'x');
    const QStringList signers{QStringLiteral("Norwell Labs (H4VN8C2T6R)")};
    DisclaimerTranslator translator;
    QTemporaryDir tools;
    QTemporaryDir files;
    const QString mountPoint = files.filePath(QStringLiteral("Scan 'Pro' Volume"));
    const QString image = files.filePath(QStringLiteral("Scan Pro 2.dmg"));
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<ProcessRunner> runner = std::make_shared<ProcessRunner>(logger, tool("osascript"));
    std::shared_ptr<InstallerValidator> validator =
            std::make_shared<InstallerValidator>(logger, runner, tool("pkgutil"));
    std::shared_ptr<InstallerHelper> helper =
            std::make_shared<InstallerHelper>(logger, runner, validator, tool("hdiutil"), tool("installer"));
};

TEST_F(PackageToolsProcessTest, DiskImageInstallKeepsEveryPathOneArgumentThroughTheShell) {
    const QString packageName = QStringLiteral("Scan 'Pro' \"v2\" $HOME `id` \\ it's.pkg");
    const QString package = mountPoint + u'/' + packageName;

    test::waitFor(installImage(packageName));
    ASSERT_TRUE(processEventsUntil([&] { return detachFinished(); }));

    EXPECT_EQ(argumentsOf("hdiutil", "attach"),
              QStringList({QStringLiteral("attach"), image, QStringLiteral("-nobrowse"), QStringLiteral("-plist")}));
    EXPECT_EQ(argumentsOf("pkgutil", "--check-signature"), QStringList({QStringLiteral("--check-signature"), package}));
    EXPECT_EQ(argumentsOf("installer", "-pkg"),
              QStringList({QStringLiteral("-pkg"), package, QStringLiteral("-target"), QStringLiteral("/")}));
    EXPECT_EQ(readFile(tools.filePath(QStringLiteral("prompt.txt"))),
              QString::fromLatin1(DisclaimerTranslator::format).arg(appName).toUtf8());
    EXPECT_EQ(argumentsOf("hdiutil", "detach"),
              QStringList({QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet")}));
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

TEST_F(PackageToolsProcessTest, InstallerExitStatusInsideImageFailsWithItsErrorTextAndStillDetaches) {
    ASSERT_TRUE(writeFile(tools.filePath(QStringLiteral("refuse")), {}));

    const auto failure = failureOf<InstallationError>(installImage(QStringLiteral("Scan.pkg")));
    ASSERT_TRUE(processEventsUntil([&] { return detachFinished(); }));

    const QString message = QStringLiteral("Failed to install from DMG: '") + image +
                            QStringLiteral("'. Error: installationFailed(\"installer: Error - the package is "
                                           "damaged\\n\")");
    EXPECT_EQ(failure, InstallationError::unableToMountDMG(message));
    EXPECT_EQ(logger->criticalLines(),
              QStringList({QStringLiteral("[CRITICAL] installer: Error - the package is damaged\n"),
                           QStringLiteral("[CRITICAL] ") + message}));
}

// The stand-in tools against a temporary system root, with an elevation command that runs the command
// as the current user.
class StandInToolsTest : public ::testing::Test {
protected:
    StandInToolsTest() {
        qputenv("TARN_SYSTEM_ROOT", QFile::encodeName(root.path()));
        qputenv("TARN_SUDO", QFile::encodeName(writeScript(scratch, QStringLiteral("elevate"),
                                                           QStringLiteral("while [ \"$#\" -gt 0 ]; do case \"$1\" in\n"
                                                                          "--) shift; exec \"$@\" ;;\n"
                                                                          "-p) shift 2 ;;\n"
                                                                          "*) shift ;;\n"
                                                                          "esac; done\n"))));
    }
    ~StandInToolsTest() override {
        qunsetenv("TARN_SYSTEM_ROOT");
        qunsetenv("TARN_SUDO");
    }

    DisclaimerTranslator translator;
    QTemporaryDir root;
    QTemporaryDir scratch;
    const ToolPaths tools = ToolPaths::inDirectory(QStringLiteral(TARN_TOOLS_DIR));
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<ProcessRunner> runner = std::make_shared<ProcessRunner>(logger, tools.osascript);
    std::shared_ptr<InstallerHelper> helper = std::make_shared<InstallerHelper>(
            logger, runner, std::make_shared<InstallerValidator>(logger, runner, tools.pkgutil), tools.hdiutil,
            tools.installer);
    PkgUtilHelper packages{logger, runner, tools.pkgutil};
};

TEST_F(StandInToolsTest, SignedPackageAndDiskImageInstallIntoTheSystemRootAndThenCountAsInstalled) {
    const auto authority = fixtures::Credential::authority(QStringLiteral("T.A.R.N. Test Package Authority"));
    fixtures::installTrustAnchors(root.path(), {authority});
    fixtures::PackageOptions signing;
    signing.signer = fixtures::PackageSigner{
            authority.issue(fixtures::packageSignerRequest(QStringLiteral("TARN"), QStringLiteral("Q7XK2M9P4D"))),
            {authority}};
    const auto packageOf = [&](const QString& name, const QString& pkgId) {
        return fixtures::buildComponentPackage(
                fixtures::appPackage(pkgId, {name, QStringLiteral("2.4"), QStringLiteral("2.4.1")}), signing);
    };
    const QString standalone = scratch.filePath(QStringLiteral("Scan Pro.pkg"));
    ASSERT_TRUE(writeFile(standalone, packageOf(QStringLiteral("Scan Pro"), QStringLiteral("com.example.scan.pkg"))));
    const QString image = scratch.filePath(QStringLiteral("Scan Tools.dmg"));
    fixtures::DiskImageBuilder()
            .setVolumeName(QStringLiteral("Scan Tools"))
            .addFile(QStringLiteral("Scan Tools.pkg"),
                     packageOf(QStringLiteral("Scan Tools"), QStringLiteral("com.example.tools.pkg")))
            .write(image);

    for (const auto& [file, application, pkgId] :
         {std::tuple(standalone, QStringLiteral("Scan Pro"), QStringLiteral("com.example.scan.pkg")),
          std::tuple(image, QStringLiteral("Scan Tools"), QStringLiteral("com.example.tools.pkg"))}) {
        SCOPED_TRACE(application.toStdString());
        EXPECT_TRUE(test::waitFor(packages.isInstallationNeeded(pkgId, QStringLiteral("2.4.1"))));
        logger->clear(); // the package tool's complaint that there is no receipt yet
        test::waitFor(helper->install(file, application, InstallerValidator::sha512Hash(readFile(file)),
                                      {QStringLiteral("TARN (Q7XK2M9P4D)")}));

        EXPECT_TRUE(QFileInfo::exists(
                root.filePath(QStringLiteral("Applications/%1.app/Contents/Info.plist").arg(application))));
        EXPECT_FALSE(test::waitFor(packages.isInstallationNeeded(pkgId, QStringLiteral("2.4.1"))));
        EXPECT_TRUE(test::waitFor(packages.isInstallationNeeded(pkgId, QStringLiteral("2.10"))));
    }
    EXPECT_TRUE(processEventsUntil(
            [&] { return !logger->lines().filter(QStringLiteral("successfully unmounted")).isEmpty(); }));
    EXPECT_TRUE(logger->criticalLines().isEmpty()) << logger->criticalLines().join(u'\n').toStdString();
}

// A signer the anchors vouch for but whose identity is not trusted stays refused, whatever the image's
// author names the package.
TEST_F(StandInToolsTest, ForeignSignerIsRefusedEvenWhenTheFileNameIsATrustedIdentity) {
    const auto authority = fixtures::Credential::authority(QStringLiteral("T.A.R.N. Test Package Authority"));
    fixtures::installTrustAnchors(root.path(), {authority});
    fixtures::PackageOptions signing;
    signing.signer = fixtures::PackageSigner{
            authority.issue(fixtures::packageSignerRequest(QStringLiteral("Mallory"), QStringLiteral("AAAAAAAAAA"))),
            {authority}};
    const QByteArray package = fixtures::buildComponentPackage(
            fixtures::appPackage(QStringLiteral("com.example.scan.pkg"),
                                 {QStringLiteral("Scan Pro"), QStringLiteral("2.4"), QStringLiteral("2.4.1")}),
            signing);
    for (const QString& name : {QStringLiteral("TARN (Q7XK2M9P4D).pkg"), QStringLiteral("Neutral.pkg")}) {
        SCOPED_TRACE(name.toStdString());
        const QString image = scratch.filePath(name + QStringLiteral(".dmg"));
        fixtures::DiskImageBuilder().setVolumeName(QStringLiteral("Scan Pro")).addFile(name, package).write(image);
        EXPECT_TRUE(failureOf<InstallationError>(helper->install(image, QStringLiteral("Scan Pro"),
                                                                 InstallerValidator::sha512Hash(readFile(image)),
                                                                 {QStringLiteral("TARN (Q7XK2M9P4D)")})));
        EXPECT_FALSE(QFileInfo::exists(root.filePath(QStringLiteral("Applications/Scan Pro.app"))));
        EXPECT_TRUE(processEventsUntil(
                [&] { return !logger->lines().filter(QStringLiteral("successfully unmounted")).isEmpty(); }));
        logger->clear();
    }
}

} // namespace
} // namespace tarn::test
