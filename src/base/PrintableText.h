#pragma once

// Text from outside (names in documents, package entries, certificate names) is printed line by line; a
// control character in it could clear the screen, retitle the terminal or forge a line of its own. Such
// characters are printed as "\xHH" instead. Header-only: the application and the stand-in tools share it.

#include <QString>

namespace tarn {

inline bool isControlCharacter(char16_t character) {
    return character < 0x20 || (character >= 0x7F && character <= 0x9F);
}

// `text` with every C0 and C1 control character and DEL written as "\xHH".
inline QString printableText(const QString& text) {
    using namespace Qt::StringLiterals;
    QString result;
    result.reserve(text.size());
    for (const QChar character : text) {
        if (isControlCharacter(character.unicode())) {
            result += u"\\x%1"_s.arg(static_cast<uint>(character.unicode()), 2, 16, QLatin1Char('0'));
        } else {
            result += character;
        }
    }
    return result;
}

} // namespace tarn
