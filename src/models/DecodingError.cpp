#include "models/DecodingError.h"

#include <iterator>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

QString kindName(DecodingError::Kind kind) {
    // In declaration order.
    static constexpr QStringView names[] = {u"dataCorrupted", u"keyNotFound", u"valueNotFound", u"typeMismatch"};
    const auto index = static_cast<size_t>(kind);
    return index < std::size(names) ? names[index].toString() : QString();
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
