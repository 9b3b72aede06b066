#include "components/StyledText.h"

#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using namespace Qt::StringLiterals;

const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);
const TextStyle underlined{std::nullopt, std::nullopt, true};

TEST(StyledTextTest, AddingStyleSplitsRunsMergesAttributesJoinsEqualNeighboursAndClipsRanges) {
    StyledText text(u"one two three"_s);
    text.addStyle(4, 3, {red, std::nullopt, false});
    text.addStyle(4, 9, underlined);
    EXPECT_EQ(text.runs(), (QList<StyledRun>{{u"one "_s, TextStyle{}},
                                             {u"two"_s, TextStyle{red, std::nullopt, true}},
                                             {u" three"_s, underlined}}));

    StyledText joined(u"abcdef"_s);
    joined.addStyle(0, 3, {red, std::nullopt, false});
    joined.addStyle(3, 3, {red, std::nullopt, false});
    EXPECT_EQ(joined.runs().size(), 1);
    joined.addStyle(2, 2, {blue, std::nullopt, false}); // a later colour replaces the earlier one
    EXPECT_EQ(joined.runs(), (QList<StyledRun>{{u"ab"_s, {red, std::nullopt, false}},
                                               {u"cd"_s, {blue, std::nullopt, false}},
                                               {u"ef"_s, {red, std::nullopt, false}}}));

    StyledText clipped(u"abc"_s);
    clipped.addStyle(-5, 6, {red, std::nullopt, false});
    clipped.addStyle(2, 100, {blue, std::nullopt, false});
    clipped.addStyle(10, 2, underlined);
    EXPECT_EQ(clipped.runs(), (QList<StyledRun>{{u"a"_s, {red, std::nullopt, false}},
                                                {u"b"_s, TextStyle{}},
                                                {u"c"_s, {blue, std::nullopt, false}}}));
}

TEST(StyledTextTest, HtmlAndDocumentKeepTheTextExactlyAndEveryRunsFormat) {
    QFont font(u"Poppins"_s);
    font.setPixelSize(32);
    font.setWeight(QFont::Medium);
    const QString raw = u"<b>Scan & Go</b>\nnext"_s;
    const QString html = StyledText(raw, {red, font, true}).toHtml();
    EXPECT_TRUE(html.contains(u"font-weight:500"_s) && html.contains(u"text-decoration:underline"_s));
    QTextDocument fromHtml;
    fromHtml.setHtml(html);
    EXPECT_EQ(fromHtml.toPlainText(), raw);
    const QTextCharFormat format = fromHtml.begin().begin().fragment().charFormat();
    EXPECT_EQ(std::tuple(format.foreground().color(), format.font().pixelSize()), std::tuple(red, 32));

    StyledText text(u"plain "_s);
    text.append(u"red"_s, {red, font, false});
    const auto document = text.toDocument();
    EXPECT_EQ(document->toPlainText(), u"plain red"_s);
    QList<QTextFragment> fragments;
    for (auto it = document->begin().begin(); !it.atEnd(); ++it) {
        fragments.append(it.fragment());
    }
    ASSERT_EQ(fragments.size(), 2);
    EXPECT_FALSE(fragments[0].charFormat().hasProperty(QTextFormat::ForegroundBrush));
    const QTextCharFormat second = fragments[1].charFormat();
    EXPECT_EQ(std::tuple(second.foreground().color(), second.font().pixelSize()), std::tuple(red, 32));
}

} // namespace
} // namespace tarn
