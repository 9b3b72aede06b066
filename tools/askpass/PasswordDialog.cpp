#include "askpass/PasswordDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace tarn::askpass {

PasswordDialog::PasswordDialog(const QString& promptText, QWidget* parent)
    : QDialog(parent), field(new QLineEdit(this)) {
    setWindowTitle(u"Administrator Password"_s);
    setWindowFlag(Qt::WindowStaysOnTopHint);

    auto* prompt = new QLabel(this);
    prompt->setText(promptText.trimmed().isEmpty() ? u"Password:"_s : promptText);
    prompt->setTextFormat(Qt::PlainText);
    prompt->setWordWrap(true);
    prompt->setAccessibleName(u"Prompt"_s);

    field->setEchoMode(QLineEdit::Password);
    field->setAccessibleName(u"Password"_s);
    prompt->setBuddy(field);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    ok->setAccessibleName(u"OK"_s);
    cancel->setAccessibleName(u"Cancel"_s);
    ok->setEnabled(false);
    connect(field, &QLineEdit::textChanged, ok, [ok](const QString& text) { ok->setEnabled(!text.isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(field);
    layout->addWidget(buttons);
    setMinimumWidth(360);
    field->setFocus();
}

QString PasswordDialog::password() const {
    return field->text();
}

int answer(const PasswordDialog& dialog, QIODevice& output, const QString& reportFile) {
    const bool accepted = dialog.result() == QDialog::Accepted && !dialog.password().isEmpty();
    if (!reportFile.isEmpty()) {
        QFile report(reportFile);
        if (report.open(QIODevice::WriteOnly | QIODevice::Append)) {
            report.write(accepted ? "answered\n" : "cancelled\n");
        }
    }
    if (!accepted) {
        return 1;
    }
    output.write(dialog.password().toUtf8() + '\n');
    return 0;
}

} // namespace tarn::askpass
