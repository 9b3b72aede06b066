#include "components/StyledText.h"

#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <memory>

namespace tarn {

using namespace Qt::StringLiterals;

TextStyle TextStyle::mergedWith(const TextStyle& other) const {
    TextStyle merged = *this;
    if (other.color) {
        merged.color = other.color;
    }
    if (other.font) {
        merged.font = other.font;
    }
    merged.underline = merged.underline || other.underline;
    return merged;
}

StyledText::StyledText(QString text, TextStyle style) : text(std::move(text)) {
    if (!this->text.isEmpty()) {
        spans.append({this->text.size(), std::move(style)});
    }
}

QList<StyledRun> StyledText::runs() const {
    QList<StyledRun> result;
    qsizetype position = 0;
    for (const Span& span : spans) {
        result.append({text.mid(position, span.length), span.style});
        position += span.length;
    }
    return result;
}

TextStyle StyledText::styleAt(qsizetype index) const {
    qsizetype position = 0;
    for (const Span& span : spans) {
        if (index < position + span.length) {
            return index >= position ? span.style : TextStyle{};
        }
        position += span.length;
    }
    return {};
}

void StyledText::addStyle(qsizetype start, qsizetype length, const TextStyle& style) {
    const qsizetype begin = std::clamp<qsizetype>(start, 0, text.size());
    const qsizetype end = std::clamp<qsizetype>(start + std::max<qsizetype>(length, 0), begin, text.size());
    if (begin == end) {
        return;
    }
    splitAt(begin);
    splitAt(end);
    qsizetype position = 0;
    for (Span& span : spans) {
        if (position >= begin && position < end) {
            span.style = span.style.mergedWith(style);
        }
        position += span.length;
    }
    coalesce();
}

void StyledText::append(const QString& more, const TextStyle& style) {
    if (more.isEmpty()) {
        return;
    }
    text += more;
    spans.append({more.size(), style});
    coalesce();
}

StyledText& StyledText::operator+=(const StyledText& other) {
    for (const StyledRun& run : other.runs()) {
        append(run.text, run.style);
    }
    return *this;
}

QString StyledText::toHtml() const {
    QString html;
    for (const StyledRun& run : runs()) {
        QStringList css;
        if (run.style.color) {
            const QColor& color = *run.style.color;
            css << u"color:rgba(%1,%2,%3,%4)"_s.arg(color.red())
                            .arg(color.green())
                            .arg(color.blue())
                            .arg(color.alphaF(), 0, 'f', 3);
        }
        if (run.style.font) {
            const QFont& font = *run.style.font;
            css << u"font-family:'%1'"_s.arg(font.family());
            css << u"font-weight:%1"_s.arg(font.weight());
            if (font.pixelSize() > 0) {
                css << u"font-size:%1px"_s.arg(font.pixelSize());
            } else if (font.pointSizeF() > 0) {
                css << u"font-size:%1pt"_s.arg(font.pointSizeF());
            }
            if (font.italic()) {
                css << u"font-style:italic"_s;
            }
        }
        if (run.style.underline) {
            css << u"text-decoration:underline"_s;
        }
        QString escaped = run.text.toHtmlEscaped();
        escaped.replace(u'\n', u"<br/>"_s);
        if (css.isEmpty()) {
            html += escaped;
        } else {
            html += u"<span style=\"%1\">%2</span>"_s.arg(css.join(u';'), escaped);
        }
    }
    return html;
}

void StyledText::insertInto(QTextCursor& cursor) const {
    for (const StyledRun& run : runs()) {
        QTextCharFormat format;
        if (run.style.color) {
            format.setForeground(*run.style.color);
        }
        if (run.style.font) {
            format.setFont(*run.style.font);
        }
        format.setFontUnderline(run.style.underline);
        const QStringList lines = run.text.split(u'\n');
        for (qsizetype line = 0; line < lines.size(); ++line) {
            if (line > 0) {
                cursor.insertBlock();
            }
            cursor.insertText(lines[line], format);
        }
    }
}

std::unique_ptr<QTextDocument> StyledText::toDocument() const {
    auto document = std::make_unique<QTextDocument>();
    document->setDocumentMargin(0);
    QTextCursor cursor(document.get());
    insertInto(cursor);
    return document;
}

void StyledText::splitAt(qsizetype position) {
    qsizetype start = 0;
    for (qsizetype index = 0; index < spans.size(); ++index) {
        const qsizetype end = start + spans[index].length;
        if (position > start && position < end) {
            const Span tail{end - position, spans[index].style};
            spans[index].length = position - start;
            spans.insert(index + 1, tail);
            return;
        }
        start = end;
    }
}

void StyledText::coalesce() {
    for (qsizetype index = 1; index < spans.size();) {
        if (spans[index].style == spans[index - 1].style) {
            spans[index - 1].length += spans[index].length;
            spans.removeAt(index);
        } else {
            ++index;
        }
    }
}

} // namespace tarn
