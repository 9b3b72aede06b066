#pragma once

#include "services/HttpsSession.h"
#include "services/InstallerValidatorProtocol.h"
#include "services/LoggerProtocol.h"
#include "services/RestClientProtocol.h"

#include <memory>

namespace tarn {

// The installer's HTTP client on the shared HTTPS session: documents checked by status and digest
// before anyone decodes them, and installer downloads streamed into the temporary folder.
class RestClient final : public RestClientProtocol {
public:
    RestClient(std::shared_ptr<HttpsSession> urlSession, std::shared_ptr<LoggerProtocol> logger,
               std::shared_ptr<InstallerValidatorProtocol> validator);
    ~RestClient() override;

    RestClient(const RestClient&) = delete;
    RestClient& operator=(const RestClient&) = delete;

    QCoro::Task<QByteArray> fetchVerifiedBody(QUrl url, std::optional<QString> expectedHash, QString name) override;
    // Lands at <temporary folder>/<fresh UUID>.<extension of the suggested name>. Progress reaches the
    // handler on the main thread until the next download starts.
    QCoro::Task<QUrl> downloadFile(QUrl url, std::function<void(DownloadProgress)> progressHandler) override;
    void cancelDownloads() override;

private:
    class ProgressObservation;

    std::shared_ptr<HttpsSession> urlSession;
    std::shared_ptr<LoggerProtocol> logger;
    std::shared_ptr<InstallerValidatorProtocol> validator;
    // Belongs to the most recently started download; replacing it silences the previous one.
    std::shared_ptr<ProgressObservation> observation;
    // Stops every transfer still running when the client goes away.
    std::shared_ptr<HttpsSession::Cancellation> cancellation = std::make_shared<HttpsSession::Cancellation>();
    // Stops the downloads started so far; replaced when used, so later downloads run.
    std::shared_ptr<HttpsSession::Cancellation> downloadCancellation = std::make_shared<HttpsSession::Cancellation>();
};

} // namespace tarn
