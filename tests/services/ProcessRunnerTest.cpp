#include "services/ProcessRunner.h"

#include "ServicesTestSupport.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {

using namespace Qt::StringLiterals;
namespace {

using ::testing::ElementsAre;

class ProcessRunnerTest : public ::testing::Test {
protected:
    QString script(const QString& body) { return writeScript(scripts, u"tool-%1"_s.arg(++scriptCount), body); }

    int scriptCount = 0;
    QTemporaryDir scripts;
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    ProcessRunner runner{logger, QString()};
};

TEST_F(ProcessRunnerTest, SuccessAnswersStandardOutputAndPassesArgumentsVerbatim) {
    const QString tool = script(u"for a in \"$@\"; do printf '<%s>' \"$a\"; done; echo noise >&2\n"_s);
    const QStringList arguments{u"two words"_s, u"it's \"quoted\""_s, QString(), u"$HOME;`x`"_s};
    EXPECT_EQ(test::waitFor(runner.runProcess(tool, arguments)),
              QByteArray("<two words><it's \"quoted\"><><$HOME;`x`>"));
    const QString silent = script(u"exit 0\n"_s);
    EXPECT_EQ(test::waitFor(runner.runProcess(silent, {})), QByteArray());

    // The log joins the arguments with spaces; an empty list still leaves the separating space.
    EXPECT_THAT(logger->lines(),
                ElementsAre(u"[INFO] Executing '"_s + tool + u" two words it's \"quoted\"  $HOME;`x`'"_s,
                            u"[INFO] Executing '"_s + silent + u" '"_s));
}

TEST_F(ProcessRunnerTest, FailingChildIsInstallationFailedWithStandardErrorLoggedAsCriticalUnlessItNeverStarts) {
    const std::tuple<const char*, QString> cases[] = {
            {"echo partial; printf '  No receipt\\n' >&2; exit 3\n", u"  No receipt\n"_s},
            {"exit 1\n", QString()},
            {"printf 'bad \\377\\376 bytes' >&2; exit 2\n", u"Unknown error"_s},
            {"echo dying >&2; kill -9 $$\n", u"dying\n"_s},
    };
    for (const auto& [body, text] : cases) {
        SCOPED_TRACE(body);
        logger->clear();
        EXPECT_EQ(failureOf<InstallationError>(runner.runProcess(script(QString::fromLatin1(body)), {})),
                  InstallationError::installationFailed(text));
        EXPECT_THAT(logger->criticalLines(), ElementsAre(u"[CRITICAL] "_s + text));
    }
    logger->clear(); // one that cannot start raises the platform's error and logs nothing more
    const QString missing = scripts.filePath(u"does-not-exist"_s);
    EXPECT_TRUE(failureOf<SystemError>(runner.runProcess(missing, {u"a"_s})));
    EXPECT_THAT(logger->lines(), ElementsAre(u"[INFO] Executing '"_s + missing + u" a'"_s));
}

TEST_F(ProcessRunnerTest, LargeOutputOnBothPipesAtOnceIsCapturedWhole) {
    // 8 MiB on each pipe, interleaved: a reader that drained one pipe first would deadlock here.
    const QString flood = script(u"i=0; while [ $i -lt 128 ]; do\n"
                                 "  head -c 65536 /dev/zero | tr '\\0' 'o'\n"
                                 "  head -c 65536 /dev/zero | tr '\\0' 'e' >&2\n"
                                 "  i=$((i+1)); done\nexit $1\n"_s);
    EXPECT_EQ(test::waitFor(runner.runProcess(flood, {u"0"_s})), QByteArray(8 << 20, 'o'));
    EXPECT_EQ(failureOf<InstallationError>(runner.runProcess(flood, {u"9"_s})),
              InstallationError::installationFailed(QString(8 << 20, u'e')));
}

TEST_F(ProcessRunnerTest, PrivilegedRunHandsAnEscapedStatementToTheScriptRunner) {
    // Stands in for the script runner: echoes its arguments one per line.
    const QString scriptRunner = script(u"for a in \"$@\"; do printf '%s\\n' \"$a\"; done\n"_s);
    ProcessRunner privileged(logger, scriptRunner);
    const auto output = test::waitFor(privileged.runWithAdminPrivileges(
            u"/usr/sbin/installer"_s, {u"-pkg"_s, u"'/tmp/\"My\" App\\.pkg'"_s}, u"Say \"hi\" \\o/"_s));

    const QString statement = u"do shell script \"/usr/sbin/installer -pkg '/tmp/\\\"My\\\" App\\\\.pkg'\" "
                              "with administrator privileges with prompt \"Say \\\"hi\\\" \\\\o/\""_s;
    EXPECT_EQ(output, (u"-e\n"_s + statement + u'\n').toUtf8());
    EXPECT_THAT(logger->lines(), ElementsAre(u"[INFO] Executing '"_s + statement + u'\'',
                                             u"[INFO] Executing '"_s + scriptRunner + u" -e "_s + statement + u'\''));
}

// The case number is what the user sees, wherever the error is described; debug text escapes its detail.
TEST(InstallationError, DescriptionsNameTheCaseNumberAndDebugTextEscapesTheDetail) {
    using enum InstallationError::Case;
    const InstallationError::Case cases[] = {
            unableToMountDMG,  pkgNotFound,  installationFailed, unmountFailed, unsupportedFileExtension, mismatchHash,
            mismatchSignature, invalidInput, invalidPath,        invalidUrl,    noProcessOutput};
    for (int number = 0; number < std::ssize(cases); ++number) {
        const InstallationError error(cases[number], {});
        const QString expected = test::genericDescription(number);
        EXPECT_EQ(error.localizedDescription(), expected);
        EXPECT_EQ(localizedDescription(std::make_exception_ptr(error)), expected);
        EXPECT_EQ(QString::fromUtf8(error.what()), expected);
    }
    EXPECT_EQ(localizedDescription(std::make_exception_ptr(std::runtime_error("plain"))), u"plain"_s);
    EXPECT_EQ(InstallationError::pkgNotFound(u"No PKG in '/V/\"X\"'"_s).debugDescription(),
              u"pkgNotFound(\"No PKG in '/V/\\\"X\\\"'\")"_s);
    EXPECT_EQ(debugDescription(std::make_exception_ptr(InstallationError::installationFailed(u"a\\b\nc"_s))),
              u"installationFailed(\"a\\\\b\\nc\")"_s);
}

} // namespace
} // namespace tarn::test
