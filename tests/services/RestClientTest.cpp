#include "services/RestClient.h"

#include "NetworkTestSupport.h"
#include "fixtures/LocalHttpsServer.h"
#include "services/InstallationError.h"
#include "services/RestClientError.h"
#include "services/TransportError.h"
#include "support/Mocks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using fixtures::HttpReply;
using fixtures::LocalHttpsServer;
using test::errorAs;
using test::testPki;
using test::thrownBy;
using ::testing::_;
using ::testing::NiceMock;

const QString catalogueJson = QStringLiteral(
        R"([{"name":"TARN S1","vid":"4a9","pid":"1a0b","configLink":"https://example.invalid/s1","hash":"ab"}])");

// A REST client on its own session, trusting the test authority on top of the system's roots.
struct Client {
    explicit Client(QList<QSslCertificate> extraAuthorities = {QSslCertificate(testPki().authority.certificatePem())})
        : session(std::make_shared<HttpsSession>(std::make_shared<SSLValidator>(logger, std::move(extraAuthorities)))),
          rest(session, logger, validator) {}

    std::shared_ptr<test::RecordingLogger> logger = std::make_shared<test::RecordingLogger>();
    std::shared_ptr<NiceMock<test::MockInstallerValidator>> validator =
            std::make_shared<NiceMock<test::MockInstallerValidator>>();
    std::shared_ptr<HttpsSession> session;
    RestClient rest;
};

class RestClientTest : public ::testing::Test {
protected:
    test::ScopedTemporaryFolder temporaryFolder; // before the server and client, gone after them
    LocalHttpsServer server{testPki().server};
    Client client;
};

TEST_F(RestClientTest, FetchAnswersTheBodyOfEverySuccessStatus) {
    for (const int status : {200, 299}) {
        server.route(QStringLiteral("/catalogue"), HttpReply::withBody(catalogueJson.toUtf8(), status));
        const auto catalogue = test::waitFor(client.rest.fetchData<std::optional<QList<TARNDeviceModel>>>(
                server.url(QStringLiteral("/catalogue")), std::nullopt, QStringLiteral("content")));
        ASSERT_TRUE(catalogue.has_value()) << status;
        ASSERT_EQ(catalogue->size(), 1);
        EXPECT_EQ(catalogue->first().name, QStringLiteral("TARN S1"));
    }
}

TEST_F(RestClientTest, FetchRejectsEveryOtherStatusWithoutLookingAtTheBody) {
    // The body would fail both the digest check and the decoder: only the status may speak.
    EXPECT_CALL(*client.validator, validateHash(::testing::An<QByteArray>(), _, _)).Times(0);
    for (const int status : {304, 404, 500}) {
        server.route(QStringLiteral("/config"), HttpReply::withBody("{not json", status));
        const auto error = thrownBy<RestClientError>(client.rest.fetchData<TARNDeviceAppsConfigurationModel>(
                server.url(QStringLiteral("/config")), QStringLiteral("00"), QStringLiteral("device configuration")));
        ASSERT_TRUE(error) << status;
        EXPECT_EQ(error->kind(), RestClientError::Case::invalidResponse) << status;
    }
}

TEST_F(RestClientTest, DigestMismatchStopsTheFetchBeforeDecoding) {
    server.route(QStringLiteral("/config"), HttpReply::withBody("{not json"));
    EXPECT_CALL(*client.validator,
                validateHash(QByteArray("{not json"), QStringLiteral("ABCDEF"), QStringLiteral("device configuration")))
            .WillOnce(test::ThrowTask<void>(InstallationError::mismatchHash(QStringLiteral("digest differs"))));

    const auto error = thrownBy<InstallationError>(client.rest.fetchData<TARNDeviceAppsConfigurationModel>(
            server.url(QStringLiteral("/config")), QStringLiteral("ABCDEF"), QStringLiteral("device configuration")));

    ASSERT_TRUE(error);
    EXPECT_EQ(*error, InstallationError::mismatchHash(QStringLiteral("digest differs")));
}

TEST_F(RestClientTest, VerifiedBodyIsDecodedAndAnUncheckedOneSkipsTheValidator) {
    server.route(QStringLiteral("/catalogue"), HttpReply::withBody(catalogueJson.toUtf8()));
    server.route(QStringLiteral("/null"), HttpReply::withBody("null"));
    EXPECT_CALL(*client.validator,
                validateHash(catalogueJson.toUtf8(), QStringLiteral("FEED"), QStringLiteral("content")))
            .WillOnce(test::ReturnVoidTask());

    const auto checked = test::waitFor(client.rest.fetchData<std::optional<QList<TARNDeviceModel>>>(
            server.url(QStringLiteral("/catalogue")), QStringLiteral("FEED"), QStringLiteral("content")));
    const auto absent = test::waitFor(client.rest.fetchData<std::optional<QList<TARNDeviceModel>>>(
            server.url(QStringLiteral("/null")), std::nullopt, QStringLiteral("content")));

    ASSERT_TRUE(checked.has_value());
    EXPECT_EQ(checked->size(), 1);
    EXPECT_FALSE(absent.has_value());
}

TEST_F(RestClientTest, MalformedDocumentFailsWithTheDecodersError) {
    server.route(QStringLiteral("/catalogue"), HttpReply::withBody(R"([{"name":"TARN S1"}])"));
    const auto error = thrownBy<DecodingError>(client.rest.fetchData<std::optional<QList<TARNDeviceModel>>>(
            server.url(QStringLiteral("/catalogue")), std::nullopt, QStringLiteral("content")));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), DecodingError::Kind::keyNotFound);
}

TEST_F(RestClientTest, TransportFailuresOfAFetchPassThroughWithTheirCode) {
    const QUrl closedPort = [] {
        // A port that was free a moment ago and has nobody listening now.
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return QUrl(QStringLiteral("https://127.0.0.1:%1/catalogue").arg(probe.serverPort()));
    }();
    const auto refused = thrownBy<TransportError>(client.rest.fetchVerifiedBody(closedPort, std::nullopt, {}));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), QNetworkReply::ConnectionRefusedError);
    EXPECT_FALSE(refused->localizedDescription().isEmpty());

    // Plain HTTP is refused before any connection, as the transport security policy requires.
    const auto insecure = thrownBy<TransportError>(client.rest.fetchVerifiedBody(
            QUrl(QStringLiteral("http://127.0.0.1:%1/catalogue").arg(server.port())), std::nullopt, {}));
    ASSERT_TRUE(insecure);
    EXPECT_EQ(insecure->code(), QNetworkReply::InsecureRedirectError);
    EXPECT_EQ(server.requestCount(QStringLiteral("/catalogue")), 0);
}

// Servers whose certificate must not be trusted, each alone on its port.
struct UntrustedServer {
    const char* name;
    const fixtures::Credential& (*credential)();
};

class UntrustedServerTest : public ::testing::TestWithParam<UntrustedServer> {
protected:
    test::ScopedTemporaryFolder temporaryFolder;
    LocalHttpsServer server{GetParam().credential()};
    Client client;
};

TEST_P(UntrustedServerTest, FetchFailsWithATlsErrorBeforeAnyRequestIsSent) {
    server.route(QStringLiteral("/catalogue"), HttpReply::withBody("[]"));
    const auto error = thrownBy<TransportError>(client.rest.fetchVerifiedBody(server.url(QStringLiteral("/catalogue")),
                                                                              std::nullopt, QStringLiteral("content")));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(server.requestCount(QStringLiteral("/catalogue")), 0);
}

TEST_P(UntrustedServerTest, DownloadWrapsTheTlsErrorAndLeavesNoFile) {
    server.route(QStringLiteral("/Setup.pkg"), HttpReply::generated(4096));
    const auto error =
            thrownBy<RestClientError>(client.rest.downloadFile(server.url(QStringLiteral("/Setup.pkg")), {}));
    ASSERT_TRUE(error);
    ASSERT_EQ(error->kind(), RestClientError::Case::networkError);
    const auto transport = errorAs<TransportError>(error->underlying());
    ASSERT_TRUE(transport);
    EXPECT_EQ(transport->code(), QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(server.requestCount(QStringLiteral("/Setup.pkg")), 0);
    EXPECT_THAT(temporaryFolder.entries(), ::testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
        Certificates, UntrustedServerTest,
        ::testing::Values(
                UntrustedServer{"SelfSigned", []() -> const fixtures::Credential& { return testPki().selfSigned; }},
                UntrustedServer{"Expired", []() -> const fixtures::Credential& { return testPki().expired; }},
                UntrustedServer{"OtherHost", []() -> const fixtures::Credential& { return testPki().foreignHost; }}),
        [](const auto& info) { return std::string(info.param.name); });

TEST(SSLValidatorTest, TheTestAuthorityIsTrustedOnlyThroughTheExtraAuthorities) {
    test::ScopedTemporaryFolder temporaryFolder;
    LocalHttpsServer server(testPki().server);
    server.route(QStringLiteral("/catalogue"), HttpReply::withBody("[]"));
    Client systemRootsOnly(QList<QSslCertificate>{});

    const auto error = thrownBy<TransportError>(
            systemRootsOnly.rest.fetchVerifiedBody(server.url(QStringLiteral("/catalogue")), std::nullopt, {}));

    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::SslHandshakeFailedError);
}

TEST(SSLValidatorTest, ExtraAuthoritiesAreAddedToTheSystemRootsNotInsteadOfThem) {
    const QSslCertificate extra(testPki().authority.certificatePem());
    const SSLValidator validator(std::make_shared<test::RecordingLogger>(), {extra});
    const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();

    const QSslConfiguration configuration = validator.tlsConfiguration();

    EXPECT_EQ(configuration.caCertificates().size(), system.size() + 1);
    EXPECT_TRUE(configuration.caCertificates().contains(extra));
    for (const auto& root : system) {
        EXPECT_TRUE(configuration.caCertificates().contains(root)) << root.subjectDisplayName().toStdString();
    }
    EXPECT_EQ(configuration.peerVerifyMode(), QSslSocket::VerifyPeer);
}

TEST(SSLValidatorTest, CertificateBundleIsReadOrRefusedWithAClearError) {
    QTemporaryDir folder;
    const auto writeFile = [&](const QString& name, const QByteArray& content) {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    };
    const QString bundle = writeFile(QStringLiteral("bundle.pem"),
                                     testPki().authority.certificatePem() + testPki().selfSigned.certificatePem());
    const QString garbage = writeFile(QStringLiteral("garbage.pem"), "not a certificate\n");

    const auto certificates = SSLValidator::loadCertificateBundle(bundle);
    ASSERT_EQ(certificates.size(), 2);
    EXPECT_EQ(certificates.at(0), QSslCertificate(testPki().authority.certificatePem()));

    for (const QString& path : {garbage, folder.filePath(QStringLiteral("missing.pem"))}) {
        try {
            SSLValidator::loadCertificateBundle(path);
            ADD_FAILURE() << "accepted " << path.toStdString();
        } catch (const SystemError& error) {
            EXPECT_TRUE(error.localizedDescription().contains(path));
        }
    }
}

// What the server suggests, and the extension the download lands with.
struct SuggestedName {
    const char* name;
    const char* path;
    QByteArray contentDisposition;
    const char* extension;
};

class DownloadNameTest : public RestClientTest, public ::testing::WithParamInterface<SuggestedName> {};

TEST_P(DownloadNameTest, LandsInTheTemporaryFolderUnderAFreshUuidWithTheSuggestedExtension) {
    const QByteArray body = fixtures::patternBytes(0, 300'000);
    auto reply = HttpReply::withBody(body);
    if (!GetParam().contentDisposition.isEmpty()) {
        reply.header("Content-Disposition", GetParam().contentDisposition);
    }
    server.route(QUrl(QString::fromLatin1(GetParam().path)).path(), reply);

    const QUrl location = test::waitFor(client.rest.downloadFile(server.url(QString::fromLatin1(GetParam().path)), {}));

    ASSERT_TRUE(location.isLocalFile());
    const QFileInfo file(location.toLocalFile());
    EXPECT_EQ(file.absolutePath(), QDir(temporaryFolder.path()).absolutePath());
    const QRegularExpression uuidName(
            QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.") +
            QRegularExpression::escape(QString::fromUtf8(GetParam().extension)) + u'$');
    EXPECT_TRUE(uuidName.match(file.fileName()).hasMatch()) << file.fileName().toStdString();
    QFile downloaded(file.filePath());
    ASSERT_TRUE(downloaded.open(QIODevice::ReadOnly));
    EXPECT_TRUE(downloaded.readAll() == body);
    EXPECT_THAT(temporaryFolder.entries(), ::testing::ElementsAre(file.fileName()));
}

INSTANTIATE_TEST_SUITE_P(
        Names, DownloadNameTest,
        ::testing::Values(SuggestedName{"Header", "/download?id=7", "attachment; filename=\"Setup.pkg\"", "pkg"},
                          SuggestedName{"HeaderWinsOverUrl", "/files/Scanner.dmg", "attachment; filename=Setup.pkg",
                                        "pkg"},
                          SuggestedName{"ExtendedHeader", "/download",
                                        "attachment; filename*=UTF-8''Sc%C3%A4n%20Tool.dmg", "dmg"},
                          SuggestedName{"UrlPath", "/files/Scanner.dmg", "", "dmg"},
                          SuggestedName{"LastDotOnly", "/files/tool.tar.gz", "", "gz"},
                          SuggestedName{"NoExtension", "/files/installer", "", ""},
                          SuggestedName{"NoNameAtAll", "/", "", ""},
                          SuggestedName{"HostilePath", "/download", "attachment; filename=\"../../bin/evil.sh\"", "sh"},
                          SuggestedName{"HostileExtension", "/download", "attachment; filename=\"x.pk/..\"", ""}),
        [](const auto& info) { return std::string(info.param.name); });

TEST_F(RestClientTest, FailedDownloadsLeaveNoFileBehind) {
    server.route(QStringLiteral("/missing.pkg"), HttpReply::withBody("not here", 404));
    server.route(QStringLiteral("/redirected.pkg"), HttpReply::withBody({}, 304));
    auto truncated = HttpReply::generated(2 << 20);
    truncated.dropAfter = 1 << 20;
    server.route(QStringLiteral("/truncated.pkg"), truncated);

    for (const char* path : {"/missing.pkg", "/redirected.pkg"}) {
        const auto error =
                thrownBy<RestClientError>(client.rest.downloadFile(server.url(QString::fromLatin1(path)), {}));
        ASSERT_TRUE(error) << path;
        EXPECT_EQ(error->kind(), RestClientError::Case::invalidResponse) << path;
    }
    const auto error =
            thrownBy<RestClientError>(client.rest.downloadFile(server.url(QStringLiteral("/truncated.pkg")), {}));
    ASSERT_TRUE(error);
    ASSERT_EQ(error->kind(), RestClientError::Case::networkError);
    const auto transport = errorAs<TransportError>(error->underlying());
    ASSERT_TRUE(transport) << "networkError must carry the transport's error, not a raw one";
    EXPECT_EQ(transport->code(), QNetworkReply::RemoteHostClosedError);

    EXPECT_THAT(temporaryFolder.entries(), ::testing::IsEmpty());
}

TEST_F(RestClientTest, DownloadsFollowRedirectsAndTakeTheirNameFromTheFinalAnswer) {
    server.route(QStringLiteral("/latest"), HttpReply::redirect("/files/Scanner-2.1.dmg"));
    auto body = HttpReply::generated(3 << 20);
    body.chunked = true; // and a body without a length
    server.route(QStringLiteral("/files/Scanner-2.1.dmg"), body);

    const QUrl location = test::waitFor(client.rest.downloadFile(server.url(QStringLiteral("/latest")), {}));

    EXPECT_TRUE(location.toLocalFile().endsWith(QStringLiteral(".dmg")));
    QFile file(location.toLocalFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == fixtures::patternBytes(0, 3 << 20));
    EXPECT_EQ(server.requestCount(QStringLiteral("/files/Scanner-2.1.dmg")), 1);
}

TEST_F(RestClientTest, RedirectsThatLeaveHttpsOrNeverEndFailTheDownload) {
    server.route(QStringLiteral("/insecure"),
                 HttpReply::redirect(QStringLiteral("http://127.0.0.1:%1/plain.pkg").arg(server.port()).toUtf8()));
    server.route(QStringLiteral("/loop"), HttpReply::redirect("/loop", 307));
    auto truncatedChunks = HttpReply::generated(2 << 20);
    truncatedChunks.chunked = true;
    truncatedChunks.dropAfter = 1 << 20;
    server.route(QStringLiteral("/truncated-chunks"), truncatedChunks);

    const struct {
        const char* path;
        QNetworkReply::NetworkError code;
    } cases[] = {{"/insecure", QNetworkReply::InsecureRedirectError},
                 {"/loop", QNetworkReply::TooManyRedirectsError},
                 {"/truncated-chunks", QNetworkReply::RemoteHostClosedError}};
    for (const auto& c : cases) {
        const auto error =
                thrownBy<RestClientError>(client.rest.downloadFile(server.url(QString::fromLatin1(c.path)), {}));
        ASSERT_TRUE(error) << c.path;
        ASSERT_EQ(error->kind(), RestClientError::Case::networkError) << c.path;
        const auto transport = errorAs<TransportError>(error->underlying());
        ASSERT_TRUE(transport) << c.path;
        EXPECT_EQ(transport->code(), c.code) << c.path;
    }
    EXPECT_GT(server.requestCount(QStringLiteral("/loop")), 10);
    EXPECT_THAT(temporaryFolder.entries(), ::testing::IsEmpty());
}

TEST_F(RestClientTest, DownloadThatCannotBeStoredIsAFileHandlingError) {
    server.route(QStringLiteral("/Setup.pkg"), HttpReply::generated(1024));
    qputenv("TMPDIR", QFile::encodeName(QDir(temporaryFolder.path()).filePath(QStringLiteral("missing"))));

    const auto error =
            thrownBy<RestClientError>(client.rest.downloadFile(server.url(QStringLiteral("/Setup.pkg")), {}));

    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), RestClientError::Case::fileHandlingError);
    EXPECT_TRUE(errorAs<SystemError>(error->underlying()));
}

TEST_F(RestClientTest, ProgressArrivesOnTheMainThreadInOrderAndEndsComplete) {
    server.route(QStringLiteral("/Setup.pkg"), HttpReply::generated(16 << 20));
    QList<double> progress;
    bool allOnMainThread = true;

    const QUrl location =
            test::waitFor(client.rest.downloadFile(server.url(QStringLiteral("/Setup.pkg")), [&](double value) {
                allOnMainThread = allOnMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
                progress.append(value);
            }));
    const auto reportedBeforeReturn = progress.size();
    test::drainPostedEvents();

    EXPECT_TRUE(allOnMainThread);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GT(progress.first(), 0.0);
    EXPECT_EQ(progress.last(), 1.0);
    EXPECT_EQ(progress.size(), reportedBeforeReturn) << "progress reported after the download returned";
    EXPECT_EQ(QFileInfo(location.toLocalFile()).size(), 16 << 20);
}

TEST_F(RestClientTest, ANewDownloadSilencesTheProgressOfTheOneBefore) {
    auto held = HttpReply::generated(8 << 20);
    held.holdAfter = 2 << 20;
    server.route(QStringLiteral("/first.pkg"), held);
    server.route(QStringLiteral("/second.pkg"), HttpReply::generated(1 << 20));
    QList<double> firstProgress;
    QList<double> secondProgress;

    auto first = client.rest.downloadFile(server.url(QStringLiteral("/first.pkg")),
                                          [&](double value) { firstProgress.append(value); });
    ASSERT_TRUE(test::processEventsUntil([&] { return !firstProgress.isEmpty(); }));
    const auto firstReportsBeforeSecond = firstProgress.size();
    const QUrl second = test::waitFor(client.rest.downloadFile(server.url(QStringLiteral("/second.pkg")),
                                                               [&](double value) { secondProgress.append(value); }));
    server.release(QStringLiteral("/first.pkg"));
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

TEST(HttpsSessionTest, StoppingTheSessionFailsARunningDownloadAndRemovesItsFile) {
    test::ScopedTemporaryFolder temporaryFolder;
    LocalHttpsServer server(testPki().server);
    auto held = HttpReply::generated(4 << 20);
    held.holdAfter = 1 << 20;
    server.route(QStringLiteral("/Setup.pkg"), held);
    std::optional<Client> client(std::in_place);
    bool progressed = false;

    auto download =
            client->rest.downloadFile(server.url(QStringLiteral("/Setup.pkg")), [&](double) { progressed = true; });
    ASSERT_TRUE(test::processEventsUntil([&] { return progressed; }));
    client.reset();
    const auto error = thrownBy<RestClientError>(std::move(download));

    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), RestClientError::Case::networkError);
    EXPECT_THAT(temporaryFolder.entries(), ::testing::IsEmpty());
}

TEST(SuggestedFilenameTest, KeepsOnlyAUsableLastPathComponent) {
    const QUrl url(QStringLiteral("https://example.invalid/a/b/c.pkg?x=1"));
    EXPECT_EQ(suggestedFilename("attachment; filename=\"a \\\"b\\\".pkg\"", url), QStringLiteral("a \"b\".pkg"));
    EXPECT_EQ(suggestedFilename("attachment; filename=plain.pkg; size=3", url), QStringLiteral("plain.pkg"));
    EXPECT_EQ(suggestedFilename("attachment; filename=\"C:\\\\x\\\\win.exe\"", url), QStringLiteral("win.exe"));
    EXPECT_EQ(suggestedFilename("attachment; filename=\"..\"", url), QStringLiteral("c.pkg"));
    EXPECT_EQ(suggestedFilename("inline", url), QStringLiteral("c.pkg"));
    EXPECT_EQ(suggestedFilename("attachment; filename*=UTF-8''%E2%82%AC.dmg; filename=\"eur.dmg\"", url),
              QStringLiteral("\u20AC.dmg"));
    EXPECT_EQ(suggestedFilename("attachment; filename*=bogus", url), QStringLiteral("c.pkg"));
    EXPECT_EQ(suggestedFilename({}, QUrl(QStringLiteral("https://example.invalid/dir/%2E%2E%2Fetc%2Fpasswd"))),
              QStringLiteral("passwd"));
    EXPECT_EQ(suggestedFilename({}, QUrl(QStringLiteral("https://example.invalid"))), QString());
}

} // namespace
} // namespace tarn
