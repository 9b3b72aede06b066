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
    const auto parsed = parseShellScriptStatement(
            u"  DO Shell   script\t\"a\\tb\\nc\\rd\"\n with ADMINISTRATOR privileges with prompt\"p\\\\q\"  \n"_s);
    EXPECT_EQ(parsed.command, u"a\tb\nc\rd"_s);
    EXPECT_EQ(parsed.prompt, u"p\\q"_s);
}

TEST(OsascriptStatement, RefusesMalformedScriptsAsSyntaxErrorsAndEveryOtherStatementAsUnsupported) {
    const QString privileges = u" with administrator privileges"_s;
    const QString prompt = u" with prompt \"p\""_s;
    const QString full = privileges + prompt;
    using Kind = StatementError::Kind;
    const struct {
        QString statement;
        Kind kind;
    } cases[] = {
            {u"do shell script \"never closed"_s + privileges + u" with prompt p"_s, Kind::syntax},
            {u"do shell script \"ends in a backslash\\"_s, Kind::syntax},
            {u"do shell script \"\\q\""_s + full, Kind::syntax},
            {u"do shell script \"a\" & \"b\""_s + full, Kind::syntax},
            {u"do shell script \"a\""_s + full + u" -- comment"_s, Kind::syntax},
            {QString(), Kind::unsupported},
            {u"display dialog \"hello\""_s, Kind::unsupported},
            {u"do shell script \"rm -rf /tmp/x\""_s, Kind::unsupported},
            {u"do shell script \"id\""_s + privileges, Kind::unsupported},
            {u"do shell script \"id\""_s + prompt + privileges, Kind::unsupported},
            {u"do shell script \"id\""_s + full + prompt, Kind::unsupported},
            {u"do shell script id"_s + full, Kind::unsupported},
            {u"doshell script \"id\""_s + full, Kind::unsupported},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.statement.toStdString());
        try {
            parseShellScriptStatement(refused.statement);
            ADD_FAILURE() << "accepted";
        } catch (const StatementError& error) {
            EXPECT_EQ(error.kind(), refused.kind);
            EXPECT_FALSE(error.reason().isEmpty());
            EXPECT_EQ(error.reason().contains(u"Only do shell script"_s), refused.kind == Kind::unsupported);
        }
    }
}

QString privileged(const QString& commandLine, const QString& prompt = u"Install Scanner Suite"_s) {
    return ProcessRunner::adminScript(commandLine, prompt);
}

// The real osascript; a sudo stand-in asks its askpass as the real one does, accepts only "secret",
// records its arguments one per line, and runs what follows "--".
class OsascriptTest : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    QString ran = scratch.filePath(u"ran"_s);
    QString touch = u"touch '"_s + ran + u'\'';
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    void SetUp() override {
        environment.remove(u"TARN_SUDO"_s);
        environment.remove(u"TARN_ASKPASS"_s);
        environment.remove(u"TARN_SYSTEM_ROOT"_s);
    }

    ToolRun osascript(const QStringList& arguments) const { return runTool(u"osascript"_s, arguments, environment); }

    void useSudoStandIn(const QString& askpassBody) {
        environment.insert(u"TARN_SUDO"_s, writeScript(scratch, u"sudo"_s, uR"(
printf '%s\n' "$@" > '%1'
answer=$("$SUDO_ASKPASS" "$3")
if [ -z "$answer" ]; then echo "sudo: no password was provided" >&2; exit 1; fi
if [ "$answer" != secret ]; then echo "sudo: 1 incorrect password attempt" >&2; exit 1; fi
while [ "$1" != "--" ]; do shift; done
shift
exec "$@"
)"_s.arg(scratch.filePath(u"sudo-arguments"_s))));
        environment.insert(u"TARN_ASKPASS"_s, writeScript(scratch, u"askpass"_s, askpassBody));
    }

    QStringList sudoArguments() const {
        QStringList lines = QString::fromUtf8(readFile(scratch.filePath(u"sudo-arguments"_s))).split(u'\n');
        lines.removeLast();
        return lines;
    }
};

TEST_F(OsascriptTest, RefusedStatementsRunNothing) {
    const struct {
        QStringList arguments;
        const char* error;
    } cases[] = {
            {{u"-e"_s, u"do shell script \""_s + touch + u'"'}, "osascript: Only do shell script"},
            {{u"-e"_s, privileged(touch) + u" & \"\""_s}, "syntax error: "},
            {{privileged(touch)}, "usage: osascript -e STATEMENT"},
            {{u"-e"_s, privileged(touch), u"-e"_s, privileged(touch)}, "usage: osascript -e STATEMENT"},
    };
    for (const auto& refused : cases) {
        EXPECT_THAT(osascript(refused.arguments), FailsWith(refused.error));
    }
    EXPECT_FALSE(QFile::exists(ran));
}

TEST_F(OsascriptTest, AsksThroughSudoWithTheEscapedPromptAndKeepsAnySystemRoot) {
    useSudoStandIn(u"echo secret\n"_s);
    const QString command = u"echo elevated; "_s + touch;
    for (const bool withSystemRoot : {false, true}) {
        SCOPED_TRACE(withSystemRoot);
        if (withSystemRoot) {
            environment.insert(u"TARN_SYSTEM_ROOT"_s, scratch.path());
        }
        QStringList expected = u"-A|-p|Install 100%% of \"Scan\"|--"_s.split(u'|');
        expected << QFileInfo(toolPath(u"osascript"_s)).canonicalFilePath() << u"--elevated"_s << command;
        if (withSystemRoot) {
            expected.insert(3, u"--preserve-env=TARN_SYSTEM_ROOT"_s);
        }
        QFile::remove(ran);

        const ToolRun run = osascript({u"-e"_s, privileged(command, u"Install 100% of \"Scan\""_s)});

        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "elevated\n");
        EXPECT_TRUE(QFile::exists(ran));
        EXPECT_EQ(sudoArguments(), expected);
    }
}

// A privileged command that has started is waited for, whatever signal reaches the script runner (a
// terminal's Ctrl+C reaches every process of the chain at once), and its status is the command's.
TEST_F(OsascriptTest, SignalledWhileTheCommandRunsItWaitsForIt) {
    useSudoStandIn(u"echo secret\n"_s);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        QFile::remove(ran);
        const ProcessGate gate;
        const QString fifo = u'\'' + gate.fifo() + u'\'';
        const QString command = u"echo at > %1; cat %1 > /dev/null; "_s.arg(fifo) + touch;

        const SignalledRun run =
                gate.runSignalled(toolPath(u"osascript"_s), {u"-e"_s, privileged(command)}, environment, signal);

        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(QFile::exists(ran));
    }
}

// A cancelled or wrong password runs nothing; a command's failure reports its message and status. A
// refusal is sudo's own answer, after the dialog's words when it was cancelled: the script runner has
// become sudo by then.
TEST_F(OsascriptTest, ReportsCancelWrongPasswordsAndFailuresWithTheirStatus) {
    const QString accept = u"echo secret\n"_s;
    const struct {
        QString askpass;
        QString command;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
            {accept, uR"sh(printf '%s|' 'two words' "dq\"inside" 'back\slash' "$((6 * 7))"; echo)sh"_s, 0,
             "two words|dq\"inside|back\\slash|42|\n", ""},
            {accept, u"echo partial; echo 'disk full' >&2; exit 3"_s, 1, "", "execution error: disk full (3)\n"},
            {accept, u"exit 4"_s, 1, "", "execution error: The command exited with a non-zero status. (4)\n"},
            {u"echo \"$TARN_ASKPASS_CANCEL_MESSAGE\" >&2\nexit 1\n"_s, touch, 1, "",
             "execution error: User canceled. (-128)\nsudo: no password was provided\n"},
            {u"echo guess\n"_s, touch, 1, "", "sudo: 1 incorrect password attempt\n"},
    };
    for (const auto& run : cases) {
        SCOPED_TRACE(run.command.toStdString());
        useSudoStandIn(run.askpass);

        const ToolRun result = osascript({u"-e"_s, privileged(run.command)});

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
        if (::geteuid() != 0 || !QFileInfo(u"/usr/bin/sudo"_s).isExecutable() ||
            QStandardPaths::findExecutable(u"useradd"_s).isEmpty() ||
            QStandardPaths::findExecutable(u"runuser"_s).isEmpty()) {
            GTEST_SKIP() << "needs root, sudo, useradd and runuser";
        }
        user = u"tarn-sudo-%1"_s.arg(QCoreApplication::applicationPid());
        rule = u"/etc/sudoers.d/"_s + user;
        if (run(u"useradd"_s, {u"-M"_s, u"-s"_s, u"/bin/sh"_s, user}) != 0) {
            user.clear();
            GTEST_SKIP() << "cannot create a user";
        }
        ASSERT_EQ(run(u"chpasswd"_s, {}, (user + u":tarn-secret-1\n"_s).toUtf8()), 0);
        QFile ruleFile(rule);
        ASSERT_TRUE(ruleFile.open(QIODevice::WriteOnly));
        ruleFile.write((user + u" ALL=(ALL:ALL) ALL\n"_s).toUtf8());
        ruleFile.close();
        ruleFile.setPermissions(QFile::ReadOwner | QFile::ReadGroup);
        ASSERT_TRUE(scratch.isValid());
        QFile::setPermissions(scratch.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
    }

    void TearDown() override {
        if (!user.isEmpty()) {
            // sudo -K drops the user's credential records, which outlive the user otherwise.
            run(u"runuser"_s, {u"-u"_s, user, u"--"_s, u"/usr/bin/sudo"_s, u"-K"_s});
        }
        QFile::remove(rule);
        if (!user.isEmpty()) {
            run(u"userdel"_s, {u"-f"_s, user});
        }
    }

    QString user;
    QString rule;
    QTemporaryDir scratch;
};

TEST_F(RealSudoTest, OneGrantServesThreePrivilegedCommandsOfTheSameParent) {
    const QString askpass = writeScript(scratch, u"askpass"_s,
                                        u"echo \"$1\" >> '%1/asked'\necho tarn-secret-1\n"_s.arg(scratch.path()));
    QFile::setPermissions(askpass,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    const QString osascript = QFileInfo(toolPath(u"osascript"_s)).canonicalFilePath();
    const QString statement = privileged(u"id -u >> '%1/ran'"_s.arg(scratch.path()));
    QString script =
            u"unset TARN_SUDO TARN_SYSTEM_ROOT; sudo -k; SUDO_ASKPASS='%1' sudo -A -p 'Up front' -v || exit 9\n"_s.arg(
                    askpass);
    for (int command = 0; command < 3; ++command) {
        script += u"TARN_ASKPASS='%1' '%2' -e \"$1\" || exit %3\n"_s.arg(askpass, osascript).arg(command + 1);
    }
    script += u"sudo -k\n"_s;

    // A session of its own, without a terminal, as a desktop application runs.
    const int status = run(u"runuser"_s, {u"-u"_s, user, u"--"_s, u"setsid"_s, u"-w"_s, u"/bin/sh"_s, u"-c"_s, script,
                                          u"sh"_s, statement});

    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(scratch.filePath(u"ran"_s)), QByteArray("0\n0\n0\n"));
    EXPECT_EQ(readFile(scratch.filePath(u"asked"_s)), QByteArray("Up front\n"));
}

} // namespace
} // namespace tarn::test
