#include "models/DecodingError.h"

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

QString kindName(DecodingError::Kind kind) {
    switch (kind) {
    case DecodingError::Kind::dataCorrupted:
        return u"dataCorrupted"_s;
    case DecodingError::Kind::keyNotFound:
        return u"keyNotFound"_s;
    case DecodingError::Kind::valueNotFound:
        return u"valueNotFound"_s;
    case DecodingError::Kind::typeMismatch:
        return u"typeMismatch"_s;
    }
    return {};
}

} // namespace

QString DecodingError::localizedDescription() const {
    const QString where = path.isEmpty() ? u"the document root"_s : u"'%1'"_s.arg(path);
    return u"The data could not be read at %1: %2."_s.arg(where, problemText);
}

QString DecodingError::debugDescription() const {
    return u"DecodingError.%1(path: %2, %3)"_s.arg(kindName(errorKind), quotedForDebug(path),
                                                   quotedForDebug(problemText));
}

} // namespace tarn
