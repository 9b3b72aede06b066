#include "services/HttpsSession.h"

#include "services/Error.h"
#include "services/TransportError.h"

#include <QDir>
#include <QHostAddress>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QPromise>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <QThread>
#include <qcoro/qcorofuture.h>

#include <vector>

namespace tarn {

namespace {

// The platform session's default: a transfer that receives nothing for a minute fails.
constexpr int transferIdleTimeoutMs = 60'000;
// How much of a download may wait between the network and the disk; bounds the memory a transfer
// needs however large its body is.
constexpr qint64 downloadReadBufferSize = 4 << 20;
constexpr qsizetype writeChunkSize = 256 << 10;

// The system's proxy settings, except for loopback hosts: a proxy would reach its own loopback, not ours.
class LoopbackExemptProxyFactory final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        const QString host = query.peerHostName();
        const QHostAddress address(host);
        if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
            (!address.isNull() && address.isLoopback())) {
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        }
        return QNetworkProxyFactory::systemProxyForQuery(query);
    }
};

// The codes the network layer derives from an HTTP status of 400 or more. With a status present they
// mean "the server answered", which the caller judges by the status, not a failed transport.
bool isDerivedFromStatus(QNetworkReply::NetworkError code) {
    switch (code) {
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

std::optional<int> statusCode(const QNetworkReply& reply) {
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        return std::nullopt;
    }
    return status.toInt();
}

bool isSuccessStatus(const std::optional<int>& status) {
    return status && *status >= 200 && *status <= 299;
}

// The transport failure of a finished reply, if any.
std::exception_ptr transportFailure(const QNetworkReply& reply) {
    const QNetworkReply::NetworkError code = reply.error();
    if (code == QNetworkReply::NoError || (isDerivedFromStatus(code) && statusCode(reply))) {
        return nullptr;
    }
    return std::make_exception_ptr(TransportError(code, reply.errorString()));
}

// Only HTTPS leaves the machine; anything else is refused before a connection is made.
std::exception_ptr refusal(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && scheme == QLatin1String("https") && !url.host().isEmpty()) {
        return nullptr;
    }
    if (url.isValid() && scheme == QLatin1String("http")) {
        return std::make_exception_ptr(
                TransportError(QNetworkReply::InsecureRedirectError,
                               QStringLiteral("Plain HTTP is not allowed, a secure connection is required: ") +
                                       url.toDisplayString()));
    }
    return std::make_exception_ptr(
            TransportError(QNetworkReply::ProtocolUnknownError,
                           QStringLiteral("Only HTTPS URLs can be requested: '") + url.toDisplayString() + u'\''));
}

std::exception_ptr sessionStopped() {
    return std::make_exception_ptr(
            TransportError(QNetworkReply::OperationCanceledError, QStringLiteral("The HTTPS session was stopped")));
}

// Settles its promise exactly once. If nobody settled it by the time it goes away (the session
// stopped before or during the transfer), the awaiting caller fails with a cancelled transfer instead
// of waiting forever or reading a result that was never made.
template <typename T>
class Outcome {
public:
    Outcome() { promise.start(); }
    ~Outcome() { fail(sessionStopped()); }
    Outcome(const Outcome&) = delete;
    Outcome& operator=(const Outcome&) = delete;

    QFuture<T> future() { return promise.future(); }

    void succeed(T value) {
        if (!settled) {
            settled = true;
            promise.addResult(std::move(value));
            promise.finish();
        }
    }
    void fail(std::exception_ptr error) {
        if (!settled) {
            settled = true;
            promise.setException(error);
            promise.finish();
        }
    }

private:
    QPromise<T> promise;
    bool settled = false;
};

// A download's completion handler and its caller's future. However the download ends (its transfer
// finishing, a refusal before it starts, the session stopping), it ends here, so the completion
// handler always judges the outcome and the caller always hears the handler's answer.
class PendingDownload {
public:
    explicit PendingDownload(HttpsSession::CompletionHandler completion) : completion(std::move(completion)) {}
    ~PendingDownload() {
        if (!finished) {
            HttpsSession::DownloadOutcome stopped;
            stopped.error = sessionStopped();
            finish(stopped);
        }
    }
    PendingDownload(const PendingDownload&) = delete;
    PendingDownload& operator=(const PendingDownload&) = delete;

    QFuture<QUrl> future() { return outcome.future(); }

    // `file`, the session's temporary file, is gone before the caller hears of the outcome, so a failed
    // download never leaves a file behind, not even for a moment.
    void finish(const HttpsSession::DownloadOutcome& result, std::unique_ptr<QTemporaryFile> file = nullptr) {
        finished = true;
        std::optional<QUrl> destination;
        std::exception_ptr failure;
        try {
            destination = completion(result);
        } catch (...) {
            failure = std::current_exception();
        }
        file.reset();
        if (destination) {
            outcome.succeed(*destination);
        } else {
            outcome.fail(failure);
        }
    }

private:
    HttpsSession::CompletionHandler completion;
    Outcome<QUrl> outcome;
    bool finished = false;
};

// One GET whose body is kept in memory.
class DataTransfer final : public QObject {
public:
    DataTransfer(QNetworkReply* reply, std::shared_ptr<Outcome<HttpsSession::Response>> outcome, QObject* parent)
        : QObject(parent), reply(reply), outcome(std::move(outcome)) {
        reply->setParent(this);
        connect(reply, &QNetworkReply::finished, this, &DataTransfer::finish);
    }
    ~DataTransfer() override {
        // Going away unfinished: the session is stopping.
        reply->disconnect(this);
        reply->abort();
    }

private:
    void finish() {
        if (const auto failure = transportFailure(*reply)) {
            outcome->fail(failure);
        } else {
            outcome->succeed(HttpsSession::Response{statusCode(*reply), reply->readAll()});
        }
        deleteLater();
    }

    QNetworkReply* reply;
    std::shared_ptr<Outcome<HttpsSession::Response>> outcome;
};

// One GET whose body goes to a temporary file as it arrives.
class DownloadTransfer final : public QObject {
public:
    DownloadTransfer(QNetworkReply* reply, std::unique_ptr<QTemporaryFile> file, HttpsSession::ProgressHandler progress,
                     std::shared_ptr<PendingDownload> pending, QObject* parent)
        : QObject(parent), reply(reply), file(std::move(file)), progress(std::move(progress)),
          pending(std::move(pending)) {
        reply->setParent(this);
        reply->setReadBufferSize(downloadReadBufferSize);
        connect(reply, &QNetworkReply::readyRead, this, &DownloadTransfer::store);
        connect(reply, &QNetworkReply::finished, this, &DownloadTransfer::finish);
    }
    ~DownloadTransfer() override {
        reply->disconnect(this);
        reply->abort();
        if (file) {
            // Going away unfinished: the session is stopping.
            HttpsSession::DownloadOutcome stopped;
            stopped.error = sessionStopped();
            pending->finish(stopped, std::move(file));
        }
    }

private:
    // Only a successful answer's body is worth keeping; an error page is read and dropped.
    bool keepsBody() const { return isSuccessStatus(statusCode(*reply)); }

    // Progress is counted here, as bytes reach the file, rather than taken from the reply's own
    // progress signal, which the network layer throttles and may hold back until more data comes.
    void store() {
        const qint64 storedBefore = stored;
        while (reply->bytesAvailable() > 0) {
            const qint64 read = reply->read(buffer.data(), static_cast<qint64>(buffer.size()));
            if (read <= 0) {
                break;
            }
            if (storageFailure || !keepsBody()) {
                continue;
            }
            if (file->write(buffer.data(), read) != read) {
                storageFailure =
                        std::make_exception_ptr(SystemError(QStringLiteral("The download cannot be stored in '%1': %2")
                                                                    .arg(file->fileName(), file->errorString())));
                reply->abort();
                return;
            }
            stored += read;
        }
        if (stored != storedBefore) {
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            progress(stored, length.isValid() ? length.toLongLong() : -1);
        }
    }

    void finish() {
        store();
        if (!storageFailure && !file->flush()) {
            storageFailure =
                    std::make_exception_ptr(SystemError(QStringLiteral("The download cannot be stored in '%1': %2")
                                                                .arg(file->fileName(), file->errorString())));
        }
        file->close();

        HttpsSession::DownloadOutcome result;
        result.location = file->fileName();
        result.statusCode = statusCode(*reply);
        result.suggestedFilename = suggestedFilename(reply->rawHeader("Content-Disposition"), reply->url());
        result.error = storageFailure ? storageFailure : transportFailure(*reply);
        pending->finish(result, std::move(file));
        deleteLater();
    }

    QNetworkReply* reply;
    std::unique_ptr<QTemporaryFile> file;
    HttpsSession::ProgressHandler progress;
    std::shared_ptr<PendingDownload> pending;
    std::exception_ptr storageFailure;
    qint64 stored = 0;
    std::vector<char> buffer = std::vector<char>(writeChunkSize);
};

// Percent-decodes an RFC 5987 value ("UTF-8''Setup%20A.pkg"); empty when it is malformed.
QString decodeExtendedValue(const QByteArray& value) {
    const qsizetype firstQuote = value.indexOf('\'');
    const qsizetype secondQuote = firstQuote < 0 ? -1 : value.indexOf('\'', firstQuote + 1);
    if (secondQuote < 0) {
        return {};
    }
    const QByteArray charset = value.left(firstQuote).trimmed().toLower();
    const QByteArray bytes = QByteArray::fromPercentEncoding(value.mid(secondQuote + 1));
    if (charset == "utf-8") {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(bytes);
        return decoder.hasError() ? QString() : text;
    }
    if (charset == "iso-8859-1") {
        return QString::fromLatin1(bytes);
    }
    return {};
}

// The `filename*` and `filename` parameters of a Content-Disposition header, quotes and escapes removed.
std::pair<QString, QString> dispositionFilenames(const QByteArray& header) {
    QString extended;
    QString plain;
    qsizetype position = header.indexOf(';');
    while (position >= 0 && position < header.size()) {
        ++position; // past ';'
        const qsizetype equals = header.indexOf('=', position);
        if (equals < 0) {
            break;
        }
        const QByteArray name = header.mid(position, equals - position).trimmed().toLower();
        qsizetype cursor = equals + 1;
        while (cursor < header.size() && (header[cursor] == ' ' || header[cursor] == '\t')) {
            ++cursor;
        }
        QByteArray value;
        if (cursor < header.size() && header[cursor] == '"') {
            for (++cursor; cursor < header.size() && header[cursor] != '"'; ++cursor) {
                if (header[cursor] == '\\' && cursor + 1 < header.size()) {
                    ++cursor;
                }
                value += header[cursor];
            }
            position = header.indexOf(';', cursor);
        } else {
            const qsizetype end = header.indexOf(';', cursor);
            value = header.mid(cursor, end < 0 ? -1 : end - cursor).trimmed();
            position = end;
        }
        if (name == "filename*") {
            extended = decodeExtendedValue(value);
        } else if (name == "filename") {
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            plain = decoder.decode(value);
            if (decoder.hasError()) {
                plain = QString::fromLatin1(value);
            }
        }
    }
    return {extended, plain};
}

// Keeps the last path component, without control characters; nothing when that leaves no name.
QString lastPathComponent(const QString& name) {
    QString component = name.mid(qMax(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\')) + 1);
    component.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    component = component.trimmed();
    if (component == QLatin1String(".") || component == QLatin1String("..")) {
        return {};
    }
    return component;
}

} // namespace

// Lives on the session's thread and owns everything of the network there.
class SessionWorker final : public QObject {
public:
    explicit SessionWorker(std::shared_ptr<SSLValidator> validator) : validator(std::move(validator)) {}
    ~SessionWorker() override {
        // Transfers first: they abort their replies, which belong to the manager's connections.
        qDeleteAll(findChildren<QObject*>(QString(), Qt::FindDirectChildrenOnly));
        accessManager.reset();
    }

    void startData(const QUrl& url, const std::shared_ptr<Outcome<HttpsSession::Response>>& outcome) {
        if (const auto refused = refusal(url)) {
            outcome->fail(refused);
            return;
        }
        new DataTransfer(manager().get(request(url)), outcome, this);
    }

    void startDownload(const QUrl& url, HttpsSession::ProgressHandler progress,
                       const std::shared_ptr<PendingDownload>& pending) {
        auto settleWithoutTransfer = [&](std::exception_ptr error) {
            HttpsSession::DownloadOutcome result;
            result.error = std::move(error);
            pending->finish(result);
        };
        if (const auto refused = refusal(url)) {
            settleWithoutTransfer(refused);
            return;
        }
        // An empty answer means the folder TMPDIR names does not exist; a relative template would then
        // put the download wherever the process happens to run.
        const QString temporaryFolder = QDir::tempPath();
        if (temporaryFolder.isEmpty()) {
            settleWithoutTransfer(std::make_exception_ptr(SystemError(
                    QStringLiteral("The temporary folder '%1' does not exist").arg(qEnvironmentVariable("TMPDIR")))));
            return;
        }
        auto file = std::make_unique<QTemporaryFile>(
                QDir(temporaryFolder).filePath(QStringLiteral(".tarn-download-XXXXXX")));
        if (!file->open()) {
            settleWithoutTransfer(std::make_exception_ptr(SystemError(
                    QStringLiteral("No temporary file can be created for the download: ") + file->errorString())));
            return;
        }
        // As stored on the server, not re-encoded in transit: the announced length is then exactly the
        // bytes written, which progress is measured against.
        QNetworkRequest downloadRequest = request(url);
        downloadRequest.setRawHeader("Accept-Encoding", "identity");
        new DownloadTransfer(manager().get(downloadRequest), std::move(file), std::move(progress), pending, this);
    }

private:
    QNetworkAccessManager& manager() {
        if (!accessManager) {
            accessManager = std::make_unique<QNetworkAccessManager>();
            accessManager->setProxyFactory(new LoopbackExemptProxyFactory);
            accessManager->setTransferTimeout(transferIdleTimeoutMs);
            accessManager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        }
        return *accessManager;
    }

    QNetworkRequest request(const QUrl& url) const {
        QNetworkRequest request(url);
        request.setSslConfiguration(validator->tlsConfiguration());
        return request;
    }

    std::shared_ptr<SSLValidator> validator;
    std::unique_ptr<QNetworkAccessManager> accessManager;
};

HttpsSession::HttpsSession(std::shared_ptr<SSLValidator> delegate)
    : validator(std::move(delegate)), thread(std::make_unique<QThread>()) {
    thread->setObjectName(QStringLiteral("HTTPS session"));
    worker = new SessionWorker(validator);
    worker->moveToThread(thread.get());
    thread->start();
}

HttpsSession::~HttpsSession() {
    QMetaObject::invokeMethod(
            worker, [worker = worker] { delete worker; }, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
}

QCoro::Task<HttpsSession::Response> HttpsSession::data(QUrl url) {
    // Only the transfer holds the outcome, so a transfer that never runs still settles it.
    auto outcome = std::make_shared<Outcome<Response>>();
    QFuture<Response> future = outcome->future();
    QMetaObject::invokeMethod(
            worker, [worker = worker, url, outcome = std::move(outcome)] { worker->startData(url, outcome); },
            Qt::QueuedConnection);
    co_return co_await future;
}

QCoro::Task<QUrl> HttpsSession::download(QUrl url, ProgressHandler progress, CompletionHandler completion) {
    auto pending = std::make_shared<PendingDownload>(std::move(completion));
    QFuture<QUrl> future = pending->future();
    QMetaObject::invokeMethod(
            worker,
            [worker = worker, url, progress = std::move(progress), pending = std::move(pending)] {
                worker->startDownload(url, progress, pending);
            },
            Qt::QueuedConnection);
    co_return co_await future;
}

QString suggestedFilename(const QByteArray& contentDisposition, const QUrl& url) {
    const auto [extended, plain] = dispositionFilenames(contentDisposition);
    for (const QString& candidate : {extended, plain, url.fileName(QUrl::FullyDecoded)}) {
        const QString name = lastPathComponent(candidate);
        if (!name.isEmpty()) {
            return name;
        }
    }
    return {};
}

} // namespace tarn
