#pragma once

#include "services/SSLValidator.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tarn {

class SessionWorker;

// The application's one HTTPS session, on libcurl. Transfers run on the session's own thread, so neither
// TLS, the network nor the writing of a download to disk ever holds up the GUI thread; callers await the
// outcome on their own thread.
//
// Every connection trusts the system's roots plus the validator's extra authorities, checks the host name
// and is never allowed past a TLS error; only HTTPS is spoken, redirects included (at most 20). Proxies
// come from the usual environment variables, except for loopback hosts, which no proxy can reach on our
// behalf. Plain HTTP fails with InsecureRedirectError, as the platform's transport security policy refuses
// it, any other scheme with ProtocolUnknownError. Every transfer is bounded (see Limits), so no server can
// keep one alive, fill the memory or fill the disk.
class HttpsSession final {
public:
    // The bounds of every transfer; tests give short ones.
    struct Limits {
        std::chrono::milliseconds connectTimeout{30'000};
        // Documents: the whole transfer, however the server paces it (a `100 Continue` flood included).
        std::chrono::milliseconds documentTimeout{120'000};
        qint64 maxDocumentBytes = qint64(16) << 20;
        // Downloads fail when they receive fewer than this many bytes a second for this many seconds.
        long lowSpeedBytesPerSecond = 1024;
        std::chrono::seconds lowSpeedTime{60};
        // A download without an announced length stops here.
        qint64 maxUnannouncedDownloadBytes = qint64(8) << 30;
        // A download stops before the temporary folder's disk would be left with less than this.
        qint64 diskMarginBytes = qint64(256) << 20;
        // Bytes free to us on the disk holding a folder; nothing when that cannot be told.
        std::function<std::optional<qint64>(const QString& folder)> availableDiskBytes = availableBytesOnDisk;

        static std::optional<qint64> availableBytesOnDisk(const QString& folder);
    };

    explicit HttpsSession(std::shared_ptr<SSLValidator> delegate);
    HttpsSession(std::shared_ptr<SSLValidator> delegate, Limits limits);
    // Stops the session's thread; transfers still running fail with OperationCanceledError.
    ~HttpsSession();

    HttpsSession(const HttpsSession&) = delete;
    HttpsSession& operator=(const HttpsSession&) = delete;

    // Set by its holder to abort every transfer it was given to, which then fails with
    // OperationCanceledError within a tenth of a second and leaves no file behind.
    class Cancellation {
    public:
        void cancel() { cancelled = true; }
        bool isCancelled() const { return cancelled; }

    private:
        std::atomic<bool> cancelled{false};
    };

    struct Response {
        std::optional<int> statusCode; // absent when the answer was not an HTTP response
        QByteArray body;               // kept only for a 2xx answer
    };

    // A GET whose whole body is kept. A transport failure (no connection, TLS refused, a bound reached)
    // throws TransportError with its code and description; an HTTP status, whatever it is, is an answer,
    // not a failure.
    QCoro::Task<Response> data(QUrl url, std::shared_ptr<Cancellation> cancellation = {});

    // What a finished download hands its completion handler.
    struct DownloadOutcome {
        std::optional<QString> location; // the session's own temporary file holding the body
        std::optional<int> statusCode;
        QString suggestedFilename; // empty when neither the server nor the URL suggests one
        std::exception_ptr error;  // TransportError, or SystemError when the body could not be stored
    };
    // Bytes stored and expected (-1 when unknown); called on the session's thread.
    using ProgressHandler = std::function<void(qint64 received, qint64 expected)>;
    // Runs on the session's thread when the transfer ends; answers the file's final location or
    // throws. The session removes its temporary file afterwards unless the handler moved it away.
    using CompletionHandler = std::function<QUrl(const DownloadOutcome&)>;

    // A GET whose body is written to a temporary file as it arrives; only the body of a 2xx answer is
    // kept. Answers what the completion handler answers and throws what it throws.
    QCoro::Task<QUrl> download(QUrl url, ProgressHandler progress, CompletionHandler completion,
                               std::shared_ptr<Cancellation> cancellation = {});

    std::shared_ptr<SSLValidator> delegate() const { return validator; }

private:
    std::shared_ptr<SSLValidator> validator;
    std::unique_ptr<SessionWorker> worker;
};

// The name a server suggests for a download, as the platform derives it: the Content-Disposition
// filename (its RFC 5987 `filename*` form first), else the last path component of the URL. Only its
// last path component is kept, so a hostile header cannot point outside the folder it lands in; empty
// when there is none.
QString suggestedFilename(const QByteArray& contentDisposition, const QUrl& url);

} // namespace tarn
