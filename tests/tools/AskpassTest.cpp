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

TEST(AskpassDialog, ShowsThePromptWithNamedControls) {
    PasswordDialog dialog(QStringLiteral("The installer wants to install Scanner Suite. <b>Enter</b> your password."));

    EXPECT_EQ(dialog.promptLabel()->text(),
              QStringLiteral("The installer wants to install Scanner Suite. <b>Enter</b> your password."));
    EXPECT_EQ(dialog.promptLabel()->textFormat(), Qt::PlainText) << "the prompt is text, never markup";
    EXPECT_EQ(dialog.passwordField()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.promptLabel()->accessibleName(), QStringLiteral("Prompt"));
    EXPECT_EQ(dialog.passwordField()->accessibleName(), QStringLiteral("Password"));
    EXPECT_EQ(dialog.okButton()->accessibleName(), QStringLiteral("OK"));
    EXPECT_EQ(dialog.cancelButton()->accessibleName(), QStringLiteral("Cancel"));
    EXPECT_EQ(PasswordDialog(QString()).promptLabel()->text(), QStringLiteral("Password:"));
}

TEST(AskpassDialog, OkAnswersThePasswordOnceTyped) {
    QTemporaryDir scratch;
    const QString cancelFile = scratch.filePath(QStringLiteral("cancelled"));
    PasswordDialog dialog(QStringLiteral("Password:"));
    dialog.show();
    EXPECT_FALSE(dialog.okButton()->isEnabled());

    dialog.passwordField()->setText(QStringLiteral("pä ss\"word"));
    ASSERT_TRUE(dialog.okButton()->isEnabled());
    dialog.okButton()->click();

    QBuffer output;
    output.open(QIODevice::WriteOnly);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(answer(dialog, output, cancelFile), 0);
    EXPECT_EQ(output.data(), QStringLiteral("pä ss\"word\n").toUtf8());
    EXPECT_FALSE(QFile::exists(cancelFile));
}

TEST(AskpassDialog, CancelAnswersNothingAndLeavesTheCancelMark) {
    QTemporaryDir scratch;
    const QString cancelFile = scratch.filePath(QStringLiteral("cancelled"));
    PasswordDialog dialog(QStringLiteral("Password:"));
    dialog.show();
    dialog.passwordField()->setText(QStringLiteral("typed, then thought better of it"));
    dialog.cancelButton()->click();

    QBuffer output;
    output.open(QIODevice::WriteOnly);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(answer(dialog, output, cancelFile), 1);
    EXPECT_TRUE(output.data().isEmpty());
    EXPECT_TRUE(QFile::exists(cancelFile));

    QBuffer unmarked;
    unmarked.open(QIODevice::WriteOnly);
    EXPECT_EQ(answer(dialog, unmarked, QString()), 1) << "without a cancel file to leave, still a refusal";
}

} // namespace
} // namespace tarn::askpass
