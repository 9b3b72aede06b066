#include "services/InstallationError.h"
#include "services/RestClientError.h"
#include "services/TransportError.h"
#include "support/Gate.h"
#include "support/WorkflowFixture.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>

namespace tarn::test {
namespace {

using testing::_;
using testing::ElementsAre;
using testing::InSequence;
using testing::Return;

class InstallationRunTest : public WorkflowTest {
protected:
    InstallationRunTest() { ON_CALL(*permissions, requestAdminPrivileges()).WillByDefault(Return(true)); }

    // Chooses the applications as the package screen would, and records each row's states from then on.
    void choose(const QList<TARNDeviceAppConfigurationModel>& entries) {
        model().selectedAppsForInstallation = entries;
        watch = model().tasksToRun.subscribe([this](const QList<AppInstallTask>& tasks) {
            for (const auto& task : tasks) {
                QStringList& states = rowStates[task.name];
                const QString state = caseName(task.state);
                if (states.isEmpty() || states.last() != state) {
                    states.append(state);
                }
            }
        });
    }

    // A real file standing for a downloaded installer.
    QUrl downloaded(const QString& name) {
        const QString path = downloads.filePath(name + QStringLiteral(".pkg"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("xar!");
        return QUrl::fromLocalFile(path);
    }

    static QUrl linkOf(const QString& name) {
        return QUrl(QStringLiteral("https://downloads.test/") + name + QStringLiteral(".pkg"));
    }

    void expectNeeded(const QString& name, bool needed) {
        EXPECT_CALL(*pkgHelper, isInstallationNeeded(QStringLiteral("com.tarn.") + name, QStringLiteral("2.0")))
                .WillOnce(ReturnTask(needed));
    }

    void expectDownload(const QString& name, const QUrl& file) {
        EXPECT_CALL(*rest, downloadFile(linkOf(name), _)).WillOnce(ReturnTask(file));
    }

    void expectInstall(const QString& name, const QUrl& file) {
        EXPECT_CALL(*installer, install(file.toLocalFile(), name, QStringLiteral("ABCD") + name,
                                        InstallationViewModel::trustedSigners()))
                .WillOnce([](QString path, auto&&...) {
                    EXPECT_TRUE(QFile::exists(path)) << "the download is kept until installed";
                    return readyTask();
                });
    }

    // Runs to the end and applies every posted row update.
    void run() {
        test::waitFor(model().installSelectedApplications());
        drainPostedEvents();
    }

    QTemporaryDir downloads;
    QMap<QString, QStringList> rowStates;
    Subscription watch;
};

TEST_F(InstallationRunTest, EmptyListOnlyTakesAndReleasesTheRights) {
    EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce(Return(true));
    EXPECT_CALL(*permissions, releaseAuthorization());
    run();
    EXPECT_FALSE(model().shouldProcessFatalError());
    EXPECT_TRUE(logger->lines().isEmpty());
}

TEST_F(InstallationRunTest, InstallsEachRowInOrderAndRemovesItsDownload) {
    choose({appEntry(QStringLiteral("Scan"), false), appEntry(QStringLiteral("OCR"), true)});
    const QUrl ocrFile = downloaded(QStringLiteral("OCR"));
    const QUrl scanFile = downloaded(QStringLiteral("Scan"));
    {
        InSequence order;
        EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce(Return(true));
        expectNeeded(QStringLiteral("OCR"), true);
        expectDownload(QStringLiteral("OCR"), ocrFile);
        expectInstall(QStringLiteral("OCR"), ocrFile);
        expectNeeded(QStringLiteral("Scan"), true);
        expectDownload(QStringLiteral("Scan"), scanFile);
        expectInstall(QStringLiteral("Scan"), scanFile);
        EXPECT_CALL(*permissions, releaseAuthorization());
    }

    QCoro::Task<> task = model().installSelectedApplications();
    ASSERT_TRUE(task.isReady()) << "every service answered at once";
    EXPECT_THAT(rowStates["OCR"], ElementsAre("ready")) << "row updates are posted, not applied in the run";
    drainPostedEvents();

    EXPECT_THAT(rowStates["OCR"], ElementsAre("ready", "processing", "downloading", "installing", "done"));
    EXPECT_THAT(rowStates["Scan"], ElementsAre("ready", "processing", "downloading", "installing", "done"));
    EXPECT_FALSE(QFile::exists(ocrFile.toLocalFile()));
    EXPECT_FALSE(QFile::exists(scanFile.toLocalFile()));
    EXPECT_TRUE(model().isInstallationSuccessful());
    EXPECT_FALSE(model().anyOptionalPackageFailedToInstall());
    EXPECT_THAT(logger->lines(), ElementsAre("[INFO] Downloading 'OCR' https://downloads.test/OCR.pkg",
                                             "[INFO] Installing 'OCR' https://downloads.test/OCR.pkg",
                                             "[INFO] Cleanup '" + ocrFile.toString() + "'",
                                             "[INFO] Installing done for 'OCR' https://downloads.test/OCR.pkg",
                                             "[INFO] Downloading 'Scan' https://downloads.test/Scan.pkg",
                                             "[INFO] Installing 'Scan' https://downloads.test/Scan.pkg",
                                             "[INFO] Cleanup '" + scanFile.toString() + "'",
                                             "[INFO] Installing done for 'Scan' https://downloads.test/Scan.pkg"));
}

TEST_F(InstallationRunTest, DownloadProgressReachesItsRowInOrder) {
    choose({appEntry(QStringLiteral("Scan"), true)});
    const QUrl file = downloaded(QStringLiteral("Scan"));
    expectNeeded(QStringLiteral("Scan"), true);
    EXPECT_CALL(*rest, downloadFile(linkOf(QStringLiteral("Scan")), _))
            .WillOnce([file](QUrl, std::function<void(double)> progress) {
                progress(0.25);
                progress(1.0);
                return readyTask(file);
            });
    expectInstall(QStringLiteral("Scan"), file);
    QList<double> progress;
    const auto progressWatch = model().tasksToRun.subscribe([&](const QList<AppInstallTask>& tasks) {
        if (!tasks.isEmpty() && (progress.isEmpty() || progress.last() != tasks.first().downloadProgress)) {
            progress.append(tasks.first().downloadProgress);
        }
    });

    run();
    EXPECT_THAT(progress, ElementsAre(0.0, 0.25, 1.0));
}

struct RefusedCase {
    const char* name;
    bool withMandatoryRow;
};

class RefusedRightsTest : public InstallationRunTest, public testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedRightsTest, FailsEveryRowWithThePermissionText) {
    choose({appEntry(QStringLiteral("A"), GetParam().withMandatoryRow), appEntry(QStringLiteral("B"), false),
            appEntry(QStringLiteral("C"), false)});
    EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce(Return(false));
    EXPECT_CALL(*permissions, releaseAuthorization()).Times(0);

    QCoro::Task<> task = model().installSelectedApplications();
    EXPECT_EQ(model().fatalErrorMessage(), QStringLiteral("error.no.permissions")) << "set before the rows change";
    EXPECT_THAT(rowStates["A"], ElementsAre("ready"));
    try {
        test::waitFor(std::move(task));
        ADD_FAILURE() << "the run must fail";
    } catch (const InstallationError& error) {
        EXPECT_EQ(error, InstallationError::installationFailed(QStringLiteral("Insufficient permissions")));
    }
    drainPostedEvents();

    for (const auto& task : model().tasksToRun()) {
        EXPECT_EQ(task.state, ToInstallListItemViewState::failed) << task.name.toStdString();
        EXPECT_EQ(task.errorMessage, QStringLiteral("error.no.permissions"));
    }
    EXPECT_EQ(rowStates["B"], (QStringList{"ready", "failed"})) << "straight from ready";
    EXPECT_EQ(model().isInstallationSuccessful(), !GetParam().withMandatoryRow);
    EXPECT_TRUE(model().anyOptionalPackageFailedToInstall());
    EXPECT_FALSE(model().shouldProcessFatalError());
    EXPECT_TRUE(logger->lines().isEmpty()) << "the permissions manager logs its own refusal";
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedRightsTest,
                         testing::Values(RefusedCase{"OneMandatory", true}, RefusedCase{"AllOptional", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallationRunTest, InstalledPackageIsSkippedWithoutADownload) {
    choose({appEntry(QStringLiteral("Scan"), true)});
    expectNeeded(QStringLiteral("Scan"), false);
    EXPECT_CALL(*permissions, releaseAuthorization());
    run();
    EXPECT_THAT(rowStates["Scan"], ElementsAre("ready", "processing", "done"));
    EXPECT_THAT(logger->lines(), ElementsAre("[INFO] Skipping installation for 'Scan' https://downloads.test/Scan.pkg "
                                             "as package already installed with similar or higher version"));
}

TEST_F(InstallationRunTest, MalformedLinkFailsItsRowSilentlyAndTheRunGoesOn) {
    auto broken = appEntry(QStringLiteral("Broken"), true);
    broken.installer = QStringLiteral("not a link");
    choose({broken, appEntry(QStringLiteral("Scan"), false)});
    const QUrl file = downloaded(QStringLiteral("Scan"));
    expectNeeded(QStringLiteral("Broken"), true);
    expectNeeded(QStringLiteral("Scan"), true);
    expectDownload(QStringLiteral("Scan"), file);
    expectInstall(QStringLiteral("Scan"), file);

    run();
    const auto rows = model().tasksToRun();
    EXPECT_THAT(rowStates["Broken"], ElementsAre("ready", "processing", "downloading", "failed"));
    EXPECT_FALSE(rows[0].errorMessage.has_value());
    EXPECT_TRUE(model().fatalErrorMessage().isEmpty());
    EXPECT_EQ(rows[1].state, ToInstallListItemViewState::done);
    EXPECT_FALSE(model().isInstallationSuccessful());
    EXPECT_EQ(logger->lines().mid(0, 2), (QStringList{"[INFO] Downloading 'Broken' not a link",
                                                      "[INFO] Download failed for 'Broken' not a link"}));
}

TEST_F(InstallationRunTest, FailedDownloadFailsItsRowWithTheConnectivityText) {
    choose({appEntry(QStringLiteral("Lost"), false), appEntry(QStringLiteral("Scan"), false)});
    const QUrl file = downloaded(QStringLiteral("Scan"));
    const auto refused = RestClientError::networkError(std::make_exception_ptr(
            TransportError(QNetworkReply::SslHandshakeFailedError, QStringLiteral("certificate untrusted"))));
    expectNeeded(QStringLiteral("Lost"), true);
    EXPECT_CALL(*rest, downloadFile(linkOf(QStringLiteral("Lost")), _)).WillOnce(ThrowTask<QUrl>(refused));
    expectNeeded(QStringLiteral("Scan"), true);
    expectDownload(QStringLiteral("Scan"), file);
    expectInstall(QStringLiteral("Scan"), file);

    run();
    const auto rows = model().tasksToRun();
    EXPECT_EQ(rows[0].state, ToInstallListItemViewState::failed);
    EXPECT_EQ(rows[0].errorMessage, QStringLiteral("error.connectivity"));
    EXPECT_EQ(rows[1].state, ToInstallListItemViewState::done);
    EXPECT_TRUE(model().isInstallationSuccessful());
    EXPECT_TRUE(model().anyOptionalPackageFailedToInstall());
    EXPECT_THAT(logger->lines().mid(0, 3),
                ElementsAre("[INFO] Downloading 'Lost' https://downloads.test/Lost.pkg",
                            "[CRITICAL] error.connectivity " + refused.localizedDescription(),
                            "[CRITICAL] Installing failed for 'Lost' error.connectivity"));
}

struct DigestCase {
    const char* name;
    bool mandatory;
};

class DigestFailureTest : public InstallationRunTest, public testing::WithParamInterface<DigestCase> {};

TEST_P(DigestFailureTest, FailsTheRowRemovesTheFileAndDecidesTheOutcome) {
    TARNDeviceAppsConfigurationModel configuration;
    configuration.successUrl = QStringLiteral("https://tarn.test/welcome");
    model().deviceApplicationsModel = configuration;
    choose({appEntry(QStringLiteral("Altered"), GetParam().mandatory), appEntry(QStringLiteral("Zed"), false)});
    const QUrl altered = downloaded(QStringLiteral("Altered"));
    const QUrl zed = downloaded(QStringLiteral("Zed"));
    expectNeeded(QStringLiteral("Altered"), true);
    expectDownload(QStringLiteral("Altered"), altered);
    EXPECT_CALL(*installer, install(altered.toLocalFile(), _, _, _))
            .WillOnce(ThrowTask<void>(
                    InstallationError::mismatchHash(QStringLiteral("Could not validate SHA512 for x."))));
    expectNeeded(QStringLiteral("Zed"), true);
    expectDownload(QStringLiteral("Zed"), zed);
    expectInstall(QStringLiteral("Zed"), zed);
    EXPECT_CALL(*opener, open(QUrl(configuration.successUrl))).Times(GetParam().mandatory ? 0 : 1);

    run();
    const auto rows = model().tasksToRun();
    EXPECT_THAT(rowStates["Altered"], ElementsAre("ready", "processing", "downloading", "installing", "failed"));
    EXPECT_EQ(rows[0].errorMessage, QStringLiteral("error.content.hash.mismatch"));
    EXPECT_EQ(rows[1].state, ToInstallListItemViewState::done);
    EXPECT_FALSE(QFile::exists(altered.toLocalFile()));
    EXPECT_EQ(model().isInstallationSuccessful(), !GetParam().mandatory);
    EXPECT_EQ(model().anyOptionalPackageFailedToInstall(), !GetParam().mandatory);
    EXPECT_THAT(logger->lines().mid(1, 4),
                ElementsAre("[INFO] Installing 'Altered' https://downloads.test/Altered.pkg",
                            "[CRITICAL] error.content.hash.mismatch. Could not validate SHA512 for x.",
                            "[INFO] Cleanup '" + altered.toString() + "'",
                            "[CRITICAL] Installing failed for 'Altered' error.content.hash.mismatch"));
    model().openSuccessUrl();
}

INSTANTIATE_TEST_SUITE_P(Rows, DigestFailureTest,
                         testing::Values(DigestCase{"Optional", false}, DigestCase{"Mandatory", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallationRunTest, FileThatCannotBeRemovedIsLoggedAndTheRunGoesOn) {
    choose({appEntry(QStringLiteral("Scan"), true)});
    const QUrl vanished = QUrl::fromLocalFile(downloads.filePath(QStringLiteral("vanished.pkg")));
    expectNeeded(QStringLiteral("Scan"), true);
    expectDownload(QStringLiteral("Scan"), vanished);
    EXPECT_CALL(*installer, install(vanished.toLocalFile(), _, _, _)).WillOnce(ReturnVoidTask());
    EXPECT_CALL(*permissions, releaseAuthorization());

    run();
    EXPECT_EQ(model().tasksToRun().first().state, ToInstallListItemViewState::done);
    EXPECT_TRUE(logger->lines().contains("[INFO] Failed to remove file '" + vanished.toLocalFile() + "'"));
}

TEST_F(InstallationRunTest, ProgressAfterTheObjectIsGoneIsDropped) {
    choose({appEntry(QStringLiteral("Scan"), true)});
    const QUrl file = downloaded(QStringLiteral("Scan"));
    std::function<void(double)> report;
    expectNeeded(QStringLiteral("Scan"), true);
    EXPECT_CALL(*rest, downloadFile(_, _)).WillOnce([&](QUrl, std::function<void(double)> progress) {
        report = std::move(progress);
        return readyTask(file);
    });
    expectInstall(QStringLiteral("Scan"), file);
    run();

    report(0.5);
    drainPostedEvents();
    ASSERT_EQ(model().tasksToRun().first().downloadProgress, 0.5) << "late progress still lands while alive";

    report(0.75); // posted, but the object goes before it is applied
    watch.cancel();
    viewModel.reset();
    drainPostedEvents();
    report(1.0);
    drainPostedEvents();
}

TEST_F(InstallationRunTest, SecondCallDuringARunJoinsItInsteadOfRunningTheRowsTwice) {
    choose({appEntry(QStringLiteral("Scan"), true)});
    Gate versionCheck;
    EXPECT_CALL(*permissions, requestAdminPrivileges()).Times(2).WillRepeatedly(Return(true));
    EXPECT_CALL(*permissions, releaseAuthorization()).Times(2);
    EXPECT_CALL(*pkgHelper, isInstallationNeeded(_, _))
            .WillOnce([&](auto&&...) { return afterGate(&versionCheck, false); })
            .WillOnce(ReturnTask(false));

    bool firstEnded = false;
    bool secondEnded = false;
    QCoro::connect(model().installSelectedApplications(), &model(), [&] { firstEnded = true; });
    QCoro::connect(model().installSelectedApplications(), &model(), [&] { secondEnded = true; });
    drainPostedEvents();
    EXPECT_FALSE(firstEnded);
    EXPECT_FALSE(secondEnded) << "the joined call ends with the run, not at once";

    versionCheck.open();
    ASSERT_TRUE(processEventsUntil([&] { return firstEnded && secondEnded; }));
    drainPostedEvents();
    EXPECT_THAT(rowStates["Scan"], ElementsAre("ready", "processing", "done"));

    // Once the run has ended, the next call is a run of its own.
    run();
    EXPECT_THAT(rowStates["Scan"], ElementsAre("ready", "processing", "done", "processing", "done"));
}

TEST_F(InstallationRunTest, SuccessPageOpensOnlyForAWebAddressAfterSuccess) {
    auto& m = model();
    m.openSuccessUrl(); // no configuration yet

    TARNDeviceAppsConfigurationModel configuration;
    configuration.successUrl = QStringLiteral("file:///etc/passwd");
    m.deviceApplicationsModel = configuration;
    m.openSuccessUrl();

    configuration.successUrl = QStringLiteral("not a link");
    m.deviceApplicationsModel = configuration;
    m.openSuccessUrl();

    configuration.successUrl = QStringLiteral("https://tarn.test/welcome");
    m.deviceApplicationsModel = configuration;
    EXPECT_CALL(*opener, open(QUrl(configuration.successUrl))).Times(1);
    m.openSuccessUrl();
    m.openSuccessUrl(); // Close, then the termination check: one page, not two

    configuration.successUrl = QStringLiteral("https://tarn.test/other");
    m.deviceApplicationsModel = configuration;
    EXPECT_CALL(*opener, open(QUrl(configuration.successUrl))).Times(1);
    m.openSuccessUrl();
}

TEST_F(InstallationRunTest, SupportPageIsUnderTheSupportSite) {
    EXPECT_CALL(*opener, open(QUrl("https://support.test/EN-GB/c2473/Official-TARN-customer-Support.aspx")));
    model().openSupportPage();
}

} // namespace
} // namespace tarn::test
