#include "services/Logger.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

TEST_F(LoggerTest, WritesTheMachineDescriptionFirstThenEachMessageAsOneUtcLine) {
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
}

TEST_F(LoggerTest, SystemLogReceivesTheFormattedTextUnderTheFallbackSubsystem) {
    auto logger = makeLogger();
    logger->critical(QStringLiteral("M"));
    const auto entries = systemLog->written();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries.at(1).level, LogLevel::critical);
    EXPECT_EQ(entries.at(1).text, QStringLiteral("[CRITICAL]: [CRITICAL] M"));
    EXPECT_EQ(entries.at(1).subsystem, QStringLiteral("com.tarn.installer"));
    EXPECT_EQ(entries.at(1).category, QStringLiteral("Application"));
    EXPECT_EQ(entries.at(0).level, LogLevel::info);
    EXPECT_TRUE(entries.at(0).text.startsWith(QStringLiteral("[INFO]: [INFO] OS Version: ")));

    environment->bundle = QStringLiteral("com.example.bundle");
    auto bundled = makeLogger();
    EXPECT_EQ(systemLog->written().last().subsystem, QStringLiteral("com.example.bundle"));
}

TEST_F(LoggerTest, LaterRunsOfTheSameDayAppendAndTheDateIsFixedAtStart) {
    makeLogger()->info(QStringLiteral("first run"));
    auto second = makeLogger();
    environment->clock = environment->clock.addDays(1); // past midnight: same file
    second->info(QStringLiteral("second run"));

    const auto lines = fileLines(expectedLogPath());
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines.at(1).endsWith(QStringLiteral("[INFO] first run")));
    EXPECT_TRUE(lines.at(2).contains(QStringLiteral("OS Version: ")));
    EXPECT_EQ(lines.at(3), QStringLiteral("2025-03-08 14:05:09 +0000: [INFO] second run"));
}

TEST_F(LoggerTest, LocalTimesAreWrittenInUtc) {
    environment->clock = QDateTime(QDate(2025, 3, 7), QTime(23, 30, 0), QTimeZone(2 * 3600));
    auto logger = makeLogger();
    EXPECT_TRUE(fileLines(logger->logFileURL()->toLocalFile())
                        .first()
                        .startsWith(QStringLiteral("2025-03-07 21:30:00 +0000: ")));
}

TEST_F(LoggerTest, WithoutSupportDirectoryOnlyTheSystemLogReceivesMessages) {
    environment->supportDirectories.clear();
    auto logger = makeLogger();
    logger->info(QStringLiteral("still logged"));
    EXPECT_EQ(logger->logFileURL(), std::nullopt);
    EXPECT_EQ(systemLog->written().last().text, QStringLiteral("[INFO]: [INFO] still logged"));
    EXPECT_TRUE(QDir(supportRoot.path()).isEmpty());
}

TEST_F(LoggerTest, FolderThatCannotBeCreatedMovesTheFileUpOneLevel) {
    // A plain file where the folder should be: the folder cannot exist, so the file moves up.
    QFile blocker(supportRoot.filePath(QStringLiteral("T.A.R.N. Installer")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    auto logger = makeLogger();
    logger->info(QStringLiteral("moved"));
    EXPECT_EQ(logger->logFileURL(),
              QUrl::fromLocalFile(supportRoot.filePath(QStringLiteral("installer_2025-03-07.log"))));
    EXPECT_EQ(fileLines(logger->logFileURL()->toLocalFile()).size(), 2);
}

TEST_F(LoggerTest, UnreadableDiskSpaceIsReportedBeforeTheDescriptionWithAnEmptyField) {
    environment->disk = {false, std::nullopt};
    auto logger = makeLogger();
    const auto lines = fileLines(expectedLogPath());
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.at(0),
              QStringLiteral("2025-03-07 14:05:09 +0000: [INFO] Could not read free disk space information."));
    EXPECT_TRUE(lines.at(1).endsWith(QStringLiteral(", Free disk space: ")));

    environment->disk = {true, std::nullopt};
    auto silent = makeLogger();
    const auto after = fileLines(expectedLogPath());
    ASSERT_EQ(after.size(), 3);
    EXPECT_TRUE(after.at(2).endsWith(QStringLiteral(", Free disk space: ")));
}

TEST_F(LoggerTest, OnlyTheArmProcessorTypeReadsAsAppleSilicon) {
    EXPECT_EQ(Logger::cpuDescription(cpuTypeArm64), QStringLiteral("Apple Silicon (ARM64)"));
    EXPECT_EQ(Logger::cpuDescription(cpuTypeX86_64), QStringLiteral("Intel (x86_64)"));
    EXPECT_EQ(Logger::cpuDescription(0), QStringLiteral("Intel (x86_64)"));
    environment->cpu = cpuTypeArm64;
    makeLogger();
    EXPECT_TRUE(fileLines(expectedLogPath()).first().contains(QStringLiteral(", CPU: Apple Silicon (ARM64), ")));
}

TEST_F(LoggerTest, AFileThatCannotBeOpenedLosesOnlyThatLine) {
    auto logger = makeLogger();
    const QString path = expectedLogPath();
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    logger->info(QStringLiteral("lost"));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    logger->info(QStringLiteral("kept"));
    const auto lines = fileLines(path);
    // Root ignores permission bits; either way the next line must arrive.
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("[INFO] kept")));
    EXPECT_EQ(systemLog->written().size(), 3);
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
