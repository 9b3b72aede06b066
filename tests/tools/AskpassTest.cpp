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

// OK answers the typed password once something is typed; Cancel answers nothing and leaves the mark that
// tells a cancelled prompt from a wrong password.
TEST(AskpassDialog, AnswersThePasswordOnOkAndOnlyACancelMarkOnCancel) {
    const QString markup = QStringLiteral("Install Scanner Suite. <b>Enter</b> your password.");
    EXPECT_EQ(PasswordDialog(QString()).promptLabel()->text(), QStringLiteral("Password:"));
    QTemporaryDir scratch;
    const QString cancelFile = scratch.filePath(QStringLiteral("cancelled"));
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
        EXPECT_EQ(answer(dialog, output, cancelFile), accept ? 0 : 1);
        EXPECT_EQ(output.data(), accept ? QStringLiteral("pä ss\"word\n").toUtf8() : QByteArray());
        EXPECT_EQ(QFile::exists(cancelFile), !accept);
        if (!accept) {
            QBuffer unmarked;
            unmarked.open(QIODevice::WriteOnly);
            EXPECT_EQ(answer(dialog, unmarked, QString()), 1) << "without a cancel file to leave, still a refusal";
        }
    }
}

} // namespace
} // namespace tarn::askpass
