#include "app/UnattendedInstaller.h"

#include "services/RestClientError.h"
#include "support/ReportChecks.h"
#include "support/WorkflowFixture.h"

namespace tarn::test {
namespace {

using namespace Qt::StringLiterals;
using testing::_;
using testing::ElementsAre;
using testing::HasSubstr;

// Installed versions as receipts would tell them.
class FakeReceipts final : public PkgUtilHelperProtoco {
public:
    QCoro::Task<bool> isInstallationNeeded(QString, QString) override { co_return true; }
    QCoro::Task<std::optional<QString>> installedVersion(QString pkgId) override { co_return versions.value(pkgId); }
    QHash<QString, std::optional<QString>> versions;
};

// The unattended mode against mocked services: "Scanner" in the catalogue and, unless told, on the bus.
// Every run writes a report, which must be whole and agree with the exit code.
class UnattendedInstallerTest : public WorkflowTest {
protected:
    UnattendedInstallerTest() {
        ON_CALL(*permissions, requestAdminPrivileges()).WillByDefault(ReturnTask(AdminRights::granted));
        settings.searchTimeLimit = std::chrono::milliseconds(20);
        settings.pauseBetweenQueries = std::chrono::milliseconds(5);
    }

    void scannerConnected(bool connected = true) {
        serveCatalogue(catalogueJson({scanner, catalogueDevice(u"Other"_s, "AAA", "1")}));
        EXPECT_CALL(*usb, findMatchingUSBDevices(_))
                .WillRepeatedly(
                        ReturnTask(connected ? QList{USBDeviceModel{0x4A9, 0x1A0B, {}, {}}} : QList<USBDeviceModel>()));
    }

    void offering(const QList<OfferedApp>& apps, bool connected = true) {
        scannerConnected(connected);
        EXPECT_CALL(*rest, fetchVerifiedBody(QUrl(scanner.configLink), _, u"device configuration"_s))
                .WillOnce(ReturnTask(configurationJson(apps)));
    }

    template <typename E>
    void fetchFails(const QUrl& url, E error) {
        scannerConnected();
        EXPECT_CALL(*rest, fetchVerifiedBody(url, _, _)).WillOnce(ThrowTask<QByteArray>(error));
    }

    void noRights() { EXPECT_CALL(*permissions, requestAdminPrivileges()).Times(0); }

    int run(QStringList arguments, bool liveProgress = false, bool reportBlocked = false) {
        arguments = QStringList{"tarn-installer", "--unattended"} + arguments + QStringList{"--report", reportPath()};
        auto options =
                UnattendedInstaller::Options::from(std::get<CommandLineOptions>(parseCommandLine(arguments)), receipts);
        if (clock) {
            options.clock = clock;
        }
        if (reportBlocked) {
            QDir().mkpath(reportPath()); // a folder where the file should go: the report cannot be written
        }
        QTextStream out(&output);
        QTextStream err(&errors);
        const int exitCode = runUnattendedInstallation(model(), options, out, err, liveProgress);
        if (!reportBlocked) {
            report = completeReport(reportPath(), exitCode);
        }
        return exitCode;
    }

    QString reportPath() const { return reportFolder.filePath(u"report.json"_s); }
    QJsonObject reportedApp(qsizetype index) const { return report.value(u"applications")[index].toObject(); }
    QStringList lines() const { return output.split(u'\n', Qt::SkipEmptyParts); }

    TARNDeviceModel scanner = catalogueDevice(u"Scanner"_s, "4A9", "1A0B");
    QString output;
    QString errors;
    QTemporaryDir reportFolder;
    QJsonObject report;
    std::shared_ptr<FakeReceipts> receipts = std::make_shared<FakeReceipts>();
    RunReport::Clock clock;
};

TEST_F(UnattendedInstallerTest, InstallsTheMandatoryApplicationsOfTheDetectedScanner) {
    offering({{"OCR", true}, {"Scan", false}, {"Archive", true}});
    expectInstallation("Archive");
    expectInstallation("OCR");
    EXPECT_CALL(*permissions, releaseAuthorization());
    receipts->versions.insert(u"com.tarn.OCR"_s, u"1.5"_s);

    EXPECT_EQ(run({"--accept-licenses"}), 0);
    EXPECT_THAT(lines(),
                ElementsAre(u"T.A.R.N. Installer " TARN_VERSION ", unattended"_s,
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
    EXPECT_EQ(report.value(u"serviceUrl"), settings.serviceBaseUrl);
    QJsonObject archive = reportedApp(0);
    archive.remove(u"seconds");
    // clang-format off
    EXPECT_EQ(archive, (QJsonObject{{"name", "Archive"}, {"packageId", "com.tarn.Archive"}, {"state", "done"},
                                    {"requestedVersion", "2.0"}, {"installedVersionBefore", QJsonValue()},
                                    {"error", QJsonValue()}, {"mandatory", true}, {"bytesDownloaded", 1024}}));
    // clang-format on
    EXPECT_EQ(reportedApp(1).value(u"installedVersionBefore"), u"1.5"_s);
}

// Each way a run ends early or differently: its exit code, the text that says why, and the device reported.
TEST_F(UnattendedInstallerTest, EachOutcomeHasItsExitCodeAndItsText) {
    struct Case {
        const char* name;
        QStringList arguments;
        int exitCode;
        const char* chosenBy;
        QString text; // in the output or the errors
        std::function<void()> setUp;
    };
    // clang-format off
    const Case cases[] = {
        {"UnreachableService", {}, 1, "", "\nCould not load the supported-device catalogue: error.connectivity\n",
         [&] { fetchFails(catalogueUrl(), RestClientError::invalidResponse()); }},
        {"EmptyCatalogue", {}, 1, "", "no supported scanner", [&] { serveCatalogue("[]"); }},
        {"FailedConfiguration", {}, 1, "detected",
         "\nCould not load the applications of 'Scanner': error.content.hash.mismatch\n",
         [&] { fetchFails(QUrl(scanner.configLink), InstallationError::mismatchHash("x")); }},
        {"UndetectedScanner", {}, 1, "", "--device (one of: Scanner, Other)", [&] { scannerConnected(false); }},
        {"UnknownModel", {"--device", "scanner"}, 2, "", "no model named 'scanner'; its models are: Scanner, Other",
         [&] { scannerConnected(false); }},
        {"NamedModelStandsIn", {"--device", "Scanner"}, 0, "--device",
         "\nNo scanner detected; using the catalogue model 'Scanner'.\n",
         [&] { offering({{"OCR", true}}, false), expectInstallation("OCR"); }},
        {"UnknownApplication", {"--select", "Scan,Fax"}, 2, "detected",
         "no application named 'Fax'; this scanner offers: OCR, Scan",
         [&] { offering({{"OCR", true}, {"Scan", false}}), noRights(); }},
        {"NothingSelected", {}, 0, "detected", "Nothing to install", [&] { offering({{"Scan", false}}), noRights(); }},
        {"RefusedRights", {}, 1, "detected", "\nThe installation stopped: error.no.permissions.not.allowed\n",
         [&] { offering({{"OCR", true}}),
               EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce(ReturnTask(AdminRights::notPermitted)); }},
        {"FailedMandatoryApplication", {"--select", "Scan"}, 1, "detected",
         "\nInstallation failed: a mandatory application could not be installed.\n",
         [&] { offering({{"OCR", true}, {"Scan", false}}), expectInstallation("Scan"),
               expectInstallation("OCR", InstallationError::mismatchSignature("")); }},
        // The run marks a row failed and gives its text in a second update: one line, with the text.
        {"RowFailedOnce", {}, 1, "detected",
         "\n[1/2] Broken: downloading\n[1/2] Broken: failed - error.installer.link.invalid\n[2/2] OCR: processing\n",
         [&] { offering({{"Broken", true, "not a link"}, {"OCR", true}}), expectNeeded("Broken", true),
               expectInstallation("OCR"); }},
        // Names come from the service: escape sequences in them are printed, never obeyed.
        {"EscapedNames", {}, 0, "detected", "\nScanner detected: Scan\\x1b]0;owned\\x07ner\nLoading the "
         "applications of 'Scan\\x1b]0;owned\\x07ner'...\nInstalling 1 of 1 applications: O\\x1b[2JCR\n"
         "[1/1] O\\x1b[2JCR: processing\n",
         [&] { scanner.name = u"Scan\x1b]0;owned\aner"_s,
               offering({{u"O\x1b[2JCR"_s, true, "https://downloads.test/o.pkg"}}),
               expectNeeded(u"O\x1b[2JCR"_s, false); }},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        viewModel.reset(); // a fresh start, as another invocation would have
        output.clear();
        errors.clear();
        c.setUp();
        EXPECT_EQ(run(QStringList{"--accept-licenses"} + c.arguments), c.exitCode);
        EXPECT_THAT((u'\n' + output + errors).toStdString(), HasSubstr(c.text.toStdString())) << errors.toStdString();
        EXPECT_EQ(report.value(u"device")[u"chosenBy"].toString(), QLatin1String(c.chosenBy));
        EXPECT_FALSE(output.contains(QChar(0x1b)) || output.contains(QChar(0x07))) << output.toStdString();
        testing::Mock::VerifyAndClearExpectations(rest.get());
        testing::Mock::VerifyAndClearExpectations(usb.get());
        testing::Mock::VerifyAndClearExpectations(permissions.get());
    }
}

// A failed optional application exits 3; asked to be quiet, the run prints the failure and the summary only.
TEST_F(UnattendedInstallerTest, FailedOptionalApplicationExitsThreeAndQuietPrintsOnlyTheFailureAndSummary) {
    offering({{"OCR", true}, {"Scan", false}});
    expectInstallation("OCR");
    expectInstallation("Scan", InstallationError::mismatchHash("Could not validate SHA512 for Scan.pkg."));
    EXPECT_EQ(run({"--accept-licenses", "--select", "all", "--quiet"}, true), 3);
    EXPECT_THAT(lines(), ElementsAre("[2/2] Scan: failed - error.content.hash.mismatch",
                                     "Summary: 1 of 2 applications installed or already up to date, 1 failed: Scan.",
                                     "Installation complete, except for optional applications."));
    EXPECT_FALSE(output.contains(u'\r')) << "no live line either";
    EXPECT_EQ(reportedApp(1).value(u"error"), u"error.content.hash.mismatch"_s);
    EXPECT_EQ(reportedApp(1).value(u"mandatory"), false);
}

TEST_F(UnattendedInstallerTest, TerminalShowsALiveProgressLineThatLinesClear) {
    offering({{"OCR", true}});
    expectInstallation("OCR");
    // A second per reading: every report of the download is due for a redraw and has a rate.
    std::chrono::steady_clock::time_point now{};
    clock = [&now] { return now += std::chrono::seconds(1); };

    EXPECT_EQ(run({"--accept-licenses"}, true), 0);
    for (const char* shown :
         {"[1/1] OCR: downloading\n\r[1/1] OCR 0 bytes\x1b[K", // no length announced yet
          "\r[1/1] OCR [###############---------------]  50% 0.5 of 1.0 kB · 256 bytes/s · 2 s left\x1b[K",
          "\r[1/1] OCR [##############################] 100% 1.0 of 1.0 kB",
          "\x1b[K\r\x1b[K[1/1] OCR: installing\n"}) { // cleared before a line
        EXPECT_THAT(output.toStdString(), HasSubstr(shown));
    }
}

// A report that cannot be written is an error and turns success into 4; a failing run keeps its own code.
TEST_F(UnattendedInstallerTest, AReportThatCannotBeWrittenTurnsSuccessIntoFour) {
    offering({{"OCR", true}});
    expectInstallation("OCR");
    EXPECT_EQ(run({"--accept-licenses"}, false, true), 4);
    EXPECT_THAT(errors.toStdString(),
                HasSubstr("Could not write the report to '" + reportPath().toStdString() + "': "));
    EXPECT_EQ(lines().last(), u"Installation complete."_s);

    viewModel.reset();
    errors.clear();
    QDir().rmdir(reportPath());
    EXPECT_EQ(run({}, false, true), 2);
    EXPECT_THAT(errors.toStdString(),
                testing::AllOf(HasSubstr("--accept-licenses"), HasSubstr("Could not write the report")));
    EXPECT_FALSE(model().isEulaAccepted()) << "nothing is accepted on the user's behalf";
}

TEST(TerminalProgressTest, ShowsPercentBytesRateAndTimeLeftAtMostTenTimesASecond) {
    using std::chrono::milliseconds;
    std::chrono::steady_clock::time_point now{};
    TerminalProgress terminal([&now] { return now; });
    constexpr qint64 MB = 1'000'000;
    // clang-format off
    const struct {
        milliseconds after; // since the previous update
        qsizetype index;
        DownloadProgress progress;
        const char* line; // nullptr: not redrawn yet
    } updates[] = {
        {milliseconds(0), 0, {0, 418 * MB}, "[1/2] Scan Suite [------------------------------]   0% 0 of 418 MB"},
        {milliseconds(50), 0, {1 * MB, 418 * MB}, nullptr},
        {milliseconds(1950), 0, {4'200'000, 418 * MB},
         "[1/2] Scan Suite [------------------------------]   1% 4 of 418 MB · 2.1 MB/s · 3 min left"},
        {milliseconds(10), 0, {418 * MB, 418 * MB},
         "[1/2] Scan Suite [##############################] 100% 418 of 418 MB · 208.0 MB/s"},
        {milliseconds(10), 1, {0, std::nullopt}, "[2/2] Driver 0 bytes"},
        {milliseconds(1000), 1, {1'500'000, std::nullopt}, "[2/2] Driver 1.5 MB · 1.5 MB/s"},
    };
    // clang-format on
    for (const auto& update : updates) {
        SCOPED_TRACE(update.line ? update.line : "throttled");
        now += update.after;
        const auto line =
                terminal.update(update.index, 2, update.index == 0 ? "Scan Suite" : "Driver", update.progress);
        EXPECT_EQ(line, update.line ? std::optional<QString>(QString::fromUtf8(update.line)) : std::nullopt);
    }
    EXPECT_EQ(TerminalProgress::redraw(u"[1/2] Scan Suite 4.2 MB"_s, 12), "\r[1/2] Scan \x1b[K") << "never wraps";
    EXPECT_EQ(TerminalProgress::redraw(u"[1/2] Scan"_s, 12), "\r[1/2] Scan\x1b[K");
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
