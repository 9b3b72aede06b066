#include "components/Resources.h"

#include <QCoreApplication>
#include <QFontDatabase>
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

bool registerFonts() {
    bool allRegistered = true;
    for (const char* face : {"Poppins-Medium", "Poppins-Light", "Poppins-Regular", "Poppins-Bold"}) {
        const QString path = QStringLiteral(":/fonts/%1.ttf").arg(QLatin1String(face));
        allRegistered = QFontDatabase::addApplicationFont(path) >= 0 && allRegistered;
    }
    return allRegistered;
}

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
