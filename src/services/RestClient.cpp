#include "services/RestClient.h"

#include "base/Error.h"
#include "services/RestClientError.h"
#include "services/TransportError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

QString freshUuidText() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

bool isTransportError(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TransportError&) {
        return true;
    } catch (...) {
        return false;
    }
}

// The completion of a download, on the session's thread: judge the answer and move the body to its
// final name. The session deletes its own file whenever this throws.
QUrl moveIntoTemporaryFolder(const HttpsSession::DownloadOutcome& outcome) {
    if (outcome.error) {
        // The transport's failure is the network error; not being able to store the body is ours.
        throw isTransportError(outcome.error) ? RestClientError::networkError(outcome.error)
                                              : RestClientError::fileHandlingError(outcome.error);
    }
    if (!outcome.location) {
        throw RestClientError::invalidResponse();
    }
    if (!outcome.statusCode || *outcome.statusCode < 200 || *outcome.statusCode > 299) {
        throw RestClientError::invalidResponse();
    }
    const QString name = outcome.suggestedFilename.isEmpty() ? freshUuidText() : outcome.suggestedFilename;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1);
    // The session keeps its file in the temporary folder, so the move is a rename on one file system.
    const QString destination = QFileInfo(*outcome.location).absoluteDir().filePath(freshUuidText() + u'.' + extension);

    QFile downloaded(*outcome.location);
    if (!downloaded.rename(destination)) {
        throw RestClientError::fileHandlingError(std::make_exception_ptr(SystemError(
                u"The downloaded file cannot be moved to '%1': %2"_s.arg(destination, downloaded.errorString()))));
    }
    return QUrl::fromLocalFile(destination);
}

} // namespace

// Carries a download's progress from the session's thread to the main thread. At most one delivery
// is queued at a time and it reads the counts when it runs, so a fast transfer cannot flood the
// main queue and the handler always sees the latest value.
class RestClient::ProgressObservation final : public std::enable_shared_from_this<ProgressObservation> {
public:
    explicit ProgressObservation(std::function<void(DownloadProgress)> handler) : handler(std::move(handler)) {}

    // Main thread only, like the deliveries, so nothing is delivered after this returns.
    void invalidate() { valid = false; }

    void update(qint64 received, qint64 expected) {
        if (!handler) {
            return;
        }
        const qint64 previous = receivedBytes.exchange(received);
        expectedBytes = expected;
        // A thousandth (or, without a length, 64 KiB) is finer than any progress display shows;
        // waking the main thread for less would only cost the transfer time.
        const bool sameStep = expected > 0
                                      ? received < expected && received * 1000 / expected == previous * 1000 / expected
                                      : received / (64 << 10) == previous / (64 << 10);
        if (sameStep) {
            return;
        }
        if (deliveryQueued.exchange(true)) {
            return;
        }
        QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self = shared_from_this()] {
                    self->deliveryQueued = false;
                    if (self->valid) {
                        const qint64 expected = self->expectedBytes;
                        self->handler(DownloadProgress{self->receivedBytes,
                                                       expected > 0 ? std::optional<qint64>(expected) : std::nullopt});
                    }
                },
                Qt::QueuedConnection);
    }

private:
    const std::function<void(DownloadProgress)> handler;
    bool valid = true;
    std::atomic<qint64> receivedBytes{0};
    std::atomic<qint64> expectedBytes{0};
    std::atomic<bool> deliveryQueued{false};
};

RestClient::RestClient(std::shared_ptr<HttpsSession> urlSession, std::shared_ptr<LoggerProtocol> logger,
                       std::shared_ptr<InstallerValidatorProtocol> validator)
    : urlSession(std::move(urlSession)), logger(std::move(logger)), validator(std::move(validator)) {}

RestClient::~RestClient() {
    cancellation->cancel();
    downloadCancellation->cancel();
    if (observation) {
        observation->invalidate();
    }
}

QCoro::Task<QByteArray> RestClient::fetchVerifiedBody(QUrl url, std::optional<QString> expectedHash, QString name) {
    // Each task named first [gcc12-await-temporaries].
    auto transfer = urlSession->data(std::move(url), cancellation);
    const HttpsSession::Response response = co_await std::move(transfer);
    if (!response.statusCode || *response.statusCode < 200 || *response.statusCode > 299) {
        throw RestClientError::invalidResponse();
    }
    if (expectedHash) {
        auto check = validator->validateHash(response.body, *expectedHash, name);
        co_await std::move(check);
    }
    co_return response.body;
}

QCoro::Task<QUrl> RestClient::downloadFile(QUrl url, std::function<void(DownloadProgress)> progressHandler) {
    if (observation) {
        observation->invalidate();
    }
    auto current = std::make_shared<ProgressObservation>(std::move(progressHandler));
    observation = current;
    // Named first [gcc12-await-temporaries].
    auto transfer = urlSession->download(
            std::move(url), [current](qint64 received, qint64 expected) { current->update(received, expected); },
            moveIntoTemporaryFolder, downloadCancellation);
    co_return co_await std::move(transfer);
}

void RestClient::cancelDownloads() {
    downloadCancellation->cancel();
    downloadCancellation = std::make_shared<HttpsSession::Cancellation>();
}

} // namespace tarn
