#include "components/Resources.h"

#include "components/Theme.h"
#include "support/GuiTestSupport.h"

#include <QDirIterator>
#include <QFile>
#include <QFontInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>
#include <QTranslator>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using namespace Qt::StringLiterals;

// The first capture of `pattern` over every source file of the product.
QSet<QString> namesInSources(const QRegularExpression& pattern) {
    QSet<QString> names;
    QDirIterator files(QStringLiteral(TARN_TEST_SOURCE_DIR "/../src"), {u"*.cpp"_s, u"*.h"_s}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly)) {
            for (const auto& match : pattern.globalMatch(QString::fromUtf8(file.readAll()))) {
                names.insert(match.captured(1));
            }
        }
    }
    return names;
}

TEST(LocalizationTest, SystemLocaleChoosesTheLanguageEnglishIsTheFallbackAndCountsTakePlurals) {
    const std::tuple<QLocale, const char*, const char*, int, const char*> cases[] = {
            {QLocale(QLocale::German, QLocale::Germany), "de", "Weiter", 1, "Herunterladen (1 App)"},
            {QLocale(QLocale::German, QLocale::Switzerland), "de", "Weiter", 12, "Herunterladen (12 Apps)"},
            {QLocale(QLocale::English, QLocale::UnitedKingdom), "en", "Next", 1, "Download (1 app)"},
            {QLocale(QLocale::French, QLocale::France), "en", "Next", 0, "Download (0 apps)"},
            {QLocale::c(), "en", "Next", 2, "Download (2 apps)"}};
    for (const auto& [locale, language, next, count, download] : cases) {
        SCOPED_TRACE(locale.name().toStdString());
        EXPECT_EQ(installTranslations(locale), QLatin1String(language));
        EXPECT_EQ(localized(u"button.next"), QString::fromUtf8(next));
        EXPECT_EQ(localized(u"button.download", count), QString::fromUtf8(download));
        EXPECT_EQ(localized(u"no.such.key"), u"no.such.key"_s) << "an unknown id shows itself";
    }
    test::useShippedResources();
}

TEST(ResourceNamesTest, EveryTextIdTheSourcesUseIsInEachShippedLanguageWithItsPlaceholders) {
    // Text ids written as string literals, recognised by their first part.
    const QSet<QString> used = namesInSources(QRegularExpression(
            QStringLiteral(R"re("((?:button|cancel|connect|device|error|eula|failed|info|install|installer|legal|)re"
                           R"re(menu|package|software|spinner|support|welcome)(?:\.[a-z0-9]+)+)")re")));
    // Guards the scan itself: a broken pattern would make the loop below vacuous.
    for (const char* known : {"install.state.downloading", "error.filenotfound", "spinner.accessible.name"}) {
        EXPECT_TRUE(used.contains(QLatin1String(known))) << known;
    }
    for (const char* language : {"en", "de"}) {
        SCOPED_TRACE(language);
        // Each language alone: installed, German would fall back to English for a missing text.
        QTranslator translator;
        ASSERT_TRUE(translator.load(u":/i18n/tarn_%1.qm"_s.arg(QLatin1String(language))));
        const auto text = [&](const QString& key, int count = -1) {
            return translator.translate(nullptr, key.toUtf8().constData(), nullptr, count);
        };
        for (const QString& key : used) {
            EXPECT_FALSE(text(key).trimmed().isEmpty()) << "lacks " << key.toStdString();
        }
        // Placeholders the code fills in must survive translation.
        for (const char* keyAndMarks :
             {"installer.disclaimer %1", "package.manager.title %@", "device.detected.title %@",
              "install.progress.sized %1 %2", "install.progress.amounts %1 %2", "install.progress.unsized %1"}) {
            const QStringList parts = QString::fromLatin1(keyAndMarks).split(u' ');
            for (const QString& mark : parts.mid(1)) {
                EXPECT_EQ(text(parts[0]).count(mark), 1) << keyAndMarks;
            }
        }
        for (const int count : {1, 2}) {
            EXPECT_TRUE(text(u"button.download"_s, count).contains(u"%n"_s)) << count;
        }
    }
}

TEST(ResourceNamesTest, EveryColourAndImageTheSourcesNameResolves) {
    const QSet<QString> colours =
            namesInSources(QRegularExpression(QStringLiteral(R"re(theme::color\(u"([^"%]+)")re")));
    const QSet<QString> images = namesInSources(QRegularExpression(
            QStringLiteral(R"re((?:ImageView\((?:QStringLiteral\(|u)|drawImage\(painter, u)"([^"]+)")re")));
    EXPECT_TRUE(colours.contains(u"labelText"_s) && colours.contains(u"FocusRing"_s));
    EXPECT_TRUE(images.contains(u"background"_s) && images.contains(u"connect"_s));
    for (const QString& name : colours) {
        EXPECT_TRUE(theme::color(name).isValid()) << name.toStdString();
    }
    for (const QString& name : images) {
        EXPECT_TRUE(theme::hasImage(name)) << name.toStdString();
    }
    // A lookup that ignored case would hide a misspelt name ("labelText" against "LabelDownloadDone").
    EXPECT_FALSE(theme::hasColor(u"LabelText"));
    EXPECT_FALSE(theme::hasImage(u"no-such-image"));
}

TEST(ThemeTest, TintedSymbolTakesTheTintWhereItIsOpaque) {
    QImage canvas(40, 40, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    theme::drawImage(painter, u"arrow.right", QRectF(0, 0, 40, 40), false, QColor(255, 0, 0));
    painter.end();
    // The arrow's shaft runs through the middle of the symbol.
    EXPECT_EQ(QColor(canvas.pixel(20, 20)).rgb(), QColor(255, 0, 0).rgb());
    EXPECT_EQ(qAlpha(canvas.pixel(20, 2)), 0);
}

TEST(ThemeTest, PostScriptNamesSplitOnlyAtAKnownStyle) {
    const std::tuple<const char*, const char*, QFont::Weight, bool> cases[] = {
            {"Poppins-Medium", "Poppins", QFont::Medium, false},
            {"Poppins-Light", "Poppins", QFont::Light, false},
            {"Poppins-Bold", "Poppins", QFont::Bold, false},
            {"Helvetica-BoldOblique", "Helvetica", QFont::Bold, true},
            {"Times-Italic", "Times", QFont::Normal, true},
            {"Noto-Sans", "Noto-Sans", QFont::Normal, false},
            {"Times New Roman", "Times New Roman", QFont::Normal, false}};
    for (const auto& [name, family, weight, italic] : cases) {
        const QFont font = theme::font(QString::fromLatin1(name), 16);
        EXPECT_EQ(std::tuple(font.family(), font.weight(), font.italic(), font.pixelSize()),
                  std::tuple(QString::fromLatin1(family), weight, italic, 16))
                << name;
    }
}

TEST(ThemeTest, ShippedFacesAreTheOnesTheNamedFontsResolveTo) {
    test::useShippedResources();
    for (const char* style : {"Medium", "Light", "Regular", "Bold"}) {
        const QFontInfo resolved(theme::font(u"Poppins-"_s + QLatin1String(style), 20));
        EXPECT_EQ(resolved.family(), u"Poppins"_s) << style;
        EXPECT_EQ(resolved.styleName(), QLatin1String(style));
    }
}

} // namespace
} // namespace tarn
