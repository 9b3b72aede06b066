#include "askpass/PasswordDialog.h"

#include <QBuffer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tarn::askpass {
namespace {

// OK answers the typed password once something is typed; Cancel answers nothing. Each answer is
// reported, so a caller of sudo can tell a cancel from a wrong password and from a prompt never shown.
TEST(AskpassDialog, AnswersThePasswordOnOkNothingOnCancelAndReportsEachAnswer) {
    const QString markup = QStringLiteral("Install Scanner Suite. <b>Enter</b> your password.");
    EXPECT_EQ(PasswordDialog(QString()).promptLabel()->text(), QStringLiteral("Password:"));
    QTemporaryDir scratch;
    const QString reportFile = scratch.filePath(QStringLiteral("answers"));
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept);
        PasswordDialog dialog(markup);
        EXPECT_EQ(dialog.promptLabel()->text(), markup);
        EXPECT_EQ(dialog.promptLabel()->textFormat(), Qt::PlainText) << "the prompt is text, never markup";
        EXPECT_EQ(dialog.passwordField()->echoMode(), QLineEdit::Password);
        EXPECT_EQ(dialog.passwordField()->accessibleName(), QStringLiteral("Password"));
        dialog.show();
        EXPECT_FALSE(dialog.okButton()->isEnabled());
        dialog.passwordField()->setText(QStringLiteral("pä ss\"word"));
        ASSERT_TRUE(dialog.okButton()->isEnabled());
        (accept ? dialog.okButton() : dialog.cancelButton())->click();

        QBuffer output;
        output.open(QIODevice::WriteOnly);
        EXPECT_EQ(dialog.result(), accept ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(answer(dialog, output, reportFile), accept ? 0 : 1);
        EXPECT_EQ(output.data(), accept ? QStringLiteral("pä ss\"word\n").toUtf8() : QByteArray());
        if (!accept) {
            QBuffer unreported;
            unreported.open(QIODevice::WriteOnly);
            EXPECT_EQ(answer(dialog, unreported, QString()), 1) << "without a report file, still a refusal";
        }
    }
    QFile report(reportFile);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_EQ(report.readAll(), QByteArray("answered\ncancelled\n"));
}

} // namespace
} // namespace tarn::askpass
