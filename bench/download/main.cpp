// Downloads one large file from a loopback HTTPS server twice: with `curl -o` and through
// RestClient::downloadFile, and prints the throughput ratio, the CPU time each spends per GiB and the
// client's peak memory.
// The server runs in a child process (this program with --serve), so the memory measured is the
// client's alone and both clients meet exactly the same server.
//
//   tarn_download_bench [--size MiB] [--rounds N]
//   goals: throughput ratio >= 0.9, CPU per GiB <= 1.2 x curl's, peak < 64 MiB

#include "fixtures/LocalHttpsServer.h"
#include "services/RestClient.h"
#include "services/RestClientError.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <cstdio>
#include <optional>
#include <sys/resource.h>

using namespace tarn;

namespace {

const QString benchPath = QStringLiteral("/installer.pkg");

// The process's peak resident set so far, in KiB.
qint64 peakResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

// User plus system CPU seconds used so far by this process (all its threads) or by its waited-for children.
double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& time) { return double(time.tv_sec) + double(time.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double mibPerSecond(qint64 bytes, qint64 milliseconds) {
    return (static_cast<double>(bytes) / (1 << 20)) / (static_cast<double>(milliseconds) / 1000.0);
}

// The server side: writes its authority to `caPath`, prints its port, serves until killed.
int serve(qint64 size, const QString& caPath) {
    const auto authority = fixtures::Credential::authority(QStringLiteral("Download Bench Authority"));
    fixtures::LocalHttpsServer server(fixtures::LocalHttpsServer::localhostCredential(authority));
    server.route(benchPath, fixtures::HttpReply::generated(size).header("Content-Disposition",
                                                                        "attachment; filename=\"Bench.pkg\""));
    QFile ca(caPath);
    if (!ca.open(QIODevice::WriteOnly) || ca.write(authority.certificatePem()) < 0) {
        return 1;
    }
    ca.close();
    std::printf("%u\n", server.port());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// A file of the right size whose bytes are the server's pattern at a few places along the way.
bool looksComplete(const QString& path, qint64 size) {
    QFile file(path);
    if (file.size() != size || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const qint64 offset : {qint64(0), size / 3, size / 2, size - 4096}) {
        const qint64 at = std::max<qint64>(0, offset);
        file.seek(at);
        const qint64 length = std::min<qint64>(4096, size - at);
        if (file.read(length) != fixtures::patternBytes(at, length)) {
            return false;
        }
    }
    return true;
}

// Downloads log nothing and check no digest; the client still needs both collaborators.
class SilentLogger final : public LoggerProtocol {
public:
    std::optional<QUrl> logFileURL() const override { return std::nullopt; }
    void info(const QString&) override {}
    void critical(const QString&) override {}
};

class UnusedValidator final : public InstallerValidatorProtocol {
public:
    QCoro::Task<> validateHash(QByteArray, QString, QString) override { co_return; }
    QCoro::Task<> validateHash(QUrl, QString) override { co_return; }
    QCoro::Task<> validateHash(QString, QString) override { co_return; }
    QCoro::Task<> validateSignature(QUrl, QStringList) override { co_return; }
    QCoro::Task<> validateSignature(QString, QStringList) override { co_return; }
};

struct Timing {
    qint64 milliseconds = -1;
    QString failure;
    double cpu = 0; // seconds
};

Timing runCurl(const QUrl& url, const QString& caPath, const QString& output, qint64 size) {
    QProcess curl;
    QElapsedTimer timer;
    // The server child is reaped only at the end, so the children's total grows by curl's alone.
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    timer.start();
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--noproxy"),
                QStringLiteral("*"), QStringLiteral("--cacert"), caPath, QStringLiteral("-o"), output, url.toString()});
    if (!curl.waitForFinished(-1) || curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0) {
        return {-1, QStringLiteral("curl failed: ") + QString::fromLocal8Bit(curl.readAllStandardError())};
    }
    const qint64 elapsed = timer.elapsed();
    const double cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    if (!looksComplete(output, size)) {
        return {-1, QStringLiteral("curl's file is incomplete")};
    }
    QFile::remove(output);
    return {elapsed, {}, cpu};
}

QCoro::Task<Timing> runClient(RestClient& client, QUrl url, qint64 size, int& progressCalls) {
    QElapsedTimer timer;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    timer.start();
    try {
        auto download = client.downloadFile(url, [&progressCalls](DownloadProgress) { ++progressCalls; });
        const QUrl location = co_await std::move(download);
        const qint64 elapsed = timer.elapsed();
        const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        const bool complete = looksComplete(location.toLocalFile(), size);
        QFile::remove(location.toLocalFile());
        if (!complete) {
            co_return Timing{-1, QStringLiteral("the client's file is incomplete")};
        }
        co_return Timing{elapsed, {}, cpu};
    } catch (const std::exception& error) {
        co_return Timing{-1, QStringLiteral("downloadFile failed: ") + debugDescription(error)};
    }
}

QCoro::Task<int> benchmark(qint64 size, int rounds) {
    QTemporaryDir work;
    const QString caPath = work.filePath(QStringLiteral("authority.pem"));
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList serverArguments{QString::fromLatin1("--serve"), QString::fromLatin1("--size"),
                                      QString::number(size >> 20), QString::fromLatin1("--ca"), caPath};
    server.start(QCoreApplication::applicationFilePath(), serverArguments);
    if (!server.waitForReadyRead(60'000)) {
        std::fprintf(stderr, "the server did not start\n");
        co_return 1;
    }
    const auto port = server.readLine().trimmed().toUShort();
    const QUrl url(QStringLiteral("https://127.0.0.1:%1%2").arg(port).arg(benchPath));

    const QList<QSslCertificate> authorities = SSLValidator::loadCertificateBundle(caPath);
    auto session = std::make_shared<HttpsSession>(
            std::make_shared<SSLValidator>(std::make_shared<SilentLogger>(), authorities));
    RestClient client(session, std::make_shared<SilentLogger>(), std::make_shared<UnusedValidator>());
    const qint64 baselineKiB = peakResidentKiB();

    qint64 bestCurl = -1;
    qint64 bestClient = -1;
    double leastCurlCpu = -1;
    double leastClientCpu = -1;
    int progressCalls = 0;
    for (int round = 1; round <= rounds; ++round) {
        // Alternating who goes first spreads the page cache's write-back fairly over both.
        Timing curl;
        Timing ours;
        if (round % 2 == 1) {
            curl = runCurl(url, caPath, work.filePath(QStringLiteral("curl.bin")), size);
        }
        auto clientRun = runClient(client, url, size, progressCalls);
        ours = co_await std::move(clientRun);
        if (round % 2 == 0) {
            curl = runCurl(url, caPath, work.filePath(QStringLiteral("curl.bin")), size);
        }
        for (const Timing* timing : {&curl, &ours}) {
            if (timing->milliseconds < 0) {
                std::fprintf(stderr, "%s\n", qPrintable(timing->failure));
                server.kill();
                server.waitForFinished();
                co_return 1;
            }
        }
        std::printf("round %d: curl %.0f MiB/s %.2f CPU s, downloadFile %.0f MiB/s %.2f CPU s\n", round,
                    mibPerSecond(size, curl.milliseconds), curl.cpu, mibPerSecond(size, ours.milliseconds), ours.cpu);
        std::fflush(stdout);
        bestCurl = bestCurl < 0 ? curl.milliseconds : std::min(bestCurl, curl.milliseconds);
        bestClient = bestClient < 0 ? ours.milliseconds : std::min(bestClient, ours.milliseconds);
        leastCurlCpu = leastCurlCpu < 0 ? curl.cpu : std::min(leastCurlCpu, curl.cpu);
        leastClientCpu = leastClientCpu < 0 ? ours.cpu : std::min(leastClientCpu, ours.cpu);
    }
    server.kill();
    server.waitForFinished();

    const double ratio = static_cast<double>(bestCurl) / static_cast<double>(bestClient);
    const double peakMiB = static_cast<double>(peakResidentKiB()) / 1024.0;
    std::printf("size %lld MiB, best of %d: curl %.0f MiB/s, downloadFile %.0f MiB/s\n",
                static_cast<long long>(size >> 20), rounds, mibPerSecond(size, bestCurl),
                mibPerSecond(size, bestClient));
    std::printf("throughput ratio (downloadFile / curl): %.3f   goal >= 0.9   %s\n", ratio,
                ratio >= 0.9 ? "met" : "MISSED");
    const double gib = static_cast<double>(size) / double(qint64(1) << 30);
    const double cpuRatio = leastClientCpu / leastCurlCpu;
    std::printf("CPU seconds per GiB: curl %.2f, downloadFile %.2f, ratio %.2f   goal <= 1.2   %s\n",
                leastCurlCpu / gib, leastClientCpu / gib, cpuRatio, cpuRatio <= 1.2 ? "met" : "MISSED");
    std::printf("client peak memory: %.1f MiB (%.1f MiB before the first download)   goal < 64 MiB   %s\n", peakMiB,
                static_cast<double>(baselineKiB) / 1024.0, peakMiB < 64 ? "met" : "MISSED");
    std::printf("progress deliveries on the main thread: %d\n", progressCalls);
    co_return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("downloadFile against curl over loopback HTTPS"));
    parser.addHelpOption();
    const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("Body size in MiB (1024)."),
                                        QStringLiteral("MiB"), QStringLiteral("1024"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Rounds; the best counts (1)."),
                                          QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption serveOption(QStringLiteral("serve"), QStringLiteral("Internal: be the server."));
    const QCommandLineOption caOption(QStringLiteral("ca"), QStringLiteral("Internal: where the server writes its CA."),
                                      QStringLiteral("file"));
    parser.addOptions({sizeOption, roundsOption, serveOption, caOption});
    parser.process(application);

    const qint64 size = parser.value(sizeOption).toLongLong() << 20;
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    if (size <= 0) {
        std::fprintf(stderr, "--size must be a positive number of MiB\n");
        return 2;
    }
    if (parser.isSet(serveOption)) {
        return serve(size, parser.value(caOption));
    }

    int exitCode = 1;
    auto run = [&]() -> QCoro::Task<> {
        auto task = benchmark(size, rounds);
        exitCode = co_await std::move(task);
        QCoreApplication::quit();
    };
    auto runner = run();
    QCoreApplication::exec();
    return exitCode;
}
