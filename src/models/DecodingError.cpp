#include "models/DecodingError.h"

namespace tarn {

namespace {

QString kindName(DecodingError::Kind kind) {
    switch (kind) {
    case DecodingError::Kind::dataCorrupted:
        return QStringLiteral("dataCorrupted");
    case DecodingError::Kind::keyNotFound:
        return QStringLiteral("keyNotFound");
    case DecodingError::Kind::valueNotFound:
        return QStringLiteral("valueNotFound");
    case DecodingError::Kind::typeMismatch:
        return QStringLiteral("typeMismatch");
    }
    return {};
}

} // namespace

QString DecodingError::localizedDescription() const {
    const QString where = path.isEmpty() ? QStringLiteral("the document root") : u'\'' + path + u'\'';
    return QStringLiteral("The data could not be read at %1: %2.").arg(where, problemText);
}

QString DecodingError::debugDescription() const {
    return QStringLiteral("DecodingError.%1(path: %2, %3)")
            .arg(kindName(errorKind), quotedForDebug(path), quotedForDebug(problemText));
}

} // namespace tarn
