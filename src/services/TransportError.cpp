#include "services/TransportError.h"

#include <QMetaEnum>

namespace tarn {

using namespace Qt::StringLiterals;

QString TransportError::debugDescription() const {
    const char* name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(errorCode);
    return u"TransportError(%1, %2)"_s.arg(name ? QString::fromLatin1(name) : QString::number(errorCode),
                                           quotedForDebug(descriptionText));
}

} // namespace tarn
