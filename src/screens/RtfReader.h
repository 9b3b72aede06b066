#pragma once

#include <QByteArrayView>
#include <QString>

#include <memory>

class QTextDocument;

namespace tarn {

// Reads a Rich Text Format document into styled text: groups, font and colour tables, fonts, sizes,
// bold, italic, underline, strike-through, colours, paragraphs with alignment, indents, spacing and
// tab stops, `\'hh` bytes in the document's code page and `\uN` characters with their `\ucN`
// fallbacks. Ignorable destinations (`{\*...}`), pictures, headers and other non-text destinations
// are skipped. Anything that is not readable RTF (no `{\rtf` header, unbalanced groups, bad escapes,
// truncated binary data) gives no document, and `errorString()` says why.
class RtfReader {
public:
    std::unique_ptr<QTextDocument> read(QByteArrayView rtf);
    QString errorString() const { return error; }

private:
    QString error;
};

} // namespace tarn
