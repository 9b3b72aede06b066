#include "osascript/ShellScriptStatement.h"
#include "services/ProcessRunner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarn::osascript {
namespace {

using ::testing::HasSubstr;

struct RoundTrip {
    const char* name;
    QString command;
    QString prompt;
};

void PrintTo(const RoundTrip& roundTrip, std::ostream* out) {
    *out << roundTrip.name;
}

class OsascriptStatementRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

// What the process runner writes must read back as exactly what it was given, whatever the text holds.
TEST_P(OsascriptStatementRoundTrip, ReadsBackWhatTheProcessRunnerWrote) {
    const QString statement = ProcessRunner::adminScript(GetParam().command, GetParam().prompt);

    const ShellScriptStatement parsed = parseShellScriptStatement(statement);

    EXPECT_EQ(parsed.command, GetParam().command);
    EXPECT_EQ(parsed.prompt, GetParam().prompt);
}

INSTANTIATE_TEST_SUITE_P(
        Texts, OsascriptStatementRoundTrip,
        ::testing::Values(
                RoundTrip{"PlainInstall", QStringLiteral("/usr/sbin/installer -pkg '/tmp/Scanner Suite.pkg' -target /"),
                          QStringLiteral("The installer wants to install Scanner Suite.")},
                RoundTrip{"DoubleQuotes", QStringLiteral("echo \"quoted\" \"\""),
                          QStringLiteral("Install \"Scan Pro\"")},
                RoundTrip{"Backslashes", QStringLiteral("printf '%s\\n' 'C:\\temp\\' \\\\"),
                          QStringLiteral("back\\slash\\")},
                RoundTrip{"QuoteAfterBackslash", QStringLiteral("echo \\\"x\\\""), QStringLiteral("\\\"")},
                RoundTrip{"EscapeLettersStayLetters", QStringLiteral("echo \\n \\t \\r"), QStringLiteral("\\n")},
                RoundTrip{"LineBreaksAndTabs", QStringLiteral("echo one\necho\ttwo\r"), QStringLiteral("two\nlines")},
                RoundTrip{"KeywordsInsideStrings",
                          QStringLiteral("echo \" with administrator privileges with prompt \""),
                          QStringLiteral("\" with prompt \"")},
                RoundTrip{"EmptyAndUnicode", QString(), QStringLiteral("Installer für „Scan“ — 100 %")}),
        [](const auto& info) { return std::string(info.param.name); });

TEST(OsascriptStatement, ReadsAppleScriptEscapesAndLayout) {
    const auto parsed = parseShellScriptStatement(QStringLiteral(
            "  DO Shell   script\t\"a\\tb\\nc\\rd\"\n with ADMINISTRATOR privileges with prompt\"p\\\\q\"  \n"));
    EXPECT_EQ(parsed.command, QStringLiteral("a\tb\nc\rd"));
    EXPECT_EQ(parsed.prompt, QStringLiteral("p\\q"));
}

TEST(OsascriptStatement, RefusesMalformedScriptsAsSyntaxErrors) {
    const QStringList malformed{
            QStringLiteral("do shell script \"never closed with administrator privileges with prompt p"),
            QStringLiteral("do shell script \"ends in a backslash\\"),
            QStringLiteral("do shell script \"\\q\" with administrator privileges with prompt \"p\""),
            QStringLiteral("do shell script \"a\" & \"b\" with administrator privileges with prompt \"p\""),
            QStringLiteral("do shell script \"a\" with administrator privileges with prompt \"p\" -- comment"),
    };
    for (const QString& statement : malformed) {
        try {
            parseShellScriptStatement(statement);
            ADD_FAILURE() << "accepted: " << statement.toStdString();
        } catch (const StatementError& error) {
            EXPECT_EQ(error.kind(), StatementError::Kind::syntax) << statement.toStdString();
            EXPECT_FALSE(error.reason().isEmpty());
        }
    }
}

TEST(OsascriptStatement, RefusesEveryOtherStatement) {
    const QStringList others{
            QString(),
            QStringLiteral("display dialog \"hello\""),
            QStringLiteral("do shell script \"rm -rf /tmp/x\""),
            QStringLiteral("do shell script \"id\" with administrator privileges"),
            QStringLiteral("do shell script \"id\" with prompt \"p\" with administrator privileges"),
            QStringLiteral("do shell script \"id\" with administrator privileges with prompt \"p\" with prompt \"q\""),
            QStringLiteral("do shell script id with administrator privileges with prompt \"p\""),
            QStringLiteral("doshell script \"id\" with administrator privileges with prompt \"p\""),
    };
    for (const QString& statement : others) {
        try {
            parseShellScriptStatement(statement);
            ADD_FAILURE() << "accepted: " << statement.toStdString();
        } catch (const StatementError& error) {
            EXPECT_EQ(error.kind(), StatementError::Kind::unsupported) << statement.toStdString();
            EXPECT_THAT(error.reason().toStdString(), HasSubstr("Only do shell script"));
        }
    }
}

} // namespace
} // namespace tarn::osascript
