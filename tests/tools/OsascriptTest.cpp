// osascript's statement parser on its own, and the real executable with stand-ins for sudo and askpass.
#include "PackageToolSupport.h"
#include "osascript/ShellScriptStatement.h"
#include "services/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QFile>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

namespace tarn::test {
namespace {

using osascript::parseShellScriptStatement;
using osascript::StatementError;

// What the process runner writes must read back as exactly what it was given, whatever the text holds.
TEST(OsascriptStatement, ReadsBackWhatTheProcessRunnerWrote) {
    const struct {
        QString command;
        QString prompt;
    } cases[] = {
            {QStringLiteral("/usr/sbin/installer -pkg '/tmp/Scanner Suite.pkg' -target /"),
             QStringLiteral("The installer wants to install Scanner Suite.")},
            {QStringLiteral("echo \"quoted\" \"\""), QStringLiteral("Install \"Scan Pro\"")},
            {QStringLiteral("printf '%s\\n' 'C:\\temp\\' \\\\"), QStringLiteral("back\\slash\\")},
            {QStringLiteral("echo \\\"x\\\""), QStringLiteral("\\\"")},
            {QStringLiteral("echo \\n \\t \\r"), QStringLiteral("\\n")},
            {QStringLiteral("echo one\necho\ttwo\r"), QStringLiteral("two\nlines")},
            {QStringLiteral("echo \" with administrator privileges with prompt \""),
             QStringLiteral("\" with prompt \"")},
            {QString(), QStringLiteral("Installer für „Scan“ — 100 %")},
    };
    for (const auto& text : cases) {
        const auto parsed = parseShellScriptStatement(ProcessRunner::adminScript(text.command, text.prompt));
        EXPECT_EQ(parsed.command, text.command);
        EXPECT_EQ(parsed.prompt, text.prompt);
    }
}

TEST(OsascriptStatement, ReadsAppleScriptEscapesAndLayout) {
    const auto parsed = parseShellScriptStatement(QStringLiteral(
            "  DO Shell   script\t\"a\\tb\\nc\\rd\"\n with ADMINISTRATOR privileges with prompt\"p\\\\q\"  \n"));
    EXPECT_EQ(parsed.command, QStringLiteral("a\tb\nc\rd"));
    EXPECT_EQ(parsed.prompt, QStringLiteral("p\\q"));
}

TEST(OsascriptStatement, RefusesMalformedScriptsAsSyntaxErrorsAndEveryOtherStatementAsUnsupported) {
    const QString privileges = QStringLiteral(" with administrator privileges");
    const QString prompt = QStringLiteral(" with prompt \"p\"");
    const struct {
        QString statement;
        StatementError::Kind kind;
    } cases[] = {
            {QStringLiteral("do shell script \"never closed") + privileges + QStringLiteral(" with prompt p"),
             StatementError::Kind::syntax},
            {QStringLiteral("do shell script \"ends in a backslash\\"), StatementError::Kind::syntax},
            {QStringLiteral("do shell script \"\\q\"") + privileges + prompt, StatementError::Kind::syntax},
            {QStringLiteral("do shell script \"a\" & \"b\"") + privileges + prompt, StatementError::Kind::syntax},
            {QStringLiteral("do shell script \"a\"") + privileges + prompt + QStringLiteral(" -- comment"),
             StatementError::Kind::syntax},
            {QString(), StatementError::Kind::unsupported},
            {QStringLiteral("display dialog \"hello\""), StatementError::Kind::unsupported},
            {QStringLiteral("do shell script \"rm -rf /tmp/x\""), StatementError::Kind::unsupported},
            {QStringLiteral("do shell script \"id\"") + privileges, StatementError::Kind::unsupported},
            {QStringLiteral("do shell script \"id\"") + prompt + privileges, StatementError::Kind::unsupported},
            {QStringLiteral("do shell script \"id\"") + privileges + prompt + prompt,
             StatementError::Kind::unsupported},
            {QStringLiteral("do shell script id") + privileges + prompt, StatementError::Kind::unsupported},
            {QStringLiteral("doshell script \"id\"") + privileges + prompt, StatementError::Kind::unsupported},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.statement.toStdString());
        try {
            parseShellScriptStatement(refused.statement);
            ADD_FAILURE() << "accepted";
        } catch (const StatementError& error) {
            EXPECT_EQ(error.kind(), refused.kind);
            EXPECT_FALSE(error.reason().isEmpty());
            EXPECT_EQ(error.reason().contains(QStringLiteral("Only do shell script")),
                      refused.kind == StatementError::Kind::unsupported);
        }
    }
}

QString privileged(const QString& commandLine, const QString& prompt = QStringLiteral("Install Scanner Suite")) {
    return ProcessRunner::adminScript(commandLine, prompt);
}

// The real osascript; a sudo stand-in asks its askpass as the real one does, accepts only "secret",
// records its arguments one per line, and runs what follows "--".
class OsascriptTest : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    QString ran = scratch.filePath(QStringLiteral("ran"));
    QString touch = QStringLiteral("touch '") + ran + u'\'';
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    void SetUp() override {
        environment.remove(QStringLiteral("TARN_SUDO"));
        environment.remove(QStringLiteral("TARN_ASKPASS"));
        environment.remove(QStringLiteral("TARN_SYSTEM_ROOT"));
    }

    ToolRun osascript(const QStringList& arguments) const {
        return runTool(QStringLiteral("osascript"), arguments, environment);
    }

    void useSudoStandIn(const QString& askpassBody) {
        environment.insert(QStringLiteral("TARN_SUDO"),
                           writeScript(scratch, QStringLiteral("sudo"),
                                       QStringLiteral(R"(
printf '%s\n' "$@" > '%1'
answer=$("$SUDO_ASKPASS" "$3")
if [ -z "$answer" ]; then echo "sudo: no password was provided" >&2; exit 1; fi
if [ "$answer" != secret ]; then echo "sudo: 1 incorrect password attempt" >&2; exit 1; fi
while [ "$1" != "--" ]; do shift; done
shift
exec "$@"
)")
                                               .arg(scratch.filePath(QStringLiteral("sudo-arguments")))));
        environment.insert(QStringLiteral("TARN_ASKPASS"),
                           writeScript(scratch, QStringLiteral("askpass"), askpassBody));
    }

    QStringList sudoArguments() const {
        QStringList lines =
                QString::fromUtf8(readFile(scratch.filePath(QStringLiteral("sudo-arguments")))).split(u'\n');
        lines.removeLast();
        return lines;
    }
};

TEST_F(OsascriptTest, RootRunsTheCommandAtOnceAndReportsFailuresWithTheirStatus) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "runs without a prompt only as root";
    }
    const struct {
        QString command;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
            {QStringLiteral(R"sh(printf '%s|' 'two words' "dq\"inside" 'back\slash' "$((6 * 7))"; echo)sh"), 0,
             "two words|dq\"inside|back\\slash|42|\n", ""},
            {QStringLiteral("echo partial; echo 'disk full' >&2; exit 3"), 1, "", "execution error: disk full (3)\n"},
            {QStringLiteral("exit 4"), 1, "", "execution error: The command exited with a non-zero status. (4)\n"},
    };
    for (const auto& run : cases) {
        SCOPED_TRACE(run.command.toStdString());
        const ToolRun ran = osascript({QStringLiteral("-e"), privileged(run.command)});
        EXPECT_EQ(ran.exitCode, run.exitCode);
        EXPECT_EQ(ran.out, run.out);
        EXPECT_EQ(ran.err, run.err);
    }
}

TEST_F(OsascriptTest, RefusedStatementsRunNothing) {
    const struct {
        QStringList arguments;
        const char* error;
    } cases[] = {
            {{QStringLiteral("-e"), QStringLiteral("do shell script \"") + touch + u'"'},
             "osascript: Only do shell script"},
            {{QStringLiteral("-e"), privileged(touch) + QStringLiteral(" & \"\"")}, "syntax error: "},
            {{privileged(touch)}, "usage: osascript -e STATEMENT"},
            {{QStringLiteral("-e"), privileged(touch), QStringLiteral("-e"), privileged(touch)},
             "usage: osascript -e STATEMENT"},
    };
    for (const auto& refused : cases) {
        const ToolRun run = osascript(refused.arguments);
        EXPECT_EQ(run.exitCode, 1) << refused.error;
        EXPECT_THAT(run.err, ::testing::StartsWith(refused.error));
    }
    EXPECT_FALSE(QFile::exists(ran));
}

TEST_F(OsascriptTest, AsksThroughSudoWithTheEscapedPromptAndKeepsAnySystemRoot) {
    useSudoStandIn(QStringLiteral("echo secret\n"));
    const QString command = QStringLiteral("echo elevated; ") + touch;
    for (const bool withSystemRoot : {false, true}) {
        SCOPED_TRACE(withSystemRoot);
        if (withSystemRoot) {
            environment.insert(QStringLiteral("TARN_SYSTEM_ROOT"), scratch.path());
        }
        QStringList expected{QStringLiteral("-A"),
                             QStringLiteral("-p"),
                             QStringLiteral("Install 100%% of \"Scan\""),
                             QStringLiteral("--"),
                             QStringLiteral("/bin/sh"),
                             QStringLiteral("-c"),
                             command};
        if (withSystemRoot) {
            expected.insert(3, QStringLiteral("--preserve-env=TARN_SYSTEM_ROOT"));
        }
        QFile::remove(ran);

        const ToolRun run =
                osascript({QStringLiteral("-e"), privileged(command, QStringLiteral("Install 100% of \"Scan\""))});

        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "elevated\n");
        EXPECT_TRUE(QFile::exists(ran));
        EXPECT_EQ(sudoArguments(), expected);
    }
}

TEST_F(OsascriptTest, CancelledOrWrongPasswordsRunNothing) {
    const struct {
        QString askpass;
        std::string err;
    } cases[] = {
            {QStringLiteral(": > \"$TARN_ASKPASS_CANCEL_FILE\"\nexit 1\n"), "execution error: User canceled. (-128)\n"},
            {QStringLiteral("echo guess\n"), "execution error: sudo: 1 incorrect password attempt (1)\n"},
    };
    for (const auto& refused : cases) {
        useSudoStandIn(refused.askpass);

        const ToolRun run = osascript({QStringLiteral("-e"), privileged(touch)});

        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, refused.err);
        EXPECT_FALSE(QFile::exists(ran));
    }
}

} // namespace
} // namespace tarn::test
