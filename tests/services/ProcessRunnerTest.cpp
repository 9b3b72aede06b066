#include "services/ProcessRunner.h"

#include "services/InstallationError.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using ::testing::ElementsAre;

class ProcessRunnerTest : public ::testing::Test {
protected:
    QString script(const QString& name, const QString& body) { return test::writeScript(scripts, name, body); }

    // Runs the child and answers the failure it must raise.
    InstallationError failureOf(const QString& launchPath, const QStringList& arguments = {}) {
        try {
            test::waitFor(runner.runProcess(launchPath, arguments));
        } catch (const InstallationError& error) {
            return error;
        }
        ADD_FAILURE() << "the run succeeded";
        return InstallationError::invalidInput({});
    }

    QTemporaryDir scripts;
    std::shared_ptr<test::RecordingLogger> logger = std::make_shared<test::RecordingLogger>();
    ProcessRunner runner{logger, QString()};
};

TEST_F(ProcessRunnerTest, ReturnsStandardOutputAndDiscardsStandardErrorOnSuccess) {
    const QString tool = script(QStringLiteral("tool"), QStringLiteral("printf 'out\\n'; printf 'noise' >&2\n"));
    EXPECT_EQ(test::waitFor(runner.runProcess(tool, {})), QByteArray("out\n"));

    const QString quiet = script(QStringLiteral("quiet"), QStringLiteral("echo only-errors >&2\n"));
    const auto output = test::waitFor(runner.runProcess(quiet, {}));
    ASSERT_TRUE(output.has_value());
    EXPECT_TRUE(output->isEmpty());
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

TEST_F(ProcessRunnerTest, ArgumentsReachTheChildVerbatimAndTheLogLineJoinsThemWithSpaces) {
    const QString tool =
            script(QStringLiteral("args"), QStringLiteral("for a in \"$@\"; do printf '<%s>' \"$a\"; done\n"));
    const QStringList arguments{QStringLiteral("two words"), QStringLiteral("it's \"quoted\""), QString(),
                                QStringLiteral("$HOME;`x`")};
    EXPECT_EQ(test::waitFor(runner.runProcess(tool, arguments)),
              QByteArray("<two words><it's \"quoted\"><><$HOME;`x`>"));
    EXPECT_EQ(logger->lines().first(),
              QStringLiteral("[INFO] Executing '") + tool + QStringLiteral(" two words it's \"quoted\"  $HOME;`x`'"));
}

TEST_F(ProcessRunnerTest, EmptyArgumentListStillLogsTheSeparatingSpace) {
    const QString tool = script(QStringLiteral("noargs"), QStringLiteral("exit 0\n"));
    test::waitFor(runner.runProcess(tool, {}));
    EXPECT_THAT(logger->lines(), ElementsAre(QStringLiteral("[INFO] Executing '") + tool + QStringLiteral(" '")));
}

TEST_F(ProcessRunnerTest, NonZeroExitFailsWithStandardErrorExactlyAsWritten) {
    const QString tool =
            script(QStringLiteral("fails"), QStringLiteral("echo partial; printf '  No receipt\\n' >&2; exit 3\n"));
    const auto error = failureOf(tool);
    EXPECT_EQ(error.kind(), InstallationError::Case::installationFailed);
    EXPECT_EQ(error.text(), QStringLiteral("  No receipt\n"));
    EXPECT_THAT(logger->criticalLines(), ElementsAre(QStringLiteral("[CRITICAL]   No receipt\n")));
}

TEST_F(ProcessRunnerTest, NonZeroExitWithEmptyStandardErrorFailsWithEmptyText) {
    const auto error = failureOf(script(QStringLiteral("silent"), QStringLiteral("exit 1\n")));
    EXPECT_EQ(error.kind(), InstallationError::Case::installationFailed);
    EXPECT_EQ(error.text(), QString());
    EXPECT_THAT(logger->criticalLines(), ElementsAre(QStringLiteral("[CRITICAL] ")));
}

TEST_F(ProcessRunnerTest, StandardErrorThatIsNotUtf8BecomesUnknownError) {
    const auto error =
            failureOf(script(QStringLiteral("binary"), QStringLiteral("printf 'bad \\377\\376 bytes' >&2; exit 2\n")));
    EXPECT_EQ(error.text(), QStringLiteral("Unknown error"));
    EXPECT_THAT(logger->criticalLines(), ElementsAre(QStringLiteral("[CRITICAL] Unknown error")));
}

TEST_F(ProcessRunnerTest, ChildKilledBySignalIsAFailure) {
    const auto error = failureOf(script(QStringLiteral("killed"), QStringLiteral("echo dying >&2; kill -9 $$\n")));
    EXPECT_EQ(error.kind(), InstallationError::Case::installationFailed);
    EXPECT_EQ(error.text(), QStringLiteral("dying\n"));
}

TEST_F(ProcessRunnerTest, ExecutableThatCannotStartRaisesThePlatformErrorAndLogsNothingMore) {
    const QString missing = scripts.filePath(QStringLiteral("does-not-exist"));
    EXPECT_THROW(test::waitFor(runner.runProcess(missing, {QStringLiteral("a")})), SystemError);
    EXPECT_THAT(logger->lines(), ElementsAre(QStringLiteral("[INFO] Executing '") + missing + QStringLiteral(" a'")));
}

TEST_F(ProcessRunnerTest, LargeOutputOnBothPipesAtOnceNeverStallsTheChild) {
    // 8 MiB on each pipe, interleaved: a reader that drained one pipe first would deadlock here.
    const QString tool = script(QStringLiteral("flood"), QStringLiteral("i=0; while [ $i -lt 128 ]; do\n"
                                                                        "  head -c 65536 /dev/zero | tr '\\0' 'o'\n"
                                                                        "  head -c 65536 /dev/zero | tr '\\0' 'e' >&2\n"
                                                                        "  i=$((i+1)); done\nexit 0\n"));
    const auto output = test::waitFor(runner.runProcess(tool, {}));
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output->size(), 8 * 1024 * 1024);
    EXPECT_EQ(output->count('o'), output->size());
}

TEST_F(ProcessRunnerTest, LargeStandardErrorOfAFailingChildIsCapturedWhole) {
    const QString tool = script(QStringLiteral("floodfail"),
                                QStringLiteral("head -c 4194304 /dev/zero | tr '\\0' 'o'\n"
                                               "head -c 3000000 /dev/zero | tr '\\0' 'e' >&2\nexit 9\n"));
    const auto error = failureOf(tool);
    EXPECT_EQ(error.text().size(), 3000000);
}

class PrivilegedRunTest : public ProcessRunnerTest {
protected:
    PrivilegedRunTest() {
        // Stands in for the script runner: echoes its arguments one per line.
        scriptRunner = script(QStringLiteral("osascript"),
                              QStringLiteral("for a in \"$@\"; do printf '%s\\n' \"$a\"; done\n"));
    }
    QString scriptRunner;
};

TEST_F(PrivilegedRunTest, HandsTheStatementToTheScriptRunnerAndLogsBothLines) {
    ProcessRunner privileged(logger, scriptRunner);
    const auto output = test::waitFor(
            privileged.runWithAdminPrivileges(QStringLiteral("/usr/sbin/installer"),
                                              {QStringLiteral("-pkg"), QStringLiteral("'/tmp/My App.pkg'"),
                                               QStringLiteral("-target"), QStringLiteral("/")},
                                              QStringLiteral("Install My App")));
    const QString statement = QStringLiteral("do shell script \"/usr/sbin/installer -pkg '/tmp/My App.pkg' -target /\" "
                                             "with administrator privileges with prompt \"Install My App\"");
    EXPECT_EQ(output, (QStringLiteral("-e\n") + statement + u'\n').toUtf8());
    EXPECT_THAT(logger->lines(), ElementsAre(QStringLiteral("[INFO] Executing '") + statement + u'\'',
                                             QStringLiteral("[INFO] Executing '") + scriptRunner +
                                                     QStringLiteral(" -e ") + statement + u'\''));
}

TEST_F(PrivilegedRunTest, QuotesAndBackslashesAreEscapedSoTheStatementReadsBackExactly) {
    const QString statement =
            ProcessRunner::adminScript(QStringLiteral("echo \"a\\b\""), QStringLiteral("Say \"hi\" \\o/"));
    EXPECT_EQ(statement,
              QStringLiteral("do shell script \"echo \\\"a\\\\b\\\"\" with administrator privileges with prompt "
                             "\"Say \\\"hi\\\" \\\\o/\""));
}

TEST_F(PrivilegedRunTest, FailureOfTheScriptRunnerPassesThroughUnchanged) {
    ProcessRunner privileged(logger,
                             script(QStringLiteral("refusing"), QStringLiteral("echo 'User canceled.' >&2; exit 1\n")));
    try {
        test::waitFor(privileged.runWithAdminPrivileges(QStringLiteral("/bin/true"), {}, QStringLiteral("p")));
        FAIL() << "the privileged run succeeded";
    } catch (const InstallationError& error) {
        EXPECT_EQ(error, InstallationError::installationFailed(QStringLiteral("User canceled.\n")));
    }
    EXPECT_EQ(logger->criticalLines(), QStringList{QStringLiteral("[CRITICAL] User canceled.\n")});
}

} // namespace
} // namespace tarn
