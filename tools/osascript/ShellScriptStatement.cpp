#include "osascript/ShellScriptStatement.h"

#include <QList>

#include <array>

using namespace Qt::StringLiterals;

namespace tarn::osascript {

namespace {

struct Token {
    enum class Type { word, string };
    Type type;
    QString text; // a word as written, or a string's value with its escapes resolved
};

bool isWhiteSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isWordCharacter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

[[noreturn]] void syntaxError(const QString& reason) {
    throw StatementError(StatementError::Kind::syntax, reason);
}

QString stringLiteral(const QString& statement, qsizetype& position) {
    QString value;
    ++position; // the opening quote
    while (position < statement.size()) {
        const QChar c = statement[position++];
        if (c == u'"') {
            return value;
        }
        if (c != u'\\') {
            value += c;
            continue;
        }
        if (position >= statement.size()) {
            break;
        }
        const QChar escaped = statement[position++];
        switch (escaped.unicode()) {
        case u'"':
        case u'\\':
            value += escaped;
            break;
        case u'n':
            value += u'\n';
            break;
        case u'r':
            value += u'\r';
            break;
        case u't':
            value += u'\t';
            break;
        default:
            syntaxError(u"Unknown escape sequence \"\\%1\" in a string."_s.arg(escaped));
        }
    }
    syntaxError(u"Expected \"\"\" but found end of script."_s);
}

QList<Token> tokens(const QString& statement) {
    QList<Token> found;
    qsizetype position = 0;
    while (position < statement.size()) {
        const QChar c = statement[position];
        if (isWhiteSpace(c)) {
            ++position;
        } else if (c == u'"') {
            found.append({Token::Type::string, stringLiteral(statement, position)});
        } else if (isWordCharacter(c)) {
            const qsizetype start = position;
            while (position < statement.size() && isWordCharacter(statement[position])) {
                ++position;
            }
            found.append({Token::Type::word, statement.mid(start, position - start)});
        } else {
            syntaxError(u"Unexpected character \"%1\"."_s.arg(c));
        }
    }
    return found;
}

} // namespace

ShellScriptStatement parseShellScriptStatement(const QString& statement) {
    const QList<Token> found = tokens(statement);

    // nullptr marks where a string stands.
    static constexpr std::array<const char*, 10> shape{
            "do", "shell", "script", nullptr, "with", "administrator", "privileges", "with", "prompt", nullptr};
    bool matches = found.size() == static_cast<qsizetype>(shape.size());
    for (qsizetype i = 0; matches && i < found.size(); ++i) {
        const char* keyword = shape[static_cast<size_t>(i)];
        matches = keyword ? found[i].type == Token::Type::word &&
                                    found[i].text.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0
                          : found[i].type == Token::Type::string;
    }
    if (!matches) {
        throw StatementError(StatementError::Kind::unsupported,
                             u"Only do shell script \"...\" with administrator privileges with "
                             "prompt \"...\" is supported."_s);
    }
    return {found[3].text, found[9].text};
}

} // namespace tarn::osascript
