#include "demo/DemoCatalogue.h"
#include "support/ReportChecks.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

namespace tarn::demo {
namespace {

using testing::HasSubstr;
using testing::Not;

constexpr int processLimitMs = 180'000; // a bound for a hung child under the sanitizers, never reached

struct DemoRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    QJsonObject report;
};

std::ostream& operator<<(std::ostream& stream, const DemoRun& run) {
    return stream << "exit " << run.exitCode << "\n--- stdout\n" << run.out << "--- stderr\n" << run.err;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList applicationsOfTheScanner(bool includeOptional) {
    QStringList names;
    for (const QString& name : simulatedScanner().applications) {
        if (includeOptional || sampleApplication(name).mandatory) {
            names.append(name);
        }
    }
    return names;
}

// Runs `tarn-installer --demo --unattended --accept-licenses ...` in a workspace of its own: the demo's
// sandbox (kept, so that installs can be inspected and a second run sees the first one's), the user's
// data folder (where the log goes) and the temporary folder.
class DemoEndToEndTest : public testing::Test {
protected:
    QString sandbox() const { return workspace.filePath(QStringLiteral("sandbox")); }
    QString systemRoot() const { return sandbox() + QStringLiteral("/root"); }
    QString temporaryFolder() const { return workspace.filePath(QStringLiteral("tmp")); }

    QString receiptOf(const QString& application) const {
        return systemRoot() + QStringLiteral("/var/db/receipts/") + sampleApplication(application).pkgId +
               QStringLiteral(".plist");
    }
    QString bundleOf(const QString& application) const {
        return systemRoot() + QStringLiteral("/Applications/") + application + QStringLiteral(".app");
    }

    QProcessEnvironment environment(const QString& variant = {}, bool keepSandbox = true) const {
        QDir().mkpath(temporaryFolder());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* inherited : {"TARN_SYSTEM_ROOT", "TARN_SUDO", "TARN_DEMO_SANDBOX", "TARN_DEMO_VARIANT"}) {
            environment.remove(QString::fromLatin1(inherited));
        }
        if (keepSandbox) {
            environment.insert(QStringLiteral("TARN_DEMO_SANDBOX"), sandbox());
        }
        if (!variant.isEmpty()) {
            environment.insert(QStringLiteral("TARN_DEMO_VARIANT"), variant);
        }
        environment.insert(QStringLiteral("TARN_DEMO_SCANNER_DELAY_MS"), QStringLiteral("0"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), workspace.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("TMPDIR"), temporaryFolder());
        return environment;
    }

    static QStringList demoArguments(const QStringList& more = {}) {
        return QStringList{QStringLiteral("--demo"), QStringLiteral("--unattended"),
                           QStringLiteral("--accept-licenses")} +
               more;
    }

    DemoRun run(const QStringList& arguments, const QProcessEnvironment& environment) const {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TARN_INSTALLER_PATH), arguments);
        if (!process.waitForFinished(processLimitMs)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "tarn-installer did not finish";
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString(),
                {}};
    }

    QString reportFolder() const { return workspace.filePath(QStringLiteral("reports")); }
    QString reportPath() const { return reportFolder() + QStringLiteral("/report.json"); }

    // Every run reports; the report must be whole and agree with the exit code, whatever the outcome.
    DemoRun runDemo(const QStringList& more = {}, const QString& variant = {}) const {
        QDir().mkpath(reportFolder());
        QFile::remove(reportPath());
        DemoRun result = run(demoArguments(more) << QStringLiteral("--report") << reportPath(), environment(variant));
        result.report = test::completeReport(reportPath(), result.exitCode);
        EXPECT_EQ(entriesOf(reportFolder()), QStringList{QStringLiteral("report.json")}) << "a temporary file is left";
        return result;
    }

    // The report's entry for `application`.
    static QJsonObject reported(const DemoRun& run, const QString& application) {
        for (const QJsonValue& entry : run.report.value(u"applications").toArray()) {
            if (entry[u"name"] == application) {
                return entry.toObject();
            }
        }
        ADD_FAILURE() << application.toStdString() << " is not in the report";
        return {};
    }

    QString logText() const {
        QString text;
        QDirIterator logs(workspace.filePath(QStringLiteral("data")), {QStringLiteral("installer_*.log")}, QDir::Files,
                          QDirIterator::Subdirectories);
        while (logs.hasNext()) {
            text += QString::fromUtf8(readFile(logs.next()));
        }
        return text;
    }

    // Exactly these applications are installed: bundle and receipt each, and nothing else, not even a
    // staging leftover, in the install location or the receipt database.
    void expectInstalledExactly(const QStringList& applications) const {
        QStringList bundles;
        QStringList receipts;
        for (const QString& application : applications) {
            EXPECT_TRUE(QFileInfo::exists(bundleOf(application) + QStringLiteral("/Contents/Info.plist")))
                    << application.toStdString();
            EXPECT_TRUE(QFileInfo::exists(bundleOf(application) + QStringLiteral("/Contents/MacOS/") + application))
                    << application.toStdString();
            bundles.append(application + QStringLiteral(".app"));
            receipts.append(sampleApplication(application).pkgId + QStringLiteral(".plist"));
        }
        bundles.sort();
        receipts.sort();
        EXPECT_EQ(entriesOf(systemRoot() + QStringLiteral("/Applications")), bundles);
        EXPECT_EQ(entriesOf(systemRoot() + QStringLiteral("/var/db/receipts")), receipts);
    }

    QTemporaryDir workspace;
};

TEST_F(DemoEndToEndTest, InstallsTheMandatoryApplicationsAndSkipsThemOnTheNextRun) {
    const QStringList mandatory = applicationsOfTheScanner(false);
    ASSERT_GE(mandatory.size(), 2);

    const DemoRun first = runDemo();
    ASSERT_EQ(first.exitCode, 0) << first;
    EXPECT_THAT(first.out, HasSubstr("Scanner detected: " + simulatedScanner().name.toStdString()));
    EXPECT_THAT(first.out, HasSubstr("Installation complete."));
    expectInstalledExactly(mandatory);
    QList<QByteArray> receipts;
    for (const QString& application : mandatory) {
        receipts.append(readFile(receiptOf(application)));
    }

    EXPECT_EQ(first.report.value(u"device"),
              (QJsonObject{{"name", simulatedScanner().name}, {"chosenBy", QStringLiteral("detected")}}));
    EXPECT_EQ(first.report.value(u"applications").toArray().size(), mandatory.size());
    for (const QString& application : mandatory) {
        const QJsonObject entry = reported(first, application);
        EXPECT_EQ(entry.value(u"state"), QStringLiteral("done"));
        EXPECT_TRUE(entry.value(u"installedVersionBefore").isNull());
        EXPECT_GT(entry.value(u"bytesDownloaded").toInteger(), 0);
    }

    const DemoRun second = runDemo();
    ASSERT_EQ(second.exitCode, 0) << second;
    for (const QString& application : mandatory) {
        const QJsonObject entry = reported(second, application);
        EXPECT_EQ(entry.value(u"installedVersionBefore"), entry.value(u"requestedVersion"))
                << "found installed by the first run";
        EXPECT_EQ(entry.value(u"bytesDownloaded"), 0);
    }
    EXPECT_THAT(second.out, Not(HasSubstr("downloading"))) << second;
    for (qsizetype i = 0; i < mandatory.size(); ++i) {
        SCOPED_TRACE(mandatory[i].toStdString());
        EXPECT_EQ(readFile(receiptOf(mandatory[i])), receipts[i]) << "installed again";
        EXPECT_THAT(logText().toStdString(),
                    HasSubstr("Skipping installation for '" + mandatory[i].toStdString() + "'"));
    }
    expectInstalledExactly(mandatory);
}

TEST_F(DemoEndToEndTest, SelectingAllInstallsTheOptionalAndTrialApplicationsAndTheDiskImage) {
    const QStringList all = applicationsOfTheScanner(true);
    const bool offersDiskImage = std::any_of(all.begin(), all.end(), [](const QString& name) {
        return sampleApplication(name).format == InstallerFormat::diskImage;
    });
    ASSERT_TRUE(offersDiskImage);

    const DemoRun result = runDemo({QStringLiteral("--select"), QStringLiteral("all")});
    ASSERT_EQ(result.exitCode, 0) << result;
    expectInstalledExactly(all);
}

// Its detach runs in the background after the last row; the demo must not end (and take the sandbox
// away) in the middle of it.
TEST_F(DemoEndToEndTest, ADiskImageInstalledLastIsDetachedBeforeTheDemoEnds) {
    QString diskImageApplication;
    for (const QString& name : simulatedScanner().applications) {
        if (sampleApplication(name).format == InstallerFormat::diskImage) {
            diskImageApplication = name;
        }
    }
    ASSERT_FALSE(diskImageApplication.isEmpty());

    const DemoRun result = runDemo({QStringLiteral("--select"), diskImageApplication});
    ASSERT_EQ(result.exitCode, 0) << result;
    expectInstalledExactly(applicationsOfTheScanner(false) << diskImageApplication);
    const QDir volumes(systemRoot() + QStringLiteral("/Volumes"));
    EXPECT_EQ(volumes.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{}) << "a volume is left";
    EXPECT_EQ(entriesOf(volumes.filePath(QStringLiteral(".tarn-attached"))), QStringList{});
}

TEST_F(DemoEndToEndTest, AnOptionalApplicationWithAWrongDigestFailsAloneWithExitThree) {
    const QString spoilt = optionalWithWrongDigest().name;
    const DemoRun result =
            runDemo({QStringLiteral("--select"), QStringLiteral("all")}, QStringLiteral("bad-optional-digest"));
    EXPECT_EQ(result.exitCode, 3) << result;
    EXPECT_THAT(result.out, HasSubstr(spoilt.toStdString() + ": failed"));
    EXPECT_EQ(reported(result, spoilt).value(u"state"), QStringLiteral("failed"));
    EXPECT_FALSE(reported(result, spoilt).value(u"error").toString().isEmpty());
    QStringList others = applicationsOfTheScanner(true);
    others.removeAll(spoilt);
    expectInstalledExactly(others);
}

// The image's author names the package after a trusted identity; its signer, vouched for by the anchors,
// is no trusted identity.
TEST_F(DemoEndToEndTest, AForeignSignerInADiskImageIsRefusedWhateverThePackageIsNamed) {
    QString spoilt;
    for (const QString& name : simulatedScanner().applications) {
        if (sampleApplication(name).format == InstallerFormat::diskImage) {
            spoilt = name;
        }
    }
    const DemoRun result =
            runDemo({QStringLiteral("--select"), QStringLiteral("all")}, QStringLiteral("foreign-signer"));
    EXPECT_EQ(result.exitCode, 3) << result;
    EXPECT_THAT(result.out, HasSubstr(spoilt.toStdString() + ": failed"));
    QStringList others = applicationsOfTheScanner(true);
    others.removeAll(spoilt);
    expectInstalledExactly(others);
}

// Links laid by the first two packages would lead the third out of the system root; inside it, "/.."
// is "/" again, so the third lands in the root's "/Applications".
TEST_F(DemoEndToEndTest, LinksLaidByEarlierPackagesKeepLaterOnesInsideTheSystemRoot) {
    const QString third = simulatedScanner().applications[2];
    const DemoRun result =
            runDemo({QStringLiteral("--select"), QStringLiteral("all")}, QStringLiteral("escaping-links"));
    EXPECT_EQ(result.exitCode, 0) << result;
    EXPECT_FALSE(QFileInfo::exists(sandbox() + QStringLiteral("/Applications"))) << "written outside the root";
    EXPECT_TRUE(QFileInfo::exists(bundleOf(third) + QStringLiteral("/Contents/Info.plist")));
}

TEST_F(DemoEndToEndTest, ADamagedMandatoryPackageFailsTheRunWithExitOneAndLeavesNothingOfIt) {
    const QString damaged = damagedMandatory().name;
    const DemoRun result = runDemo({}, QStringLiteral("broken-mandatory"));
    EXPECT_EQ(result.exitCode, 1) << result;
    EXPECT_THAT(result.out, HasSubstr(damaged.toStdString() + ": failed"));
    EXPECT_EQ(reported(result, damaged).value(u"state"), QStringLiteral("failed"));
    QStringList others = applicationsOfTheScanner(false);
    others.removeAll(damaged);
    ASSERT_FALSE(others.isEmpty());
    expectInstalledExactly(others);
}

TEST_F(DemoEndToEndTest, TheSandboxGoesAfterARunAndAfterAnInterruption) {
    const DemoRun completed = run(demoArguments(), environment({}, false));
    EXPECT_EQ(completed.exitCode, 0) << completed;
    EXPECT_EQ(entriesOf(temporaryFolder()), QStringList{});

    // Interrupted while the search waits for a scanner that is plugged in only after a minute.
    QProcessEnvironment waiting = environment({}, false);
    waiting.insert(QStringLiteral("TARN_DEMO_SCANNER_DELAY_MS"), QStringLiteral("60000"));
    QProcess process;
    process.setProcessEnvironment(waiting);
    process.start(QStringLiteral(TARN_INSTALLER_PATH), demoArguments());
    QByteArray out;
    while (!out.contains("Searching for a connected scanner") && process.waitForReadyRead(processLimitMs)) {
        out += process.readAllStandardOutput();
    }
    ASSERT_THAT(out.toStdString(), HasSubstr("Searching for a connected scanner"));
    EXPECT_NE(entriesOf(temporaryFolder()), QStringList{});
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(processLimitMs));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 128 + SIGINT) << process.readAllStandardError().toStdString();
    EXPECT_EQ(entriesOf(temporaryFolder()), QStringList{});
}

TEST_F(DemoEndToEndTest, AUsageMistakeFoundDuringTheRunIsReportedToo) {
    const DemoRun result = runDemo({QStringLiteral("--select"), QStringLiteral("No Such Application")});
    EXPECT_EQ(result.exitCode, 2) << result;
    EXPECT_EQ(result.report.value(u"outcome"), QStringLiteral("usageError"));
}

// Terminated while the first application downloads (or just after, the demo being quick): either no
// report or a whole one that says where the run stood, and never a half-written file.
TEST_F(DemoEndToEndTest, ARunEndedBySigtermLeavesNoReportOrAWholeOne) {
    QDir().mkpath(reportFolder());
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral(TARN_INSTALLER_PATH), demoArguments({QStringLiteral("--report"), reportPath()}));
    QByteArray out;
    while (!out.contains(": downloading") && process.waitForReadyRead(processLimitMs)) {
        out += process.readAllStandardOutput();
    }
    ASSERT_THAT(out.toStdString(), HasSubstr(": downloading"));
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(processLimitMs));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    const int exitCode = process.exitCode();
    EXPECT_TRUE(exitCode == 128 + SIGTERM || exitCode == 0) << exitCode;
    const QStringList left = entriesOf(reportFolder());
    EXPECT_TRUE(left.isEmpty() || left == QStringList{QStringLiteral("report.json")}) << left.join(u' ').toStdString();
    if (!left.isEmpty()) {
        const QJsonObject report = test::completeReport(reportPath(), exitCode);
        EXPECT_FALSE(report.value(u"applications").toArray().isEmpty());
    }
}

// Interrupted while a package installs, the program waits for the running installer, removes the
// download, never leaves a staging folder or half an application, and exits with the signal's status.
// Signalled alone (SIGTERM), the installer's running commit completes; Ctrl+C in a terminal (SIGINT to
// the whole group) before the commit rolls that installation back.
TEST_F(DemoEndToEndTest, InterruptedDuringAnInstallationItFinishesOrUndoesTheRunningStepAndCleansUp) {
    const struct {
        const char* point;
        int signal;
        bool wholeGroup;
        qsizetype installed;
    } rows[] = {{"committing", SIGTERM, false, 1}, {"staged", SIGINT, true, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.point);
        QDir(sandbox()).removeRecursively();
        const test::ProcessGate gate;
        QProcessEnvironment interrupted = environment();
        interrupted.insert(QStringLiteral("TARN_TOOL_GATE"), gate.at(row.point));

        const test::SignalledRun result = gate.runSignalled(QStringLiteral(TARN_INSTALLER_PATH), demoArguments(),
                                                            interrupted, row.signal, row.wholeGroup);

        EXPECT_EQ(result.exitCode, 128 + row.signal) << result.err << result.out;
        EXPECT_THAT(result.err, HasSubstr("waiting up to"));
        EXPECT_THAT(result.out, HasSubstr("interrupted"));
        EXPECT_THAT(logText().toStdString(), HasSubstr("Installation interrupted"));
        // One bundle and its receipt, or nothing; never a staging folder beside them.
        EXPECT_EQ(entriesOf(systemRoot() + QStringLiteral("/Applications")).size(), row.installed);
        EXPECT_EQ(entriesOf(systemRoot() + QStringLiteral("/var/db/receipts")).size(), row.installed);
        const QStringList downloads = entriesOf(sandbox() + QStringLiteral("/tmp"))
                                              .filter(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-")));
        EXPECT_EQ(downloads, QStringList{}) << "a download is left";
    }
}

} // namespace
} // namespace tarn::demo
