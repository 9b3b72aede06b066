#include "services/SystemPermissionsManager.h"

#include "ServicesTestSupport.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class SystemPermissionsManagerTest : public ::testing::Test {
protected:
    // An elevation command that records how it was called and ends with `exit`.
    QString elevationCommand(const QString& exit) {
        return writeScript(folder, QStringLiteral("sudo-%1").arg(++commands),
                           QStringLiteral("echo \"$* | ${SUDO_ASKPASS:-no askpass}\" >> '%1'\n%2\n")
                                   .arg(folder.filePath(QStringLiteral("calls")), exit));
    }

    QStringList calls() const {
        return QString::fromUtf8(readFile(folder.filePath(QStringLiteral("calls")))).split(u'\n', Qt::SkipEmptyParts);
    }

    int commands = 0;
    QTemporaryDir folder;
    const QString askpass = QStringLiteral("/opt/tarn/libexec/askpass");
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
};

TEST_F(SystemPermissionsManagerTest, GrantedThroughTheAskpassDialogAndReleasedOnlyAfterARequest) {
    SystemPermissionsManager permissions(logger, elevationCommand(QStringLiteral("exit 0")), askpass);

    permissions.releaseAuthorization();
    EXPECT_THAT(calls(), IsEmpty()) << "nothing to release yet";
    for (int run = 0; run < 2; ++run) {
        EXPECT_TRUE(permissions.requestAdminPrivileges());
        permissions.releaseAuthorization();
    }

    EXPECT_THAT(calls(), ElementsAre("-A -v | /opt/tarn/libexec/askpass", "-k | no askpass",
                                     "-A -v | /opt/tarn/libexec/askpass", "-k | no askpass"));
    EXPECT_THAT(logger->lines(), IsEmpty());
}

TEST_F(SystemPermissionsManagerTest, RefusalOrACommandThatCannotStartIsLoggedOnceWithItsStatus) {
    ASSERT_TRUE(writeFile(folder.filePath(QStringLiteral("plain-file")), "#!/bin/sh\nexit 0\n"));
    const struct {
        QString command;
        const char* line;
    } cases[] = {
            {elevationCommand(QStringLiteral("exit 1")), "[CRITICAL] Authorization copy rights failed: 1"},
            {elevationCommand(QStringLiteral("kill -TERM $$")), "[CRITICAL] Authorization copy rights failed: 143"},
            {folder.filePath(QStringLiteral("missing")), "[CRITICAL] Authorization create failed: 127"},
            {folder.filePath(QStringLiteral("plain-file")), "[CRITICAL] Authorization create failed: 126"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        logger->clear();
        EXPECT_FALSE(SystemPermissionsManager(logger, c.command, askpass).requestAdminPrivileges());
        EXPECT_THAT(logger->lines(), ElementsAre(c.line));
    }
}

} // namespace
} // namespace tarn::test
