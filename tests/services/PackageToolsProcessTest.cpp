// The package services driving real child processes: small scripts record exactly what reached them, so
// arguments and shell quoting are checked end to end (the stand-in tools installing real packages are the
// end-to-end suite's).
#include "PackageServicesSupport.h"
#include "services/InstallerHelper.h"
#include "services/InstallerValidator.h"
#include "services/ProcessRunner.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {

using namespace Qt::StringLiterals;
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
