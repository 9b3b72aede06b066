#pragma once

#include <QLocale>
#include <QString>

namespace tarn {
// Installs the English texts and, over them, the translation that matches `locale` when one is
// shipped, so a text missing from a translation still reads in English. Answers the language in use
// ("de", "en"). May be called again; the previous translations are replaced.
QString installTranslations(const QLocale& locale = QLocale::system());

// Removes the translations installed above, so every text id shows itself again.
void removeTranslations();

// The display text of a text id ("button.next"); an id without a text shows itself.
QString localized(QStringView key);
// The same for a text with a count: the plural form for `count`, with "%n" replaced by it.
QString localized(QStringView key, int count);

} // namespace tarn
