// The privilege chain: osascript's statement parser on its own, the real executable with stand-ins for sudo
// and askpass, and the askpass dialog.
// That one grant serves a whole run through the real osascript is the services' one-prompt-per-run test.
#include "PackageToolSupport.h"
#include "askpass/PasswordDialog.h"
#include "osascript/ShellScriptStatement.h"
#include "services/ProcessRunner.h"

#include <QBuffer>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tarn::test {
namespace {

using osascript::parseShellScriptStatement;
using osascript::StatementError;
using ::testing::StartsWith;

// What the process runner writes must read back as exactly what it was given, whatever the text holds; a
// statement written by hand may differ in case, layout and escapes. Malformed scripts are syntax errors,
// every other statement is unsupported.
TEST(OsascriptStatement, ReadsWhatTheProcessRunnerWritesAndRefusesEveryOtherStatement) {
    const std::pair<const char*, const char*> cases[] = {
            {"echo \"q\" \"\" \\\"x\\\" \\n 'C:\\temp\\' \\\\\necho\ttwo\r", "Install \"Scan\" \\\" \\n\\\ntwo lines"},
            {"echo \" with administrator privileges with prompt \"", "Installer für „Scan“ \" with prompt \""},
    };
    for (const auto& [command, prompt] : cases) {
        const auto parsed = parseShellScriptStatement(
                ProcessRunner::adminScript(QString::fromUtf8(command), QString::fromUtf8(prompt)));
        EXPECT_EQ(parsed.command, QString::fromUtf8(command));
        EXPECT_EQ(parsed.prompt, QString::fromUtf8(prompt));
    }
    const auto parsed = parseShellScriptStatement(
            u"  DO Shell   script\t\"a\\tb\\nc\\rd\"\n with ADMINISTRATOR privileges with prompt\"p\\\\q\"  \n"_s);
    EXPECT_EQ(parsed.command, u"a\tb\nc\rd"_s);
    EXPECT_EQ(parsed.prompt, u"p\\q"_s);

    const QString privileges = u" with administrator privileges"_s;
    const QString prompt = u" with prompt \"p\""_s;
    const QString full = privileges + prompt;
    using Kind = StatementError::Kind;
    const std::pair<QString, Kind> refusals[] = {
            {u"do shell script \"never closed"_s + privileges + u" with prompt p"_s, Kind::syntax},
            {u"do shell script \"ends in a backslash\\"_s, Kind::syntax},
            {u"do shell script \"\\q\""_s + full, Kind::syntax},
            {u"do shell script \"a\" & \"b\""_s + full, Kind::syntax},
            {u"do shell script \"a\""_s + full + u" -- comment"_s, Kind::syntax},
            {QString(), Kind::unsupported},
            {u"do shell script \"id\""_s + privileges, Kind::unsupported},
            {u"do shell script \"id\""_s + full + prompt, Kind::unsupported},
            {u"do shell script \"id\""_s + prompt + privileges, Kind::unsupported},
            {u"do shell script id"_s + full, Kind::unsupported},
    };
    for (const auto& [statement, kind] : refusals) {
        SCOPED_TRACE(statement.toStdString());
        try {
            parseShellScriptStatement(statement);
            ADD_FAILURE() << "accepted";
        } catch (const StatementError& error) {
            EXPECT_EQ(error.kind(), kind);
            EXPECT_FALSE(error.reason().isEmpty());
            EXPECT_EQ(error.reason().contains(u"Only do shell script"_s), kind == Kind::unsupported);
        }
    }
}

QString privileged(const QString& commandLine, const QString& prompt = u"Install Scanner Suite"_s) {
    return ProcessRunner::adminScript(commandLine, prompt);
}

// The real osascript, without a system root; a sudo stand-in asks its askpass as the real one does, accepts
// only "secret", records its arguments one per line, and runs what follows "--".
class OsascriptTest : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    QString ran = scratch.filePath(u"ran"_s);
    QString touch = u"touch '"_s + ran + u'\'';
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    ToolRun osascript(const QStringList& arguments) const { return runTool(u"osascript"_s, arguments, environment); }

    void useSudoStandIn(const QString& askpassBody) {
        environment.remove(u"TARN_SYSTEM_ROOT"_s);
        environment.insert(u"TARN_SUDO"_s, writeScript(scratch, u"sudo"_s, uR"(
printf '%s\n' "$@" > '%1'
answer=$("$SUDO_ASKPASS" "$3")
if [ -z "$answer" ]; then echo "sudo: no password was provided" >&2; exit 1; fi
if [ "$answer" != secret ]; then echo "sudo: 1 incorrect password attempt" >&2; exit 1; fi
while [ "$1" != "--" ]; do shift; done; shift
exec "$@"
)"_s.arg(scratch.filePath(u"sudo-arguments"_s))));
        environment.insert(u"TARN_ASKPASS"_s, writeScript(scratch, u"askpass"_s, askpassBody));
    }
};

// A refused statement or a cancelled or wrong password runs nothing; a command's failure reports its message
// and status. A refusal is sudo's own answer, after the dialog's words when it was cancelled: the script
// runner has become sudo by then.
TEST_F(OsascriptTest, RunsThroughSudoWithTheEscapedPromptAndReportsRefusalsCancelsFailuresAndSignals) {
    const QString accept = u"echo secret\n"_s;
    const auto e = [](const QString& statement) { return QStringList{u"-e"_s, statement}; };
    const struct {
        QString askpass;
        QStringList arguments;
        int exitCode;
        std::string out;
        ::testing::Matcher<std::string> err;
    } cases[] = {
            {accept, e(privileged(u"echo partial; echo 'disk full' >&2; exit 3"_s)), 1, "",
             "execution error: disk full (3)\n"},
            {accept, e(privileged(u"exit 4"_s)), 1, "",
             "execution error: The command exited with a non-zero status. (4)\n"},
            {u"echo \"$TARN_ASKPASS_CANCEL_MESSAGE\" >&2\nexit 1\n"_s, e(privileged(touch)), 1, "",
             "execution error: User canceled. (-128)\nsudo: no password was provided\n"},
            {u"echo guess\n"_s, e(privileged(touch)), 1, "", "sudo: 1 incorrect password attempt\n"},
            {accept, e(u"do shell script \""_s + touch + u'"'), 1, "",
             "osascript: Only do shell script \"...\" with administrator privileges with prompt \"...\" is "
             "supported.\n"},
            {accept, e(privileged(touch) + u" & \"\""_s), 1, "", StartsWith("syntax error: ")},
            {accept, e(privileged(touch)) + e(privileged(touch)), 1, "", "usage: osascript -e STATEMENT\n"},
    };
    for (const auto& run : cases) {
        SCOPED_TRACE(run.arguments.join(u' ').toStdString());
        useSudoStandIn(run.askpass);

        const ToolRun result = osascript(run.arguments);

        EXPECT_EQ(result.exitCode, run.exitCode);
        EXPECT_EQ(result.out, run.out);
        EXPECT_THAT(result.err, run.err);
    }
    EXPECT_FALSE(QFile::exists(ran));

    useSudoStandIn(u"echo secret\n"_s);
    const QString command = u"echo elevated; "_s + touch;
    for (const bool withSystemRoot : {false, true}) {
        SCOPED_TRACE(withSystemRoot);
        QStringList expected = u"-A|-p|Install 100%% of \"Scan\"|--"_s.split(u'|');
        expected << QFileInfo(toolPath(u"osascript"_s)).canonicalFilePath() << u"--elevated"_s << command << QString();
        if (withSystemRoot) {
            environment.insert(u"TARN_SYSTEM_ROOT"_s, scratch.path());
            expected.insert(3, u"--preserve-env=TARN_SYSTEM_ROOT"_s);
        }
        QFile::remove(ran);

        const ToolRun run = osascript({u"-e"_s, privileged(command, u"Install 100% of \"Scan\""_s)});

        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "elevated\n");
        EXPECT_TRUE(QFile::exists(ran));
        EXPECT_EQ(QString::fromUtf8(readFile(scratch.filePath(u"sudo-arguments"_s))).split(u'\n'), expected);
    }
    // A privileged command that has started is waited for, whatever signal reaches the script runner (a
    // terminal's Ctrl+C reaches every process of the chain at once), and its status is the command's.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        QFile::remove(ran);
        const ProcessGate gate;
        const QString command = u"echo at > '%1'; cat '%1' > /dev/null; "_s.arg(gate.fifo()) + touch;

        const SignalledRun run =
                gate.runSignalled(toolPath(u"osascript"_s), {u"-e"_s, privileged(command)}, environment, signal);

        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(QFile::exists(ran));
    }
}

// OK answers the typed password once something is typed; Cancel answers nothing. Each answer is
// reported, so a caller of sudo can tell a cancel from a wrong password and from a prompt never shown.
TEST(AskpassDialog, AnswersThePasswordOnOkNothingOnCancelAndReportsEachAnswer) {
    const QString markup = u"Install Scanner Suite. <b>Enter</b> your password."_s;
    EXPECT_EQ(askpass::PasswordDialog(QString()).findChild<QLabel*>()->text(), u"Password:"_s);
    QTemporaryDir scratch;
    const QString reportFile = scratch.filePath(u"answers"_s);
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept);
        askpass::PasswordDialog dialog(markup);
        const auto* label = dialog.findChild<QLabel*>();
        auto* field = dialog.findChild<QLineEdit*>();
        auto* buttons = dialog.findChild<QDialogButtonBox*>();
        EXPECT_EQ(label->text(), markup);
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << "the prompt is text, never markup";
        EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        EXPECT_EQ(field->accessibleName(), u"Password"_s);
        dialog.show();
        EXPECT_FALSE(buttons->button(QDialogButtonBox::Ok)->isEnabled());
        field->setText(u"pä ss\"word"_s);
        ASSERT_TRUE(buttons->button(QDialogButtonBox::Ok)->isEnabled());
        buttons->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();

        QBuffer output;
        output.open(QIODevice::WriteOnly);
        EXPECT_EQ(askpass::answer(dialog, output, reportFile), accept ? 0 : 1);
        EXPECT_EQ(output.data(), accept ? u"pä ss\"word\n"_s.toUtf8() : QByteArray());
        EXPECT_EQ(askpass::answer(dialog, output, QString()), accept ? 0 : 1)
                << "without a report file, the same answer";
    }
    EXPECT_EQ(readFile(reportFile), QByteArray("answered\ncancelled\n"));
}

} // namespace
} // namespace tarn::test
