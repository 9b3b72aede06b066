#include "components/Theme.h"

#include "components/Resources.h"
#include "support/GuiTestSupport.h"

#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace tarn {
namespace {

// Every colour asset the screens and components name.
const char* const namedColors[] = {
        "ButtonPrimaryBackgroundBase",
        "ButtonPrimaryBackgroundHover",
        "ButtonPrimaryBackgroundDisabled",
        "ButtonPrimaryTextBase",
        "ButtonPrimaryTextHover",
        "ButtonPrimaryTextDisabled",
        "ButtonPrimaryDestructiveBackgroundBase",
        "ButtonPrimaryDestructiveBackgroundHover",
        "ButtonPrimaryDestructiveBackgroundDisabled",
        "ButtonPrimaryDestructiveTextBase",
        "ButtonPrimaryDestructiveTextHover",
        "ButtonPrimaryDestructiveTextDisabled",
        "ButtonSecondaryBackgroundBase",
        "ButtonSecondaryBackgroundHover",
        "ButtonSecondaryBackgroundDisabled",
        "ButtonSecondaryTextBase",
        "ButtonSecondaryTextHover",
        "ButtonSecondaryTextDisabled",
        "ButtonTernaryBackgroundBase",
        "ButtonTernaryBackgroundHover",
        "ButtonTernaryBackgroundDisabled",
        "ButtonTernaryTextBase",
        "ButtonTernaryTextHover",
        "ButtonTernaryTextDisabled",
        "CheckboxTitleDisabled",
        "LabelTrialSoftware",
        "labelText",
        "LabelDownloadInProgress",
        "LabelDownloadDone",
        "LabelDownloadFailure",
        "TitleDeviceDetected",
        "labelDropdown",
        "legalContent",
};

// Every image asset the screens and components name.
const char* const namedImages[] = {
        "tarn-logo-white",
        "tarn-logo-window-bar",
        "background",
        "connect",
        "success",
        "failure",
        "network-failure",
        "spinner",
        "install-ready",
        "install-done",
        "install-failed",
        "checkbox-selected-enabled",
        "checkbox-selected-disabled",
        "checkbox-deselected-enabled",
        "checkbox-deselected-disabled",
        "checkbox-deselected-enabled-hovered",
        "arrow.right",
};

TEST(ThemeTest, EveryNamedColourExistsAndNamesAreCaseSensitive) {
    for (const char* name : namedColors) {
        EXPECT_TRUE(theme::color(QString::fromLatin1(name)).isValid()) << name;
    }
    // "labelText" and "LabelDownloadDone" differ in their first letter's case; a lookup that ignored
    // case would hide a misspelt name.
    EXPECT_FALSE(theme::hasColor(u"LabelText"));
    EXPECT_FALSE(theme::color(u"NoSuchColour").isValid());
}

TEST(ThemeTest, TextColoursStandOutFromTheBackground) {
    // White text on the dark-blue gradient: a theme that lost its contrast would still pass every other test.
    QImage background(90, 70, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&background);
    theme::drawImage(painter, u"background", QRectF(background.rect()), true);
    painter.end();
    const qreal backgroundLightness = QColor(background.pixel(45, 35)).lightnessF();
    for (const char* name : {"labelText", "legalContent", "LabelDownloadInProgress", "LabelDownloadDone",
                             "LabelDownloadFailure", "TitleDeviceDetected", "CheckboxTitleDisabled"}) {
        EXPECT_GT(theme::color(QString::fromLatin1(name)).lightnessF() - backgroundLightness, 0.35) << name;
    }
}

TEST(ThemeTest, EveryNamedImageIsAValidVectorImage) {
    for (const char* name : namedImages) {
        EXPECT_TRUE(theme::hasImage(QString::fromLatin1(name))) << name;
    }
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

struct FontCase {
    const char* name;
    const char* family;
    QFont::Weight weight;
    bool italic;
};

class ThemeFontTest : public ::testing::TestWithParam<FontCase> {};

TEST_P(ThemeFontTest, SplitsPostScriptNamesOnlyAtAKnownStyle) {
    const FontCase& expected = GetParam();
    const QFont font = theme::font(QString::fromLatin1(expected.name), 16);
    EXPECT_EQ(font.family(), QString::fromLatin1(expected.family));
    EXPECT_EQ(font.weight(), expected.weight);
    EXPECT_EQ(font.italic(), expected.italic);
    EXPECT_EQ(font.pixelSize(), 16);
}

INSTANTIATE_TEST_SUITE_P(Names, ThemeFontTest,
                         ::testing::Values(FontCase{"Poppins-Medium", "Poppins", QFont::Medium, false},
                                           FontCase{"Poppins-Light", "Poppins", QFont::Light, false},
                                           FontCase{"Poppins-Regular", "Poppins", QFont::Normal, false},
                                           FontCase{"Poppins-Bold", "Poppins", QFont::Bold, false},
                                           FontCase{"Helvetica-BoldOblique", "Helvetica", QFont::Bold, true},
                                           FontCase{"Times-Italic", "Times", QFont::Normal, true},
                                           FontCase{"Noto-Sans", "Noto-Sans", QFont::Normal, false},
                                           FontCase{"Times New Roman", "Times New Roman", QFont::Normal, false}));

TEST(ThemeTest, ShippedFacesAreTheOnesTheNamedFontsResolveTo) {
    test::useShippedResources();
    for (const auto& [name, style] : {std::pair{"Poppins-Medium", "Medium"}, std::pair{"Poppins-Light", "Light"},
                                      std::pair{"Poppins-Regular", "Regular"}, std::pair{"Poppins-Bold", "Bold"}}) {
        const QFontInfo resolved(theme::font(QString::fromLatin1(name), 20));
        EXPECT_EQ(resolved.family(), QStringLiteral("Poppins")) << name;
        EXPECT_EQ(resolved.styleName(), QString::fromLatin1(style)) << name;
    }
}

} // namespace
} // namespace tarn
