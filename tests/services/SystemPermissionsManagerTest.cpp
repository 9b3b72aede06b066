#include "services/SystemPermissionsManager.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// An elevation command that records how it was called and answers with `body`'s exit status.
class SystemPermissionsManagerTest : public ::testing::Test {
protected:
    QString elevationCommand(const QString& exit) {
        return test::writeScript(folder, QStringLiteral("sudo"),
                                 QStringLiteral("echo \"$* | ${SUDO_ASKPASS:-no askpass}\" >> '%1'\n%2\n")
                                         .arg(folder.filePath(QStringLiteral("calls")), exit));
    }

    QStringList calls() const {
        QFile file(folder.filePath(QStringLiteral("calls")));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    SystemPermissionsManager manager(const QString& sudoPath) { return {logger, sudoPath, askpass}; }

    QTemporaryDir folder;
    const QString askpass = QStringLiteral("/opt/tarn/libexec/askpass");
    std::shared_ptr<test::RecordingLogger> logger = std::make_shared<test::RecordingLogger>();
};

TEST_F(SystemPermissionsManagerTest, GrantedWhenTheCommandValidatesThroughTheAskpassDialog) {
    auto permissions = manager(elevationCommand(QStringLiteral("exit 0")));

    EXPECT_TRUE(permissions.requestAdminPrivileges());
    EXPECT_THAT(calls(), ElementsAre("-A -v | /opt/tarn/libexec/askpass"));
    EXPECT_THAT(logger->lines(), IsEmpty());
}

TEST_F(SystemPermissionsManagerTest, RefusalIsLoggedOnceWithTheCommandsStatus) {
    struct Case {
        const char* exit;
        const char* line;
    };
    for (const Case& refusal : {Case{"exit 1", "[CRITICAL] Authorization copy rights failed: 1"},
                                Case{"exit 255", "[CRITICAL] Authorization copy rights failed: 255"},
                                Case{"kill -TERM $$", "[CRITICAL] Authorization copy rights failed: 143"}}) {
        logger->clear();
        auto permissions = manager(elevationCommand(QString::fromLatin1(refusal.exit)));
        EXPECT_FALSE(permissions.requestAdminPrivileges()) << refusal.exit;
        EXPECT_THAT(logger->lines(), ElementsAre(refusal.line));
    }
}

TEST_F(SystemPermissionsManagerTest, ACommandThatCannotStartIsACreateFailure) {
    const QString notExecutable = folder.filePath(QStringLiteral("plain-file"));
    QFile file(notExecutable);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nexit 0\n");
    file.close();

    auto missing = manager(folder.filePath(QStringLiteral("missing")));
    EXPECT_FALSE(missing.requestAdminPrivileges());
    auto unexecutable = manager(notExecutable);
    EXPECT_FALSE(unexecutable.requestAdminPrivileges());

    EXPECT_THAT(logger->lines(), ElementsAre("[CRITICAL] Authorization create failed: 127",
                                             "[CRITICAL] Authorization create failed: 126"));
}

TEST_F(SystemPermissionsManagerTest, ReleaseEndsTheGracePeriodOnlyAfterARequest) {
    auto permissions = manager(elevationCommand(QStringLiteral("exit 0")));

    permissions.releaseAuthorization();
    EXPECT_THAT(calls(), IsEmpty()) << "nothing to release yet";

    // Two runs in a row: each request is followed by its own release.
    EXPECT_TRUE(permissions.requestAdminPrivileges());
    permissions.releaseAuthorization();
    EXPECT_TRUE(permissions.requestAdminPrivileges());
    permissions.releaseAuthorization();

    EXPECT_THAT(calls(), ElementsAre("-A -v | /opt/tarn/libexec/askpass", "-k | no askpass",
                                     "-A -v | /opt/tarn/libexec/askpass", "-k | no askpass"));
}

} // namespace
} // namespace tarn
