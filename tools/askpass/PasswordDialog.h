#pragma once

#include <QDialog>

class QIODevice;
class QLineEdit;

namespace tarn::askpass {

// The password prompt sudo shows through askpass: the prompt text, a password field, OK and Cancel.
// OK stays disabled until something is typed, since sudo takes an empty answer for a cancelled prompt.
class PasswordDialog final : public QDialog {
    Q_OBJECT

public:
    explicit PasswordDialog(const QString& prompt, QWidget* parent = nullptr);

    QString password() const;

private:
    QLineEdit* field;
};

// What askpass answers once the dialog has closed: the password and a newline on `output` and 0 when it
// was accepted; nothing and 1 when it was cancelled. Each answer also appends a line, "answered" or
// "cancelled", to `reportFile` (when given): sudo tells a cancelled prompt from a wrong password by its
// wording only, and a refusal that never asked from either by nothing at all.
int answer(const PasswordDialog& dialog, QIODevice& output, const QString& reportFile);

} // namespace tarn::askpass
