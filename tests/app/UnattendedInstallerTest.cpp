#include "app/UnattendedInstaller.h"

#include "app/TerminationSignals.h"
#include "services/RestClientError.h"
#include "support/Gate.h"
#include "support/WorkflowFixture.h"

#include <QFile>
#include <QTimer>

#include <csignal>

namespace tarn::test {
namespace {

using testing::_;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using testing::Return;

// The unattended mode against mocked services: one scanner "Scanner" on the bus and in the catalogue.
class UnattendedInstallerTest : public WorkflowTest {
protected:
    UnattendedInstallerTest() {
        ON_CALL(*permissions, requestAdminPrivileges()).WillByDefault(Return(true));
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
        const auto options = parseCommandLine(arguments);
        EXPECT_TRUE(std::holds_alternative<CommandLineOptions>(options));
        QTextStream out(&output);
        QTextStream err(&errors);
        return runUnattendedInstallation(model(), std::get<CommandLineOptions>(options), out, err, liveProgress);
    }

    QStringList lines() const { return output.split(u'\n', Qt::SkipEmptyParts); }
    QStringList rowLines() const { return lines().filter(QRegularExpression(QStringLiteral("^\\[\\d+/\\d+\\]"))); }

    TARNDeviceModel scanner = catalogueDevice(QStringLiteral("Scanner"), "4A9", "1A0B");
    QString output;
    QString errors;
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

TEST_F(UnattendedInstallerTest, FailedOptionalApplicationOnlyExitsThree) {
    scannerConnected();
    offering({{"OCR", true}, {"Scan", false}});
    expectInstallation("OCR");
    expectInstallation("Scan", InstallationError::mismatchHash("Could not validate SHA512 for Scan.pkg."));

    EXPECT_EQ(run({"--accept-licenses", "--select", "all"}), 3);
    EXPECT_THAT(rowLines().mid(4),
                ElementsAre("[2/2] Scan: processing", "[2/2] Scan: downloading", "[2/2] Scan: installing",
                            "[2/2] Scan: failed - error.content.hash.mismatch"));
    EXPECT_THAT(lines().mid(lines().size() - 2),
                ElementsAre("Summary: 1 of 2 applications installed or already up to date, 1 failed: Scan.",
                            "Installation complete, except for optional applications."));
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
    EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce(Return(false));

    EXPECT_EQ(run({"--accept-licenses", "--select", "all"}), 1);
    EXPECT_THAT(rowLines(),
                ElementsAre("[1/2] OCR: failed - error.no.permissions", "[2/2] Scan: failed - error.no.permissions"));
    EXPECT_EQ(errors, QStringLiteral("The installation stopped: error.no.permissions\n"));
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

TEST_F(UnattendedInstallerTest, TerminalShowsALiveProgressBarThatLinesClear) {
    scannerConnected();
    offering({{"OCR", true}});
    expectInstallation("OCR");

    EXPECT_EQ(run({"--accept-licenses"}, true), 0);
    const QString cleared =
            u'\r' + QString(QStringLiteral("[1/1] OCR [##############################] 100%").size(), u' ') + u'\r';
    EXPECT_THAT(output.toStdString(), HasSubstr("[1/1] OCR: downloading\n[1/1] OCR [---"));
    EXPECT_THAT(output.toStdString(), HasSubstr("[1/1] OCR [###############---------------]  50%"));
    EXPECT_THAT(output.toStdString(), HasSubstr((QStringLiteral("[1/1] OCR [##############################] 100%") +
                                                 cleared + QStringLiteral("[1/1] OCR: installing\n"))
                                                        .toStdString()));
}

} // namespace
} // namespace tarn::test
