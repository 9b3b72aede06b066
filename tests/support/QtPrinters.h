#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <ostream>

// Readable Qt values in GoogleTest failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << "QByteArray(\"" << bytes.toStdString() << "\")";
}

inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '[';
    for (qsizetype i = 0; i < list.size(); ++i) {
        *out << (i ? ", \"" : "\"") << list.at(i).toStdString() << '"';
    }
    *out << ']';
}

inline void PrintTo(const QUrl& url, std::ostream* out) {
    *out << "QUrl(" << url.toString().toStdString() << ')';
}
