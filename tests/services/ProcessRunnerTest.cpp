#include "services/ProcessRunner.h"

#include "ServicesTestSupport.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {
namespace {

using ::testing::ElementsAre;

class ProcessRunnerTest : public ::testing::Test {
protected:
    QString script(const QString& body) {
        return writeScript(scripts, QStringLiteral("tool-%1").arg(++scriptCount), body);
    }

    int scriptCount = 0;
    QTemporaryDir scripts;
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    ProcessRunner runner{logger, QString()};
};

TEST_F(ProcessRunnerTest, SuccessAnswersStandardOutputAndPassesArgumentsVerbatim) {
    const QString tool = script(QStringLiteral("for a in \"$@\"; do printf '<%s>' \"$a\"; done; echo noise >&2\n"));
    const QStringList arguments{QStringLiteral("two words"), QStringLiteral("it's \"quoted\""), QString(),
                                QStringLiteral("$HOME;`x`")};
    EXPECT_EQ(test::waitFor(runner.runProcess(tool, arguments)),
              QByteArray("<two words><it's \"quoted\"><><$HOME;`x`>"));
    const QString silent = script(QStringLiteral("exit 0\n"));
    EXPECT_EQ(test::waitFor(runner.runProcess(silent, {})), QByteArray());

    // The log joins the arguments with spaces; an empty list still leaves the separating space.
    EXPECT_THAT(logger->lines(), ElementsAre(QStringLiteral("[INFO] Executing '") + tool +
                                                     QStringLiteral(" two words it's \"quoted\"  $HOME;`x`'"),
                                             QStringLiteral("[INFO] Executing '") + silent + QStringLiteral(" '")));
}

TEST_F(ProcessRunnerTest, FailingChildIsInstallationFailedWithStandardErrorLoggedAsCritical) {
    const struct {
        const char* body;
        QString text;
    } cases[] = {
            {"echo partial; printf '  No receipt\\n' >&2; exit 3\n", QStringLiteral("  No receipt\n")},
            {"exit 1\n", QString()},
            {"printf 'bad \\377\\376 bytes' >&2; exit 2\n", QStringLiteral("Unknown error")},
            {"echo dying >&2; kill -9 $$\n", QStringLiteral("dying\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        logger->clear();
        EXPECT_EQ(failureOf<InstallationError>(runner.runProcess(script(QString::fromLatin1(c.body)), {})),
                  InstallationError::installationFailed(c.text));
        EXPECT_THAT(logger->criticalLines(), ElementsAre(QStringLiteral("[CRITICAL] ") + c.text));
    }
}

TEST_F(ProcessRunnerTest, ExecutableThatCannotStartRaisesThePlatformErrorAndLogsNothingMore) {
    const QString missing = scripts.filePath(QStringLiteral("does-not-exist"));
    EXPECT_TRUE(failureOf<SystemError>(runner.runProcess(missing, {QStringLiteral("a")})));
    EXPECT_THAT(logger->lines(), ElementsAre(QStringLiteral("[INFO] Executing '") + missing + QStringLiteral(" a'")));
}

TEST_F(ProcessRunnerTest, LargeOutputOnBothPipesAtOnceIsCapturedWhole) {
    // 8 MiB on each pipe, interleaved: a reader that drained one pipe first would deadlock here.
    const QString flood = script(QStringLiteral("i=0; while [ $i -lt 128 ]; do\n"
                                                "  head -c 65536 /dev/zero | tr '\\0' 'o'\n"
                                                "  head -c 65536 /dev/zero | tr '\\0' 'e' >&2\n"
                                                "  i=$((i+1)); done\nexit $1\n"));
    const auto output = test::waitFor(runner.runProcess(flood, {QStringLiteral("0")}));
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output->size(), 8 * 1024 * 1024);
    EXPECT_EQ(output->count('o'), output->size());

    const auto failure = failureOf<InstallationError>(runner.runProcess(flood, {QStringLiteral("9")}));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->text(), QString(8 * 1024 * 1024, u'e'));
}

TEST_F(ProcessRunnerTest, PrivilegedRunHandsAnEscapedStatementToTheScriptRunner) {
    // Stands in for the script runner: echoes its arguments one per line.
    const QString scriptRunner = script(QStringLiteral("for a in \"$@\"; do printf '%s\\n' \"$a\"; done\n"));
    ProcessRunner privileged(logger, scriptRunner);
    const auto output = test::waitFor(privileged.runWithAdminPrivileges(
            QStringLiteral("/usr/sbin/installer"), {QStringLiteral("-pkg"), QStringLiteral("'/tmp/\"My\" App\\.pkg'")},
            QStringLiteral("Say \"hi\" \\o/")));

    const QString statement =
            QStringLiteral("do shell script \"/usr/sbin/installer -pkg '/tmp/\\\"My\\\" App\\\\.pkg'\" "
                           "with administrator privileges with prompt \"Say \\\"hi\\\" \\\\o/\"");
    EXPECT_EQ(output, (QStringLiteral("-e\n") + statement + u'\n').toUtf8());
    EXPECT_THAT(logger->lines(), ElementsAre(QStringLiteral("[INFO] Executing '") + statement + u'\'',
                                             QStringLiteral("[INFO] Executing '") + scriptRunner +
                                                     QStringLiteral(" -e ") + statement + u'\''));
}

} // namespace
} // namespace tarn::test
