#include "services/SystemPermissionsManager.h"

#include "ServicesTestSupport.h"
#include "services/InstallerHelper.h"
#include "services/ProcessRunner.h"
#include "support/Mocks.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <sys/stat.h>

namespace tarn::test {

using namespace Qt::StringLiterals;
namespace {

using ::testing::_;
using ::testing::An;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Stand-ins for Debian's sudo and the password dialog, with '%1' filled with the state folder.
QString standIn(const QTemporaryDir& state, const char* name) {
    const QString text = QString::fromUtf8(
            readFile(QStringLiteral(TARN_TEST_SOURCE_DIR "/services/stand-ins/") + QLatin1String(name) + u".sh"_s));
    return writeScript(state, QLatin1String(name), text.arg(state.path()));
}

class SystemPermissionsManagerTest : public ::testing::Test {
protected:
    QStringList linesOf(const char* name) const {
        return QString::fromUtf8(readFile(state.filePath(QString::fromLatin1(name)))).split(u'\n', Qt::SkipEmptyParts);
    }
    QStringList log() const { return linesOf("log"); }
    QStringList prompts() const { return linesOf("prompts"); }
    // "PARENT MODE ..." as the sudo stand-in logs it for a call made by this process.
    static QString byThisProcess(const char* what) {
        return u"%1 %2"_s.arg(QCoreApplication::applicationPid()).arg(QLatin1String(what));
    }

    QTemporaryDir state;
    QString sudo = standIn(state, "sudo");
    QString askpass = standIn(state, "askpass");
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
};

// Each way of not getting the rights is told apart, and logged once with its status.
TEST_F(SystemPermissionsManagerTest, TellsCancelWrongPasswordNotPermittedAndUnavailableApart) {
    const QString missing = state.filePath(u"missing"_s);
    const QString plainFile = state.filePath(u"plain-file"_s);
    ASSERT_TRUE(writeFile(plainFile, "#!/bin/sh\nexit 0\n"));
    using enum AdminRights;
    // The state file written (holding the answer), the rights, the prompts, the line after "[CRITICAL] Authorization ".
    const std::tuple<const char*, const char*, QByteArray, AdminRights, qsizetype, const char*, QString, QString>
            cases[] = {
                    {"cancelled", "answer", "", cancelled, 1, "copy rights failed: 1", sudo, askpass},
                    {"wrong three times", "answer", "guess", wrongPassword, 3, "copy rights failed: 1", sudo, askpass},
                    {"not in sudoers", "refuse", {}, notPermitted, 0, "copy rights failed: 1", sudo, askpass},
                    {"killed", "die", {}, failed, 0, "copy rights failed: 143", sudo, askpass},
                    {"no sudo", nullptr, {}, unavailable, 0, "create failed: 127", missing, askpass},
                    {"sudo not executable", nullptr, {}, unavailable, 0, "create failed: 126", plainFile, askpass},
                    {"no dialog", nullptr, {}, unavailable, 0, "create failed: 127", sudo, missing},
            };
    for (const auto& [situation, marker, answer, rights, promptCount, line, sudoPath, askpassPath] : cases) {
        SCOPED_TRACE(situation);
        for (const char* name : {"answer", "refuse", "die", "prompts"}) {
            QFile::remove(state.filePath(QString::fromLatin1(name)));
        }
        ASSERT_TRUE(!marker || writeFile(state.filePath(QString::fromLatin1(marker)), answer));
        logger->clear();

        EXPECT_EQ(test::waitFor(SystemPermissionsManager(logger, sudoPath, askpassPath).requestAdminPrivileges()),
                  rights);
        EXPECT_THAT(prompts(), ::testing::SizeIs(promptCount));
        EXPECT_THAT(logger->lines(), ElementsAre(u"[CRITICAL] Authorization "_s + QLatin1String(line)));
    }
}

// The real chain of a run: one grant through the dialog, asked while the event loop keeps turning, then each
// privileged install goes through the script runner to sudo as a child of this process, runs on that grant, and
// hands the installer the package path as one argument whatever the shell makes of its characters. A grant is
// released only after a request, and the manager lets its last release finish.
TEST_F(SystemPermissionsManagerTest, OneGrantCarriesEveryPrivilegedInstallWithItsPathAsOneArgument) {
    qputenv("TARN_SUDO", QFile::encodeName(sudo));
    qputenv("TARN_ASKPASS", QFile::encodeName(askpass));
    const auto restore = qScopeGuard([] { qunsetenv("TARN_SUDO"), qunsetenv("TARN_ASKPASS"); });
    DisclaimerTranslator translator;
    const QString installer =
            writeScript(state, u"installer"_s, u"printf '%s\\n' \"$2\" >> '%1/installed'\n"_s.arg(state.path()));
    const auto toolLogger = std::make_shared<RecordingLogger>();
    auto runner = std::make_shared<ProcessRunner>(toolLogger, QStringLiteral(TARN_TOOLS_DIR "/osascript"));
    auto validator = std::make_shared<::testing::NiceMock<MockInstallerValidator>>();
    ON_CALL(*validator, validateHash(An<QString>(), An<QString>())).WillByDefault(ReturnVoidTask());
    ON_CALL(*validator, validateSignature(An<QString>(), _)).WillByDefault(ReturnVoidTask());
    const auto helper = std::make_shared<InstallerHelper>(toolLogger, runner, validator, u"/bin/false"_s, installer);
    const QStringList packages{u"/tmp/Scan 'Pro' \"v2\" $HOME `id` \\ it's.pkg"_s, u"/tmp/B.pkg"_s};
    ASSERT_EQ(::mkfifo(QFile::encodeName(state.filePath(u"fifo"_s)).constData(), 0600), 0);
    {
        SystemPermissionsManager permissions(logger, sudo, askpass);
        permissions.releaseAuthorization(); // nothing to release yet
        auto request = permissions.requestAdminPrivileges();
        // A request that blocked this thread would never let the dialog open.
        ASSERT_TRUE(processEventsUntil([&] { return QFile::exists(state.filePath(u"open"_s)); }));
        EXPECT_FALSE(request.isReady()) << "still waiting for the dialog";
        ASSERT_TRUE(writeFile(state.filePath(u"fifo"_s), "secret\n"));
        QFile::remove(state.filePath(u"fifo"_s));
        ASSERT_EQ(test::waitFor(std::move(request)), AdminRights::granted);
        for (const QString& package : packages) {
            test::waitFor(helper->install(package, u"Scan"_s, u"00"_s, {}));
        }
        permissions.releaseAuthorization();
        ASSERT_TRUE(processEventsUntil([&] { return log().size() == 4; }));
        EXPECT_EQ(test::waitFor(permissions.requestAdminPrivileges()), AdminRights::granted);
        permissions.releaseAuthorization();
    }
    EXPECT_EQ(linesOf("installed"), packages);
    EXPECT_THAT(log(),
                ElementsAre(byThisProcess("validate asked"), byThisProcess("run cached"), byThisProcess("run cached"),
                            byThisProcess("release"), byThisProcess("validate asked"), byThisProcess("release")));
    EXPECT_THAT(prompts(), ElementsAre(qtTrId("permissions.prompt"), qtTrId("permissions.prompt")));
    EXPECT_THAT(logger->lines(), IsEmpty());
}

} // namespace
} // namespace tarn::test
