#pragma once

#include "base/Error.h"

#include <QNetworkReply>
#include <QString>

namespace tarn {

// A failure of the HTTPS transport itself (no connection, TLS refused, time-out), as the network layer
// reported it: its error code, kept so that TLS failures can be told from other connectivity trouble.
class TransportError final : public Error {
public:
    TransportError(QNetworkReply::NetworkError code, QString description)
        : errorCode(code), descriptionText(std::move(description)) {}

    QNetworkReply::NetworkError code() const { return errorCode; }

    QString localizedDescription() const override { return descriptionText; }
    QString debugDescription() const override;

private:
    QNetworkReply::NetworkError errorCode;
    QString descriptionText;
};

} // namespace tarn
