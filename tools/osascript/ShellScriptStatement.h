#pragma once

#include <QString>

#include <stdexcept>

namespace tarn::osascript {

// The one AppleScript statement this script runner accepts:
//   do shell script "COMMAND" with administrator privileges with prompt "PROMPT"
// Keywords are matched as AppleScript does, whatever their case and the white space between them; the two
// strings are AppleScript string literals (escapes \" \\ \n \r \t; line breaks may also stand literally).
struct ShellScriptStatement {
    QString command;
    QString prompt;
};

class StatementError : public std::runtime_error {
public:
    enum class Kind {
        syntax,      // not readable as AppleScript
        unsupported, // well formed, but not the statement above
    };

    StatementError(Kind kind, const QString& reason)
        : std::runtime_error(reason.toStdString()), errorKind(kind), text(reason) {}

    Kind kind() const { return errorKind; }
    const QString& reason() const { return text; }

private:
    Kind errorKind;
    QString text;
};

// Throws StatementError for anything but the statement above.
ShellScriptStatement parseShellScriptStatement(const QString& statement);

} // namespace tarn::osascript
