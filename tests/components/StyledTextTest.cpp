#include "components/StyledText.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <gtest/gtest.h>

namespace tarn {
namespace {

const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);

TEST(StyledTextTest, AddingStyleSplitsRunsAndMergesAttributes) {
    StyledText text(QStringLiteral("one two three"));
    text.addStyle(4, 3, {red, std::nullopt, false});
    text.addStyle(4, 9, {std::nullopt, std::nullopt, true});

    const QList<StyledRun> runs = text.runs();
    ASSERT_EQ(runs.size(), 3);
    EXPECT_EQ(runs[0].text, QStringLiteral("one "));
    EXPECT_EQ(runs[0].style, TextStyle{});
    EXPECT_EQ(runs[1].text, QStringLiteral("two"));
    EXPECT_EQ(runs[1].style, (TextStyle{red, std::nullopt, true}));
    EXPECT_EQ(runs[2].text, QStringLiteral(" three"));
    EXPECT_EQ(runs[2].style, (TextStyle{std::nullopt, std::nullopt, true}));
}

TEST(StyledTextTest, LaterColourReplacesEarlierEqualNeighboursJoinAndRangesAreClipped) {
    StyledText text(QStringLiteral("abcdef"));
    text.addStyle(0, 3, {red, std::nullopt, false});
    text.addStyle(3, 3, {red, std::nullopt, false});
    ASSERT_EQ(text.runs().size(), 1);
    text.addStyle(2, 2, {blue, std::nullopt, false});
    EXPECT_EQ(text.styleAt(1).color, red);
    EXPECT_EQ(text.styleAt(2).color, blue);
    EXPECT_EQ(text.styleAt(4).color, red);

    StyledText clipped(QStringLiteral("abc"));
    clipped.addStyle(-5, 6, {red, std::nullopt, false});
    clipped.addStyle(2, 100, {blue, std::nullopt, false});
    clipped.addStyle(10, 2, {std::nullopt, std::nullopt, true});
    EXPECT_EQ(clipped.styleAt(0).color, red);
    EXPECT_FALSE(clipped.styleAt(1).color.has_value());
    EXPECT_EQ(clipped.styleAt(2).color, blue);
    EXPECT_EQ(clipped.runs().size(), 3);
    EXPECT_EQ(clipped.string(), QStringLiteral("abc"));
}

TEST(StyledTextTest, HtmlEscapesTextAndCarriesColourAndFont) {
    QFont font(QStringLiteral("Poppins"));
    font.setPixelSize(32);
    font.setWeight(QFont::Medium);
    StyledText text(QStringLiteral("<b>Scan & Go</b>\nnext"), {red, font, true});
    const QString html = text.toHtml();
    EXPECT_TRUE(html.contains(QStringLiteral("font-weight:500")));
    EXPECT_TRUE(html.contains(QStringLiteral("text-decoration:underline")));

    // What the label shows is exactly the text, with the style applied.
    QTextDocument document;
    document.setHtml(html);
    EXPECT_EQ(document.toPlainText(), QStringLiteral("<b>Scan & Go</b>\nnext"));
    const QTextCharFormat format = document.begin().begin().fragment().charFormat();
    EXPECT_EQ(format.foreground().color(), red);
    EXPECT_EQ(format.font().pixelSize(), 32);
}

TEST(StyledTextTest, DocumentKeepsEveryRunsFormat) {
    QFont font(QStringLiteral("Poppins"));
    font.setPixelSize(16);
    StyledText text(QStringLiteral("plain "));
    text.append(QStringLiteral("red"), {red, font, false});
    const auto document = text.toDocument();
    EXPECT_EQ(document->toPlainText(), QStringLiteral("plain red"));

    QList<QTextFragment> fragments;
    for (auto it = document->begin().begin(); !it.atEnd(); ++it) {
        fragments.append(it.fragment());
    }
    ASSERT_EQ(fragments.size(), 2);
    EXPECT_FALSE(fragments[0].charFormat().hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(fragments[1].charFormat().foreground().color(), red);
    EXPECT_EQ(fragments[1].charFormat().font().pixelSize(), 16);
}

} // namespace
} // namespace tarn
