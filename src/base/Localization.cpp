#include "base/Localization.h"

#include <QCoreApplication>
#include <QList>
#include <QPointer>
#include <QTranslator>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

QList<QPointer<QTranslator>>& installedTranslators() {
    static QList<QPointer<QTranslator>> translators;
    return translators;
}

QTranslator* installTranslator(QTranslator* translator) {
    QCoreApplication::installTranslator(translator);
    installedTranslators().append(translator);
    return translator;
}

} // namespace

void removeTranslations() {
    for (const QPointer<QTranslator>& translator : installedTranslators()) {
        if (translator) {
            QCoreApplication::removeTranslator(translator);
            delete translator.data();
        }
    }
    installedTranslators().clear();
}

QString installTranslations(const QLocale& locale) {
    removeTranslations();

    QObject* owner = QCoreApplication::instance();
    auto* english = new QTranslator(owner);
    if (english->load(u":/i18n/tarn_en.qm"_s)) {
        installTranslator(english);
    } else {
        delete english;
    }

    auto* matching = new QTranslator(owner);
    if (matching->load(locale, u"tarn"_s, u"_"_s, u":/i18n"_s) && !matching->language().startsWith(u"en"_s)) {
        installTranslator(matching);
        return matching->language().section(u'_', 0, 0).section(u'-', 0, 0);
    }
    delete matching;
    return u"en"_s;
}

QString localized(QStringView key) {
    const QByteArray id = key.toUtf8();
    return qtTrId(id.constData());
}

QString localized(QStringView key, int count) {
    const QByteArray id = key.toUtf8();
    return qtTrId(id.constData(), count);
}

} // namespace tarn
