#include "PackageToolSupport.h"
#include "askpass/PasswordDialog.h"

#include <QBuffer>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tarn::askpass {
namespace {

using namespace Qt::StringLiterals;

// OK answers the typed password once something is typed; Cancel answers nothing. Each answer is
// reported, so a caller of sudo can tell a cancel from a wrong password and from a prompt never shown.
TEST(AskpassDialog, AnswersThePasswordOnOkNothingOnCancelAndReportsEachAnswer) {
    const QString markup = u"Install Scanner Suite. <b>Enter</b> your password."_s;
    EXPECT_EQ(PasswordDialog(QString()).findChild<QLabel*>()->text(), u"Password:"_s);
    QTemporaryDir scratch;
    const QString reportFile = scratch.filePath(u"answers"_s);
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept);
        PasswordDialog dialog(markup);
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
        EXPECT_EQ(answer(dialog, output, reportFile), accept ? 0 : 1);
        EXPECT_EQ(output.data(), accept ? u"pä ss\"word\n"_s.toUtf8() : QByteArray());
        EXPECT_EQ(answer(dialog, output, QString()), accept ? 0 : 1) << "without a report file, the same answer";
    }
    EXPECT_EQ(test::readFile(reportFile), QByteArray("answered\ncancelled\n"));
}

} // namespace
} // namespace tarn::askpass
