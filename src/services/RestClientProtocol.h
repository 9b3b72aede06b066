#pragma once

#include "base/DownloadProgress.h"
#include "models/CatalogueDecoding.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

namespace tarn {

// The installer's only HTTP client: fetches JSON documents (optionally checked against a SHA-512
// digest before they are decoded) and downloads installer files into the temporary folder.
class RestClientProtocol {
public:
    virtual ~RestClientProtocol() = default;

    // Fetches and decodes one document. Fails with the transport's TransportError unchanged,
    // RestClientError::invalidResponse for a status outside 200-299, the validator's mismatchHash, or
    // the decoder's DecodingError.
    template <typename T>
    QCoro::Task<T> fetchData(QUrl url, std::optional<QString> expectedHash, QString name) {
        const QByteArray body = co_await fetchVerifiedBody(std::move(url), std::move(expectedHash), std::move(name));
        co_return JsonDocumentDecoder<T>::decode(body);
    }

    // The body of a successful GET, its digest checked when one is expected; everything fetchData does
    // but the decoding.
    virtual QCoro::Task<QByteArray> fetchVerifiedBody(QUrl url, std::optional<QString> expectedHash, QString name) = 0;

    // Downloads to the temporary folder and answers the file's location, which the caller owns. The
    // handler receives the bytes stored so far (and the announced length, when there is one) on the
    // main thread, for the most recent download only.
    // Fails with RestClientError networkError, invalidResponse or fileHandlingError.
    virtual QCoro::Task<QUrl> downloadFile(QUrl url, std::function<void(DownloadProgress)> progressHandler) = 0;

    // Ends the downloads still running: each fails at once and leaves no file. Fetches go on.
    virtual void cancelDownloads() = 0;
};

} // namespace tarn
