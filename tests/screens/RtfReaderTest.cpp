#include "screens/RtfReader.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using namespace Qt::StringLiterals;

class RtfReaderTest : public ::testing::Test {
protected:
    std::unique_ptr<QTextDocument> read(const char* rtf) {
        auto document = reader.read(QByteArray(rtf));
        EXPECT_NE(document, nullptr) << reader.errorString().toStdString();
        return document;
    }

    static QTextCharFormat formatOf(const QTextDocument& document, const QString& text) {
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                if (it.fragment().text().contains(text)) {
                    return it.fragment().charFormat();
                }
            }
        }
        ADD_FAILURE() << "no run reads " << text.toStdString();
        return {};
    }

    RtfReader reader;
};

TEST_F(RtfReaderTest, TextOfTheDocumentParagraphsAndLines) {
    const std::pair<const char*, QString> cases[] = {
            {"{\\rtf1 Hello}", u"Hello"_s},
            // Line ends in the file are not text; a backslash before one is a paragraph.
            {"{\\rtf1 a\r\nb\\\nc}", u"ab\u2029c"_s},
            // Paragraphs end in U+2029, a line break inside one is U+2028.
            {"{\\rtf1\\ansi One\\par Two\\par\n\\par Four}", u"One\u2029Two\u2029\u2029Four"_s},
            {"{\\rtf1 one\\line two}", u"one\u2028two"_s},
            {"{\\rtf1 \\bullet\\tab x\\~y\\emdash z\\endash\\lquote q\\rquote\\ldblquote Q\\rdblquote}",
             u"•\tx\u00A0y—z–‘q’“Q”"_s},
            {"{\\rtf1 a\\{b\\}c\\\\d}", u"a{b}c\\d"_s},
            // Bytes in the document's code page, or in the code page of the font's character set.
            {"{\\rtf1\\ansi caf\\'e9 \\'80 \\'93q\\'94}", u"café € “q”"_s},
            {"{\\rtf1\\ansi\\ansicpg1251 \\'c0\\'e1}", u"Аб"_s},
            {"{\\rtf1\\mac \\'8a\\'a5}", u"ä•"_s},
            {"{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset238 Arial CE;}}\\f0 \\'b9\\f1 \\'b9}", u"¹ą"_s},
            // Unicode characters skip their fallbacks, which may be escapes or control words, one
            // character each; \ucN is scoped by its group, and the end of a group ends a fallback.
            {"{\\rtf1 \\u8364?x}", u"€x"_s},
            {"{\\rtf1 \\uc2\\u8364??x}", u"€x"_s},
            {"{\\rtf1 \\uc0\\u8364 x}", u"€x"_s},
            {"{\\rtf1 \\u233\\'e9x}", u"éx"_s},
            {"{\\rtf1 \\uc1\\u8212\\emdash x}", u"—x"_s},
            {"{\\rtf1 {\\uc3\\u8364 a}b\\u8364?c}", u"€b€c"_s},
            {"{\\rtf1 {\\uc3\\u8364}xyz}", u"€xyz"_s},
            // Negative values are the upper half; two in a row make a surrogate pair.
            {"{\\rtf1 \\u-3913?}", QString(QChar(0xF0B7))},
            {"{\\rtf1 \\u-10179?\\u-8704?}", u"😀"_s},
            // Destinations that are not text, hidden text, and what follows the document's group.
            {"{\\rtf1{\\*\\unknowndest secret {nested} text}shown}", u"shown"_s},
            {"{\\rtf1{\\info{\\title Title}{\\author Me}}{\\stylesheet{\\s0 Normal;}}body}", u"body"_s},
            {"{\\rtf1{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt link}} after}", u"link after"_s},
            {"{\\rtf1 {\\v hidden}seen}", u"seen"_s},
            // Binary data may hold braces and backslashes; it is skipped by its length.
            {"{\\rtf1{\\pict\\bin6 }{\\x}{}after}", u"after"_s},
            {"{\\rtf1 body}\r\ngarbage}}", u"body"_s},
    };
    for (const auto& [rtf, expected] : cases) {
        const auto document = read(rtf);
        // Raw text, as plain text would turn paragraph ends into line feeds and \u00A0 into a space.
        EXPECT_EQ(document ? document->toRawText() : QString(), expected) << rtf;
    }
}

TEST_F(RtfReaderTest, GroupsScopeCharacterFormatting) {
    const auto document = read("{\\rtf1 a{\\b b{\\i c}}d\\ul e\\ulnone f\\strike g\\strike0 h\\b i\\b0 j}");
    // Bold, italic, underline and strike-out of each run.
    const std::pair<const char*, const char*> runs[] = {{"a", "...."}, {"b", "b..."}, {"c", "bi.."}, {"d", "...."},
                                                        {"e", "..u."}, {"f", "...."}, {"g", "...s"}, {"h", "...."},
                                                        {"i", "b..."}, {"j", "...."}};
    for (const auto& [run, expected] : runs) {
        const QFont font = formatOf(*document, QString::fromLatin1(run)).font();
        const char shown[] = {font.bold() ? 'b' : '.', font.italic() ? 'i' : '.', font.underline() ? 'u' : '.',
                              font.strikeOut() ? 's' : '.', '\0'};
        EXPECT_STREQ(shown, expected) << run;
    }
}

TEST_F(RtfReaderTest, FontAndColourTablesSizesAndPlain) {
    const auto document = read("{\\rtf1\\deff1{\\fonttbl{\\f0\\fnil Poppins-Bold;}{\\f1\\froman Times New Roman;}"
                               "{\\f2 Odd\\'3bName;}{\\f3 Helvetica-Oblique}}"
                               "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green128\\blue255;}"
                               "\\f0\\fs32 A\\f1\\fs21 B\\f3 C\\plain D\\f2 E"
                               "\\cf1 red\\cf2 blue\\cf0 auto\\cf9 missing{\\highlight1 marked}}");
    const auto font = [&](const char* run) {
        const QTextCharFormat format = formatOf(*document, QString::fromLatin1(run));
        return std::tuple(format.fontFamilies().toStringList().join(u','), format.fontWeight(),
                          format.font().pixelSize());
    };
    EXPECT_EQ(font("A"), std::tuple(u"Poppins"_s, int(QFont::Bold), 16)); // half points
    EXPECT_EQ(font("B"), std::tuple(u"Times New Roman"_s, int(QFont::Normal), 11));
    EXPECT_TRUE(formatOf(*document, "C").fontItalic()); // the last entry lacks its ';'
    // \plain returns to the default font (\deff1) at 12 points.
    EXPECT_EQ(font("D"), std::tuple(u"Times New Roman"_s, int(QFont::Normal), 12));
    // An escaped ';' in a font name is part of the name, not the end of the entry.
    EXPECT_EQ(formatOf(*document, "E").fontFamilies().toStringList(), QStringList{u"Odd;Name"_s});

    EXPECT_EQ(formatOf(*document, "red").foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(formatOf(*document, "blue").foreground().color(), QColor(0, 128, 255));
    // The automatic colour leaves the run to the view's own text colour.
    EXPECT_FALSE(formatOf(*document, "auto").hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(formatOf(*document, "missing").hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(formatOf(*document, "marked").background().color(), QColor(255, 0, 0));
}

TEST_F(RtfReaderTest, ParagraphFormattingAppliesToItsParagraphUntilPard) {
    const auto document = read("{\\rtf1 \\qc\\sa240 centred\\par \\li720\\fi-360\\tx720 indented\\par"
                               "\\pard plain\\par\\qj\\sl360\\slmult1 justified}");
    // Alignment, left margin, first-line indent, space after and line height of each paragraph.
    const auto block = [&](int number) {
        const QTextBlockFormat f = document->findBlockByNumber(number).blockFormat();
        return std::tuple(int(f.alignment() & Qt::AlignHorizontal_Mask), f.leftMargin(), f.textIndent(),
                          f.bottomMargin(), f.lineHeight());
    };
    EXPECT_EQ(block(0), std::tuple(int(Qt::AlignHCenter), 0.0, 0.0, 12.0, 0.0));
    EXPECT_EQ(block(1), std::tuple(int(Qt::AlignHCenter), 36.0, -18.0, 12.0, 0.0)); // kept until \pard
    EXPECT_EQ(block(2), std::tuple(int(Qt::AlignLeft), 0.0, 0.0, 0.0, 0.0));
    EXPECT_EQ(block(3), std::tuple(int(Qt::AlignJustify), 0.0, 0.0, 0.0, 150.0));
    // The stop at the left indent, measured from where the hanging first line starts.
    const auto tabs = document->findBlockByNumber(1).blockFormat().tabPositions();
    ASSERT_EQ(tabs.size(), 1);
    EXPECT_DOUBLE_EQ(tabs[0].position, 18);
}

TEST(RtfReaderBrokenTest, GivesNoDocumentAndSaysWhy) {
    const std::pair<const char*, QByteArray> cases[] = {
            {"Empty", QByteArray()},
            {"PlainText", "Hello, world"},
            {"OtherFormat", "{\\rtx1 nearly}"},
            {"Unterminated", "{\\rtf1 never closed"},
            {"EndsAfterBackslash", "{\\rtf1 x\\"},
            {"BadHexEscape", "{\\rtf1 \\'zz}"},
            {"TruncatedHexEscape", "{\\rtf1 \\'4"},
            {"BinaryPastTheEnd", "{\\rtf1 \\bin100 ab}"},
            {"ControlWordTooLong", "{\\rtf1 \\abcdefghijklmnopqrstuvwxyzabcdefghij x}"},
            {"NumberTooLong", "{\\rtf1 \\fs123456789012 x}"},
            {"TooDeep", QByteArray("{\\rtf1 ") + QByteArray(300, '{') + QByteArray(301, '}')}};
    RtfReader reader;
    for (const auto& [name, data] : cases) {
        EXPECT_EQ(reader.read(data), nullptr) << name;
        EXPECT_FALSE(reader.errorString().isEmpty()) << name;
    }
}

TEST(RtfReaderBrokenTest, DamagedDocumentsNeverCrash) {
    QFile file(QStringLiteral(TARN_TEST_SOURCE_DIR "/../resources/documents/TARN_EULA.RTF"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray original = file.readAll();
    QRandomGenerator random(20240607);
    RtfReader reader;
    for (int round = 0; round < 300; ++round) {
        QByteArray damaged = original;
        for (int edit = 1 + random.bounded(8); edit > 0 && !damaged.isEmpty(); --edit) {
            const int at = random.bounded(damaged.size());
            if (random.bounded(2) == 0) {
                damaged[at] = static_cast<char>(random.bounded(256));
            } else {
                damaged.remove(at, 1 + random.bounded(40));
            }
        }
        reader.read(damaged);
    }
}

} // namespace
} // namespace tarn
