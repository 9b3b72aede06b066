#include "app/UnattendedInstaller.h"

#include "app/TerminationSignals.h"
#include "services/RestClientError.h"
#include "support/Gate.h"
#include "support/ReportChecks.h"
#include "support/WorkflowFixture.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

namespace tarn::test {
namespace {

using testing::_;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using testing::Return;

// Installed versions as receipts would tell them.
class FakeReceipts final : public PkgUtilHelperProtoco {
public:
    QCoro::Task<bool> isInstallationNeeded(QString, QString) override { co_return true; }
    QCoro::Task<std::optional<QString>> installedVersion(QString pkgId) override { co_return versions.value(pkgId); }

    QHash<QString, std::optional<QString>> versions;
};

// The unattended mode against mocked services: one scanner "Scanner" on the bus and in the catalogue.
// Every run writes a report, which must be whole and agree with the exit code.
class UnattendedInstallerTest : public WorkflowTest {
protected:
    UnattendedInstallerTest() {
        ON_CALL(*permissions, requestAdminPrivileges()).WillByDefault(ReturnTask(AdminRights::granted));
        settings.searchTimeLimit = std::chrono::milliseconds(20);
        settings.pauseBetweenQueries = std::chrono::milliseconds(5);
    }

    void scannerConnected(bool connected = true) {
        serveCatalogue(catalogueJson({scanner, catalogueDevice(QStringLiteral("Other"), "AAA", "1")}));
        EXPECT_CALL(*usb, findMatchingUSBDevices(_))
                .WillRepeatedly(
                        ReturnTask(connected ? QList{USBDeviceModel{0x4A9, 0x1A0B, {}, {}}} : QList<USBDeviceModel>()));
    }

    void offering(const QList<OfferedApp>& apps) {
        EXPECT_CALL(*rest, fetchVerifiedBody(QUrl(scanner.configLink), _, QStringLiteral("device configuration")))
                .WillOnce(ReturnTask(configurationJson(apps)));
    }

    int run(QStringList arguments, bool liveProgress = false) {
        arguments.prepend(QStringLiteral("--unattended"));
        arguments.prepend(QStringLiteral("tarn-installer"));
        arguments << QStringLiteral("--report") << reportPath();
        const auto options = parseCommandLine(arguments);
        EXPECT_TRUE(std::holds_alternative<CommandLineOptions>(options));
        auto unattended = UnattendedInstaller::Options::from(std::get<CommandLineOptions>(options), receipts);
        if (clock) {
            unattended.clock = clock;
        }
        if (reportBlocked) {
            QDir().mkpath(reportPath()); // a folder where the file should go: the report cannot be written
        }
        QTextStream out(&output);
        QTextStream err(&errors);
        const int exitCode = runUnattendedInstallation(model(), unattended, out, err, liveProgress);
        if (!reportBlocked) {
            report = completeReport(reportPath(), exitCode);
        }
        return exitCode;
    }

    QString reportPath() const { return reportFolder.filePath(QStringLiteral("report.json")); }
    QJsonObject reportedApp(qsizetype index) const { return report.value(u"applications")[index].toObject(); }

    QStringList lines() const { return output.split(u'\n', Qt::SkipEmptyParts); }
    QStringList rowLines() const { return lines().filter(QRegularExpression(QStringLiteral("^\\[\\d+/\\d+\\]"))); }

    TARNDeviceModel scanner = catalogueDevice(QStringLiteral("Scanner"), "4A9", "1A0B");
    QString output;
    QString errors;
    QTemporaryDir reportFolder;
    QJsonObject report;
    std::shared_ptr<FakeReceipts> receipts = std::make_shared<FakeReceipts>();
    RunReport::Clock clock;
    bool reportBlocked = false;
};

TEST_F(UnattendedInstallerTest, RefusesWithoutTheLicencesAccepted) {
    EXPECT_EQ(run({}), 2);
    EXPECT_THAT(errors.toStdString(), HasSubstr("--accept-licenses"));
    EXPECT_TRUE(output.isEmpty());
    EXPECT_FALSE(model().isEulaAccepted()) << "nothing is accepted on the user's behalf";
}

TEST_F(UnattendedInstallerTest, InstallsTheMandatoryApplicationsOfTheDetectedScanner) {
    scannerConnected();
    offering({{"OCR", true}, {"Scan", false}, {"Archive", true}});
    expectInstallation("Archive");
    expectInstallation("OCR");
    EXPECT_CALL(*permissions, releaseAuthorization());
    receipts->versions.insert(QStringLiteral("com.tarn.OCR"), QStringLiteral("1.5"));

    EXPECT_EQ(run({"--accept-licenses"}), 0);
    EXPECT_THAT(lines(),
                ElementsAre(QStringLiteral("T.A.R.N. Installer " TARN_VERSION ", unattended"),
                            "Licence agreement and legal notes accepted on the command line.",
                            "Catalogue loaded: 2 supported scanner models.",
                            "Searching for a connected scanner (up to 0.02 s)...", "Scanner detected: Scanner",
                            "Loading the applications of 'Scanner'...", "Installing 2 of 3 applications: Archive, OCR",
                            "[1/2] Archive: processing", "[1/2] Archive: downloading", "[1/2] Archive: installing",
                            "[1/2] Archive: done", "[2/2] OCR: processing", "[2/2] OCR: downloading",
                            "[2/2] OCR: installing", "[2/2] OCR: done",
                            "Summary: 2 of 2 applications installed or already up to date, 0 failed.",
                            "Installation complete."));
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_THAT(output.toStdString(), Not(HasSubstr("\r"))) << "no progress bar off a terminal";

    EXPECT_EQ(report.value(u"device"), (QJsonObject{{"name", "Scanner"}, {"chosenBy", "detected"}}));
    EXPECT_EQ(report.value(u"serviceUrl"), settings.serviceBaseUrl);
    EXPECT_EQ(report.value(u"applications").toArray().size(), 2);
    const QJsonObject archive = reportedApp(0);
    EXPECT_EQ(archive[u"name"], QStringLiteral("Archive"));
    EXPECT_EQ(archive[u"packageId"], QStringLiteral("com.tarn.Archive"));
    EXPECT_EQ(archive[u"requestedVersion"], QStringLiteral("2.0"));
    EXPECT_TRUE(archive[u"installedVersionBefore"].isNull());
    EXPECT_EQ(archive[u"state"], QStringLiteral("done"));
    EXPECT_TRUE(archive[u"error"].isNull());
    EXPECT_EQ(archive[u"bytesDownloaded"], 1024);
    EXPECT_EQ(reportedApp(1).value(u"installedVersionBefore"), QStringLiteral("1.5"));
}

// A termination signal while a package installs: the installation ends first (the terminal says why
// the program waits), no further row starts, the grant is released, and the status is the signal's.
TEST_F(UnattendedInstallerTest, SignalDuringAnInstallationWaitsForItThenStopsWithTheSignalsStatus) {
    scannerConnected();
    offering({{"OCR", true}, {"Archive", true}});
    const QUrl file = downloaded("Archive");
    expectNeeded("Archive", true);
    expectDownload("Archive", file);
    Gate installation;
    EXPECT_CALL(*installer, install(file.toLocalFile(), _, _, _)).WillOnce([&](auto&&...) {
        ::raise(SIGTERM);
        return afterGate(&installation);
    });
    EXPECT_CALL(*rest, cancelDownloads());
    EXPECT_CALL(*permissions, releaseAuthorization());
    // The installation may end only once the program has said that it waits for it.
    QTimer whenWaiting;
    QObject::connect(&whenWaiting, &QTimer::timeout, &installation, [&] {
        if (errors.contains(QStringLiteral("waiting up to"))) {
            whenWaiting.stop();
            installation.open();
        }
    });
    whenWaiting.start(1);

    int status = 0;
    {
        const TerminationSignals interruption;
        status = run({"--accept-licenses"});
    }
    resumeEventLoopsAfterApplicationExit();

    EXPECT_EQ(status, 128 + SIGTERM);
    EXPECT_FALSE(QFile::exists(file.toLocalFile()));
    EXPECT_THAT(rowLines(),
                testing::IsSupersetOf({QStringLiteral("[1/2] Archive: done"),
                                       QStringLiteral("[2/2] OCR: failed - error.installation.interrupted")}));
    EXPECT_THAT(logger->lines(), testing::Contains(QStringLiteral("[INFO] Installation interrupted")));
}

// Names come from the service: escape sequences in them are printed, never obeyed.
TEST_F(UnattendedInstallerTest, ControlCharactersInNamesArePrintedEscaped) {
    scanner.name = QStringLiteral("Scan\x1b]0;owned\aner");
    scannerConnected();
    offering({{QStringLiteral("O\x1b[2JCR"), true, QStringLiteral("https://downloads.test/ocr.pkg")}});
    expectNeeded(QStringLiteral("O\x1b[2JCR"), false);

    EXPECT_EQ(run({"--accept-licenses"}), 0);
    EXPECT_THAT(lines(), testing::Contains(QStringLiteral("Scanner detected: Scan\\x1b]0;owned\\x07ner")));
    EXPECT_THAT(rowLines(), testing::Contains(QStringLiteral("[1/1] O\\x1b[2JCR: done")));
    EXPECT_FALSE(output.contains(QChar(0x1b)) || output.contains(QChar(0x07))) << output.toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
}

TEST_F(UnattendedInstallerTest, FailedOptionalApplicationOnlyExitsThree) {
    const auto scanFails = [this] {
        scannerConnected();
        offering({{"OCR", true}, {"Scan", false}});
        expectInstallation("OCR");
        expectInstallation("Scan", InstallationError::mismatchHash("Could not validate SHA512 for Scan.pkg."));
    };
    scanFails();
    EXPECT_EQ(run({"--accept-licenses", "--select", "all"}), 3);
    EXPECT_THAT(rowLines().mid(4),
                ElementsAre("[2/2] Scan: processing", "[2/2] Scan: downloading", "[2/2] Scan: installing",
                            "[2/2] Scan: failed - error.content.hash.mismatch"));
    EXPECT_THAT(lines().mid(lines().size() - 2),
                ElementsAre("Summary: 1 of 2 applications installed or already up to date, 1 failed: Scan.",
                            "Installation complete, except for optional applications."));
    EXPECT_EQ(reportedApp(1).value(u"state"), QStringLiteral("failed"));
    EXPECT_EQ(reportedApp(1).value(u"error"), QStringLiteral("error.content.hash.mismatch"));
    EXPECT_EQ(reportedApp(1).value(u"mandatory"), false);

    // The same run asked to be quiet: the failure with its text and the summary, nothing else.
    viewModel.reset();
    output.clear();
    scanFails();
    EXPECT_EQ(run({"--accept-licenses", "--select", "all", "--quiet"}, true), 3);
    EXPECT_THAT(lines(), ElementsAre("[2/2] Scan: failed - error.content.hash.mismatch",
                                     "Summary: 1 of 2 applications installed or already up to date, 1 failed: Scan.",
                                     "Installation complete, except for optional applications."));
    EXPECT_THAT(output.toStdString(), Not(HasSubstr("\r"))) << "no live line either";
}

TEST_F(UnattendedInstallerTest, FailedMandatoryApplicationExitsOne) {
    scannerConnected();
    offering({{"OCR", true}, {"Scan", false}});
    expectInstallation("OCR", InstallationError::mismatchSignature("unsigned"));
    expectInstallation("Scan");

    EXPECT_EQ(run({"--accept-licenses", "--select", "Scan"}), 1);
    EXPECT_TRUE(rowLines().contains("[1/2] OCR: failed - error.code.signature.mismatch"));
    EXPECT_EQ(lines().last(), QStringLiteral("Installation failed: a mandatory application could not be installed."));
}

TEST_F(UnattendedInstallerTest, UnreachableServiceOrEmptyCatalogueExitsOne) {
    EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), _, _))
            .WillOnce(ThrowTask<QByteArray>(RestClientError::invalidResponse()))
            .WillOnce(ReturnTask(QByteArray("[]")));
    EXPECT_EQ(run({"--accept-licenses"}), 1);
    EXPECT_EQ(errors, QStringLiteral("Could not load the supported-device catalogue: error.connectivity\n"));
    EXPECT_TRUE(report.value(u"device").isNull());
    EXPECT_EQ(report.value(u"applications"), QJsonArray());
    errors.clear();
    viewModel.reset(); // a fresh start, as a second invocation would have
    EXPECT_EQ(run({"--accept-licenses"}), 1);
    EXPECT_THAT(errors.toStdString(), HasSubstr("no supported scanner"));
}

TEST_F(UnattendedInstallerTest, FailedConfigurationExitsOne) {
    scannerConnected();
    EXPECT_CALL(*rest, fetchVerifiedBody(QUrl(scanner.configLink), _, _))
            .WillOnce(ThrowTask<QByteArray>(InstallationError::mismatchHash("Could not validate SHA512.")));
    EXPECT_EQ(run({"--accept-licenses"}), 1);
    EXPECT_EQ(errors, QStringLiteral("Could not load the applications of 'Scanner': error.content.hash.mismatch\n"));
}

TEST_F(UnattendedInstallerTest, NamedModelStandsInForAnUndetectedScanner) {
    scannerConnected(false);
    offering({{"OCR", true}});
    expectInstallation("OCR");

    EXPECT_EQ(run({"--accept-licenses", "--device", "Scanner"}), 0);
    EXPECT_TRUE(lines().contains("No scanner detected; using the catalogue model 'Scanner'."));
    EXPECT_EQ(model().deviceModel(), scanner);
    EXPECT_EQ(report.value(u"device"), (QJsonObject{{"name", "Scanner"}, {"chosenBy", "--device"}}));
}

TEST_F(UnattendedInstallerTest, UndetectedScannerNeedsAKnownModelName) {
    scannerConnected(false);
    EXPECT_EQ(run({"--accept-licenses"}), 1);
    EXPECT_THAT(errors.toStdString(), HasSubstr("--device (one of: Scanner, Other)"));
    errors.clear();
    viewModel.reset(); // a fresh start, as a second invocation would have
    EXPECT_EQ(run({"--accept-licenses", "--device", "scanner"}), 2);
    EXPECT_THAT(errors.toStdString(), HasSubstr("no model named 'scanner'; its models are: Scanner, Other"));
}

TEST_F(UnattendedInstallerTest, UnknownApplicationNameIsAUsageError) {
    scannerConnected();
    offering({{"OCR", true}, {"Scan", false}});
    EXPECT_CALL(*permissions, requestAdminPrivileges()).Times(0);
    EXPECT_EQ(run({"--accept-licenses", "--select", "Scan,Fax"}), 2);
    EXPECT_THAT(errors.toStdString(), HasSubstr("no application named 'Fax'; this scanner offers: OCR, Scan"));
}

TEST_F(UnattendedInstallerTest, NothingSelectedInstallsNothingAndAsksForNoRights) {
    scannerConnected();
    offering({{"Scan", false}});
    EXPECT_CALL(*permissions, requestAdminPrivileges()).Times(0);
    EXPECT_EQ(run({"--accept-licenses"}), 0);
    EXPECT_THAT(lines().last().toStdString(), HasSubstr("Nothing to install"));
}

TEST_F(UnattendedInstallerTest, RefusedRightsFailEveryRowOnce) {
    scannerConnected();
    offering({{"OCR", true}, {"Scan", false}});
    EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce(ReturnTask(AdminRights::notPermitted));

    EXPECT_EQ(run({"--accept-licenses", "--select", "all"}), 1);
    EXPECT_THAT(rowLines(), ElementsAre("[1/2] OCR: failed - error.no.permissions.not.allowed",
                                        "[2/2] Scan: failed - error.no.permissions.not.allowed"));
    EXPECT_EQ(errors, QStringLiteral("The installation stopped: error.no.permissions.not.allowed\n"));
}

// The run marks a row failed and gives its text in a second update: one line, with the text.
TEST_F(UnattendedInstallerTest, RowFailedIsPrintedOnceWithItsText) {
    scannerConnected();
    offering({{"Broken", true, "not a link"}, {"OCR", true}});
    EXPECT_CALL(*pkgHelper, isInstallationNeeded(QStringLiteral("com.tarn.Broken"), _)).WillOnce(ReturnTask(true));
    expectInstallation("OCR");

    EXPECT_EQ(run({"--accept-licenses"}), 1);
    EXPECT_THAT(rowLines().mid(0, 3), ElementsAre("[1/2] Broken: processing", "[1/2] Broken: downloading",
                                                  "[1/2] Broken: failed - error.installer.link.invalid"));
    EXPECT_EQ(rowLines().size(), 7);
}

TEST_F(UnattendedInstallerTest, TerminalShowsALiveProgressLineThatLinesClear) {
    scannerConnected();
    offering({{"OCR", true}});
    expectInstallation("OCR");
    // A second per reading: every report of the download is due for a redraw and has a rate.
    std::chrono::steady_clock::time_point now{};
    clock = [&now] { return now += std::chrono::seconds(1); };

    EXPECT_EQ(run({"--accept-licenses"}, true), 0);
    EXPECT_THAT(output.toStdString(), HasSubstr("[1/1] OCR: downloading\n\r[1/1] OCR 0 bytes\x1b[K"))
            << "no length announced yet";
    EXPECT_THAT(
            output.toStdString(),
            HasSubstr(
                    "\r[1/1] OCR [###############---------------]  50% 0.5 of 1.0 kB · 256 bytes/s · 2 s left\x1b[K"));
    EXPECT_THAT(output.toStdString(), HasSubstr("\r[1/1] OCR [##############################] 100% 1.0 of 1.0 kB"));
    EXPECT_THAT(output.toStdString(), HasSubstr("\x1b[K\r\x1b[K[1/1] OCR: installing\n")) << "cleared before a line";
}

TEST_F(UnattendedInstallerTest, AReportThatCannotBeWrittenIsAnErrorAndTurnsSuccessIntoFour) {
    scannerConnected();
    offering({{"OCR", true}});
    expectInstallation("OCR");
    reportBlocked = true;
    EXPECT_EQ(run({"--accept-licenses"}), 4);
    EXPECT_THAT(errors.toStdString(),
                HasSubstr("Could not write the report to '" + reportPath().toStdString() + "': "));
    EXPECT_EQ(lines().last(), QStringLiteral("Installation complete."));

    viewModel.reset(); // a failing run keeps its own code
    errors.clear();
    QDir().rmdir(reportPath());
    EXPECT_EQ(run({}), 2);
    EXPECT_THAT(errors.toStdString(), HasSubstr("Could not write the report"));
}

TEST(TerminalProgressTest, ShowsPercentBytesRateAndTimeLeftAtMostTenTimesASecond) {
    using std::chrono::milliseconds;
    std::chrono::steady_clock::time_point now{};
    TerminalProgress terminal([&now] { return now; });
    constexpr qint64 MB = 1'000'000;
    const struct {
        milliseconds after; // since the previous update
        qsizetype index;
        DownloadProgress progress;
        const char* line; // nullptr: not redrawn yet
    } updates[] = {
            {milliseconds(0), 0, {0, 418 * MB}, "[1/2] Scan Suite [------------------------------]   0% 0 of 418 MB"},
            {milliseconds(50), 0, {1 * MB, 418 * MB}, nullptr},
            {milliseconds(1950),
             0,
             {4'200'000, 418 * MB},
             "[1/2] Scan Suite [------------------------------]   1% 4 of 418 MB · 2.1 MB/s · 3 min left"},
            {milliseconds(10),
             0,
             {418 * MB, 418 * MB},
             "[1/2] Scan Suite [##############################] 100% 418 of 418 MB · 208.0 MB/s"},
            {milliseconds(10), 1, {0, std::nullopt}, "[2/2] Driver 0 bytes"},
            {milliseconds(1000), 1, {1'500'000, std::nullopt}, "[2/2] Driver 1.5 MB · 1.5 MB/s"},
    };
    for (const auto& update : updates) {
        SCOPED_TRACE(update.line ? update.line : "throttled");
        now += update.after;
        const auto line =
                terminal.update(update.index, 2, update.index == 0 ? "Scan Suite" : "Driver", update.progress);
        EXPECT_EQ(line, update.line ? std::optional<QString>(QString::fromUtf8(update.line)) : std::nullopt);
    }
    EXPECT_EQ(TerminalProgress::redraw(QStringLiteral("[1/2] Scan Suite 4.2 MB"), 12), "\r[1/2] Scan \x1b[K")
            << "cut to the width, so that it never wraps";
    EXPECT_EQ(TerminalProgress::redraw(QStringLiteral("[1/2] Scan"), 12), "\r[1/2] Scan\x1b[K");
    // At 1 MB/s, the time left is the megabytes left.
    const std::pair<int, const char*> durations[] = {{45, "45 s"}, {89, "1 min"}, {90, "2 min"}, {3900, "1 h 5 min"}};
    for (const auto& [seconds, text] : durations) {
        TerminalProgress fresh([&now] { return now; });
        fresh.update(0, 1, "Driver", {0, (1 + seconds) * MB});
        now += std::chrono::seconds(1);
        EXPECT_THAT(fresh.update(0, 1, "Driver", {MB, (1 + seconds) * MB})->toStdString(),
                    testing::EndsWith(std::string(" · 1.0 MB/s · ") + text + " left"));
    }
}

} // namespace
} // namespace tarn::test
