#include "services/FileReference.h"

#include <QStringDecoder>

namespace tarn {

std::optional<QUrl> fileReference(const QString& text) {
    if (text.isEmpty() || text.contains(QChar(u'\0'))) {
        return std::nullopt;
    }
    if (text.startsWith(u'/')) {
        qsizetype firstKept = 0;
        while (firstKept + 1 < text.size() && text.at(firstKept + 1) == u'/') {
            ++firstKept;
        }
        QUrl location;
        location.setPath(text.mid(firstKept), QUrl::DecodedMode);
        return location;
    }
    QUrl location(text, QUrl::StrictMode);
    if (!location.isValid()) {
        return std::nullopt;
    }
    return location;
}

namespace {

bool isPathReference(const QUrl& location) {
    return location.scheme().isEmpty() && location.authority().isEmpty() && !location.hasQuery() &&
           !location.hasFragment();
}

} // namespace

QString locationText(const QUrl& location) {
    if (isPathReference(location)) {
        return location.path(QUrl::FullyDecoded);
    }
    return location.toString(QUrl::FullyEncoded);
}

std::optional<QString> localFilePath(const QUrl& location) {
    const bool onThisMachine = location.host().isEmpty() || location.host() == QLatin1String("localhost");
    const bool isFileScheme = location.isLocalFile() && onThisMachine;
    const bool isReference = location.scheme().isEmpty() && location.authority().isEmpty();
    if (isFileScheme || isReference) {
        return location.path(QUrl::FullyDecoded);
    }
    return std::nullopt;
}

std::optional<QString> decodedUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

} // namespace tarn
