#include "screens/ViewExt.h"

#include "components/Resources.h"
#include "components/Theme.h"
#include "support/GuiTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace tarn {
namespace {

class DocumentLoadingTest : public ::testing::Test {
protected:
    void SetUp() override { test::useShippedResources(); }

    static bool isFallback(const QTextDocument& document) {
        return document.toPlainText() == localized(u"error.filenotfound");
    }

    static bool hasStyle(const QTextDocument& document, const std::function<bool(const QTextCharFormat&)>& test) {
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                if (test(it.fragment().charFormat())) {
                    return true;
                }
            }
        }
        return false;
    }

    QString writeFile(const QString& name, const QByteArray& content) {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return folder.path();
    }

    QTemporaryDir folder;
};

TEST_F(DocumentLoadingTest, ShippedDocumentsLoadWithTheirStylingAndEscapes) {
    const auto eula = loadEULA();
    const QString eulaText = eula->toPlainText();
    EXPECT_TRUE(eulaText.contains(QStringLiteral("End-User License Agreement")));
    EXPECT_TRUE(eulaText.contains(QStringLiteral("Veröffentlichung")));     // \u246?
    EXPECT_TRUE(eulaText.contains(QStringLiteral("© T.A.R.N. — Version"))); // \'a9 \emdash
    EXPECT_FALSE(eulaText.contains(u'\\'));
    EXPECT_TRUE(hasStyle(*eula, [](const QTextCharFormat& f) { return f.fontWeight() == QFont::Bold; }));
    EXPECT_TRUE(hasStyle(*eula, [](const QTextCharFormat& f) { return f.fontItalic(); }));
    EXPECT_TRUE(hasStyle(*eula, [](const QTextCharFormat& f) { return f.fontUnderline(); }));
    EXPECT_TRUE(hasStyle(*eula, [](const QTextCharFormat& f) {
        return f.foreground().color() == QColor(255, 200, 87) && f.fontWeight() == QFont::Bold;
    }));
    EXPECT_TRUE(loadLegalNotice()->toPlainText().contains(QStringLiteral("View → Open Log File")));
}

TEST_F(DocumentLoadingTest, MissingOrBrokenFileGivesTheUnstyledFallbackInTheCurrentLanguage) {
    const QString path = writeFile(QStringLiteral("Notes.RTF"), "These are plain notes, not rich text.");
    writeFile(QStringLiteral("Cut.RTF"), "{\\rtf1\\ansi {\\b cut off");
    writeFile(QStringLiteral("Empty.RTF"), QByteArray());
    // The extension keeps its letter case: the shipped file is ".RTF".
    for (const auto& [name, where] :
         {std::pair{QStringLiteral("TARN_Missing.RTF"), documentResourceFolder},
          std::pair{QStringLiteral("TARN_EULA.rtf"), documentResourceFolder},
          std::pair{QStringLiteral("TARN_EULA"), documentResourceFolder}, std::pair{QStringLiteral("Notes.RTF"), path},
          std::pair{QStringLiteral("Cut.RTF"), path}, std::pair{QStringLiteral("Empty.RTF"), path}}) {
        const auto document = loadRTFDocument(name, where);
        EXPECT_TRUE(isFallback(*document)) << name.toStdString();
        EXPECT_FALSE(hasStyle(*document, [](const QTextCharFormat& f) {
            return f.hasProperty(QTextFormat::ForegroundBrush) || f.hasProperty(QTextFormat::FontWeight);
        }));
    }
    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(loadRTFDocument(QStringLiteral("TARN_Missing.RTF"))->toPlainText(),
              QStringLiteral("Das Dokument konnte nicht geladen werden."));

    writeFile(QStringLiteral("Terms.Rtf"), "{\\rtf1 {\\b Terms} apply.}");
    EXPECT_EQ(loadRTFDocument(QStringLiteral("Terms.Rtf"), path)->toPlainText(), QStringLiteral("Terms apply."));
}

struct TitleCase {
    const char* name;
    const char* templateText;
    const char* highlight;
    const char* expected;
    // Characters of `expected`: 'h' highlight colour, 'l' label colour, '.' no attributes.
    const char* colours;
};

class HighlightedTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(HighlightedTitleTest, ColoursTheHighlightAndTheTemplatesOwnText) {
    const TitleCase& expected = GetParam();
    const StyledText title =
            highlightedTitle(QString::fromUtf8(expected.templateText), QString::fromUtf8(expected.highlight));
    ASSERT_EQ(title.string(), QString::fromUtf8(expected.expected));
    const QString colours = QString::fromLatin1(expected.colours);
    ASSERT_EQ(colours.size(), title.string().size());
    const QFont font = theme::font(u"Poppins-Medium", 32);
    for (qsizetype index = 0; index < colours.size(); ++index) {
        const TextStyle style = title.styleAt(index);
        switch (colours[index].toLatin1()) {
        case 'h':
            EXPECT_EQ(style.color, theme::color(u"TitleDeviceDetected")) << index;
            EXPECT_EQ(style.font, font) << index;
            break;
        case 'l':
            EXPECT_EQ(style.color, theme::color(u"labelText")) << index;
            EXPECT_EQ(style.font, font) << index;
            break;
        default:
            EXPECT_EQ(style, TextStyle{}) << index;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
        Cases, HighlightedTitleTest,
        ::testing::Values(TitleCase{"PlaceholderAtTheEnd", "Apps for %@", "S200", "Apps for S200", "lllllllllhhhh"},
                          TitleCase{"PlaceholderFirst", "%@ found", "S200", "S200 found", "hhhhllllll"},
                          TitleCase{"NoPlaceholderHighlightInside", "Scan with S200", "S200", "Scan with S200",
                                    "llllllllllhhhh"},
                          TitleCase{"NoPlaceholderNoHighlight", "Welcome", "S200", "Welcome", "lllllll"},
                          TitleCase{"TextOnBothSidesIsNotFoundAsOne", "For %@ now", "X", "For X now", "....h...."},
                          TitleCase{"OnlyTheFirstHighlightIsColoured", "%@ or %@", "A", "A or A", "hllll."},
                          TitleCase{"EmptyHighlight", "For %@", "", "For ", "llll"},
                          TitleCase{"HighlightAlsoInTheTemplateBeforeThePlaceholder", "S2 and %@", "S2", "S2 and S2",
                                    "hhlllll.."}),
        [](const auto& info) { return std::string(info.param.name); });

TEST(BackgroundWidgetTest, PaintsTheBackgroundBehindItsContent) {
    auto* content = new QWidget;
    content->setAttribute(Qt::WA_NoSystemBackground);
    std::unique_ptr<BackgroundWidget> background(withBackground(content));
    background->resize(900, 700);
    background->show();
    EXPECT_EQ(content->geometry(), background->rect());

    QImage image(background->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::magenta);
    background->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    // Stretched over the whole area: no corner is left unpainted, and the gradient is dark.
    for (const QPoint corner : {QPoint(0, 0), QPoint(899, 0), QPoint(0, 699), QPoint(899, 699)}) {
        EXPECT_NE(QColor(image.pixel(corner)), QColor(Qt::magenta));
        EXPECT_LT(QColor(image.pixel(corner)).lightnessF(), 0.35);
    }
}

} // namespace
} // namespace tarn
