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

using namespace Qt::StringLiterals;

class DocumentLoadingTest : public ::testing::Test {
protected:
    void SetUp() override { test::useShippedResources(); }

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
    EXPECT_TRUE(eulaText.contains(u"End-User License Agreement"_s));
    EXPECT_TRUE(eulaText.contains(u"Veröffentlichung"_s));     // \u246?
    EXPECT_TRUE(eulaText.contains(u"© T.A.R.N. — Version"_s)); // \'a9 \emdash
    EXPECT_FALSE(eulaText.contains(u'\\'));
    // Each formatting word is proven by the reader's own tests; here the shipped file keeps its styling.
    EXPECT_TRUE(hasStyle(*eula, [](const QTextCharFormat& f) {
        return f.foreground().color() == QColor(255, 200, 87) && f.fontWeight() == QFont::Bold;
    }));
    EXPECT_TRUE(loadLegalNotice()->toPlainText().contains(u"View → Open Log File"_s));
}

TEST_F(DocumentLoadingTest, MissingOrBrokenFileGivesTheUnstyledFallbackInTheCurrentLanguage) {
    const QString path = writeFile(u"Notes.RTF"_s, "These are plain notes, not rich text.");
    writeFile(u"Cut.RTF"_s, "{\\rtf1\\ansi {\\b cut off");
    writeFile(u"Empty.RTF"_s, QByteArray());
    // The extension keeps its letter case: the shipped file is ".RTF".
    for (const auto& [name, where] :
         {std::pair{u"TARN_Missing.RTF"_s, documentResourceFolder},
          std::pair{u"TARN_EULA.rtf"_s, documentResourceFolder}, std::pair{u"TARN_EULA"_s, documentResourceFolder},
          std::pair{u"Notes.RTF"_s, path}, std::pair{u"Cut.RTF"_s, path}, std::pair{u"Empty.RTF"_s, path}}) {
        const auto document = loadRTFDocument(name, where);
        EXPECT_EQ(document->toPlainText(), localized(u"error.filenotfound")) << name.toStdString();
        EXPECT_FALSE(hasStyle(*document, [](const QTextCharFormat& f) {
            return f.hasProperty(QTextFormat::ForegroundBrush) || f.hasProperty(QTextFormat::FontWeight);
        }));
    }
    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(loadRTFDocument(u"TARN_Missing.RTF"_s)->toPlainText(), u"Das Dokument konnte nicht geladen werden."_s);

    writeFile(u"Terms.Rtf"_s, "{\\rtf1 {\\b Terms} apply.}");
    EXPECT_EQ(loadRTFDocument(u"Terms.Rtf"_s, path)->toPlainText(), u"Terms apply."_s);
}

// Characters of the expected title: 'h' highlight colour, 'l' label colour, '.' no attributes.
TEST(HighlightedTitleTest, ColoursTheHighlightAndTheTemplatesOwnText) {
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
            {"Apps for %@", "S200", "Apps for S200", "lllllllllhhhh"},
            {"%@ found", "S200", "S200 found", "hhhhllllll"},
            {"Scan with S200", "S200", "Scan with S200", "llllllllllhhhh"}, // no placeholder, highlight inside
            {"Welcome", "S200", "Welcome", "lllllll"},
            {"For %@ now", "X", "For X now", "....h...."}, // text on both sides is not found as one
            {"%@ or %@", "A", "A or A", "hllll."},         // only the first highlight is coloured
            {"For %@", "", "For ", "llll"},
            {"S2 and %@", "S2", "S2 and S2", "hhlllll.."}}; // also in the template before the placeholder
    const QFont font = theme::font(u"Poppins-Medium", 32);
    const TextStyle highlight{theme::color(u"TitleDeviceDetected"), font, false};
    const TextStyle label{theme::color(u"labelText"), font, false};
    for (const auto& [templateText, highlighted, expected, colours] : cases) {
        SCOPED_TRACE(templateText);
        const StyledText title = highlightedTitle(QString::fromUtf8(templateText), QString::fromUtf8(highlighted));
        ASSERT_EQ(title.string(), QString::fromUtf8(expected));
        ASSERT_EQ(qsizetype(strlen(colours)), title.string().size());
        for (qsizetype index = 0; index < title.string().size(); ++index) {
            const char colour = colours[index];
            EXPECT_EQ(title.styleAt(index), colour == 'h' ? highlight : colour == 'l' ? label : TextStyle{}) << index;
        }
    }
}

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
