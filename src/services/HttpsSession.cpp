#include "services/HttpsSession.h"

#include "services/Error.h"
#include "services/HttpResponseParser.h"
#include "services/TransportError.h"

#include <QDir>
#include <QHostAddress>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QPromise>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <qcoro/qcorofuture.h>

namespace tarn {

namespace {

// The platform session's default: a transfer that receives nothing for a minute fails.
constexpr int transferIdleTimeoutMs = 60'000;
// What a download reads from its socket at a time, and what it lets the socket hold.
constexpr qsizetype readChunkSize = 256 << 10;
constexpr qint64 socketReadBufferSize = 1 << 20;

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

// The transport error a socket failure stands for, in the network layer's terms.
QNetworkReply::NetworkError networkError(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::ProxyProtocolError:
        return QNetworkReply::UnknownProxyError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One download, streamed from a TLS socket on the session's thread straight into the temporary file:
// HTTP/1.1, one connection per hop, redirects followed while they stay on HTTPS. The network access
// manager would hand the body through a thread of its own and a signal per piece, which costs a
// large download a third or more of its speed; documents are small and keep using it.
class StreamingDownload final : public QObject {
public:
    StreamingDownload(const QUrl& url, std::unique_ptr<QTemporaryFile> file, HttpsSession::ProgressHandler progress,
                      std::shared_ptr<PendingDownload> pending, QSslConfiguration tls, QObject* parent)
        : QObject(parent), file(std::move(file)), progress(std::move(progress)), pending(std::move(pending)),
          tls(std::move(tls)) {
        idleTimer.setSingleShot(true);
        idleTimer.setInterval(transferIdleTimeoutMs);
        connect(&idleTimer, &QTimer::timeout, this, [this] {
            fail(QNetworkReply::TimeoutError,
                 QStringLiteral("The transfer received nothing for %1 seconds").arg(transferIdleTimeoutMs / 1000));
        });
        request(url);
    }
    ~StreamingDownload() override {
        if (!ended) {
            // Going away unfinished: the session is stopping.
            dropConnection();
            HttpsSession::DownloadOutcome stopped;
            stopped.error = sessionStopped();
            pending->finish(stopped, std::move(file));
        }
    }

private:
    void request(const QUrl& url) {
        currentUrl = url;
        parser = std::make_unique<HttpResponseParser>(HttpResponseParser::Handlers{
                [this](const HttpResponseParser::Head& head) { return takeHead(head); },
                [this](QByteArrayView body) { storeBody(body); }, [this] { bodyComplete = true; }});
        socket = new QSslSocket(this);
        socket->setSslConfiguration(tls);
        socket->setProxy(proxyFor(url));
        // Bounds what waits between the network and the disk, however large the body: when the disk is
        // slow the socket stops reading and TCP holds the sender back.
        socket->setReadBufferSize(socketReadBufferSize);
        connect(socket, &QSslSocket::encrypted, this, &StreamingDownload::sendRequest);
        connect(socket, &QIODevice::readyRead, this, &StreamingDownload::receive);
        connect(socket, &QAbstractSocket::disconnected, this, &StreamingDownload::connectionClosed);
        connect(socket, &QAbstractSocket::errorOccurred, this, &StreamingDownload::socketFailed);
        idleTimer.start();
        socket->connectToHostEncrypted(url.host(), static_cast<quint16>(url.port(443)));
    }

    QNetworkProxy proxyFor(const QUrl& url) {
        for (const QNetworkProxy& proxy : proxies.queryProxy(QNetworkProxyQuery(url))) {
            if (proxy.type() == QNetworkProxy::NoProxy || proxy.type() == QNetworkProxy::HttpProxy ||
                proxy.type() == QNetworkProxy::Socks5Proxy) {
                return proxy;
            }
        }
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }

    void sendRequest() {
        QByteArray target = currentUrl.path(QUrl::FullyEncoded).toLatin1();
        if (target.isEmpty()) {
            target = "/";
        }
        if (currentUrl.hasQuery()) {
            target += '?' + currentUrl.query(QUrl::FullyEncoded).toLatin1();
        }
        // As stored on the server, not re-encoded in transit: the announced length is then exactly the
        // bytes written, which progress is measured against.
        socket->write("GET " + target + " HTTP/1.1\r\nHost: " +
                      currentUrl.authority(QUrl::FullyEncoded | QUrl::RemoveUserInfo).toLatin1() +
                      "\r\nUser-Agent: TARN-Installer\r\nAccept: */*\r\nAccept-Encoding: identity\r\n"
                      "Connection: close\r\n\r\n");
    }

    void receive() {
        idleTimer.start();
        while (!ended && socket->bytesAvailable() > 0) {
            const qint64 read = socket->read(buffer.data(), static_cast<qint64>(buffer.size()));
            if (read <= 0) {
                break;
            }
            const qint64 storedBefore = stored;
            parser->feed(QByteArrayView(buffer.data(), read));
            if (stored != storedBefore && !storageFailure) {
                progress(stored, announcedLength.value_or(-1));
            }
            if (afterParsing()) {
                return;
            }
        }
    }

    void connectionClosed() {
        if (ended) {
            return;
        }
        receive();
        if (ended) {
            return;
        }
        parser->connectionClosed();
        if (parser->hasFailed()) {
            fail(QNetworkReply::RemoteHostClosedError, parser->failure());
        } else if (!afterParsing()) {
            fail(QNetworkReply::RemoteHostClosedError, QStringLiteral("The server closed the connection"));
        }
    }

    void socketFailed(QAbstractSocket::SocketError error) {
        // A close is judged by what arrived before it, once the connection is gone.
        if (!ended && error != QAbstractSocket::RemoteHostClosedError) {
            fail(networkError(error), socket->errorString());
        }
    }

    // Acts on what the parser found; true when this hop is over.
    bool afterParsing() {
        if (ended) {
            return true;
        }
        if (storageFailure) {
            end(storageFailure);
            return true;
        }
        if (parser->hasFailed()) {
            fail(QNetworkReply::ProtocolFailure, parser->failure());
            return true;
        }
        if (redirectTarget) {
            const QUrl target = *redirectTarget;
            redirectTarget.reset();
            dropConnection();
            request(target);
            return true;
        }
        if (bodyComplete || parser->isStopped()) {
            end(nullptr);
            return true;
        }
        return false;
    }

    bool takeHead(const HttpResponseParser::Head& head) {
        const QByteArray location = head.header("Location");
        if (isRedirect(head.statusCode) && !location.isEmpty()) {
            const QUrl target = currentUrl.resolved(QUrl::fromEncoded(location));
            if (++redirects > maxRedirects) {
                storageFailure = std::make_exception_ptr(
                        TransportError(QNetworkReply::TooManyRedirectsError, QStringLiteral("Too many redirects")));
            } else if (const auto refused = refusal(target)) {
                storageFailure = refused;
            } else {
                redirectTarget = target;
            }
            return false;
        }
        statusCode = head.statusCode;
        announcedLength = head.contentLength;
        suggestedName = suggestedFilename(head.header("Content-Disposition"), currentUrl);
        // Only a successful answer's body is worth having; for any other the status says it all.
        return isSuccessStatus(statusCode);
    }

    void storeBody(QByteArrayView body) {
        if (storageFailure) {
            return;
        }
        if (file->write(body.data(), body.size()) != body.size()) {
            storageFailure =
                    std::make_exception_ptr(SystemError(QStringLiteral("The download cannot be stored in '%1': %2")
                                                                .arg(file->fileName(), file->errorString())));
            return;
        }
        stored += body.size();
    }

    void fail(QNetworkReply::NetworkError code, const QString& description) {
        end(std::make_exception_ptr(TransportError(code, description)));
    }

    void end(std::exception_ptr error) {
        ended = true;
        idleTimer.stop();
        dropConnection();
        if (!error && !file->flush()) {
            error = std::make_exception_ptr(SystemError(QStringLiteral("The download cannot be stored in '%1': %2")
                                                                .arg(file->fileName(), file->errorString())));
        }
        file->close();
        HttpsSession::DownloadOutcome result;
        result.location = file->fileName();
        result.statusCode = statusCode;
        result.suggestedFilename = suggestedName;
        result.error = std::move(error);
        pending->finish(result, std::move(file));
        deleteLater();
    }

    void dropConnection() {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
            socket = nullptr;
        }
    }

    static constexpr int maxRedirects = 20;

    std::unique_ptr<QTemporaryFile> file;
    HttpsSession::ProgressHandler progress;
    std::shared_ptr<PendingDownload> pending;
    QSslConfiguration tls;
    LoopbackExemptProxyFactory proxies;
    QTimer idleTimer;

    QUrl currentUrl;
    QSslSocket* socket = nullptr;
    std::unique_ptr<HttpResponseParser> parser;
    std::vector<char> buffer = std::vector<char>(readChunkSize);
    std::optional<QUrl> redirectTarget;
    int redirects = 0;

    std::optional<int> statusCode;
    std::optional<qint64> announcedLength;
    QString suggestedName;
    qint64 stored = 0;
    bool bodyComplete = false;
    std::exception_ptr storageFailure; // also a refused redirect: anything that ends the hop with an error
    bool ended = false;
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
        new StreamingDownload(url, std::move(file), std::move(progress), pending, validator->tlsConfiguration(), this);
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
