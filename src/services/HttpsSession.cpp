#include "services/HttpsSession.h"

#include "base/Error.h"
#include "services/TransportError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPromise>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <openssl/ssl.h>
#include <qcoro/qcorofuture.h>

#include <cerrno>
#include <cstring>
#include <curl/curl.h>
#include <map>
#include <mutex>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

// What libcurl hands a download per write: fewer, larger writes cost less per byte.
constexpr long downloadBufferSize = 512 << 10;
// How often a download looks at the free space of its disk again.
constexpr qint64 diskCheckInterval = qint64(8) << 20;
constexpr long maxRedirects = 20;
// How soon a cancelled transfer notices while its connection is quiet.
constexpr int cancellationCheckMs = 100;

QString sizeText(qint64 bytes) {
    for (const auto& [unit, shift] : {std::pair("GiB", 30), std::pair("MiB", 20), std::pair("KiB", 10)}) {
        if (bytes >= (qint64(1) << shift) && bytes % (qint64(1) << shift) == 0) {
            return u"%1 %2"_s.arg(bytes >> shift).arg(QLatin1String(unit));
        }
    }
    return u"%1 bytes"_s.arg(bytes);
}

QString durationText(std::chrono::milliseconds duration) {
    return duration.count() % 1000 == 0 ? u"%1 s"_s.arg(duration.count() / 1000) : u"%1 ms"_s.arg(duration.count());
}

std::exception_ptr transportError(QNetworkReply::NetworkError code, const QString& description) {
    return std::make_exception_ptr(TransportError(code, description));
}

// Only HTTPS leaves the machine; anything else is refused before a connection is made.
std::exception_ptr refusal(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && scheme == QLatin1String("https") && !url.host().isEmpty()) {
        return nullptr;
    }
    if (url.isValid() && scheme == QLatin1String("http")) {
        return transportError(
                QNetworkReply::InsecureRedirectError,
                u"Plain HTTP is not allowed, a secure connection is required: %1"_s.arg(url.toDisplayString()));
    }
    return transportError(QNetworkReply::ProtocolUnknownError,
                          u"Only HTTPS URLs can be requested: '%1'"_s.arg(url.toDisplayString()));
}

std::exception_ptr sessionStopped() {
    return transportError(QNetworkReply::OperationCanceledError, u"The HTTPS session was stopped"_s);
}

// The proxy exceptions of the environment plus the loopback hosts: a proxy would reach its own
// loopback, not ours.
QByteArray noProxyHosts() {
    QByteArray hosts = qgetenv("no_proxy");
    if (hosts.isEmpty()) {
        hosts = qgetenv("NO_PROXY");
    }
    if (hosts.trimmed() == "*") {
        return hosts;
    }
    return hosts + (hosts.isEmpty() ? "" : ",") + "localhost,127.0.0.0/8,::1";
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

bool isSuccessStatus(long status) {
    return status >= 200 && status <= 299;
}

// The transport error a libcurl failure stands for, in the network layer's terms; a TLS failure of any
// kind stays a TLS failure.
QNetworkReply::NetworkError networkError(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return QNetworkReply::ConnectionRefusedError;
    case CURLE_COULDNT_RESOLVE_HOST:
        return QNetworkReply::HostNotFoundError;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QNetworkReply::ProxyNotFoundError;
    case CURLE_OPERATION_TIMEDOUT:
        return QNetworkReply::TimeoutError;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
        return QNetworkReply::SslHandshakeFailedError;
    case CURLE_TOO_MANY_REDIRECTS:
        return QNetworkReply::TooManyRedirectsError;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return QNetworkReply::RemoteHostClosedError;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_FILESIZE_EXCEEDED:
        return QNetworkReply::ProtocolFailure;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return QNetworkReply::ProtocolUnknownError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// One GET on the session's thread: a document kept in memory or a download streamed into its file.
// Its own checks (sizes, disk, cancellation) stop it with a reason of their own, which then wins over
// the code libcurl answers.
class Transfer {
public:
    Transfer(const QUrl& url, const HttpsSession::Limits& limits, const SSLValidator& validator,
             std::shared_ptr<HttpsSession::Cancellation> cancellation)
        : easy(curl_easy_init()), url(url), limits(limits), validator(validator),
          cancellation(std::move(cancellation)) {}
    virtual ~Transfer() { curl_easy_cleanup(easy); }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    CURL* handle() const { return easy; }
    bool isCancelled() const { return cancellation && cancellation->isCancelled(); }

    // False when libcurl refused an option (it lacks a feature every transfer needs).
    bool configure() {
        errorBuffer[0] = '\0';
        const QByteArray target = url.toEncoded();
        const QByteArray noProxy = noProxyHosts();
        bool ok = curl_easy_setopt(easy, CURLOPT_URL, target.constData()) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_MAXREDIRS, maxRedirects) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.constData()) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_USERAGENT, "TARN-Installer") == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(limits.connectTimeout.count())) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::receive) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, this) == CURLE_OK;
        // The system's trust store is libcurl's default; extra authorities join it per connection.
        if (!validator.extraTrustedAuthorities().isEmpty()) {
            ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Transfer::prepareTls) == CURLE_OK;
            ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this) == CURLE_OK;
        }
        // Optional: only where the library was built with it.
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
        return ok && configureKind();
    }

    // Settles the caller's side once libcurl is done with the transfer.
    void complete(CURLcode code) {
        if (stopReason) {
            settle(stopReason);
            return;
        }
        if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && statusOnly)) {
            settle(nullptr);
            return;
        }
        settle(failure(code));
    }

    void abandon(std::exception_ptr error) { settle(std::move(error)); }

protected:
    virtual bool configureKind() = 0;
    // Takes one piece of a 2xx body; answers false after setting stopReason.
    virtual bool store(const char* data, qint64 length) = 0;
    // How a transfer that ran out of time failed, once connected.
    virtual std::exception_ptr timedOut() = 0;
    // How a transfer whose announced length is over its bound failed.
    virtual std::exception_ptr tooLarge() const = 0;
    virtual void settle(std::exception_ptr error) = 0;

    std::optional<int> statusCode() const {
        long status = 0;
        if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status == 0) {
            return std::nullopt;
        }
        return int(status);
    }

    QUrl effectiveUrl() const {
        const char* effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        return effective ? QUrl::fromEncoded(effective) : url;
    }

    // The length the final answer announced, -1 without one.
    qint64 announcedLength() const {
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        return length;
    }

    CURL* const easy;
    const QUrl url;
    const HttpsSession::Limits& limits;
    std::exception_ptr stopReason;

private:
    static size_t receive(char* data, size_t, size_t length, void* context) {
        auto& self = *static_cast<Transfer*>(context);
        if (!self.bodyStarted) {
            self.bodyStarted = true;
            long status = 0;
            curl_easy_getinfo(self.easy, CURLINFO_RESPONSE_CODE, &status);
            // Only a successful answer's body is worth having; for any other the status says it all.
            if (!isSuccessStatus(status)) {
                self.statusOnly = true;
            }
        }
        if (self.statusOnly || !self.store(data, qint64(length))) {
            return CURL_WRITEFUNC_ERROR;
        }
        return length;
    }

    static CURLcode prepareTls(CURL*, void* sslContext, void* context) {
        const auto& self = *static_cast<Transfer*>(context);
        X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
        return self.validator.addExtraAuthorities(store) ? CURLE_OK : CURLE_SSL_CACERT_BADFILE;
    }

    std::exception_ptr failure(CURLcode code) {
        const QString detail = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code)).trimmed();
        if (code == CURLE_OPERATION_TIMEDOUT) {
            curl_off_t connected = 0;
            curl_easy_getinfo(easy, CURLINFO_APPCONNECT_TIME_T, &connected);
            if (connected == 0) {
                return transportError(QNetworkReply::TimeoutError, u"No secure connection was made within %1"_s.arg(
                                                                           durationText(limits.connectTimeout)));
            }
            return timedOut();
        }
        if (code == CURLE_FILESIZE_EXCEEDED) {
            return tooLarge();
        }
        if (code == CURLE_TOO_MANY_REDIRECTS) {
            return transportError(QNetworkReply::TooManyRedirectsError, u"Too many redirects"_s);
        }
        if (code == CURLE_UNSUPPORTED_PROTOCOL) {
            // A redirect left HTTPS: libcurl stops at the address it refuses to follow.
            if (const auto refused = refusal(effectiveUrl())) {
                return refused;
            }
        }
        return transportError(networkError(code), detail);
    }

    const SSLValidator& validator;
    std::shared_ptr<HttpsSession::Cancellation> cancellation;
    char errorBuffer[CURL_ERROR_SIZE];
    bool bodyStarted = false;
    bool statusOnly = false; // a body not worth storing was cut short on purpose
};

class DocumentTransfer final : public Transfer {
public:
    DocumentTransfer(const QUrl& url, const HttpsSession::Limits& limits, const SSLValidator& validator,
                     std::shared_ptr<HttpsSession::Cancellation> cancellation,
                     std::shared_ptr<Outcome<HttpsSession::Response>> outcome)
        : Transfer(url, limits, validator, std::move(cancellation)), outcome(std::move(outcome)) {}

private:
    bool configureKind() override {
        return curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(limits.documentTimeout.count())) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxDocumentBytes)) == CURLE_OK;
    }

    bool store(const char* data, qint64 length) override {
        if (body.size() + length > limits.maxDocumentBytes) {
            stopReason = tooLarge();
            return false;
        }
        body.append(data, length);
        return true;
    }

    std::exception_ptr timedOut() override {
        return transportError(QNetworkReply::TimeoutError,
                              u"The document did not arrive within %1"_s.arg(durationText(limits.documentTimeout)));
    }

    void settle(std::exception_ptr error) override {
        if (error) {
            outcome->fail(error);
            return;
        }
        const auto status = statusCode();
        outcome->succeed(HttpsSession::Response{status, status && isSuccessStatus(*status) ? body : QByteArray()});
    }

    std::exception_ptr tooLarge() const override {
        return transportError(
                QNetworkReply::ProtocolFailure,
                u"The document is larger than the %1 a document may have"_s.arg(sizeText(limits.maxDocumentBytes)));
    }

    std::shared_ptr<Outcome<HttpsSession::Response>> outcome;
    QByteArray body;
};

class DownloadTransfer final : public Transfer {
public:
    DownloadTransfer(const QUrl& url, const HttpsSession::Limits& limits, const SSLValidator& validator,
                     std::shared_ptr<HttpsSession::Cancellation> cancellation, std::unique_ptr<QTemporaryFile> file,
                     HttpsSession::ProgressHandler progress, std::shared_ptr<PendingDownload> pending)
        : Transfer(url, limits, validator, std::move(cancellation)), file(std::move(file)),
          progress(std::move(progress)), pending(std::move(pending)) {}
    ~DownloadTransfer() override { settle(sessionStopped()); }
    DownloadTransfer(const DownloadTransfer&) = delete;
    DownloadTransfer& operator=(const DownloadTransfer&) = delete;

private:
    bool configureKind() override {
        return curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, downloadBufferSize) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(limits.lowSpeedTime.count())) == CURLE_OK;
    }

    bool store(const char* data, qint64 length) override {
        if (stored == 0 && announced < 0) {
            announced = announcedLength();
        }
        if (announced >= 0 && stored + length > announced) {
            stopReason = transportError(QNetworkReply::ProtocolFailure,
                                        u"The server sent more than the %1 bytes it announced"_s.arg(announced));
            return false;
        }
        if (announced < 0 && stored + length > limits.maxUnannouncedDownloadBytes) {
            stopReason = tooLarge();
            return false;
        }
        if (stored + length > nextDiskCheck && !enoughDiskSpace()) {
            return false;
        }
        for (qint64 written = 0; written < length;) {
            const ssize_t result = ::write(file->handle(), data + written, size_t(length - written));
            if (result < 0 && errno == EINTR) {
                continue;
            }
            if (result <= 0) {
                stopReason = std::make_exception_ptr(SystemError(u"The download cannot be stored in '%1': %2"_s.arg(
                        file->fileName(), QString::fromLocal8Bit(std::strerror(errno)))));
                return false;
            }
            written += result;
        }
        stored += length;
        if (progress) {
            progress(stored, announced);
        }
        return true;
    }

    // Whether the rest of the body (or, without a length, the next stretch of it) still leaves the
    // margin free; sets stopReason when not.
    bool enoughDiskSpace() {
        const QString folder = QFileInfo(file->fileName()).absolutePath();
        const auto available = limits.availableDiskBytes ? limits.availableDiskBytes(folder) : std::nullopt;
        const qint64 needed = announced >= 0 ? announced - stored
                                             : std::min(diskCheckInterval, limits.maxUnannouncedDownloadBytes - stored);
        nextDiskCheck = stored + diskCheckInterval;
        if (available && *available - needed < limits.diskMarginBytes) {
            stopReason = std::make_exception_ptr(
                    SystemError(u"The download would leave less than %1 free on the disk of '%2'"_s.arg(
                            sizeText(limits.diskMarginBytes), folder)));
            return false;
        }
        return true;
    }

    std::exception_ptr tooLarge() const override {
        return transportError(QNetworkReply::ProtocolFailure,
                              u"The download is larger than the %1 allowed without an announced length"_s.arg(
                                      sizeText(limits.maxUnannouncedDownloadBytes)));
    }

    std::exception_ptr timedOut() override {
        return transportError(QNetworkReply::TimeoutError, u"The download stayed below %1 bytes a second for %2"_s.arg(
                                                                   QString::number(limits.lowSpeedBytesPerSecond),
                                                                   durationText(limits.lowSpeedTime)));
    }

    void settle(std::exception_ptr error) override {
        if (!pending) {
            return;
        }
        HttpsSession::DownloadOutcome result;
        result.location = file->fileName();
        result.statusCode = statusCode();
        const auto contentDisposition = header("Content-Disposition");
        result.suggestedFilename = suggestedFilename(contentDisposition, effectiveUrl());
        file->close();
        result.error = std::move(error);
        std::exchange(pending, nullptr)->finish(result, std::move(file));
    }

    QByteArray header(const char* name) const {
        curl_header* found = nullptr;
        if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &found) != CURLHE_OK || !found) {
            return {};
        }
        return QByteArray(found->value);
    }

    std::unique_ptr<QTemporaryFile> file;
    HttpsSession::ProgressHandler progress;
    std::shared_ptr<PendingDownload> pending;
    qint64 announced = -1;
    qint64 stored = 0;
    qint64 nextDiskCheck = 0;
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

// Owns the session's thread and libcurl's multi handle, which only that thread touches. Commands
// (new transfers, stopping) reach it through a queue and a wake-up of its wait.
class SessionWorker {
public:
    SessionWorker(std::shared_ptr<SSLValidator> validator, HttpsSession::Limits limits)
        : validator(std::move(validator)), limits(std::move(limits)) {
        static std::once_flag initialized;
        std::call_once(initialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        multi = curl_multi_init();
        thread = std::thread([this] { run(); });
    }
    ~SessionWorker() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        curl_multi_wakeup(multi);
        thread.join();
        curl_multi_cleanup(multi);
    }
    SessionWorker(const SessionWorker&) = delete;
    SessionWorker& operator=(const SessionWorker&) = delete;

    // Runs `command` on the session's thread; dropped unrun (settling what it holds as stopped) once
    // the session is stopping.
    void post(std::function<void()> command) {
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                return;
            }
            commands.push_back(std::move(command));
        }
        curl_multi_wakeup(multi);
    }

    void startData(const QUrl& url, std::shared_ptr<HttpsSession::Cancellation> cancellation,
                   const std::shared_ptr<Outcome<HttpsSession::Response>>& outcome) {
        if (const auto refused = refusal(url)) {
            outcome->fail(refused);
            return;
        }
        start(std::make_unique<DocumentTransfer>(url, limits, *validator, std::move(cancellation), outcome));
    }

    void startDownload(const QUrl& url, std::shared_ptr<HttpsSession::Cancellation> cancellation,
                       HttpsSession::ProgressHandler progress, const std::shared_ptr<PendingDownload>& pending) {
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
            settleWithoutTransfer(std::make_exception_ptr(
                    SystemError(u"The temporary folder '%1' does not exist"_s.arg(qEnvironmentVariable("TMPDIR")))));
            return;
        }
        auto file = std::make_unique<QTemporaryFile>(QDir(temporaryFolder).filePath(u".tarn-download-XXXXXX"_s));
        if (!file->open()) {
            settleWithoutTransfer(std::make_exception_ptr(
                    SystemError(u"No temporary file can be created for the download: %1"_s.arg(file->errorString()))));
            return;
        }
        start(std::make_unique<DownloadTransfer>(url, limits, *validator, std::move(cancellation), std::move(file),
                                                 std::move(progress), pending));
    }

private:
    void start(std::unique_ptr<Transfer> transfer) {
        if (!transfer->handle() || !transfer->configure() ||
            curl_multi_add_handle(multi, transfer->handle()) != CURLM_OK) {
            transfer->abandon(
                    transportError(QNetworkReply::UnknownNetworkError, u"The HTTPS transfer cannot be set up"_s));
            return;
        }
        CURL* handle = transfer->handle();
        transfers.emplace(handle, std::move(transfer));
    }

    void end(CURL* handle, const std::function<void(Transfer&)>& settle) {
        const auto found = transfers.find(handle);
        if (found == transfers.end()) {
            return;
        }
        curl_multi_remove_handle(multi, handle);
        settle(*found->second);
        transfers.erase(found);
    }

    void run() {
        for (;;) {
            std::vector<std::function<void()>> due;
            bool stop = false;
            {
                std::lock_guard lock(mutex);
                due.swap(commands);
                stop = stopping;
            }
            if (stop) {
                break; // `due` goes unrun: what it holds settles as stopped
            }
            for (auto& command : due) {
                command();
            }
            due.clear();
            std::vector<CURL*> cancelled;
            for (const auto& [handle, transfer] : transfers) {
                if (transfer->isCancelled()) {
                    cancelled.push_back(handle);
                }
            }
            for (CURL* handle : cancelled) {
                end(handle, [](Transfer& transfer) {
                    transfer.abandon(
                            transportError(QNetworkReply::OperationCanceledError, u"The transfer was cancelled"_s));
                });
            }
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg == CURLMSG_DONE) {
                    const CURLcode code = message->data.result;
                    end(message->easy_handle, [code](Transfer& transfer) { transfer.complete(code); });
                }
            }
            curl_multi_poll(multi, nullptr, 0, transfers.empty() ? 60'000 : cancellationCheckMs, nullptr);
        }
        for (auto& [handle, transfer] : transfers) {
            curl_multi_remove_handle(multi, handle);
        }
        transfers.clear(); // each settles as stopped, removing its file
    }

    std::shared_ptr<SSLValidator> validator;
    const HttpsSession::Limits limits;
    CURLM* multi = nullptr;
    std::map<CURL*, std::unique_ptr<Transfer>> transfers;
    std::mutex mutex;
    std::vector<std::function<void()>> commands;
    bool stopping = false;
    std::thread thread;
};

std::optional<qint64> HttpsSession::Limits::availableBytesOnDisk(const QString& folder) {
    struct statvfs status {};
    if (::statvfs(QFile::encodeName(folder).constData(), &status) != 0) {
        return std::nullopt;
    }
    return qint64(status.f_bavail) * qint64(status.f_frsize);
}

HttpsSession::HttpsSession(std::shared_ptr<SSLValidator> delegate) : HttpsSession(std::move(delegate), Limits()) {}

HttpsSession::HttpsSession(std::shared_ptr<SSLValidator> delegate, Limits limits)
    : validator(std::move(delegate)), worker(std::make_unique<SessionWorker>(validator, std::move(limits))) {}

HttpsSession::~HttpsSession() = default;

QCoro::Task<HttpsSession::Response> HttpsSession::data(QUrl url, std::shared_ptr<Cancellation> cancellation) {
    // Only the transfer holds the outcome, so a transfer that never runs still settles it.
    auto outcome = std::make_shared<Outcome<Response>>();
    QFuture<Response> future = outcome->future();
    worker->post([worker = worker.get(), url, cancellation = std::move(cancellation), outcome = std::move(outcome)] {
        worker->startData(url, cancellation, outcome);
    });
    co_return co_await future;
}

QCoro::Task<QUrl> HttpsSession::download(QUrl url, ProgressHandler progress, CompletionHandler completion,
                                         std::shared_ptr<Cancellation> cancellation) {
    auto pending = std::make_shared<PendingDownload>(std::move(completion));
    QFuture<QUrl> future = pending->future();
    worker->post([worker = worker.get(), url, cancellation = std::move(cancellation), progress = std::move(progress),
                  pending = std::move(pending)] { worker->startDownload(url, cancellation, progress, pending); });
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
