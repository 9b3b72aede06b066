#include "app/UnattendedInstaller.h"

#include "services/RestClientError.h"
#include "support/WorkflowFixture.h"

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

TEST_F(UnattendedInstallerTest, RowFailedWithoutATextIsPrintedOnce) {
    scannerConnected();
    offering({{"Broken", true, "not a link"}, {"OCR", true}});
    EXPECT_CALL(*pkgHelper, isInstallationNeeded(QStringLiteral("com.tarn.Broken"), _)).WillOnce(ReturnTask(true));
    expectInstallation("OCR");

    EXPECT_EQ(run({"--accept-licenses"}), 1);
    EXPECT_THAT(rowLines().mid(0, 3),
                ElementsAre("[1/2] Broken: processing", "[1/2] Broken: downloading", "[1/2] Broken: failed"));
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
