#pragma once

#include "services/SSLValidator.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace tarn {

class SessionWorker;

// The application's one HTTPS session. Transfers run on the session's own thread, so neither TLS, the
// network nor the writing of a download to disk ever holds up the GUI thread; callers await the outcome
// on their own thread. Documents go through a network access manager; downloads stream from a TLS
// socket straight into their file, which is several times cheaper per byte than handing a large body
// through the manager's own thread.
//
// Every connection carries the validator's TLS configuration and is never allowed past a TLS error;
// redirects are followed unless they leave HTTPS; the system's proxy settings apply (on Linux the
// usual proxy variables), except for loopback hosts, which no proxy can reach on our behalf. Only
// https URLs are requested: plain HTTP fails with InsecureRedirectError, as the platform's transport
// security policy refuses it, anything else with ProtocolUnknownError.
class HttpsSession final {
public:
    explicit HttpsSession(std::shared_ptr<SSLValidator> delegate);
    // Stops the session's thread; transfers still running fail with OperationCanceledError.
    ~HttpsSession();

    HttpsSession(const HttpsSession&) = delete;
    HttpsSession& operator=(const HttpsSession&) = delete;

    struct Response {
        std::optional<int> statusCode; // absent when the answer was not an HTTP response
        QByteArray body;
    };

    // A GET whose whole body is kept. A transport failure (no connection, TLS refused, time-out)
    // throws TransportError with the network layer's code and description; an HTTP status, whatever
    // it is, is an answer, not a failure.
    QCoro::Task<Response> data(QUrl url);

    // What a finished download hands its completion handler.
    struct DownloadOutcome {
        std::optional<QString> location; // the session's own temporary file holding the body
        std::optional<int> statusCode;
        QString suggestedFilename; // empty when neither the server nor the URL suggests one
        std::exception_ptr error;  // TransportError, or SystemError when the body could not be stored
    };
    // Bytes received and expected (-1 when unknown); called on the session's thread.
    using ProgressHandler = std::function<void(qint64 received, qint64 expected)>;
    // Runs on the session's thread when the transfer ends; answers the file's final location or
    // throws. The session removes its temporary file afterwards unless the handler moved it away.
    using CompletionHandler = std::function<QUrl(const DownloadOutcome&)>;

    // A GET (HTTP/1.1, no transfer encoding asked for) whose body is written to a temporary file as it
    // arrives; only the body of a 2xx answer is kept, and at most 20 redirects are followed. Answers what
    // the completion handler answers and throws what it throws.
    QCoro::Task<QUrl> download(QUrl url, ProgressHandler progress, CompletionHandler completion);

    std::shared_ptr<SSLValidator> delegate() const { return validator; }

private:
    std::shared_ptr<SSLValidator> validator;
    std::unique_ptr<QThread> thread;
    SessionWorker* worker = nullptr; // lives on `thread`
};

// The name a server suggests for a download, as the platform derives it: the Content-Disposition
// filename (its RFC 5987 `filename*` form first), else the last path component of the URL. Only its
// last path component is kept, so a hostile header cannot point outside the folder it lands in; empty
// when there is none.
QString suggestedFilename(const QByteArray& contentDisposition, const QUrl& url);

} // namespace tarn
