#include "services/Logger.h"

#include "ServicesTestSupport.h"

#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gmock/gmock.h>

#include <thread>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

// Records each entry as "LEVEL SUBSYSTEM CATEGORY: TEXT", LEVEL 0 for information and 1 for critical.
class FakeSystemLog final : public SystemLogSink {
public:
    void write(LogLevel level, const QString& subsystem, const QString& category, const QString& text) override {
        QMutexLocker lock(&mutex);
        entries.append(u"%1 %2 %3: %4"_s.arg(int(level)).arg(subsystem, category, text));
    }
    QStringList written() const {
        QMutexLocker lock(&mutex);
        return entries;
    }

private:
    mutable QMutex mutex;
    QStringList entries;
};

class FakeEnvironment final : public LoggerEnvironment {
public:
    std::optional<QString> bundleIdentifier() const override { return bundle; }
    QStringList applicationSupportDirectories() const override { return supportDirectories; }
    QString operatingSystemDescription() const override { return u"Debian GNU/Linux 12 (bookworm)"_s; }
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

    QString expectedLogPath() const { return supportRoot.filePath(u"T.A.R.N. Installer/installer_2025-03-07.log"_s); }

    static QStringList fileLines(const QString& path) {
        const QString content = QString::fromUtf8(test::readFile(path));
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
    logger->info(u"Searching for USB devices..."_s);
    logger->critical(u"No PKG found in DMG '/Volumes/Scan'"_s);

    ASSERT_EQ(logger->logFileURL(), QUrl::fromLocalFile(expectedLogPath()));
    EXPECT_THAT(fileLines(expectedLogPath()),
                ::testing::ElementsAre(u"2025-03-07 14:05:09 +0000: [INFO] OS Version: Debian GNU/Linux 12 "
                                       "(bookworm), CPU: Intel (x86_64), Free disk space: 123.46 GB"_s,
                                       u"2025-03-07 14:05:09 +0000: [INFO] Searching for USB devices..."_s,
                                       u"2025-03-07 14:05:09 +0000: [CRITICAL] No PKG found in DMG '/Volumes/Scan'"_s));
    EXPECT_EQ(systemLog->written().mid(1),
              QStringList({u"0 com.tarn.installer Application: [INFO]: [INFO] Searching for USB devices..."_s,
                           u"1 com.tarn.installer Application: [CRITICAL]: [CRITICAL] No PKG found in DMG "
                           "'/Volumes/Scan'"_s}));

    // A later run of the same day appends to the same file, even past midnight.
    environment->bundle = u"com.example.bundle"_s;
    auto second = makeLogger();
    environment->clock = environment->clock.addDays(1);
    second->info(u"second run"_s);
    EXPECT_TRUE(systemLog->written().last().startsWith(u"0 com.example.bundle "_s));
    const QStringList lines = fileLines(expectedLogPath()); // the machine described again, then the message
    EXPECT_EQ(lines.mid(3), QStringList({lines.value(0), u"2025-03-08 14:05:09 +0000: [INFO] second run"_s}));
}

TEST_F(LoggerTest, MachineDescriptionNamesTheProcessorAndWhatIsKnownOfTheDisk) {
    const QString line = u"2025-03-07 14:05:09 +0000: [INFO] %1"_s;
    const QString os = line.arg(u"OS Version: Debian GNU/Linux 12 (bookworm), CPU: %1, Free disk space: %2"_s);
    const QString intelNoSpace = os.arg(u"Intel (x86_64)"_s, QString());
    const QString unreadable = line.arg(u"Could not read free disk space information."_s);
    const std::tuple<std::uint32_t, FreeDiskSpace, QStringList> cases[] = {
            {cpuTypeArm64, {true, std::int64_t{1} << 30}, {os.arg(u"Apple Silicon (ARM64)"_s, u"1.00 GB"_s)}},
            {0, {false, std::nullopt}, {unreadable, intelNoSpace}},
            {cpuTypeX86_64, {true, std::nullopt}, {intelNoSpace}},
    };
    for (const auto& [cpu, disk, expected] : cases) {
        QFile::remove(expectedLogPath());
        environment->cpu = cpu;
        environment->disk = disk;
        makeLogger();
        EXPECT_EQ(fileLines(expectedLogPath()), expected);
    }
}

TEST_F(LoggerTest, LogFileFallsBackToTheSupportFolderOrIsLeftOut) {
    // A plain file where the folder should be: the folder cannot exist, so the file moves up.
    ASSERT_TRUE(test::writeFile(supportRoot.filePath(u"T.A.R.N. Installer"_s), {}));
    auto moved = makeLogger();
    moved->info(u"moved"_s);
    EXPECT_EQ(moved->logFileURL(), QUrl::fromLocalFile(supportRoot.filePath(u"installer_2025-03-07.log"_s)));
    EXPECT_EQ(fileLines(moved->logFileURL()->toLocalFile()).size(), 2);

    // Without a support folder only the system log receives messages.
    environment->supportDirectories.clear();
    auto systemOnly = makeLogger();
    systemOnly->info(u"still logged"_s);
    EXPECT_EQ(systemOnly->logFileURL(), std::nullopt);
    EXPECT_TRUE(systemLog->written().last().endsWith(u": [INFO]: [INFO] still logged"_s));
}

TEST_F(LoggerTest, LinesFromManyThreadsNeverInterleave) {
    auto logger = makeLogger();
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                logger->info(u"thread %1 line %2 %3"_s.arg(t).arg(i).arg(QString(300, u'x')));
            }
        });
    }
    std::for_each(workers.begin(), workers.end(), [](std::thread& worker) { worker.join(); });
    const auto lines = fileLines(expectedLogPath());
    ASSERT_EQ(lines.size(), 1 + 8 * 200);
    const QRegularExpression shape(u"^2025-03-07 14:05:09 \\+0000: \\[INFO\\] thread \\d+ line \\d+ x{300}$"_s);
    EXPECT_TRUE(std::all_of(lines.begin() + 1, lines.end(),
                            [&](const QString& line) { return shape.match(line).hasMatch(); }));
}

} // namespace
} // namespace tarn
