#include "askpass/PasswordDialog.h"

#include <QBuffer>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace tarn::askpass {
namespace {

QString promptOf(const PasswordDialog& dialog) {
    return dialog.findChild<QLabel*>()->text();
}

// OK answers the typed password once something is typed; Cancel answers nothing. Each answer is
// reported, so a caller of sudo can tell a cancel from a wrong password and from a prompt never shown.
TEST(AskpassDialog, AnswersThePasswordOnOkNothingOnCancelAndReportsEachAnswer) {
    const QString markup = u"Install Scanner Suite. <b>Enter</b> your password."_s;
    EXPECT_EQ(promptOf(PasswordDialog(QString())), u"Password:"_s);
    QTemporaryDir scratch;
    const QString reportFile = scratch.filePath(u"answers"_s);
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept);
        PasswordDialog dialog(markup);
        auto* field = dialog.findChild<QLineEdit*>();
        auto* buttons = dialog.findChild<QDialogButtonBox*>();
        QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
        EXPECT_EQ(promptOf(dialog), markup);
        EXPECT_EQ(dialog.findChild<QLabel*>()->textFormat(), Qt::PlainText) << "the prompt is text, never markup";
        EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        EXPECT_EQ(field->accessibleName(), u"Password"_s);
        dialog.show();
        EXPECT_FALSE(ok->isEnabled());
        field->setText(u"pä ss\"word"_s);
        ASSERT_TRUE(ok->isEnabled());
        (accept ? ok : buttons->button(QDialogButtonBox::Cancel))->click();

        QBuffer output;
        output.open(QIODevice::WriteOnly);
        EXPECT_EQ(dialog.result(), accept ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(answer(dialog, output, reportFile), accept ? 0 : 1);
        EXPECT_EQ(output.data(), accept ? u"pä ss\"word\n"_s.toUtf8() : QByteArray());
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
