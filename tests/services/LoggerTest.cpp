#include "services/Logger.h"

#include "ServicesTestSupport.h"

#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <gmock/gmock.h>

namespace tarn {
namespace {

using ::testing::ElementsAre;

struct SinkEntry {
    LogLevel level;
    QString subsystem;
    QString category;
    QString text;
};

class FakeSystemLog final : public SystemLogSink {
public:
    void write(LogLevel level, const QString& subsystem, const QString& category, const QString& text) override {
        QMutexLocker lock(&mutex);
        entries.append({level, subsystem, category, text});
    }
    QList<SinkEntry> written() const {
        QMutexLocker lock(&mutex);
        return entries;
    }

private:
    mutable QMutex mutex;
    QList<SinkEntry> entries;
};

class FakeEnvironment final : public LoggerEnvironment {
public:
    std::optional<QString> bundleIdentifier() const override { return bundle; }
    QStringList applicationSupportDirectories() const override { return supportDirectories; }
    QString operatingSystemDescription() const override { return QStringLiteral("Debian GNU/Linux 12 (bookworm)"); }
    std::uint32_t cpuType() const override { return cpu; }
    FreeDiskSpace freeDiskSpace() const override { return disk; }
    QDateTime now() const override { return clock; }

    std::optional<QString> bundle;
    QStringList supportDirectories;
    std::uint32_t cpu = cpuTypeX86_64;
    FreeDiskSpace disk{true, std::int64_t{132560605594}}; // 123.456 GiB
    QDateTime clock = QDateTime(QDate(2025, 3, 7), QTime(14, 5, 9), Qt::UTC);
};

class LoggerTest : public ::testing::Test {
protected:
    LoggerTest() { environment->supportDirectories = {supportRoot.path()}; }

    std::unique_ptr<Logger> makeLogger() { return std::make_unique<Logger>(systemLog, environment); }

    QString expectedLogPath() const {
        return supportRoot.filePath(QStringLiteral("T.A.R.N. Installer/installer_2025-03-07.log"));
    }

    static QStringList fileLines(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        const QString content = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(content.isEmpty() || content.endsWith(u'\n'));
        return content.split(u'\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir supportRoot;
    std::shared_ptr<FakeSystemLog> systemLog = std::make_shared<FakeSystemLog>();
    std::shared_ptr<FakeEnvironment> environment = std::make_shared<FakeEnvironment>();
};

TEST_F(LoggerTest, WritesTheMachineDescriptionFirstThenEachMessageAsOneUtcLineToTheDaysFileAndSystemLog) {
    environment->clock = QDateTime(QDate(2025, 3, 7), QTime(16, 5, 9), QTimeZone(2 * 3600));
    auto logger = makeLogger();
    logger->info(QStringLiteral("Searching for USB devices..."));
    logger->critical(QStringLiteral("No PKG found in DMG '/Volumes/Scan'"));

    ASSERT_EQ(logger->logFileURL(), QUrl::fromLocalFile(expectedLogPath()));
    EXPECT_THAT(
            fileLines(expectedLogPath()),
            ElementsAre(QStringLiteral("2025-03-07 14:05:09 +0000: [INFO] OS Version: Debian GNU/Linux 12 "
                                       "(bookworm), CPU: Intel (x86_64), Free disk space: 123.46 GB"),
                        QStringLiteral("2025-03-07 14:05:09 +0000: [INFO] Searching for USB devices..."),
                        QStringLiteral("2025-03-07 14:05:09 +0000: [CRITICAL] No PKG found in DMG '/Volumes/Scan'")));
    const auto entries = systemLog->written();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries.at(2).level, LogLevel::critical);
    EXPECT_EQ(entries.at(2).text, QStringLiteral("[CRITICAL]: [CRITICAL] No PKG found in DMG '/Volumes/Scan'"));
    EXPECT_EQ(entries.at(2).subsystem, QStringLiteral("com.tarn.installer"));
    EXPECT_EQ(entries.at(2).category, QStringLiteral("Application"));
    EXPECT_EQ(entries.at(1).level, LogLevel::info);

    // A later run of the same day appends to the same file, even past midnight.
    environment->bundle = QStringLiteral("com.example.bundle");
    auto second = makeLogger();
    environment->clock = environment->clock.addDays(1);
    second->info(QStringLiteral("second run"));
    EXPECT_EQ(systemLog->written().last().subsystem, QStringLiteral("com.example.bundle"));
    const auto lines = fileLines(expectedLogPath());
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines.at(3).contains(QStringLiteral("OS Version: ")));
    EXPECT_EQ(lines.at(4), QStringLiteral("2025-03-08 14:05:09 +0000: [INFO] second run"));
}

TEST_F(LoggerTest, MachineDescriptionNamesTheProcessorAndWhatIsKnownOfTheDisk) {
    const QString os = QStringLiteral("[INFO] OS Version: Debian GNU/Linux 12 (bookworm), CPU: ");
    const struct {
        std::uint32_t cpu;
        FreeDiskSpace disk;
        QString description; // after the OS version
        bool unreadableLine;
    } cases[] = {
            {cpuTypeArm64, {true, std::int64_t{1} << 30}, "Apple Silicon (ARM64), Free disk space: 1.00 GB", false},
            {0, {false, std::nullopt}, "Intel (x86_64), Free disk space: ", true},
            {cpuTypeX86_64, {true, std::nullopt}, "Intel (x86_64), Free disk space: ", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description.toStdString());
        QFile::remove(expectedLogPath());
        environment->cpu = c.cpu;
        environment->disk = c.disk;
        makeLogger();
        QStringList expected(os + c.description);
        if (c.unreadableLine) {
            expected.prepend(QStringLiteral("[INFO] Could not read free disk space information."));
        }
        EXPECT_EQ(fileLines(expectedLogPath()),
                  expected.replaceInStrings(QRegularExpression(QStringLiteral("^")),
                                            QStringLiteral("2025-03-07 14:05:09 +0000: ")));
    }
}

TEST_F(LoggerTest, LogFileFallsBackToTheSupportFolderOrIsLeftOut) {
    // A plain file where the folder should be: the folder cannot exist, so the file moves up.
    ASSERT_TRUE(test::writeFile(supportRoot.filePath(QStringLiteral("T.A.R.N. Installer")), {}));
    auto moved = makeLogger();
    moved->info(QStringLiteral("moved"));
    EXPECT_EQ(moved->logFileURL(),
              QUrl::fromLocalFile(supportRoot.filePath(QStringLiteral("installer_2025-03-07.log"))));
    EXPECT_EQ(fileLines(moved->logFileURL()->toLocalFile()).size(), 2);

    // Without a support folder only the system log receives messages.
    environment->supportDirectories.clear();
    auto systemOnly = makeLogger();
    systemOnly->info(QStringLiteral("still logged"));
    EXPECT_EQ(systemOnly->logFileURL(), std::nullopt);
    EXPECT_EQ(systemLog->written().last().text, QStringLiteral("[INFO]: [INFO] still logged"));
}

TEST_F(LoggerTest, LinesFromManyThreadsNeverInterleave) {
    auto logger = makeLogger();
    constexpr int threads = 8;
    constexpr int perThread = 200;
    const QString payload = QString(300, u'x');
    QList<QThread*> workers;
    for (int t = 0; t < threads; ++t) {
        workers.append(QThread::create([&, t] {
            for (int i = 0; i < perThread; ++i) {
                logger->info(QStringLiteral("thread %1 line %2 ").arg(t).arg(i) + payload);
            }
        }));
        workers.last()->start();
    }
    for (auto* worker : workers) {
        worker->wait();
        delete worker;
    }
    const auto lines = fileLines(expectedLogPath());
    ASSERT_EQ(lines.size(), 1 + threads * perThread);
    const QRegularExpression shape(
            QStringLiteral("^2025-03-07 14:05:09 \\+0000: \\[INFO\\] thread \\d+ line \\d+ x{300}$"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        ASSERT_TRUE(shape.match(lines.at(i)).hasMatch()) << lines.at(i).toStdString();
    }
}

} // namespace
} // namespace tarn
