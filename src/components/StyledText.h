#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QTextCursor;
class QTextDocument;

namespace tarn {

// The attributes a run of text may carry. An absent colour or font leaves the run to whatever draws
// it (a label's palette, a button's foreground).
struct TextStyle {
    std::optional<QColor> color;
    std::optional<QFont> font;
    bool underline = false;

    // Fields set in `other` replace ours; the rest stay.
    TextStyle mergedWith(const TextStyle& other) const;

    friend bool operator==(const TextStyle&, const TextStyle&) = default;
};

struct StyledRun {
    QString text;
    TextStyle style;

    friend bool operator==(const StyledRun&, const StyledRun&) = default;
};

// Text with styled ranges, the counterpart of an attributed string: built by the view helpers, drawn
// by labels (as HTML) and by custom controls (through a QTextDocument), and inspectable by tests.
class StyledText {
public:
    StyledText() = default;
    explicit StyledText(QString text, TextStyle style = {});

    const QString& string() const { return text; }
    bool isEmpty() const { return text.isEmpty(); }

    // Adjacent runs with the same style are merged, so the runs are the distinct styled ranges.
    QList<StyledRun> runs() const;
    TextStyle styleAt(qsizetype index) const;

    // Merges `style` into the characters [start, start + length); ranges outside the text are clipped.
    void addStyle(qsizetype start, qsizetype length, const TextStyle& style);
    void append(const QString& more, const TextStyle& style = {});
    StyledText& operator+=(const StyledText& other);

    // Rich text for QLabel; `\n` becomes a line break.
    QString toHtml() const;
    // Inserts the runs at the cursor as character formats.
    void insertInto(QTextCursor& cursor) const;
    std::unique_ptr<QTextDocument> toDocument() const;

    friend bool operator==(const StyledText&, const StyledText&) = default;

private:
    struct Span {
        qsizetype length;
        TextStyle style;
        friend bool operator==(const Span&, const Span&) = default;
    };

    void splitAt(qsizetype position);
    void coalesce();

    QString text;
    QList<Span> spans;
};

} // namespace tarn
