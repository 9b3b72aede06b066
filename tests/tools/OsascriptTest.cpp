#include "osascript/Osascript.h"

#include "services/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

namespace tarn {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct ToolRun {
    int exitCode = -1;
    QByteArray standardOutput;
    QString standardError;
};

QString privileged(const QString& commandLine, const QString& prompt = QStringLiteral("Install Scanner Suite")) {
    return ProcessRunner::adminScript(commandLine, prompt);
}

// The real osascript, with stand-ins for sudo and askpass where a test gives them.
class OsascriptTest : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    void SetUp() override {
        environment.remove(QStringLiteral("TARN_SUDO"));
        environment.remove(QStringLiteral("TARN_ASKPASS"));
        environment.remove(QStringLiteral("TARN_SYSTEM_ROOT"));
    }

    ToolRun osascript(const QStringList& arguments) const {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TARN_TOOLS_DIR "/osascript"), arguments);
        process.waitForFinished(-1);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // A sudo that asks its askpass as the real one does, accepts only "secret", records its arguments one
    // per line, and runs what follows "--".
    void useSudoStandIn(const QString& askpassBody) {
        const QString sudo = test::writeScript(scratch, QStringLiteral("sudo"),
                                               QStringLiteral(R"(
printf '%s\n' "$@" > '%1'
prompt=$3
answer=$("$SUDO_ASKPASS" "$prompt")
if [ -z "$answer" ]; then echo "sudo: no password was provided" >&2; exit 1; fi
if [ "$answer" != secret ]; then echo "sudo: 1 incorrect password attempt" >&2; exit 1; fi
while [ "$1" != "--" ]; do shift; done
shift
exec "$@"
)")
                                                       .arg(recordedArguments()));
        const QString askpass = test::writeScript(scratch, QStringLiteral("askpass"), askpassBody);
        environment.insert(QStringLiteral("TARN_SUDO"), sudo);
        environment.insert(QStringLiteral("TARN_ASKPASS"), askpass);
    }

    QString recordedArguments() const { return scratch.filePath(QStringLiteral("sudo-arguments")); }
    QString ranMarker() const { return scratch.filePath(QStringLiteral("ran")); }

    QStringList sudoArguments() const {
        QFile file(recordedArguments());
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        lines.removeLast();
        return lines;
    }
};

TEST_F(OsascriptTest, RootRunsTheCommandAtOnceAndPassesItsOutputThrough) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "runs without a prompt only as root";
    }
    const QString command =
            QStringLiteral(R"sh(printf '%s|' 'two words' "dq\"inside" 'back\slash' "$((6 * 7))"; echo)sh");

    const ToolRun run = osascript({QStringLiteral("-e"), privileged(command)});

    EXPECT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    EXPECT_EQ(run.standardOutput, "two words|dq\"inside|back\\slash|42|\n");
}

TEST_F(OsascriptTest, FailingCommandExitsOneWithItsErrorTextAndStatus) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "runs without a prompt only as root";
    }
    const ToolRun withText =
            osascript({QStringLiteral("-e"), privileged(QStringLiteral("echo partial; echo 'disk full' >&2; exit 3"))});
    EXPECT_EQ(withText.exitCode, 1);
    EXPECT_EQ(withText.standardError, QStringLiteral("execution error: disk full (3)\n"));
    EXPECT_TRUE(withText.standardOutput.isEmpty());

    const ToolRun silent = osascript({QStringLiteral("-e"), privileged(QStringLiteral("exit 4"))});
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_EQ(silent.standardError,
              QStringLiteral("execution error: The command exited with a non-zero status. (4)\n"));
}

TEST_F(OsascriptTest, RefusedStatementsRunNothing) {
    const QString touch = QStringLiteral("touch '") + ranMarker() + u'\'';
    const QList<QStringList> refused{
            {QStringLiteral("-e"), QStringLiteral("do shell script \"") + touch + u'"'},
            {QStringLiteral("-e"), privileged(touch) + QStringLiteral(" & \"\"")},
            {QStringLiteral("-e"), QStringLiteral("do shell script \"") + touch + QStringLiteral("\\q\"")},
            {privileged(touch)},
            {QStringLiteral("-e"), privileged(touch), QStringLiteral("-e"), privileged(touch)},
    };
    for (const QStringList& arguments : refused) {
        const ToolRun run = osascript(arguments);
        EXPECT_EQ(run.exitCode, 1) << arguments.join(u' ').toStdString();
        EXPECT_FALSE(run.standardError.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(ranMarker()));
}

TEST_F(OsascriptTest, AsksThroughSudoWithTheAskpassDialogAndTheEscapedPrompt) {
    useSudoStandIn(QStringLiteral("echo secret\n"));
    const QString command = QStringLiteral("echo elevated; touch '") + ranMarker() + u'\'';

    const ToolRun run =
            osascript({QStringLiteral("-e"), privileged(command, QStringLiteral("Install 100% of \"Scan\""))});

    EXPECT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    EXPECT_EQ(run.standardOutput, "elevated\n");
    EXPECT_TRUE(QFile::exists(ranMarker()));
    EXPECT_EQ(sudoArguments(),
              QStringList({QStringLiteral("-A"), QStringLiteral("-p"), QStringLiteral("Install 100%% of \"Scan\""),
                           QStringLiteral("--"), QStringLiteral("/bin/sh"), QStringLiteral("-c"), command}));
}

TEST_F(OsascriptTest, CancelledPromptIsReportedAsUserCanceled) {
    useSudoStandIn(QStringLiteral(": > \"$TARN_ASKPASS_CANCEL_FILE\"\nexit 1\n"));

    const ToolRun run = osascript({QStringLiteral("-e"), privileged(QStringLiteral("touch '") + ranMarker() + u'\'')});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.standardError, QStringLiteral("execution error: User canceled. (-128)\n"));
    EXPECT_FALSE(QFile::exists(ranMarker()));
}

TEST_F(OsascriptTest, WrongPasswordIsReportedInSudosWords) {
    useSudoStandIn(QStringLiteral("echo guess\n"));

    const ToolRun run = osascript({QStringLiteral("-e"), privileged(QStringLiteral("touch '") + ranMarker() + u'\'')});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.standardError, QStringLiteral("execution error: sudo: 1 incorrect password attempt (1)\n"));
    EXPECT_FALSE(QFile::exists(ranMarker()));
}

TEST_F(OsascriptTest, SystemRootIsKeptAcrossSudo) {
    useSudoStandIn(QStringLiteral("echo secret\n"));
    environment.insert(QStringLiteral("TARN_SYSTEM_ROOT"), scratch.path());

    const ToolRun run = osascript({QStringLiteral("-e"), privileged(QStringLiteral("true"))});

    EXPECT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    EXPECT_THAT(sudoArguments(), ::testing::Contains(QStringLiteral("--preserve-env=TARN_SYSTEM_ROOT")));
    EXPECT_LT(sudoArguments().indexOf(QStringLiteral("--preserve-env=TARN_SYSTEM_ROOT")),
              sudoArguments().indexOf(QStringLiteral("--")));
}

TEST(OsascriptSudoPrompt, DoublesPercentSignsOnly) {
    EXPECT_EQ(osascript::sudoPrompt(QStringLiteral("100% sure, %u")), QStringLiteral("100%% sure, %%u"));
    EXPECT_EQ(osascript::sudoPrompt(QStringLiteral("plain")), QStringLiteral("plain"));
}

} // namespace
} // namespace tarn
