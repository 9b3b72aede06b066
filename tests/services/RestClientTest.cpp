#include "services/RestClient.h"

#include "NetworkTestSupport.h"
#include "fixtures/LocalHttpsServer.h"
#include "services/RestClientError.h"
#include "services/TransportError.h"
#include "support/Mocks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>
#include <gmock/gmock.h>
#include <openssl/x509.h>

#include <curl/curl.h>
#include <variant>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

using fixtures::HttpReply;
using fixtures::LocalHttpsServer;
using test::errorAs;
using test::failureOf;
using test::testPki;
using ::testing::_;
using ::testing::NiceMock;

const QString catalogueJson =
        uR"([{"name":"TARN S1","vid":"4a9","pid":"1a0b","configLink":"https://example.invalid/s1","hash":"ab"}])"_s;

// The code of the transport error a network error carries, if it carries one.
std::optional<QNetworkReply::NetworkError> transportCode(const std::optional<RestClientError>& error) {
    const auto transport = error && error->underlying() ? errorAs<TransportError>(error->underlying()) : std::nullopt;
    return transport ? std::optional(transport->code()) : std::nullopt;
}

QList<QSslCertificate> testAuthority() {
    return {QSslCertificate(testPki().authority.certificatePem())};
}

// A REST client on its own session, trusting the test authority on top of the system's roots.
struct Client {
    explicit Client(QList<QSslCertificate> extraAuthorities = testAuthority(), HttpsSession::Limits limits = {})
        : session(std::make_shared<HttpsSession>(std::make_shared<SSLValidator>(logger, std::move(extraAuthorities)),
                                                 std::move(limits))),
          rest(session, logger, validator) {}

    std::shared_ptr<test::RecordingLogger> logger = std::make_shared<test::RecordingLogger>();
    std::shared_ptr<NiceMock<test::MockInstallerValidator>> validator =
            std::make_shared<NiceMock<test::MockInstallerValidator>>();
    std::shared_ptr<HttpsSession> session;
    RestClient rest;
};

class RestClientTest : public ::testing::Test {
protected:
    QUrl url(const char* path) const { return server.url(QString::fromLatin1(path)); }
    void serve(const char* path, HttpReply reply) { server.route(QString::fromLatin1(path), std::move(reply)); }
    std::optional<RestClientError> downloadFailure(const char* path) {
        return failureOf<RestClientError>(client.rest.downloadFile(url(path), {}));
    }

    test::ScopedTemporaryFolder temporaryFolder; // before the server and client, gone after them
    LocalHttpsServer server{testPki().server};
    Client client;
};

TEST_F(RestClientTest, FetchAnswersSuccessBodiesAndRejectsEveryOtherStatusWithoutReadingTheBody) {
    // A rejected body would fail both the digest check and the decoder: only the status may speak.
    EXPECT_CALL(*client.validator, validateHash(::testing::An<QByteArray>(), _, _)).Times(0);
    for (const auto& [status, succeeds] : {std::pair(200, true), std::pair(299, true), std::pair(304, false),
                                           std::pair(404, false), std::pair(500, false)}) {
        SCOPED_TRACE(status);
        serve("/catalogue", HttpReply::withBody(succeeds ? catalogueJson.toUtf8() : "{not json", status));
        auto fetch = client.rest.fetchData<std::optional<QList<TARNDeviceModel>>>(
                url("/catalogue"), succeeds ? std::nullopt : std::optional(u"00"_s), u"content"_s);
        if (succeeds) {
            const auto catalogue = test::waitFor(std::move(fetch));
            ASSERT_TRUE(catalogue.has_value());
            ASSERT_EQ(catalogue->size(), 1);
            EXPECT_EQ(catalogue->first().name, u"TARN S1"_s);
        } else {
            const auto error = failureOf<RestClientError>(std::move(fetch));
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind(), RestClientError::Case::invalidResponse);
        }
    }
}

TEST_F(RestClientTest, BodiesAreVerifiedWhenAHashIsGivenThenDecoded) {
    serve("/config", HttpReply::withBody("{not json"));
    serve("/catalogue", HttpReply::withBody(catalogueJson.toUtf8()));
    serve("/null", HttpReply::withBody("null"));
    serve("/incomplete", HttpReply::withBody(R"([{"name":"TARN S1"}])"));
    const auto mismatch = InstallationError::mismatchHash(u"digest differs"_s);
    EXPECT_CALL(*client.validator, validateHash(QByteArray("{not json"), u"ABCDEF"_s, u"device configuration"_s))
            .WillOnce(test::ThrowTask<void>(mismatch));
    EXPECT_CALL(*client.validator, validateHash(catalogueJson.toUtf8(), u"FEED"_s, u"content"_s))
            .WillOnce(test::ReturnVoidTask());
    const auto catalogue = [&](const char* path, std::optional<QString> hash) {
        return client.rest.fetchData<std::optional<QList<TARNDeviceModel>>>(url(path), hash, u"content"_s);
    };

    // A mismatch must stop the fetch before the decoder, which would fail otherwise.
    EXPECT_EQ(failureOf<InstallationError>(client.rest.fetchData<TARNDeviceAppsConfigurationModel>(
                      url("/config"), u"ABCDEF"_s, u"device configuration"_s)),
              mismatch);
    const auto checked = test::waitFor(catalogue("/catalogue", u"FEED"_s));
    ASSERT_TRUE(checked.has_value());
    EXPECT_EQ(checked->size(), 1);
    EXPECT_FALSE(test::waitFor(catalogue("/null", std::nullopt)).has_value());
    const auto decoding = failureOf<DecodingError>(catalogue("/incomplete", std::nullopt));
    ASSERT_TRUE(decoding);
    EXPECT_EQ(decoding->kind(), DecodingError::Kind::keyNotFound);
}

TEST_F(RestClientTest, PlainHttpIsRefusedBeforeAnyConnection) {
    const auto insecure = failureOf<TransportError>(client.rest.fetchVerifiedBody(
            QUrl(u"http://127.0.0.1:%1/catalogue"_s.arg(server.port())), std::nullopt, {}));
    ASSERT_TRUE(insecure);
    EXPECT_EQ(insecure->code(), QNetworkReply::InsecureRedirectError);
    EXPECT_EQ(server.requestCount(u"/catalogue"_s), 0);
}

TEST_F(RestClientTest, LoopbackHostsBypassTheProxyOfTheEnvironment) {
    serve("/catalogue", HttpReply::withBody("[]"));
    qputenv("https_proxy", "http://127.0.0.1:9"); // nothing listens there
    qputenv("no_proxy", "example.invalid");
    auto fetch = client.rest.fetchVerifiedBody(url("/catalogue"), std::nullopt, {});
    const auto body = test::waitFor(std::move(fetch));
    qunsetenv("https_proxy");
    qunsetenv("no_proxy");
    EXPECT_EQ(body, "[]");
}

// Servers whose certificate must not be trusted, each alone on its port.
struct UntrustedServer {
    const char* name;
    fixtures::Credential test::TestPki::*credential;
    bool trustTestAuthority;
};

class UntrustedServerTest : public ::testing::TestWithParam<UntrustedServer> {
protected:
    test::ScopedTemporaryFolder temporaryFolder;
    LocalHttpsServer server{testPki().*GetParam().credential};
    Client client{GetParam().trustTestAuthority ? testAuthority() : QList<QSslCertificate>()};
};

TEST_P(UntrustedServerTest, FetchAndDownloadFailWithATlsErrorBeforeAnyRequestAndLeaveNoFile) {
    server.route(u"/catalogue"_s, HttpReply::withBody("[]"));
    server.route(u"/Setup.pkg"_s, HttpReply::generated(4096));
    const auto fetchError =
            failureOf<TransportError>(client.rest.fetchVerifiedBody(server.url(u"/catalogue"_s), std::nullopt, {}));
    const auto downloadError = failureOf<RestClientError>(client.rest.downloadFile(server.url(u"/Setup.pkg"_s), {}));

    ASSERT_TRUE(fetchError && downloadError);
    EXPECT_EQ(fetchError->code(), QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(downloadError->kind(), RestClientError::Case::networkError);
    EXPECT_EQ(transportCode(downloadError), QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(server.requestCount(u"/catalogue"_s) + server.requestCount(u"/Setup.pkg"_s), 0);
    EXPECT_THAT(temporaryFolder.entries(), ::testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Certificates, UntrustedServerTest,
                         ::testing::Values(UntrustedServer{"SelfSigned", &test::TestPki::selfSigned, true},
                                           UntrustedServer{"Expired", &test::TestPki::expired, true},
                                           UntrustedServer{"OtherHost", &test::TestPki::foreignHost, true},
                                           // trusted only through the extra authority, which this client lacks
                                           UntrustedServer{"SystemRootsOnly", &test::TestPki::server, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SSLValidatorTest, ExtraAuthoritiesAreAddedToTheSystemRootsNotInsteadOfThem) {
    const SSLValidator validator(std::make_shared<test::RecordingLogger>(),
                                 testAuthority() + QList{QSslCertificate(testPki().selfSigned.certificatePem())});
    const std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
    ASSERT_EQ(X509_STORE_load_file(store.get(), curl_version_info(CURLVERSION_NOW)->cainfo), 1);
    const int systemRoots = sk_X509_OBJECT_num(X509_STORE_get0_objects(store.get()));

    ASSERT_TRUE(validator.addExtraAuthorities(store.get()));
    ASSERT_TRUE(validator.addExtraAuthorities(store.get())); // every connection adds them again
    EXPECT_EQ(sk_X509_OBJECT_num(X509_STORE_get0_objects(store.get())), systemRoots + 2);
}

TEST(SSLValidatorTest, CertificateBundleIsReadOrRefusedWithAClearError) {
    QTemporaryDir folder;
    const QString bundle = folder.filePath(u"bundle.pem"_s);
    const QString garbage = folder.filePath(u"garbage.pem"_s);
    ASSERT_TRUE(test::writeFile(bundle, testPki().authority.certificatePem() + testPki().selfSigned.certificatePem()));
    ASSERT_TRUE(test::writeFile(garbage, "not a certificate\n"));

    const auto certificates = SSLValidator::loadCertificateBundle(bundle);
    ASSERT_EQ(certificates.size(), 2);
    EXPECT_EQ(certificates.at(0), QSslCertificate(testPki().authority.certificatePem()));
    for (const QString& path : {garbage, folder.filePath(u"missing.pem"_s)}) {
        try {
            SSLValidator::loadCertificateBundle(path);
            ADD_FAILURE() << "accepted " << path.toStdString();
        } catch (const SystemError& error) {
            EXPECT_TRUE(error.localizedDescription().contains(path));
        }
    }
}

TEST_F(RestClientTest, DownloadsLandInTheTemporaryFolderUnderAFreshUuidWithTheSuggestedExtension) {
    const QByteArray body = fixtures::patternBytes(0, 300'000);
    const struct {
        const char* path;
        QByteArray contentDisposition;
        const char* extension;
    } cases[] = {{"/download?id=7", "attachment; filename=\"Setup.pkg\"", "pkg"},
                 {"/files/Scanner.dmg", {}, "dmg"},
                 {"/files/tool.tar.gz", {}, "gz"},
                 {"/files/installer", {}, ""},
                 {"/", {}, ""},
                 {"/hostile", "attachment; filename=\"x.pk/..\"", ""},
                 {"/latest", {}, "dmg"}}; // redirected: named after the final answer
    serve("/latest", HttpReply::redirect("/files/Scanner.dmg"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto reply = HttpReply::withBody(body);
        reply.chunked = c.contentDisposition.isEmpty(); // and bodies without a length
        if (!c.contentDisposition.isEmpty()) {
            reply.header("Content-Disposition", c.contentDisposition);
        }
        if (QLatin1String(c.path) != QLatin1String("/latest")) {
            server.route(QUrl(QString::fromLatin1(c.path)).path(), reply);
        }

        const QUrl location = test::waitFor(client.rest.downloadFile(url(c.path), {}));

        const QFileInfo file(location.toLocalFile());
        EXPECT_EQ(file.absolutePath(), QDir(temporaryFolder.path()).absolutePath());
        const QRegularExpression uuidName(u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\."_s +
                                          QRegularExpression::escape(QString::fromLatin1(c.extension)) + u'$');
        EXPECT_TRUE(uuidName.match(file.fileName()).hasMatch()) << file.fileName().toStdString();
        EXPECT_TRUE(test::readFile(file.filePath()) == body);
        EXPECT_THAT(temporaryFolder.entries(), ::testing::ElementsAre(file.fileName()));
        QFile::remove(file.filePath());
    }
}

TEST_F(RestClientTest, FailedDownloadsSayWhyAndLeaveNoFileBehind) {
    serve("/missing.pkg", HttpReply::withBody("not here", 404));
    serve("/not-modified.pkg", HttpReply::withBody({}, 304));
    serve("/insecure", HttpReply::redirect(u"http://127.0.0.1:%1/plain.pkg"_s.arg(server.port()).toUtf8()));
    serve("/loop", HttpReply::redirect("/loop", 307));
    for (const bool chunked : {false, true}) {
        auto truncated = HttpReply::generated(2 << 20);
        truncated.dropAfter = 1 << 20;
        truncated.chunked = chunked;
        server.route(chunked ? u"/truncated-chunks"_s : u"/truncated.pkg"_s, truncated);
    }
    const struct {
        const char* path;
        RestClientError::Case kind;
        std::optional<QNetworkReply::NetworkError> code; // of the transport error inside a network error
    } cases[] = {{"/missing.pkg", RestClientError::Case::invalidResponse, std::nullopt},
                 {"/not-modified.pkg", RestClientError::Case::invalidResponse, std::nullopt},
                 {"/insecure", RestClientError::Case::networkError, QNetworkReply::InsecureRedirectError},
                 {"/loop", RestClientError::Case::networkError, QNetworkReply::TooManyRedirectsError},
                 {"/truncated.pkg", RestClientError::Case::networkError, QNetworkReply::RemoteHostClosedError},
                 {"/truncated-chunks", RestClientError::Case::networkError, QNetworkReply::RemoteHostClosedError}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto error = downloadFailure(c.path);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), c.kind);
        EXPECT_EQ(transportCode(error), c.code);
    }
    EXPECT_GT(server.requestCount(u"/loop"_s), 10);
    EXPECT_THAT(temporaryFolder.entries(), ::testing::IsEmpty());

    // Nowhere to store the body.
    serve("/Setup.pkg", HttpReply::generated(1024));
    qputenv("TMPDIR", QFile::encodeName(QDir(temporaryFolder.path()).filePath(u"missing"_s)));
    const auto unstored = downloadFailure("/Setup.pkg");
    ASSERT_TRUE(unstored);
    EXPECT_EQ(unstored->kind(), RestClientError::Case::fileHandlingError);
    EXPECT_TRUE(errorAs<SystemError>(unstored->underlying()));
}

TEST_F(RestClientTest, ProgressArrivesOnTheMainThreadInOrderAndEndsComplete) {
    for (const bool chunked : {false, true}) { // without a length: bytes only
        SCOPED_TRACE(chunked);
        auto reply = HttpReply::generated(16 << 20);
        reply.chunked = chunked;
        serve("/Setup.pkg", reply);
        QList<DownloadProgress> progress;
        bool allOnMainThread = true;

        const QUrl location = test::waitFor(client.rest.downloadFile(url("/Setup.pkg"), [&](DownloadProgress value) {
            allOnMainThread = allOnMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
            progress.append(value);
        }));
        const auto reportedBeforeReturn = progress.size();
        test::drainPostedEvents();

        EXPECT_TRUE(allOnMainThread);
        ASSERT_GT(progress.size(), 1);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end(),
                                   [](const auto& a, const auto& b) { return a.receivedBytes < b.receivedBytes; }));
        EXPECT_GT(progress.first().receivedBytes, 0);
        for (const DownloadProgress& value : progress) {
            EXPECT_EQ(value.totalBytes, chunked ? std::nullopt : std::optional<qint64>(16 << 20));
        }
        if (!chunked) {
            EXPECT_EQ(progress.last().fraction(), 1.0);
        }
        EXPECT_EQ(progress.size(), reportedBeforeReturn) << "progress reported after the download returned";
        EXPECT_EQ(QFileInfo(location.toLocalFile()).size(), 16 << 20);
        QFile::remove(location.toLocalFile());
    }
}

TEST_F(RestClientTest, ANewDownloadSilencesTheProgressOfTheOneBefore) {
    auto held = HttpReply::generated(8 << 20);
    held.holdAfter = 2 << 20;
    serve("/first.pkg", held);
    serve("/second.pkg", HttpReply::generated(1 << 20));
    QList<double> firstProgress;
    QList<double> secondProgress;

    auto first = client.rest.downloadFile(url("/first.pkg"),
                                          [&](DownloadProgress value) { firstProgress.append(*value.fraction()); });
    ASSERT_TRUE(test::processEventsUntil([&] { return !firstProgress.isEmpty(); }));
    const auto firstReportsBeforeSecond = firstProgress.size();
    const QUrl second = test::waitFor(client.rest.downloadFile(
            url("/second.pkg"), [&](DownloadProgress value) { secondProgress.append(*value.fraction()); }));
    server.release(u"/first.pkg"_s);
    const QUrl firstLocation = test::waitFor(std::move(first));
    test::drainPostedEvents();

    EXPECT_EQ(firstProgress.size(), firstReportsBeforeSecond);
    EXPECT_LT(firstProgress.last(), 1.0);
    ASSERT_FALSE(secondProgress.isEmpty());
    EXPECT_EQ(secondProgress.last(), 1.0);
    // Silenced, not stopped: the first download still completes.
    EXPECT_EQ(QFileInfo(firstLocation.toLocalFile()).size(), 8 << 20);
    EXPECT_NE(firstLocation, second);
}

// Whatever stops it (the session, the client, or the client's cancelling its downloads), a running
// download fails as cancelled and leaves no file; a client that only cancelled downloads goes on working.
TEST(HttpsSessionTest, StoppingTheSessionOrTheClientFailsARunningDownloadAndRemovesItsFile) {
    enum class Stop { wholeSession, client, downloads };
    for (const Stop stop : {Stop::wholeSession, Stop::client, Stop::downloads}) {
        SCOPED_TRACE(static_cast<int>(stop));
        test::ScopedTemporaryFolder temporaryFolder;
        LocalHttpsServer server(testPki().server);
        auto held = HttpReply::generated(4 << 20);
        held.holdAfter = 1 << 20;
        server.route(u"/Setup.pkg"_s, held);
        std::optional<Client> client(std::in_place);
        std::optional<RestClient> rest(std::in_place, client->session, client->logger, client->validator);
        bool progressed = false;

        auto download = rest->downloadFile(server.url(u"/Setup.pkg"_s), [&](DownloadProgress) { progressed = true; });
        ASSERT_TRUE(test::processEventsUntil([&] { return progressed; }));
        if (stop == Stop::downloads) {
            rest->cancelDownloads();
        } else {
            rest.reset();
        }
        if (stop == Stop::wholeSession) {
            client.reset();
        }
        const auto error = failureOf<RestClientError>(std::move(download));

        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), RestClientError::Case::networkError);
        EXPECT_EQ(transportCode(error), QNetworkReply::OperationCanceledError);
        EXPECT_THAT(temporaryFolder.entries(), ::testing::IsEmpty());
        if (stop == Stop::downloads) {
            server.route(u"/Next.pkg"_s, HttpReply::generated(1 << 10));
            const QUrl next = test::waitFor(rest->downloadFile(server.url(u"/Next.pkg"_s), {}));
            EXPECT_EQ(QFileInfo(next.toLocalFile()).size(), 1 << 10);
        }
    }
}

// Hostile servers meet short limits: each transfer ends with an error naming its bound, and leaves nothing.
TEST_F(RestClientTest, EveryTransferIsBounded) {
    HttpsSession::Limits limits;
    limits.connectTimeout = std::chrono::milliseconds(200);
    limits.documentTimeout = std::chrono::milliseconds(300);
    limits.maxDocumentBytes = 64 << 10;
    limits.lowSpeedTime = std::chrono::seconds(1); // libcurl counts it in whole seconds
    limits.maxUnannouncedDownloadBytes = 256 << 10;
    limits.diskMarginBytes = 1 << 20;
    limits.availableDiskBytes = [](const QString&) { return std::optional<qint64>(3 << 20); };
    Client bounded(testAuthority(), limits);

    const auto paced = [](std::optional<int> dripMs, std::optional<int> continueMs) {
        auto reply = HttpReply::generated(4096);
        reply.dripIntervalMs = dripMs;
        reply.continueIntervalMs = continueMs;
        return reply;
    };
    const auto framed = [](HttpReply reply, bool chunked) {
        reply.chunked = chunked;
        reply.closeDelimited = !chunked;
        return reply;
    };
    const struct {
        const char* name;
        HttpReply reply;
        bool download;
        std::variant<QNetworkReply::NetworkError, const char*> error; // a transport code, or a storage error
        const char* named;                                            // the bound the text names
    } cases[] = {
            {"drip", paced(50, std::nullopt), true, QNetworkReply::TimeoutError, "below 1024 bytes a second for 1 s"},
            {"continue flood", paced(std::nullopt, 50), true, QNetworkReply::TimeoutError, "for 1 s"},
            {"drip", paced(50, std::nullopt), false, QNetworkReply::TimeoutError, "within 300 ms"},
            {"continue flood", paced(std::nullopt, 50), false, QNetworkReply::TimeoutError, "within 300 ms"},
            {"endless body", framed(HttpReply::endless(), false), false, QNetworkReply::ProtocolFailure, "64 KiB"},
            {"endless chunks", framed(HttpReply::endless(), true), false, QNetworkReply::ProtocolFailure, "64 KiB"},
            {"announced too long", HttpReply::generated(1 << 20), false, QNetworkReply::ProtocolFailure, "64 KiB"},
            {"endless body", framed(HttpReply::endless(), false), true, QNetworkReply::ProtocolFailure, "256 KiB"},
            {"endless chunks", framed(HttpReply::endless(), true), true, QNetworkReply::ProtocolFailure, "256 KiB"},
            {"disk too full", HttpReply::generated(5 << 19), true, "disk", "1 MiB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.download ? " download" : " fetch"));
        serve("/hostile", c.reply);
        std::exception_ptr failure;
        if (c.download) {
            const auto error = failureOf<RestClientError>(bounded.rest.downloadFile(url("/hostile"), {}));
            ASSERT_TRUE(error);
            failure = error->underlying();
            EXPECT_EQ(error->kind(), std::holds_alternative<const char*>(c.error)
                                             ? RestClientError::Case::fileHandlingError
                                             : RestClientError::Case::networkError);
        } else {
            try {
                test::waitFor(bounded.session->data(url("/hostile")));
            } catch (...) {
                failure = std::current_exception();
            }
        }
        ASSERT_TRUE(failure);
        if (const auto* code = std::get_if<QNetworkReply::NetworkError>(&c.error)) {
            const auto transport = errorAs<TransportError>(failure);
            ASSERT_TRUE(transport);
            EXPECT_EQ(transport->code(), *code);
        } else {
            EXPECT_TRUE(errorAs<SystemError>(failure));
        }
        EXPECT_THAT(localizedDescription(failure).toStdString(), ::testing::HasSubstr(c.named));
        EXPECT_THAT(temporaryFolder.entries(), ::testing::IsEmpty());
    }

    // Accepts connections but never says a word of TLS.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const auto unconnected = failureOf<TransportError>(
            bounded.session->data(QUrl(u"https://127.0.0.1:%1/catalogue"_s.arg(silent.serverPort()))));
    ASSERT_TRUE(unconnected);
    EXPECT_EQ(unconnected->code(), QNetworkReply::TimeoutError);
    EXPECT_THAT(unconnected->localizedDescription().toStdString(), ::testing::HasSubstr("within 200 ms"));
}

TEST_F(RestClientTest, ADownloadNeverStoresMoreThanItsAnnouncedLength) {
    auto longer = HttpReply::generated(200'000);
    longer.announcedLength = 100'000;
    serve("/longer.pkg", longer);
    // (A body shorter than announced is the truncated download of FailedDownloadsSayWhyAndLeaveNoFileBehind.)
    const QUrl location = test::waitFor(client.rest.downloadFile(url("/longer.pkg"), {}));
    EXPECT_TRUE(test::readFile(location.toLocalFile()) == fixtures::patternBytes(0, 100'000));
}

TEST(SuggestedFilenameTest, KeepsOnlyAUsableLastPathComponent) {
    const QUrl url(u"https://example.invalid/a/b/c.pkg?x=1"_s);
    EXPECT_EQ(suggestedFilename("attachment; filename=\"a \\\"b\\\".pkg\"", url), u"a \"b\".pkg"_s);
    EXPECT_EQ(suggestedFilename("attachment; filename=plain.pkg; size=3", url), u"plain.pkg"_s);
    EXPECT_EQ(suggestedFilename("attachment; filename=\"C:\\\\x\\\\win.exe\"", url), u"win.exe"_s);
    EXPECT_EQ(suggestedFilename("attachment; filename=\"..\"", url), u"c.pkg"_s);
    EXPECT_EQ(suggestedFilename("inline", url), u"c.pkg"_s);
    EXPECT_EQ(suggestedFilename("attachment; filename*=UTF-8''%E2%82%AC.dmg; filename=\"eur.dmg\"", url),
              u"\u20AC.dmg"_s);
    EXPECT_EQ(suggestedFilename("attachment; filename*=bogus", url), u"c.pkg"_s);
    EXPECT_EQ(suggestedFilename({}, QUrl(u"https://example.invalid/dir/%2E%2E%2Fetc%2Fpasswd"_s)), u"passwd"_s);
    EXPECT_EQ(suggestedFilename({}, QUrl(u"https://example.invalid"_s)), QString());
}

} // namespace
} // namespace tarn
