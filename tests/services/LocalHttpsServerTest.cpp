#include "fixtures/LocalHttpsServer.h"

#include "NetworkTestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using fixtures::HttpReply;
using fixtures::LocalHttpsServer;

// What curl, a client that knows nothing of Qt, gets from the server: the headers and the body.
QByteArray curl(const QString& caPath, const QUrl& url) {
    QProcess process;
    const QStringList arguments{QStringLiteral("--silent"),  QStringLiteral("--show-error"),
                                QStringLiteral("--noproxy"), QStringLiteral("*"),
                                QStringLiteral("--cacert"),  caPath,
                                QStringLiteral("--include"), url.toString()};
    process.start(QStringLiteral("curl"), arguments);
    // Blocking on purpose: the server answers from its own thread.
    EXPECT_TRUE(process.waitForFinished(60'000));
    return process.readAllStandardOutput();
}

TEST(LocalHttpsServerTest, OnItsOwnThreadItServesAClientThatBlocksTheCallersThread) {
    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()) {
        GTEST_SKIP() << "curl is not installed";
    }
    QTemporaryDir folder;
    const QString caPath = folder.filePath(QStringLiteral("authority.pem"));
    QFile ca(caPath);
    ASSERT_TRUE(ca.open(QIODevice::WriteOnly));
    ca.write(test::testPki().authority.certificatePem());
    ca.close();
    LocalHttpsServer server(test::testPki().server, LocalHttpsServer::Threading::ownThread);
    server.route(QStringLiteral("/config"),
                 HttpReply::withBody(R"({"apps":[]})").header("Content-Disposition", "attachment; filename=c.json"));

    const QByteArray answer = curl(caPath, server.url(QStringLiteral("/config?v=2")));
    const QByteArray missing = curl(caPath, server.url(QStringLiteral("/elsewhere")));

    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\n")) << answer.toStdString();
    EXPECT_TRUE(answer.contains("\r\nContent-Length: 11\r\n"));
    EXPECT_TRUE(answer.contains("\r\nContent-Disposition: attachment; filename=c.json\r\n"));
    EXPECT_TRUE(answer.endsWith("\r\n\r\n{\"apps\":[]}"));
    EXPECT_TRUE(missing.startsWith("HTTP/1.1 404 Not Found\r\n")) << missing.toStdString();
    EXPECT_EQ(server.requestCount(QStringLiteral("/config")), 1);
    EXPECT_EQ(server.requestCount(QStringLiteral("/elsewhere")), 1);
}

TEST(LocalHttpsServerTest, GeneratedBodiesFollowThePatternAcrossChunks) {
    // Slices taken at unaligned offsets agree with the whole, so a body streamed in any chunking is
    // checked against the same bytes.
    const QByteArray whole = fixtures::patternBytes(0, 200'000);
    EXPECT_EQ(fixtures::patternBytes(65'519, 70'000), whole.mid(65'519, 70'000));
    EXPECT_NE(whole.mid(0, 4096), whole.mid(4096, 4096));
}

} // namespace
} // namespace tarn
