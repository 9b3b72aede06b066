#pragma once

#include <QByteArrayView>
#include <QString>

namespace tarn {

// Decodes bytes of an RTF document's 8-bit code page (\ansicpgN, a font's \fcharset): the Windows
// pages 1250 to 1254 and 1257, DOS 437 and 850, Mac Roman (10000) and UTF-8 (65001). Any other page,
// multi-byte Asian pages among them, reads as Windows-1252.
QString decodeCodePage(QByteArrayView bytes, int codePage);

// The code page of an RTF \fcharset value, or 0 when the charset means "the document's".
int codePageOfCharset(int charset);

} // namespace tarn
