#include "services/TransportError.h"

#include <QMetaEnum>

namespace tarn {

QString TransportError::debugDescription() const {
    const char* name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(errorCode);
    return QStringLiteral("TransportError(%1, %2)")
            .arg(name ? QString::fromLatin1(name) : QString::number(errorCode), quotedForDebug(descriptionText));
}

} // namespace tarn
