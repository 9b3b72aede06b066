#include "components/Resources.h"
#include "support/GuiTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <gmock/gmock.h>

namespace tarn {
namespace {

using ::testing::IsEmpty;

// Every text id the installer shows.
const QStringList requiredKeys = {
        "button.back",
        "button.cancel",
        "button.close",
        "button.done",
        "button.download",
        "button.next",
        "button.no",
        "button.retry",
        "button.yes",
        "cancel.install.subtitle",
        "cancel.install.title",
        "connect.device.subtitle",
        "connect.device.title",
        "device.detected.subtitle",
        "device.detected.title",
        "device.detected.unknown",
        "device.not.detected.subtitle",
        "device.not.detected.title",
        "device.search.subtitle",
        "device.search.title",
        "error.code.signature.mismatch",
        "error.connectivity",
        "error.content.hash.mismatch",
        "error.corrupted.json",
        "error.file.path.invalid",
        "error.filenotfound",
        "error.generic",
        "error.no.permissions",
        "error.pkg.from.dmg.not.found",
        "error.ssl.connection.failed",
        "eula.accept",
        "eula.title",
        "failed.to.install.title",
        "info.error.connectivity.fail.title",
        "info.error.install.fail.subtitle",
        "info.error.install.fail.title",
        "info.success.subtitle",
        "info.success.title",
        "install.state.done",
        "install.state.downloading",
        "install.state.failure",
        "install.state.progress",
        "installer.disclaimer",
        "installer.subtitle",
        "installer.title",
        "legal.accept",
        "legal.title",
        "menu.open.logs",
        "package.manager.title",
        "software.type.trial",
        "support.link.title",
        "welcome.button.text",
        "welcome.subtitle",
        "welcome.title",
};

struct TranslationFile {
    QString language;
    QMap<QString, QStringList> texts; // id -> its translation, or its plural forms
    QStringList problems;
};

TranslationFile readTranslations(const QString& fileName) {
    TranslationFile result;
    QFile file(QStringLiteral(TARN_TEST_SOURCE_DIR "/../resources/translations/") + fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problems << QStringLiteral("cannot open ") + fileName;
        return result;
    }
    QXmlStreamReader xml(&file);
    QString id;
    bool numerus = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            continue;
        }
        if (xml.name() == u"TS") {
            result.language = xml.attributes().value(QLatin1String("language")).toString();
        } else if (xml.name() == u"message") {
            id = xml.attributes().value(QLatin1String("id")).toString();
            numerus = xml.attributes().value(QLatin1String("numerus")) == u"yes";
            if (id.isEmpty()) {
                result.problems << QStringLiteral("a message without an id");
            }
            if (result.texts.contains(id)) {
                result.problems << QStringLiteral("duplicate id ") + id;
            }
            result.texts[id];
        } else if (xml.name() == u"translation") {
            if (xml.attributes().hasAttribute(QLatin1String("type"))) {
                result.problems << id + QStringLiteral(" is marked ") +
                                           xml.attributes().value(QLatin1String("type")).toString();
            }
            if (!numerus) {
                const QString text = xml.readElementText();
                if (!text.trimmed().isEmpty()) {
                    result.texts[id] << text;
                }
            }
        } else if (xml.name() == u"numerusform") {
            result.texts[id] << xml.readElementText();
        }
    }
    if (xml.hasError()) {
        result.problems << xml.errorString();
    }
    return result;
}

// Text ids written as string literals anywhere in the sources, recognised by their first part.
QSet<QString> keysUsedBySources() {
    static const QRegularExpression literal(
            QStringLiteral(R"re("((?:button|cancel|connect|device|error|eula|failed|info|install|installer|legal|)re"
                           R"re(menu|package|software|spinner|support|welcome)(?:\.[a-z0-9]+)+)")re"));
    QSet<QString> keys;
    QDirIterator files(QStringLiteral(TARN_TEST_SOURCE_DIR "/../src"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                       QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QString source = QString::fromUtf8(file.readAll());
        for (const auto& match : literal.globalMatch(source)) {
            keys.insert(match.captured(1));
        }
    }
    return keys;
}

class LocalizationTest : public ::testing::Test {
protected:
    void TearDown() override { test::useShippedResources(); }
};

TEST_F(LocalizationTest, SystemLocaleChoosesTheLanguageAndEnglishIsTheFallback) {
    EXPECT_EQ(installTranslations(QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("de"));
    EXPECT_EQ(localized(u"button.next"), QStringLiteral("Weiter"));
    EXPECT_EQ(installTranslations(QLocale(QLocale::German, QLocale::Switzerland)), QStringLiteral("de"));
    EXPECT_EQ(localized(u"button.back"), QStringLiteral("Zurück"));

    for (const QLocale& other :
         {QLocale(QLocale::English, QLocale::UnitedKingdom), QLocale(QLocale::French, QLocale::France), QLocale::c()}) {
        EXPECT_EQ(installTranslations(other), QStringLiteral("en")) << other.name().toStdString();
        EXPECT_EQ(localized(u"button.next"), QStringLiteral("Next"));
    }
}

TEST_F(LocalizationTest, UnknownIdShowsItself) {
    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(localized(u"no.such.key"), QStringLiteral("no.such.key"));
    EXPECT_EQ(localized(u"Scan Suite"), QStringLiteral("Scan Suite"));
}

TEST_F(LocalizationTest, DownloadButtonTakesThePluralFormOfItsCount) {
    installTranslations(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(localized(u"button.download", 1), QStringLiteral("Download (1 app)"));
    EXPECT_EQ(localized(u"button.download", 0), QStringLiteral("Download (0 apps)"));
    EXPECT_EQ(localized(u"button.download", 3), QStringLiteral("Download (3 apps)"));
    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(localized(u"button.download", 1), QStringLiteral("Herunterladen (1 App)"));
    EXPECT_EQ(localized(u"button.download", 12), QStringLiteral("Herunterladen (12 Apps)"));
}

TEST_F(LocalizationTest, DisclaimerTakesTheApplicationName) {
    for (const QLocale& locale : {QLocale(QLocale::English), QLocale(QLocale::German)}) {
        installTranslations(locale);
        const QString prompt = localized(u"installer.disclaimer").arg(QStringLiteral("Scan Suite"));
        EXPECT_TRUE(prompt.contains(QStringLiteral("Scan Suite"))) << prompt.toStdString();
        EXPECT_FALSE(prompt.contains(u'%')) << prompt.toStdString();
    }
}

TEST(TranslationFilesTest, BothLanguagesHaveEveryRequiredAndUsedIdWithItsPlaceholders) {
    const TranslationFile english = readTranslations(QStringLiteral("tarn_en.ts"));
    const TranslationFile german = readTranslations(QStringLiteral("tarn_de.ts"));
    EXPECT_THAT(english.problems, IsEmpty());
    EXPECT_THAT(german.problems, IsEmpty());
    EXPECT_EQ(english.language, QStringLiteral("en"));
    EXPECT_EQ(german.language, QStringLiteral("de"));

    QSet<QString> needed(requiredKeys.begin(), requiredKeys.end());
    needed.unite(keysUsedBySources());
    for (const QString& key : needed) {
        EXPECT_FALSE(english.texts.value(key).isEmpty()) << "English lacks " << key.toStdString();
        EXPECT_FALSE(german.texts.value(key).isEmpty()) << "German lacks " << key.toStdString();
    }
    EXPECT_EQ(QSet<QString>(english.texts.keyBegin(), english.texts.keyEnd()),
              QSet<QString>(german.texts.keyBegin(), german.texts.keyEnd()));

    // Placeholders the code fills in must survive translation.
    for (const TranslationFile* file : {&english, &german}) {
        EXPECT_EQ(file->texts.value(QStringLiteral("installer.disclaimer")).value(0).count(QStringLiteral("%1")), 1);
        EXPECT_EQ(file->texts.value(QStringLiteral("package.manager.title")).value(0).count(QStringLiteral("%@")), 1);
        EXPECT_EQ(file->texts.value(QStringLiteral("device.detected.title")).value(0).count(QStringLiteral("%@")), 1);
        const QStringList download = file->texts.value(QStringLiteral("button.download"));
        EXPECT_EQ(download.size(), 2) << file->language.toStdString();
        for (const QString& form : download) {
            EXPECT_TRUE(form.contains(QStringLiteral("%n"))) << form.toStdString();
        }
    }
}

TEST(TranslationFilesTest, SourceScanFindsTheIdsTheComponentsUse) {
    // Guards the scan itself: without it, a broken pattern would make the test above vacuous.
    const QSet<QString> used = keysUsedBySources();
    EXPECT_TRUE(used.contains(QStringLiteral("install.state.downloading")));
    EXPECT_TRUE(used.contains(QStringLiteral("error.filenotfound")));
    EXPECT_TRUE(used.contains(QStringLiteral("spinner.accessible.name")));
}

} // namespace
} // namespace tarn
