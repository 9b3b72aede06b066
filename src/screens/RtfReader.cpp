#include "screens/RtfReader.h"

#include "components/Theme.h"
#include "screens/RtfCodePages.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

constexpr int maximumGroupDepth = 256;
constexpr int maximumControlWordLength = 32;
constexpr int maximumParameterDigits = 10;
constexpr int defaultHalfPoints = 24;
constexpr qreal twipsPerPoint = 20;

enum class Destination { text, skipped, fontTable, colorTable };

struct CharacterState {
    int font = -1; // -1: the document's default font
    int halfPoints = defaultHalfPoints;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    bool hidden = false;
    int foreground = 0; // colour table index; 0 is the automatic colour
    int background = 0;
    QTextCharFormat::VerticalAlignment verticalAlignment = QTextCharFormat::AlignNormal;
};

struct ParagraphState {
    Qt::Alignment alignment = Qt::AlignLeft;
    int leftIndent = 0; // all in twips
    int rightIndent = 0;
    int firstLineIndent = 0;
    int spaceBefore = 0;
    int spaceAfter = 0;
    int lineSpacing = 0;
    bool lineSpacingIsMultiple = false;
    QList<int> tabStops;
};

struct GroupState {
    CharacterState character;
    ParagraphState paragraph;
    Destination destination = Destination::text;
    int unicodeFallbackLength = 1;
};

struct FontEntry {
    QString name;
    int codePage = 0; // 0: the document's
};

struct Unreadable {
    QString reason;
};

// Destinations whose content is never text of the document.
const QSet<QByteArray>& skippedDestinations() {
    static const QSet<QByteArray> names{"info",         "stylesheet",
                                        "pict",         "object",
                                        "header",       "headerl",
                                        "headerr",      "headerf",
                                        "footer",       "footerl",
                                        "footerr",      "footerf",
                                        "footnote",     "fldinst",
                                        "listtable",    "listoverridetable",
                                        "revtbl",       "rsidtbl",
                                        "generator",    "xmlnstbl",
                                        "themedata",    "colorschememapping",
                                        "latentstyles", "datastore",
                                        "pn",           "filetbl",
                                        "docvar",       "nonshppict",
                                        "shppict",      "bkmkstart",
                                        "bkmkend",      "xe",
                                        "tc",           "txe",
                                        "ftnsep",       "ftnsepc",
                                        "ftncn",        "aftnsep",
                                        "aftnsepc",     "aftncn",
                                        "annotation",   "atnid",
                                        "atnauthor",    "private",
                                        "pgdsctbl",     "userprops",
                                        "template",     "fchars",
                                        "lchars",       "upr",
                                        "title",        "subject",
                                        "author",       "operator",
                                        "keywords",     "comment",
                                        "doccomm",      "company",
                                        "category",     "manager",
                                        "hlinkbase"};
    return names;
}

// Control words that stand for one character.
const QHash<QByteArray, char16_t>& characterWords() {
    static const QHash<QByteArray, char16_t> words{
            {"line", u'\u2028'},      {"tab", u'\t'},         {"cell", u'\t'},        {"emdash", u'\u2014'},
            {"endash", u'\u2013'},    {"emspace", u'\u2003'}, {"enspace", u'\u2002'}, {"qmspace", u'\u2005'},
            {"bullet", u'\u2022'},    {"lquote", u'\u2018'},  {"rquote", u'\u2019'},  {"ldblquote", u'\u201C'},
            {"rdblquote", u'\u201D'}, {"zwj", u'\u200D'},     {"zwnj", u'\u200C'},    {"ltrmark", u'\u200E'},
            {"rtlmark", u'\u200F'}};
    return words;
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

class Parser {
public:
    Parser(QByteArrayView input, QTextDocument& document) : input(input), cursor(&document) {}

    void run() {
        while (position < input.size() && (input[position] == ' ' || input[position] == '\t' ||
                                           input[position] == '\r' || input[position] == '\n')) {
            ++position;
        }
        if (!input.sliced(position).startsWith("{\\rtf")) {
            fail(u"the data does not start with {\\rtf"_s);
        }
        while (position < input.size()) {
            const char c = input[position++];
            switch (c) {
            case '{':
                openGroup();
                break;
            case '}':
                closeGroup();
                if (groups.isEmpty()) {
                    flushText();
                    return; // whatever follows the document's group is not part of it
                }
                break;
            case '\\':
                readControl();
                break;
            case '\r':
            case '\n':
                break;
            default:
                byte(c, false);
            }
        }
        fail(u"the document ends inside a group"_s);
    }

private:
    [[noreturn]] static void fail(const QString& reason) { throw Unreadable{reason}; }

    void openGroup() {
        flushText();
        pendingFallback = 0;
        if (groups.size() >= maximumGroupDepth) {
            fail(u"groups are nested too deeply"_s);
        }
        groups.append(state);
    }

    void closeGroup() {
        flushText();
        pendingFallback = 0;
        if (groups.isEmpty()) {
            fail(u"a group is closed that was never opened"_s);
        }
        if (state.destination == Destination::fontTable && !fontName.trimmed().isEmpty()) {
            commitFont(); // some writers leave out the closing ';' of the last font
        }
        state = groups.takeLast();
    }

    void readControl() {
        if (position >= input.size()) {
            fail(u"the document ends after a backslash"_s);
        }
        const char first = input[position];
        if (isLetter(first)) {
            readControlWord();
            return;
        }
        ++position;
        if (first == '\'') {
            if (position + 2 > input.size() || hexValue(input[position]) < 0 || hexValue(input[position + 1]) < 0) {
                fail(u"a \\' escape is not followed by two hexadecimal digits"_s);
            }
            const char value = static_cast<char>(hexValue(input[position]) * 16 + hexValue(input[position + 1]));
            position += 2;
            byte(value, true);
            return;
        }
        if (consumeFallback()) {
            return;
        }
        switch (first) {
        case '\\':
        case '{':
        case '}':
            character(QChar::fromLatin1(first));
            break;
        case '~':
            character(QChar(0x00A0));
            break;
        case '_':
            character(QChar(0x2011));
            break;
        case '-':
            character(QChar(0x00AD));
            break;
        case '*':
            state.destination = Destination::skipped;
            break;
        case '\r':
        case '\n':
            paragraph();
            break;
        default:
            break; // index and formula symbols carry nothing to show
        }
    }

    void readControlWord() {
        const qsizetype start = position;
        while (position < input.size() && isLetter(input[position])) {
            ++position;
        }
        if (position - start > maximumControlWordLength) {
            fail(u"a control word is too long"_s);
        }
        const QByteArray word = input.sliced(start, position - start).toByteArray();

        bool hasParameter = false;
        bool negative = false;
        qint64 parameter = 0;
        if (position < input.size() && input[position] == '-' && position + 1 < input.size() &&
            isDigit(input[position + 1])) {
            negative = true;
            ++position;
        }
        const qsizetype digitsStart = position;
        while (position < input.size() && isDigit(input[position])) {
            parameter = parameter * 10 + (input[position] - '0');
            ++position;
            if (position - digitsStart > maximumParameterDigits) {
                fail(u"a control word has too long a number"_s);
            }
        }
        hasParameter = position > digitsStart;
        parameter = std::clamp<qint64>(negative ? -parameter : parameter, std::numeric_limits<int>::min(),
                                       std::numeric_limits<int>::max());
        if (position < input.size() && input[position] == ' ') {
            ++position;
        }
        controlWord(word, hasParameter, static_cast<int>(parameter));
    }

    void controlWord(const QByteArray& word, bool hasParameter, int parameter) {
        if (word == "bin") {
            skipBinary(hasParameter ? std::max(parameter, 0) : 0);
            return;
        }
        if (consumeFallback() || state.destination == Destination::skipped || destinationWord(word)) {
            return;
        }
        if (state.destination == Destination::fontTable) {
            fontTableWord(word, parameter);
        } else if (state.destination == Destination::colorTable) {
            colorTableWord(word, parameter);
        } else if (!textWord(word, parameter)) {
            flushText(); // everything else changes how the text that follows looks
            formattingWord(word, parameter, !hasParameter || parameter != 0);
        }
    }

    // Binary data is skipped whatever the destination, and is never a fallback character.
    void skipBinary(qsizetype length) {
        if (length > input.size() - position) {
            fail(u"binary data runs past the end of the document"_s);
        }
        position += length;
    }

    // A word that opens a destination other than the text: the group's content goes there.
    bool destinationWord(const QByteArray& word) {
        if (skippedDestinations().contains(word)) {
            flushText();
            state.destination = Destination::skipped;
        } else if (word == "fonttbl") {
            flushText();
            state.destination = Destination::fontTable;
        } else if (word == "colortbl") {
            flushText();
            state.destination = Destination::colorTable;
            componentSeen = false;
        } else {
            return false;
        }
        return true;
    }

    // A word that stands for a character or ends a paragraph.
    bool textWord(const QByteArray& word, int parameter) {
        if (word == "u") {
            const int unit = parameter < 0 ? parameter + 65536 : parameter;
            character(QChar(static_cast<char16_t>(unit & 0xFFFF)));
            pendingFallback = state.unicodeFallbackLength;
        } else if (const auto found = characterWords().constFind(word); found != characterWords().constEnd()) {
            character(QChar(*found));
        } else if (word == "par" || word == "sect" || word == "page" || word == "row") {
            paragraph();
        } else {
            return false;
        }
        return true;
    }

    using FormattingWord = void (*)(Parser&, int parameter, bool on);

    // Words that set the document's code page and default font, or how characters and paragraphs look.
    static const QHash<QByteArray, FormattingWord>& formattingWords() {
        static const QHash<QByteArray, FormattingWord> words{
                {"uc", [](Parser& p, int n, bool) { p.state.unicodeFallbackLength = std::max(n, 0); }},
                {"ansi", [](Parser& p, int, bool) { p.documentCodePage = 1252; }},
                {"mac", [](Parser& p, int, bool) { p.documentCodePage = 10000; }},
                {"pc", [](Parser& p, int, bool) { p.documentCodePage = 437; }},
                {"pca", [](Parser& p, int, bool) { p.documentCodePage = 850; }},
                {"ansicpg", [](Parser& p, int n, bool) { p.documentCodePage = n; }},
                {"deff", [](Parser& p, int n, bool) { p.defaultFont = n; }},
                {"plain", [](Parser& p, int, bool) { p.state.character = CharacterState{}; }},
                {"b", [](Parser& p, int, bool on) { p.state.character.bold = on; }},
                {"i", [](Parser& p, int, bool on) { p.state.character.italic = on; }},
                {"strike", [](Parser& p, int, bool on) { p.state.character.strikeOut = on; }},
                {"v", [](Parser& p, int, bool on) { p.state.character.hidden = on; }},
                {"ulnone", [](Parser& p, int, bool) { p.state.character.underline = false; }},
                {"ulc", [](Parser&, int, bool) {}}, // the underline's colour, not an underline
                {"f", [](Parser& p, int n, bool) { p.state.character.font = n; }},
                {"fs", [](Parser& p, int n, bool) { p.state.character.halfPoints = n > 0 ? n : defaultHalfPoints; }},
                {"cf", [](Parser& p, int n, bool) { p.state.character.foreground = n; }},
                {"cb", [](Parser& p, int n, bool) { p.state.character.background = n; }},
                {"highlight", [](Parser& p, int n, bool) { p.state.character.background = n; }},
                {"chcbpat", [](Parser& p, int n, bool) { p.state.character.background = n; }},
                {"super",
                 [](Parser& p, int, bool) { p.state.character.verticalAlignment = QTextCharFormat::AlignSuperScript; }},
                {"sub",
                 [](Parser& p, int, bool) { p.state.character.verticalAlignment = QTextCharFormat::AlignSubScript; }},
                {"nosupersub",
                 [](Parser& p, int, bool) { p.state.character.verticalAlignment = QTextCharFormat::AlignNormal; }},
                {"pard", [](Parser& p, int, bool) { p.state.paragraph = ParagraphState{}; }},
                {"ql", [](Parser& p, int, bool) { p.state.paragraph.alignment = Qt::AlignLeft; }},
                {"qc", [](Parser& p, int, bool) { p.state.paragraph.alignment = Qt::AlignHCenter; }},
                {"qr", [](Parser& p, int, bool) { p.state.paragraph.alignment = Qt::AlignRight; }},
                {"qj", [](Parser& p, int, bool) { p.state.paragraph.alignment = Qt::AlignJustify; }},
                {"li", [](Parser& p, int n, bool) { p.state.paragraph.leftIndent = n; }},
                {"ri", [](Parser& p, int n, bool) { p.state.paragraph.rightIndent = n; }},
                {"fi", [](Parser& p, int n, bool) { p.state.paragraph.firstLineIndent = n; }},
                {"sb", [](Parser& p, int n, bool) { p.state.paragraph.spaceBefore = n; }},
                {"sa", [](Parser& p, int n, bool) { p.state.paragraph.spaceAfter = n; }},
                {"sl", [](Parser& p, int n, bool) { p.state.paragraph.lineSpacing = n; }},
                {"slmult", [](Parser& p, int, bool on) { p.state.paragraph.lineSpacingIsMultiple = on; }},
                {"tx", [](Parser& p, int n, bool) { p.state.paragraph.tabStops.append(n); }}};
        return words;
    }

    void formattingWord(const QByteArray& word, int parameter, bool on) {
        if (const auto found = formattingWords().constFind(word); found != formattingWords().constEnd()) {
            (*found)(*this, parameter, on);
        } else if (word.startsWith("ul")) {
            state.character.underline = on; // \ul and every kind of underline: \uld, \ulw, \ulwave ...
        }
        // Any other word (page layout, revision marks, list levels ...) does not change the text.
    }

    void fontTableWord(const QByteArray& word, int parameter) {
        if (word == "f") {
            fontNumber = parameter;
            fontName.clear();
            fontCodePage = 0;
        } else if (word == "fcharset") {
            fontCodePage = codePageOfCharset(parameter);
        } else if (word == "cpg") {
            fontCodePage = parameter;
        }
    }

    void colorTableWord(const QByteArray& word, int parameter) {
        const int component = std::clamp(parameter, 0, 255);
        if (word == "red") {
            red = component;
        } else if (word == "green") {
            green = component;
        } else if (word == "blue") {
            blue = component;
        } else {
            return;
        }
        componentSeen = true;
    }

    // Skips one unit of the plain-text fallback that follows a \uN character.
    bool consumeFallback() {
        if (pendingFallback > 0) {
            --pendingFallback;
            return true;
        }
        return false;
    }

    // A byte of text, as written or as a \'hh escape; only a written ';' ends a table entry.
    void byte(char value, bool escaped) {
        if (consumeFallback()) {
            return;
        }
        switch (state.destination) {
        case Destination::skipped:
            return;
        case Destination::fontTable:
            if (value == ';' && !escaped) {
                commitFont();
            } else {
                fontName += decodeCodePage(QByteArrayView(&value, 1), documentCodePage);
            }
            return;
        case Destination::colorTable:
            if (value == ';' && !escaped) {
                colors.append(componentSeen ? QColor(red, green, blue) : QColor());
                red = green = blue = 0;
                componentSeen = false;
            }
            return;
        case Destination::text:
            if (!state.character.hidden) {
                pendingBytes.append(value);
            }
            return;
        }
    }

    void character(QChar value) {
        flushBytes();
        if (state.destination == Destination::fontTable) {
            fontName += value;
        } else if (state.destination == Destination::text && !state.character.hidden) {
            pendingText += value;
        }
    }

    void paragraph() {
        if (state.destination != Destination::text) {
            return;
        }
        flushText();
        const QTextBlockFormat format = blockFormat();
        cursor.setBlockFormat(format);
        cursor.insertBlock(format, charFormat());
    }

    void commitFont() {
        fonts.insert(fontNumber, {fontName.trimmed(), fontCodePage});
        fontName.clear();
    }

    const FontEntry* currentFont() const {
        const auto found = fonts.constFind(state.character.font >= 0 ? state.character.font : defaultFont);
        return found == fonts.constEnd() ? nullptr : &*found;
    }

    void flushBytes() {
        if (pendingBytes.isEmpty()) {
            return;
        }
        const FontEntry* font = currentFont();
        pendingText += decodeCodePage(pendingBytes, font && font->codePage > 0 ? font->codePage : documentCodePage);
        pendingBytes.clear();
    }

    void flushText() {
        flushBytes();
        if (pendingText.isEmpty()) {
            return;
        }
        cursor.setBlockFormat(blockFormat());
        cursor.insertText(pendingText, charFormat());
        pendingText.clear();
    }

    QTextCharFormat charFormat() const {
        const CharacterState& character = state.character;
        QTextCharFormat format;
        const int pixelSize = std::max(1, static_cast<int>(std::lround(character.halfPoints / 2.0)));
        QFont::Weight weight = QFont::Normal;
        bool italic = character.italic;
        if (const FontEntry* font = currentFont(); font && !font->name.isEmpty()) {
            const QFont named = theme::font(font->name, pixelSize);
            format.setFontFamilies(QStringList{named.family()});
            weight = named.weight();
            italic = italic || named.italic();
        }
        format.setFontWeight(character.bold ? std::max(weight, QFont::Bold) : weight);
        format.setFontItalic(italic);
        format.setFontUnderline(character.underline);
        format.setFontStrikeOut(character.strikeOut);
        format.setProperty(QTextFormat::FontPixelSize, pixelSize);
        format.setVerticalAlignment(character.verticalAlignment);
        if (const QColor color = tableColor(character.foreground); color.isValid()) {
            format.setForeground(color);
        }
        if (const QColor color = tableColor(character.background); color.isValid()) {
            format.setBackground(color);
        }
        return format;
    }

    QColor tableColor(int index) const { return index > 0 && index < colors.size() ? colors[index] : QColor(); }

    QTextBlockFormat blockFormat() const {
        const ParagraphState& paragraph = state.paragraph;
        QTextBlockFormat format;
        format.setAlignment(paragraph.alignment);
        format.setLeftMargin(paragraph.leftIndent / twipsPerPoint);
        format.setRightMargin(paragraph.rightIndent / twipsPerPoint);
        format.setTextIndent(paragraph.firstLineIndent / twipsPerPoint);
        format.setTopMargin(paragraph.spaceBefore / twipsPerPoint);
        format.setBottomMargin(paragraph.spaceAfter / twipsPerPoint);
        if (paragraph.lineSpacing > 0 && paragraph.lineSpacingIsMultiple) {
            format.setLineHeight(paragraph.lineSpacing * 100.0 / 240.0, QTextBlockFormat::ProportionalHeight);
        } else if (paragraph.lineSpacing > 0) {
            format.setLineHeight(paragraph.lineSpacing / twipsPerPoint, QTextBlockFormat::MinimumHeight);
        } else if (paragraph.lineSpacing < 0) {
            format.setLineHeight(-paragraph.lineSpacing / twipsPerPoint, QTextBlockFormat::FixedHeight);
        }
        if (!paragraph.tabStops.isEmpty()) {
            // RTF measures tab stops from the page margin, Qt from where the line starts; converted for
            // the first line, where tabs are used (a bullet, a tab, the text at the hanging indent).
            const int lineStart = paragraph.leftIndent + paragraph.firstLineIndent;
            QList<QTextOption::Tab> tabs;
            for (const int stop : paragraph.tabStops) {
                if (stop > lineStart) {
                    tabs.append(QTextOption::Tab((stop - lineStart) / twipsPerPoint, QTextOption::LeftTab));
                }
            }
            format.setTabPositions(tabs);
        }
        return format;
    }

    QByteArrayView input;
    qsizetype position = 0;
    QTextCursor cursor;
    GroupState state;
    QList<GroupState> groups;
    int pendingFallback = 0;
    QByteArray pendingBytes;
    QString pendingText;

    int documentCodePage = 1252;
    int defaultFont = -1;
    QHash<int, FontEntry> fonts;
    int fontNumber = 0;
    QString fontName;
    int fontCodePage = 0;
    QList<QColor> colors;
    int red = 0;
    int green = 0;
    int blue = 0;
    bool componentSeen = false;
};

} // namespace

std::unique_ptr<QTextDocument> RtfReader::read(QByteArrayView rtf) {
    error.clear();
    auto document = std::make_unique<QTextDocument>();
    document->setUndoRedoEnabled(false);
    try {
        Parser(rtf, *document).run();
    } catch (const Unreadable& unreadable) {
        error = unreadable.reason;
        return nullptr;
    }
    return document;
}

} // namespace tarn
