// Measures validateHash(filePath:) on a large file against `openssl dgst -sha512` and `sha512sum` on
// the same file in the same run (best of several runs each, page cache warm for all), and the
// process's peak resident memory while the validator digests. Goals: at least 0.95 of openssl's
// throughput, peak memory under 32 MiB.
#include "base/Error.h"
#include "services/InstallerValidator.h"
#include "services/ProcessRunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>

namespace {

using namespace tarn;

class SilentLogger final : public LoggerProtocol {
public:
    std::optional<QUrl> logFileURL() const override { return std::nullopt; }
    void info(const QString&) override {}
    void critical(const QString& message) override { std::fprintf(stderr, "%s\n", qPrintable(message)); }
};

// Pseudo-random bytes, so no layer below can shortcut a file of zeros.
bool writeTestFile(const QString& path, qint64 sizeMiB) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    quint64 state = 0x9E3779B97F4A7C15ull;
    for (qint64 written = 0; written < sizeMiB; ++written) {
        auto* words = reinterpret_cast<quint64*>(block.data());
        for (qsizetype i = 0; i < block.size() / qsizetype(sizeof(quint64)); ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            words[i] = state;
        }
        if (file.write(block) != block.size()) {
            return false;
        }
    }
    return file.flush();
}

void readThrough(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray chunk(1024 * 1024, Qt::Uninitialized);
        while (file.read(chunk.data(), chunk.size()) > 0) {
        }
    }
}

// Seconds the tool took, and the first 128-digit hexadecimal run of its output.
std::pair<double, QString> runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        std::exit(1);
    }
    const auto match = QRegularExpression(QStringLiteral("[0-9a-f]{128}"))
                               .match(QString::fromLatin1(process.readAllStandardOutput()));
    return {seconds, match.captured()};
}

double runValidator(InstallerValidator& validator, const QString& path, const QString& expectedHash) {
    QEventLoop loop;
    bool finished = false;
    std::exception_ptr failure;
    QElapsedTimer timer;
    timer.start();
    auto run = [&]() -> QCoro::Task<> {
        try {
            co_await validator.validateHash(path, expectedHash);
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
        loop.quit();
    };
    auto task = run();
    if (!finished) {
        loop.exec();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (failure) {
        std::fprintf(stderr, "validateHash failed: %s\n", qPrintable(localizedDescription(failure)));
        std::exit(1);
    }
    return seconds;
}

// A line of /proc/self/status in KiB ("VmHWM", "VmRSS").
double statusMiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').first().toDouble() / 1024.0;
        }
    }
    return -1;
}

// Resets the peak-RSS mark to the current RSS, so VmHWM afterwards is the peak of what follows.
void resetPeakMemory() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly)) {
        clearRefs.write("5");
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("SHA-512 digest throughput of the installer validator"));
    parser.addHelpOption();
    const QCommandLineOption sizeOption(QStringLiteral("size-mib"), QStringLiteral("Test file size in MiB."),
                                        QStringLiteral("N"), QStringLiteral("1024"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs per contender (best counts)."),
                                        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption directoryOption(QStringLiteral("directory"),
                                             QStringLiteral("Where the test file is written."), QStringLiteral("DIR"),
                                             QDir::tempPath());
    parser.addOptions({sizeOption, runsOption, directoryOption});
    parser.process(application);
    const qint64 sizeMiB = std::max<qint64>(1, parser.value(sizeOption).toLongLong());
    const int runs = std::max(1, parser.value(runsOption).toInt());

    QTemporaryDir directory(QDir(parser.value(directoryOption)).filePath(QStringLiteral("tarn-digest-XXXXXX")));
    const QString path = directory.filePath(QStringLiteral("installer.pkg"));
    std::printf("writing %lld MiB to %s ...\n", static_cast<long long>(sizeMiB), qPrintable(path));
    if (!directory.isValid() || !writeTestFile(path, sizeMiB)) {
        std::fprintf(stderr, "could not write the test file\n");
        return 1;
    }
    readThrough(path);

    auto logger = std::make_shared<SilentLogger>();
    InstallerValidator validator(logger, std::make_shared<ProcessRunner>(logger, QString()), QString());
    const QString openssl = QStringLiteral("openssl");
    const QString sha512sum = QStringLiteral("sha512sum");
    const QStringList opensslArguments{QStringLiteral("dgst"), QStringLiteral("-sha512"), path};

    double bestValidator = std::numeric_limits<double>::max();
    double bestOpenssl = bestValidator;
    double bestSha512sum = bestValidator;
    double peakMiB = 0;
    double baselineMiB = 0;
    for (int run = 0; run < runs; ++run) {
        const auto [opensslSeconds, digest] = runTool(openssl, opensslArguments);
        const auto [sumSeconds, sumDigest] = runTool(sha512sum, {path});
        if (digest.isEmpty() || digest != sumDigest) {
            std::fprintf(stderr, "the tools disagree on the digest\n");
            return 1;
        }
        resetPeakMemory();
        baselineMiB = statusMiB("VmRSS:");
        const double validatorSeconds = runValidator(validator, path, digest);
        peakMiB = std::max(peakMiB, statusMiB("VmHWM:"));
        bestOpenssl = std::min(bestOpenssl, opensslSeconds);
        bestSha512sum = std::min(bestSha512sum, sumSeconds);
        bestValidator = std::min(bestValidator, validatorSeconds);
    }

    const auto throughput = [&](double seconds) { return double(sizeMiB) / seconds; };
    std::printf("\n%lld MiB, best of %d runs each, page cache warm\n", static_cast<long long>(sizeMiB), runs);
    std::printf("  validateHash(filePath:)  %7.3f s  %8.1f MiB/s\n", bestValidator, throughput(bestValidator));
    std::printf("  openssl dgst -sha512     %7.3f s  %8.1f MiB/s\n", bestOpenssl, throughput(bestOpenssl));
    std::printf("  sha512sum                %7.3f s  %8.1f MiB/s\n", bestSha512sum, throughput(bestSha512sum));
    std::printf("ratio validator / openssl dgst -sha512: %.3f (goal >= 0.95)\n", bestOpenssl / bestValidator);
    std::printf("ratio validator / sha512sum:            %.3f\n", bestSha512sum / bestValidator);
    std::printf("validator peak memory (process peak RSS): %.1f MiB, %.1f MiB above the RSS before digesting "
                "(goal < 32 MiB)\n",
                peakMiB, peakMiB - baselineMiB);
    return 0;
}
