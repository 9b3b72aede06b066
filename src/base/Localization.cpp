#include "base/Localization.h"

#include <QCoreApplication>
#include <QList>
#include <QPointer>
#include <QTranslator>

namespace tarn {
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
    if (english->load(QStringLiteral(":/i18n/tarn_en.qm"))) {
        installTranslator(english);
    } else {
        delete english;
    }

    auto* matching = new QTranslator(owner);
    if (matching->load(locale, QStringLiteral("tarn"), QStringLiteral("_"), QStringLiteral(":/i18n")) &&
        !matching->language().startsWith(QStringLiteral("en"))) {
        installTranslator(matching);
        return matching->language().section(u'_', 0, 0).section(u'-', 0, 0);
    }
    delete matching;
    return QStringLiteral("en");
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
