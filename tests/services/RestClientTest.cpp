#include "services/RestClient.h"

#include "ServicesTestSupport.h"
#include "fixtures/Certificates.h"
#include "fixtures/LocalHttpsServer.h"
#include "services/RestClientError.h"
#include "services/TransportError.h"
#include "support/Mocks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QThread>
#include <gmock/gmock.h>
#include <openssl/x509.h>

#include <curl/curl.h>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

using fixtures::HttpReply;
using test::errorAs;
using test::failureOf;
using ::testing::_;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Case = RestClientError::Case;
using Net = QNetworkReply::NetworkError;

const QString catalogueJson =
        uR"([{"name":"TARN S1","vid":"4a9","pid":"1a0b","configLink":"https://example.invalid/s1","hash":"ab"}])"_s;

// The certificates of the HTTPS tests, made once per run: RSA keys are slow to generate.
struct TestPki {
    fixtures::Credential authority;   // trusted through the extra-CA path
    fixtures::Credential server;      // for 127.0.0.1, issued by the authority
    fixtures::Credential selfSigned;  // 127.0.0.1, issued by nobody we trust
    fixtures::Credential expired;     // issued by the authority, no longer valid
    fixtures::Credential foreignHost; // issued by the authority for another host name
};

const TestPki& testPki() {
    static const TestPki pki = [] {
        const auto request = [](const QString& host, bool byAddress) {
            fixtures::CertificateRequest request;
            request.commonName = host;
            (byAddress ? request.ipAddresses : request.dnsNames) = {host};
            return request;
        };
        const auto authority = fixtures::Credential::authority(u"T.A.R.N. Test Authority"_s);
        auto expired = request(u"127.0.0.1"_s, true);
        expired.notBefore = QDateTime::currentDateTimeUtc().addYears(-2);
        expired.notAfter = QDateTime::currentDateTimeUtc().addDays(-1);
        return TestPki{authority, authority.issue(request(u"127.0.0.1"_s, true)),
                       fixtures::Credential::authority(u"127.0.0.1"_s), authority.issue(expired),
                       authority.issue(request(u"config.example.invalid"_s, false))};
    }();
    return pki;
}

// Points the temporary folder (TMPDIR) at a fresh folder for the life of the object, so a test can see
// every file a download leaves behind.
class ScopedTemporaryFolder {
public:
    ScopedTemporaryFolder() { qputenv("TMPDIR", QFile::encodeName(folder.path())); }
    ~ScopedTemporaryFolder() { previous ? qputenv("TMPDIR", *previous) : qunsetenv("TMPDIR"); }
    QString path() const { return folder.path(); }
    QStringList entries() const { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System); }

private:
    std::optional<QByteArray> previous =
            qEnvironmentVariableIsSet("TMPDIR") ? std::optional(qgetenv("TMPDIR")) : std::nullopt;
    QTemporaryDir folder;
};

// The code of the transport error a network error carries, if it carries one.
std::optional<Net> transportCode(const std::exception_ptr& error) {
    const auto transport = error ? errorAs<TransportError>(error) : std::nullopt;
    return transport ? std::optional(transport->code()) : std::nullopt;
}

QList<QSslCertificate> testAuthority() {
    return {QSslCertificate(testPki().authority.certificatePem())};
}

HttpReply with(HttpReply reply, const std::function<void(HttpReply&)>& change) {
    change(reply);
    return reply;
}

// A REST client on its own session, trusting the test authority on top of the system's roots.
struct Client {
    explicit Client(QList<QSslCertificate> extraAuthorities = testAuthority(), HttpsSession::Limits limits = {})
        : session(std::make_shared<HttpsSession>(std::make_shared<SSLValidator>(logger, std::move(extraAuthorities)),
                                                 std::move(limits))),
          rest(session, logger, validator) {}

    std::shared_ptr<test::RecordingLogger> logger = std::make_shared<test::RecordingLogger>();
    std::shared_ptr<::testing::NiceMock<test::MockInstallerValidator>> validator =
            std::make_shared<::testing::NiceMock<test::MockInstallerValidator>>();
    std::shared_ptr<HttpsSession> session;
    RestClient rest;
};

class RestClientTest : public ::testing::Test {
protected:
    QUrl url(const char* path) const { return server.url(QString::fromLatin1(path)); }
    void serve(const char* path, HttpReply reply) { server.route(QString::fromLatin1(path), std::move(reply)); }
    QCoro::Task<std::optional<QList<TARNDeviceModel>>> catalogue(const char* path, std::optional<QString> hash) {
        return client.rest.fetchData<std::optional<QList<TARNDeviceModel>>>(url(path), hash, u"content"_s);
    }

    ScopedTemporaryFolder temporaryFolder; // before the server and client, gone after them
    fixtures::LocalHttpsServer server{testPki().server};
    Client client;
};

// Loopback hosts bypass the proxy of the environment: nothing listens where it points.
TEST_F(RestClientTest, FetchVerifiesThenDecodesSuccessBodiesAndRefusesOtherStatusesUnread) {
    qputenv("https_proxy", "http://127.0.0.1:9");
    qputenv("no_proxy", "example.invalid");
    const auto restore = qScopeGuard([] { qunsetenv("https_proxy"), qunsetenv("no_proxy"); });
    const auto mismatch = InstallationError::mismatchHash(u"digest differs"_s);
    EXPECT_CALL(*client.validator, validateHash(QByteArray("{not json"), _, _)).Times(0);
    EXPECT_CALL(*client.validator, validateHash(QByteArray("[]"), u"ABCDEF"_s, u"device configuration"_s))
            .WillOnce(test::ThrowTask<void>(mismatch));
    EXPECT_CALL(*client.validator, validateHash(catalogueJson.toUtf8(), u"FEED"_s, u"content"_s))
            .WillOnce(test::ReturnVoidTask());
    for (const int status : {304, 404, 500}) { // only the status may speak: the body would fail the decoder
        serve("/refused", HttpReply::withBody("{not json", status));
        EXPECT_EQ(failureOf<RestClientError>(catalogue("/refused", u"00"_s))->kind(), Case::invalidResponse);
    }
    serve("/catalogue", HttpReply::withBody(catalogueJson.toUtf8(), 299));
    serve("/config", HttpReply::withBody("[]")); // a mismatch stops before the decoder, which would fail
    serve("/incomplete", HttpReply::withBody(R"([{"name":"TARN S1"}])"));

    EXPECT_EQ(test::waitFor(catalogue("/catalogue", u"FEED"_s)), decodeDeviceCatalogue(catalogueJson.toUtf8()));
    EXPECT_EQ(failureOf<InstallationError>(client.rest.fetchData<TARNDeviceAppsConfigurationModel>(
                      url("/config"), u"ABCDEF"_s, u"device configuration"_s)),
              mismatch);
    EXPECT_EQ(failureOf<DecodingError>(catalogue("/incomplete", std::nullopt))->kind(),
              DecodingError::Kind::keyNotFound);
}

// Servers whose certificate must not be trusted, each alone on its port; the last is trusted only through
// the extra authority, which this client lacks.
TEST(UntrustedServerTest, FetchAndDownloadFailWithATlsErrorBeforeAnyRequestAndLeaveNoFile) {
    for (const auto& [credential, trusted] :
         {std::pair(&TestPki::selfSigned, testAuthority()), std::pair(&TestPki::expired, testAuthority()),
          std::pair(&TestPki::foreignHost, testAuthority()), std::pair(&TestPki::server, QList<QSslCertificate>())}) {
        ScopedTemporaryFolder temporaryFolder;
        fixtures::LocalHttpsServer server{testPki().*credential};
        Client client{trusted};
        server.route(u"/catalogue"_s, HttpReply::withBody("[]"));
        server.route(u"/Setup.pkg"_s, HttpReply::generated(4096));
        const auto fetchError =
                failureOf<TransportError>(client.rest.fetchVerifiedBody(server.url(u"/catalogue"_s), std::nullopt, {}));
        const auto downloadError =
                failureOf<RestClientError>(client.rest.downloadFile(server.url(u"/Setup.pkg"_s), {}));

        ASSERT_TRUE(fetchError && downloadError);
        EXPECT_EQ(std::tuple(fetchError->code(), downloadError->kind(), transportCode(downloadError->underlying())),
                  std::tuple(Net::SslHandshakeFailedError, Case::networkError, Net::SslHandshakeFailedError));
        EXPECT_EQ(server.requestCount(u"/catalogue"_s) + server.requestCount(u"/Setup.pkg"_s), 0);
        EXPECT_THAT(temporaryFolder.entries(), IsEmpty());
    }
}

TEST(SSLValidatorTest, ExtraAuthoritiesAreAddedToTheSystemRootsAndBundlesAreReadOrRefused) {
    const SSLValidator validator(std::make_shared<test::RecordingLogger>(),
                                 testAuthority() + QList{QSslCertificate(testPki().selfSigned.certificatePem())});
    const std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
    ASSERT_EQ(X509_STORE_load_file(store.get(), curl_version_info(CURLVERSION_NOW)->cainfo), 1);
    const int systemRoots = sk_X509_OBJECT_num(X509_STORE_get0_objects(store.get()));
    ASSERT_TRUE(validator.addExtraAuthorities(store.get()));
    ASSERT_TRUE(validator.addExtraAuthorities(store.get())); // every connection adds them again
    EXPECT_EQ(sk_X509_OBJECT_num(X509_STORE_get0_objects(store.get())), systemRoots + 2);

    QTemporaryDir folder;
    const QString bundle = folder.filePath(u"bundle.pem"_s);
    const QString garbage = folder.filePath(u"garbage.pem"_s);
    ASSERT_TRUE(test::writeFile(bundle, testPki().authority.certificatePem() + testPki().selfSigned.certificatePem()));
    ASSERT_TRUE(test::writeFile(garbage, "not a certificate\n"));
    EXPECT_EQ(SSLValidator::loadCertificateBundle(bundle),
              (QList{QSslCertificate(testPki().authority.certificatePem()),
                     QSslCertificate(testPki().selfSigned.certificatePem())}));
    for (const QString& path : {garbage, folder.filePath(u"missing.pem"_s)}) {
        EXPECT_THAT([&] { void(SSLValidator::loadCertificateBundle(path)); },
                    ::testing::ThrowsMessage<SystemError>(HasSubstr(path.toStdString())));
    }
}

TEST_F(RestClientTest, DownloadsLandInTheTemporaryFolderUnderAFreshUuidWithTheSuggestedExtension) {
    const QByteArray body = fixtures::patternBytes(0, 300'000);
    // The path, the Content-Disposition (none: chunked, without a length), the extension.
    const std::tuple<const char*, QByteArray, const char*> cases[] = {
            {"/download?id=7", "attachment; filename=\"Setup.pkg\"", "pkg"},
            {"/files/Scanner.dmg", {}, "dmg"},
            {"/files/tool.tar.gz", {}, "gz"},
            {"/", {}, ""},
            {"/latest", {}, "dmg"}}; // redirected: named after the final answer
    for (const auto& [path, contentDisposition, extension] : cases) {
        SCOPED_TRACE(path);
        server.route(QUrl(QString::fromLatin1(path)).path(), with(HttpReply::withBody(body), [&](HttpReply& r) {
                         r.chunked = contentDisposition.isEmpty();
                         if (!r.chunked) {
                             r.header("Content-Disposition", contentDisposition);
                         }
                     }));
        serve("/latest", HttpReply::redirect("/files/Scanner.dmg"));

        const QFileInfo file(test::waitFor(client.rest.downloadFile(url(path), {})).toLocalFile());

        const QRegularExpression uuidName(u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.%1$"_s.arg(
                QRegularExpression::escape(QString::fromLatin1(extension))));
        EXPECT_TRUE(uuidName.match(file.fileName()).hasMatch()) << file.fileName().toStdString();
        EXPECT_TRUE(test::readFile(file.filePath()) == body);
        EXPECT_THAT(temporaryFolder.entries(), ::testing::ElementsAre(file.fileName()));
        QFile::remove(file.filePath());
    }
    auto longer = HttpReply::generated(200'000); // never more than the announced length is stored
    longer.announcedLength = 100'000;
    serve("/longer.pkg", longer);
    const QUrl location = test::waitFor(client.rest.downloadFile(url("/longer.pkg"), {}));
    EXPECT_TRUE(test::readFile(location.toLocalFile()) == fixtures::patternBytes(0, 100'000));
}

// Every server behaviour that fails a transfer: the error kind, the transport code (none: a storage or status
// failure), the bound its text names (against short limits), and nothing left behind.
TEST_F(RestClientTest, EveryFailedOrUnboundedTransferSaysWhyAndLeavesNoFile) {
    HttpsSession::Limits limits;
    limits.connectTimeout = std::chrono::milliseconds(200);
    limits.documentTimeout = std::chrono::milliseconds(300);
    limits.maxDocumentBytes = 64 << 10;
    limits.lowSpeedTime = std::chrono::seconds(1); // libcurl counts it in whole seconds
    limits.maxUnannouncedDownloadBytes = 256 << 10;
    limits.diskMarginBytes = 1 << 20;
    limits.availableDiskBytes = [](const QString&) { return std::optional<qint64>(3 << 20); };
    Client bounded(testAuthority(), limits);

    const auto drip = with(HttpReply::generated(4096), [](HttpReply& r) { r.dripIntervalMs = 50; });
    const auto flood = with(HttpReply::generated(4096), [](HttpReply& r) { r.continueIntervalMs = 50; });
    const auto endless = with(HttpReply::endless(), [](HttpReply& r) { r.closeDelimited = true; });
    const auto chunks = with(HttpReply::endless(), [](HttpReply& r) { r.chunked = true; });
    const auto truncated = [](bool chunked) {
        return with(HttpReply::generated(200 << 10),
                    [=](HttpReply& r) { r.dropAfter = 100 << 10, r.chunked = chunked; });
    };
    QTcpServer silent; // accepts connections but never says a word of TLS
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const QByteArray silentUrl = u"https://127.0.0.1:%1/"_s.arg(silent.serverPort()).toLatin1();
    const QByteArray plainUrl = u"http://127.0.0.1:%1/plain"_s.arg(server.port()).toLatin1();
    const auto insecure = HttpReply::redirect(u"http://127.0.0.1:%1/plain.pkg"_s.arg(server.port()).toUtf8());
    // The path on the test server (or a whole URL), the reply, whether it is a download, the kind of a download's
    // failure, the transport code, and the bound the text names (against short limits).
    const std::tuple<const char*, HttpReply, bool, Case, std::optional<Net>, const char*> cases[] = {
            {"/missing.pkg", HttpReply::withBody("not here", 404), true, Case::invalidResponse, std::nullopt, ""},
            {"/not-modified.pkg", HttpReply::withBody({}, 304), true, Case::invalidResponse, std::nullopt, ""},
            {"/insecure", insecure, true, Case::networkError, Net::InsecureRedirectError, ""},
            {"/loop", HttpReply::redirect("/loop", 307), true, Case::networkError, Net::TooManyRedirectsError, ""},
            {"/truncated", truncated(false), true, Case::networkError, Net::RemoteHostClosedError, ""},
            {"/truncated-chunks", truncated(true), true, Case::networkError, Net::RemoteHostClosedError, ""},
            {"/drip", drip, true, Case::networkError, Net::TimeoutError, "below 1024 bytes a second for 1 s"},
            {"/flood", flood, true, Case::networkError, Net::TimeoutError, "for 1 s"},
            {"/endless", endless, true, Case::networkError, Net::ProtocolFailure, "256 KiB"},
            {"/chunks", chunks, true, Case::networkError, Net::ProtocolFailure, "256 KiB"},
            {"/disk", HttpReply::generated(5 << 19), true, Case::fileHandlingError, std::nullopt, "1 MiB"},
            {"/drip", drip, false, {}, Net::TimeoutError, "within 300 ms"},
            {"/flood", flood, false, {}, Net::TimeoutError, "within 300 ms"},
            {"/endless", endless, false, {}, Net::ProtocolFailure, "64 KiB"},
            {"/chunks", chunks, false, {}, Net::ProtocolFailure, "64 KiB"},
            {"/long", HttpReply::generated(1 << 20), false, {}, Net::ProtocolFailure, "64 KiB"},
            {plainUrl.constData(), {}, false, {}, Net::InsecureRedirectError, ""},
            {silentUrl.constData(), {}, false, {}, Net::TimeoutError, "within 200 ms"},
    };
    for (const auto& [path, reply, download, kind, code, named] : cases) {
        SCOPED_TRACE(std::string(path) + (download ? " download" : " fetch"));
        serve(path, reply);
        const QUrl target = *path == '/' ? url(path) : QUrl(QString::fromLatin1(path));
        std::exception_ptr failure;
        if (download) {
            Client& via = *named ? bounded : client; // the short limits only where a bound is named
            const auto error = failureOf<RestClientError>(via.rest.downloadFile(target, {}));
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind(), kind);
            failure = error->underlying();
            EXPECT_EQ(kind == Case::fileHandlingError, failure && errorAs<SystemError>(failure));
        } else {
            try {
                test::waitFor(bounded.session->data(target));
            } catch (...) {
                failure = std::current_exception();
            }
            ASSERT_TRUE(failure);
        }
        EXPECT_EQ(transportCode(failure), code);
        EXPECT_THAT((failure ? localizedDescription(failure) : QString()).toStdString(), HasSubstr(named));
        EXPECT_THAT(temporaryFolder.entries(), IsEmpty());
    }

    serve("/Setup.pkg", HttpReply::generated(1024)); // nowhere to store the body
    qputenv("TMPDIR", QFile::encodeName(QDir(temporaryFolder.path()).filePath(u"missing"_s)));
    const auto unstored = failureOf<RestClientError>(client.rest.downloadFile(url("/Setup.pkg"), {}));
    ASSERT_TRUE(unstored);
    EXPECT_EQ(unstored->kind(), Case::fileHandlingError);
    EXPECT_TRUE(errorAs<SystemError>(unstored->underlying()));
}

// Progress arrives on the main thread, in order, and only before the download returns; a new download silences
// the one before without stopping it. The first has no length (bytes only), the second ends complete.
TEST_F(RestClientTest, ProgressArrivesOnTheMainThreadInOrderUntilANewDownloadSilencesIt) {
    serve("/first.pkg",
          with(HttpReply::generated(8 << 20), [](HttpReply& r) { r.holdAfter = 2 << 20, r.chunked = true; }));
    serve("/second.pkg", HttpReply::generated(16 << 20));
    QList<DownloadProgress> first;
    QList<DownloadProgress> second;
    bool allOnMainThread = true;
    const auto into = [&](QList<DownloadProgress>& progress) {
        return [&](DownloadProgress value) {
            allOnMainThread = allOnMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
            progress.append(value);
        };
    };

    auto firstDownload = client.rest.downloadFile(url("/first.pkg"), into(first));
    ASSERT_TRUE(test::processEventsUntil([&] { return !first.isEmpty(); }));
    const auto firstReportsBeforeSecond = first.size();
    const QUrl secondLocation = test::waitFor(client.rest.downloadFile(url("/second.pkg"), into(second)));
    const auto reportedBeforeReturn = second.size();
    server.release(u"/first.pkg"_s);
    const QUrl firstLocation = test::waitFor(std::move(firstDownload));
    test::drainPostedEvents();

    EXPECT_TRUE(allOnMainThread);
    EXPECT_EQ(std::tuple(first.size(), first.last().totalBytes, QFileInfo(firstLocation.toLocalFile()).size()),
              std::tuple(firstReportsBeforeSecond, std::optional<qint64>(), qint64(8 << 20)));
    ASSERT_GT(second.size(), 1);
    EXPECT_EQ(second.size(), reportedBeforeReturn) << "progress reported after the download returned";
    EXPECT_TRUE(std::is_sorted(second.begin(), second.end(),
                               [](const auto& a, const auto& b) { return a.receivedBytes < b.receivedBytes; }));
    EXPECT_TRUE(std::all_of(second.begin(), second.end(), [](const auto& p) { return p.totalBytes == 16 << 20; }));
    EXPECT_EQ(std::pair(second.last().fraction(), QFileInfo(secondLocation.toLocalFile()).size()),
              std::pair(std::optional(1.0), qint64(16 << 20)));
}

// Whatever stops it (the session, the client, or the client's cancelling its downloads), a running
// download fails as cancelled and leaves no file.
TEST_F(RestClientTest, StoppingTheSessionOrTheClientFailsARunningDownloadAndRemovesItsFile) {
    serve("/Setup.pkg", with(HttpReply::generated(4 << 20), [](HttpReply& r) { r.holdAfter = 1 << 20; }));
    serve("/Next.pkg", HttpReply::generated(1 << 10));
    enum class Stop { wholeSession, client, downloads };
    for (const Stop stop : {Stop::wholeSession, Stop::client, Stop::downloads}) {
        SCOPED_TRACE(static_cast<int>(stop));
        std::optional<Client> owner(std::in_place);
        std::optional<RestClient> rest(std::in_place, owner->session, owner->logger, owner->validator);
        bool progressed = false;

        auto download = rest->downloadFile(url("/Setup.pkg"), [&](DownloadProgress) { progressed = true; });
        ASSERT_TRUE(test::processEventsUntil([&] { return progressed; }));
        stop == Stop::downloads ? rest->cancelDownloads() : rest.reset();
        if (stop == Stop::wholeSession) {
            owner.reset();
        }
        const auto error = failureOf<RestClientError>(std::move(download));

        ASSERT_TRUE(error);
        EXPECT_EQ(std::pair(error->kind(), transportCode(error->underlying())),
                  std::pair(Case::networkError, std::optional(Net::OperationCanceledError)));
        EXPECT_THAT(temporaryFolder.entries(), IsEmpty());
        if (stop == Stop::downloads) { // a client that only cancelled its downloads goes on working
            const QUrl next = test::waitFor(rest->downloadFile(url("/Next.pkg"), {}));
            EXPECT_EQ(QFileInfo(next.toLocalFile()).size(), 1 << 10);
        }
    }
}

TEST(SuggestedFilenameTest, KeepsOnlyAUsableLastPathComponent) {
    const QUrl url(u"https://example.invalid/a/b/c.pkg?x=1"_s);
    const std::pair<QByteArray, QString> cases[] = {
            {"attachment; filename=\"a \\\"b\\\".pkg\"", u"a \"b\".pkg"_s},
            {"attachment; filename=plain.pkg; size=3", u"plain.pkg"_s},
            {"attachment; filename=\"C:\\\\x\\\\win.exe\"", u"win.exe"_s},
            {"attachment; filename=\"..\"", u"c.pkg"_s},
            {"inline", u"c.pkg"_s},
            {"attachment; filename*=UTF-8''%E2%82%AC.dmg; filename=\"eur.dmg\"", u"\u20AC.dmg"_s},
            {"attachment; filename*=bogus", u"c.pkg"_s}};
    for (const auto& [disposition, expected] : cases) {
        EXPECT_EQ(suggestedFilename(disposition, url), expected) << disposition.toStdString();
    }
    EXPECT_EQ(suggestedFilename({}, QUrl(u"https://example.invalid/dir/%2E%2E%2Fetc%2Fpasswd"_s)), u"passwd"_s);
    EXPECT_EQ(suggestedFilename({}, QUrl(u"https://example.invalid"_s)), QString());
}

} // namespace
} // namespace tarn
