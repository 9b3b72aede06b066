// osascript's statement parser on its own, and the real executable with stand-ins for sudo and askpass.
#include "PackageToolSupport.h"
#include "osascript/ShellScriptStatement.h"
#include "services/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace tarn::test {
namespace {

using osascript::parseShellScriptStatement;
using osascript::StatementError;

// What the process runner writes must read back as exactly what it was given, whatever the text holds.
TEST(OsascriptStatement, ReadsBackWhatTheProcessRunnerWrote) {
    const struct {
        const char* command;
        const char* prompt;
    } cases[] = {
            {"/usr/sbin/installer -pkg '/tmp/Scanner Suite.pkg' -target /", "The installer wants to install it."},
            {"echo \"quoted\" \"\"", "Install \"Scan Pro\""},
            {"printf '%s\\n' 'C:\\temp\\' \\\\", "back\\slash\\"},
            {"echo \\\"x\\\"", "\\\""},
            {"echo \\n \\t \\r", "\\n"},
            {"echo one\necho\ttwo\r", "two\nlines"},
            {"echo \" with administrator privileges with prompt \"", "\" with prompt \""},
            {"", "Installer für „Scan“ — 100 %"},
    };
    for (const auto& text : cases) {
        const QString command = QString::fromUtf8(text.command);
        const QString prompt = QString::fromUtf8(text.prompt);
        const auto parsed = parseShellScriptStatement(ProcessRunner::adminScript(command, prompt));
        EXPECT_EQ(parsed.command, command);
        EXPECT_EQ(parsed.prompt, prompt);
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
    const QString full = privileges + prompt;
    using Kind = StatementError::Kind;
    const struct {
        QString statement;
        Kind kind;
    } cases[] = {
            {QStringLiteral("do shell script \"never closed") + privileges + QStringLiteral(" with prompt p"),
             Kind::syntax},
            {QStringLiteral("do shell script \"ends in a backslash\\"), Kind::syntax},
            {QStringLiteral("do shell script \"\\q\"") + full, Kind::syntax},
            {QStringLiteral("do shell script \"a\" & \"b\"") + full, Kind::syntax},
            {QStringLiteral("do shell script \"a\"") + full + QStringLiteral(" -- comment"), Kind::syntax},
            {QString(), Kind::unsupported},
            {QStringLiteral("display dialog \"hello\""), Kind::unsupported},
            {QStringLiteral("do shell script \"rm -rf /tmp/x\""), Kind::unsupported},
            {QStringLiteral("do shell script \"id\"") + privileges, Kind::unsupported},
            {QStringLiteral("do shell script \"id\"") + prompt + privileges, Kind::unsupported},
            {QStringLiteral("do shell script \"id\"") + full + prompt, Kind::unsupported},
            {QStringLiteral("do shell script id") + full, Kind::unsupported},
            {QStringLiteral("doshell script \"id\"") + full, Kind::unsupported},
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
                      refused.kind == Kind::unsupported);
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
        EXPECT_THAT(osascript(refused.arguments), FailsWith(refused.error));
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
        QStringList expected = QStringLiteral("-A|-p|Install 100%% of \"Scan\"|--").split(u'|');
        expected << QFileInfo(QStringLiteral(TARN_TOOLS_DIR "/osascript")).canonicalFilePath()
                 << QStringLiteral("--elevated") << command;
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

// A privileged command that has started is waited for, whatever signal reaches the script runner (a
// terminal's Ctrl+C reaches every process of the chain at once), and its status is the command's.
TEST_F(OsascriptTest, SignalledWhileTheCommandRunsItWaitsForIt) {
    useSudoStandIn(QStringLiteral("echo secret\n"));
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        QFile::remove(ran);
        const ProcessGate gate;
        const QString fifo = u'\'' + gate.fifo() + u'\'';
        const QString command = QStringLiteral("echo at > %1; cat %1 > /dev/null; ").arg(fifo) + touch;

        const SignalledRun run = gate.runSignalled(toolPath(QStringLiteral("osascript")),
                                                   {QStringLiteral("-e"), privileged(command)}, environment, signal);

        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(QFile::exists(ran));
    }
}

// A cancelled or wrong password runs nothing; a command's failure reports its message and status. A
// refusal is sudo's own answer, after the dialog's words when it was cancelled: the script runner has
// become sudo by then.
TEST_F(OsascriptTest, ReportsCancelWrongPasswordsAndFailuresWithTheirStatus) {
    const QString accept = QStringLiteral("echo secret\n");
    const struct {
        QString askpass;
        QString command;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
            {accept, QStringLiteral(R"sh(printf '%s|' 'two words' "dq\"inside" 'back\slash' "$((6 * 7))"; echo)sh"), 0,
             "two words|dq\"inside|back\\slash|42|\n", ""},
            {accept, QStringLiteral("echo partial; echo 'disk full' >&2; exit 3"), 1, "",
             "execution error: disk full (3)\n"},
            {accept, QStringLiteral("exit 4"), 1, "",
             "execution error: The command exited with a non-zero status. (4)\n"},
            {QStringLiteral("echo \"$TARN_ASKPASS_CANCEL_MESSAGE\" >&2\nexit 1\n"), touch, 1, "",
             "execution error: User canceled. (-128)\nsudo: no password was provided\n"},
            {QStringLiteral("echo guess\n"), touch, 1, "", "sudo: 1 incorrect password attempt\n"},
    };
    for (const auto& run : cases) {
        SCOPED_TRACE(run.command.toStdString());
        useSudoStandIn(run.askpass);

        const ToolRun result = osascript({QStringLiteral("-e"), privileged(run.command)});

        EXPECT_EQ(result.exitCode, run.exitCode);
        EXPECT_EQ(result.out, run.out);
        EXPECT_EQ(result.err, run.err);
    }
    EXPECT_FALSE(QFile::exists(ran));
}

// The real sudo of this system, as an ordinary user with its own password and a sudoers rule: a grant
// made up front serves three privileged commands run by the script runner from the same parent, so
// the dialog is asked once. Needs root (to make the user) and sudo; skipped otherwise. The user and
// the rule are removed whatever happens.
class RealSudoTest : public ::testing::Test {
protected:
    static int run(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
        QProcess process;
        process.start(program, arguments);
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished(60'000);
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    void SetUp() override {
        if (::geteuid() != 0 || !QFileInfo(QStringLiteral("/usr/bin/sudo")).isExecutable() ||
            QStandardPaths::findExecutable(QStringLiteral("useradd")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty()) {
            GTEST_SKIP() << "needs root, sudo, useradd and runuser";
        }
        user = QStringLiteral("tarn-sudo-%1").arg(QCoreApplication::applicationPid());
        rule = QStringLiteral("/etc/sudoers.d/") + user;
        if (run(QStringLiteral("useradd"),
                {QStringLiteral("-M"), QStringLiteral("-s"), QStringLiteral("/bin/sh"), user}) != 0) {
            user.clear();
            GTEST_SKIP() << "cannot create a user";
        }
        ASSERT_EQ(run(QStringLiteral("chpasswd"), {}, (user + QStringLiteral(":tarn-secret-1\n")).toUtf8()), 0);
        QFile ruleFile(rule);
        ASSERT_TRUE(ruleFile.open(QIODevice::WriteOnly));
        ruleFile.write((user + QStringLiteral(" ALL=(ALL:ALL) ALL\n")).toUtf8());
        ruleFile.close();
        ruleFile.setPermissions(QFile::ReadOwner | QFile::ReadGroup);
        ASSERT_TRUE(scratch.isValid());
        QFile::setPermissions(scratch.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
    }

    void TearDown() override {
        if (!user.isEmpty()) {
            // sudo -K drops the user's credential records, which outlive the user otherwise.
            run(QStringLiteral("runuser"), {QStringLiteral("-u"), user, QStringLiteral("--"),
                                            QStringLiteral("/usr/bin/sudo"), QStringLiteral("-K")});
        }
        QFile::remove(rule);
        if (!user.isEmpty()) {
            run(QStringLiteral("userdel"), {QStringLiteral("-f"), user});
        }
    }

    QString user;
    QString rule;
    QTemporaryDir scratch;
};

TEST_F(RealSudoTest, OneGrantServesThreePrivilegedCommandsOfTheSameParent) {
    const QString askpass =
            writeScript(scratch, QStringLiteral("askpass"),
                        QStringLiteral("echo \"$1\" >> '%1/asked'\necho tarn-secret-1\n").arg(scratch.path()));
    QFile::setPermissions(askpass,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    const QString osascript = QFileInfo(QStringLiteral(TARN_TOOLS_DIR "/osascript")).canonicalFilePath();
    const QString statement = privileged(QStringLiteral("id -u >> '%1/ran'").arg(scratch.path()));
    QString script =
            QStringLiteral(
                    "unset TARN_SUDO TARN_SYSTEM_ROOT; sudo -k; SUDO_ASKPASS='%1' sudo -A -p 'Up front' -v || exit 9\n")
                    .arg(askpass);
    for (int command = 0; command < 3; ++command) {
        script += QStringLiteral("TARN_ASKPASS='%1' '%2' -e \"$1\" || exit %3\n")
                          .arg(askpass, osascript)
                          .arg(command + 1);
    }
    script += QStringLiteral("sudo -k\n");

    // A session of its own, without a terminal, as a desktop application runs.
    const int status =
            run(QStringLiteral("runuser"),
                {QStringLiteral("-u"), user, QStringLiteral("--"), QStringLiteral("setsid"), QStringLiteral("-w"),
                 QStringLiteral("/bin/sh"), QStringLiteral("-c"), script, QStringLiteral("sh"), statement});

    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(scratch.filePath(QStringLiteral("ran"))), QByteArray("0\n0\n0\n"));
    EXPECT_EQ(readFile(scratch.filePath(QStringLiteral("asked"))), QByteArray("Up front\n"));
}

} // namespace
} // namespace tarn::test
