#include "services/InstallationError.h"
#include "services/RestClientError.h"
#include "support/Gate.h"
#include "support/WorkflowFixture.h"

#include <QDir>
#include <QMap>

namespace tarn::test {
namespace {

using testing::_;
using testing::ElementsAre;
using testing::InSequence;

class InstallationRunTest : public WorkflowTest {
protected:
    InstallationRunTest() {
        ON_CALL(*permissions, requestAdminPrivileges()).WillByDefault(ReturnTask(AdminRights::granted));
    }

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

    // Runs to the end and applies every posted row update.
    void run() {
        test::waitFor(model().installSelectedApplications());
        drainPostedEvents();
    }

    QMap<QString, QStringList> rowStates;
    Subscription watch;
};

TEST_F(InstallationRunTest, InstallsEachRowInOrderAndRemovesTheDownloads) {
    choose({appEntry("Scan", false), appEntry("OCR", true)});
    {
        InSequence order;
        EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce(ReturnTask(AdminRights::granted));
        expectInstallation("OCR");
        expectInstallation("Scan");
        EXPECT_CALL(*permissions, releaseAuthorization());
    }
    QCoro::Task<> task = model().installSelectedApplications();
    ASSERT_TRUE(task.isReady()) << "every service answered at once";
    EXPECT_THAT(rowStates["OCR"], ElementsAre("ready")) << "row updates are posted, not applied in the run";
    drainPostedEvents();

    EXPECT_THAT(rowStates["OCR"], ElementsAre("ready", "processing", "downloading", "installing", "done"));
    EXPECT_THAT(rowStates["Scan"], ElementsAre("ready", "processing", "downloading", "installing", "done"));
    EXPECT_EQ(QDir(downloads.path()).entryList(QDir::Files), QStringList()) << "every download is removed";
    EXPECT_TRUE(model().isInstallationSuccessful());
    EXPECT_FALSE(model().anyOptionalPackageFailedToInstall());
    QStringList log;
    for (const QString& name : {u"OCR"_s, u"Scan"_s}) {
        const QString link = linkOf(name).toString();
        log << u"[INFO] Downloading '%1' %2"_s.arg(name, link) << u"[INFO] Installing '%1' %2"_s.arg(name, link)
            << u"[INFO] Cleanup '%1'"_s.arg(QUrl::fromLocalFile(downloads.filePath(name + u".pkg"_s)).toString())
            << u"[INFO] Installing done for '%1' %2"_s.arg(name, link);
    }
    EXPECT_EQ(logger->lines(), log);
}

// The password dialog may stay open for minutes: the run awaits the answer, and no row starts before it.
TEST_F(InstallationRunTest, NoRowStartsBeforeTheAnswer) {
    choose({appEntry("A", true)});
    Gate answer;
    EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce([&] {
        return afterGate(&answer, AdminRights::granted);
    });

    QCoro::Task<> task = model().installSelectedApplications();
    drainPostedEvents();
    EXPECT_THAT(rowStates["A"], ElementsAre("ready"));

    expectInstallation("A");
    answer.open();
    test::waitFor(std::move(task));
    drainPostedEvents();
    EXPECT_EQ(rowStates["A"].last(), u"done"_s);
}

// Each way of not getting administrator rights has its own text, so the user knows what to do next.
TEST_F(InstallationRunTest, RefusedRightsFailEveryRowWithTheTextOfTheRefusal) {
    // Whether the first row is mandatory decides only the outcome, so each refusal is met with one of both.
    const std::tuple<AdminRights, const char*, bool> refusals[] = {
            {AdminRights::cancelled, "error.no.permissions.cancelled", false},
            {AdminRights::wrongPassword, "error.no.permissions.wrong.password", true},
            {AdminRights::notPermitted, "error.no.permissions.not.allowed", false},
            {AdminRights::unavailable, "error.no.permissions.unavailable", true},
            {AdminRights::failed, "error.no.permissions", false}};
    for (const auto& [rights, key, firstIsMandatory] : refusals) {
        SCOPED_TRACE(std::string(key) + (firstIsMandatory ? ", one mandatory row" : ", all optional"));
        viewModel.reset();
        rowStates.clear();
        choose({appEntry("A", firstIsMandatory), appEntry("B", false), appEntry("C", false)});
        EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce(ReturnTask(rights));
        EXPECT_CALL(*permissions, releaseAuthorization()).Times(0);

        QCoro::Task<> task = model().installSelectedApplications();
        EXPECT_EQ(model().fatalErrorMessage(), QString::fromLatin1(key)) << "set before the rows change";
        EXPECT_THAT(rowStates["A"], ElementsAre("ready"));
        EXPECT_THAT([&] { test::waitFor(std::move(task)); },
                    testing::Throws<InstallationError>(
                            testing::Eq(InstallationError::installationFailed(u"Insufficient permissions"_s))));
        drainPostedEvents();

        for (const auto& row : model().tasksToRun()) {
            EXPECT_EQ(row.state, ToInstallListItemViewState::failed) << row.name.toStdString();
            EXPECT_EQ(row.errorMessage, QString::fromLatin1(key));
        }
        EXPECT_EQ(rowStates["B"], (QStringList{"ready", "failed"})) << "straight from ready";
        EXPECT_EQ(model().isInstallationSuccessful(), !firstIsMandatory);
        EXPECT_TRUE(model().anyOptionalPackageFailedToInstall());
        EXPECT_FALSE(model().shouldProcessFatalError());
        EXPECT_TRUE(logger->lines().isEmpty()) << "the permissions manager logs its own refusal";
        testing::Mock::VerifyAndClearExpectations(permissions.get());
    }
}

// A row installed with a similar or higher version is skipped: the end-to-end run's second run shows it.
enum class Trouble { badLink, downloadFails, digestFails };

struct RowCase {
    const char* name;
    Trouble trouble;
    bool mandatory;
    const char* states;
    const char* errorMessage; // only an optional row may fail in a successful run
    QString log;              // the first lines; %1 stands for the downloaded file
};

class TroubledRowTest : public InstallationRunTest, public testing::WithParamInterface<RowCase> {};

// The first row meets trouble; the second, optional row installs regardless.
TEST_P(TroubledRowTest, EndsItsRowAndDecidesTheOutcomeWhileTheRunGoesOn) {
    const RowCase& c = GetParam();
    TARNDeviceAppsConfigurationModel configuration;
    configuration.successUrl = u"https://tarn.test/welcome"_s;
    model().deviceApplicationsModel = configuration;
    auto troubled = appEntry("X", c.mandatory);
    if (c.trouble == Trouble::badLink) {
        troubled.installer = u"not a link"_s;
    }
    choose({troubled, appEntry("Zed", false)});
    const QUrl file = downloaded("X");
    expectNeeded("X", true);
    if (c.trouble == Trouble::downloadFails) {
        EXPECT_CALL(*rest, downloadFile(linkOf("X"), _)).WillOnce(ThrowTask<QUrl>(RestClientError::invalidResponse()));
    } else if (c.trouble == Trouble::digestFails) {
        expectDownload("X", file);
        EXPECT_CALL(*installer, install(file.toLocalFile(), _, _, _))
                .WillOnce(ThrowTask<void>(InstallationError::mismatchHash("Could not validate SHA512 for x.")));
    }
    expectInstallation("Zed");
    EXPECT_CALL(*opener, open(QUrl(configuration.successUrl))).Times(c.mandatory ? 0 : 1);

    run();
    const auto rows = model().tasksToRun();
    EXPECT_EQ(rowStates["X"], QString::fromLatin1(c.states).split(u' '));
    EXPECT_EQ(rows[0].errorMessage, QString::fromLatin1(c.errorMessage));
    EXPECT_EQ(rows[1].state, ToInstallListItemViewState::done);
    EXPECT_NE(model().isInstallationSuccessful(), c.mandatory);
    EXPECT_NE(model().anyOptionalPackageFailedToInstall(), c.mandatory);
    EXPECT_FALSE(model().fatalErrorMessage().isEmpty());
    if (c.trouble == Trouble::digestFails) {
        EXPECT_FALSE(QFile::exists(file.toLocalFile())) << "a file that failed its check is removed too";
    }
    EXPECT_FALSE(QFile::exists(downloads.filePath("Zed.pkg")));
    const QStringList log = (c.log.contains(u'%') ? c.log.arg(file.toString()) : c.log).split(u'\n');
    EXPECT_EQ(logger->lines().mid(0, log.size()), log);
    model().openSuccessUrl();
}

const QString downloading = "[INFO] Downloading 'X' https://downloads.test/X.pkg\n";
const QString digestLog = downloading + "[INFO] Installing 'X' https://downloads.test/X.pkg\n"
                                        "[CRITICAL] error.content.hash.mismatch. Could not validate SHA512 for x.\n"
                                        "[INFO] Cleanup '%1'\n"
                                        "[CRITICAL] Installing failed for 'X' error.content.hash.mismatch";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, TroubledRowTest, testing::Values(
    // A malformed link fails its row with a reason the user can act on, like every other failure.
    RowCase{"BadLink", Trouble::badLink, true, "ready processing downloading failed", "error.installer.link.invalid",
            "[INFO] Downloading 'X' not a link\n[INFO] Download failed for 'X' not a link"},
    RowCase{"DownloadFails", Trouble::downloadFails, false, "ready processing downloading failed", "error.connectivity",
            downloading + "[CRITICAL] error.connectivity " + RestClientError::invalidResponse().localizedDescription() +
                    "\n[CRITICAL] Installing failed for 'X' error.connectivity"},
    RowCase{"DigestFails", Trouble::digestFails, false, "ready processing downloading installing failed",
            "error.content.hash.mismatch", digestLog}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A download that vanished before its removal is logged, and the run goes on; progress reported after
// the run lands while the object lives and is dropped once it is gone.
TEST_F(InstallationRunTest, VanishedDownloadIsLoggedAndLateProgressIsDroppedOnceTheObjectIsGone) {
    choose({appEntry("Scan", true)});
    const QUrl file = QUrl::fromLocalFile(downloads.filePath(u"vanished.pkg"_s));
    std::function<void(DownloadProgress)> report;
    expectNeeded("Scan", true);
    EXPECT_CALL(*rest, downloadFile(_, _)).WillOnce([&](QUrl, std::function<void(DownloadProgress)> progress) {
        report = std::move(progress);
        return readyTask(file);
    });
    EXPECT_CALL(*installer, install(file.toLocalFile(), _, _, _)).WillOnce(ReturnVoidTask());
    run();
    EXPECT_EQ(model().tasksToRun().first().state, ToInstallListItemViewState::done);
    EXPECT_TRUE(logger->lines().contains("[INFO] Failed to remove file '" + file.toLocalFile() + "'"));

    report({50, 100});
    drainPostedEvents();
    ASSERT_EQ(model().tasksToRun().first().downloadProgress, 0.5) << "late progress still lands while alive";
    EXPECT_EQ(model().tasksToRun().first().download, (DownloadProgress{50, 100}));

    report({75, 100}); // posted, but the object goes before it is applied
    watch.cancel();
    viewModel.reset();
    drainPostedEvents();
    report({100, 100});
    drainPostedEvents();
}

TEST_F(InstallationRunTest, SecondCallDuringARunJoinsItInsteadOfRunningTheRowsTwice) {
    choose({appEntry("Scan", true)});
    Gate versionCheck;
    EXPECT_CALL(*permissions, requestAdminPrivileges()).Times(2).WillRepeatedly(ReturnTask(AdminRights::granted));
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

// Where the first row is when the process asks the run to stop.
enum class StopDuring { versionCheck, download, installation };

class StoppedRunTest : public InstallationRunTest, public testing::WithParamInterface<StopDuring> {};

// The step in progress ends (a package installer is never cut, a download is cancelled), no further step
// starts, the download goes, the rows not done fail as interrupted, the grant is released and no success
// page can open.
TEST_P(StoppedRunTest, TheRunningStepEndsThenNothingStartsAndEverythingIsCleanedUp) {
    choose({appEntry("A", true), appEntry("B", false)});
    const QUrl file = downloaded("A");
    Gate step;
    EXPECT_CALL(*pkgHelper, isInstallationNeeded(u"com.tarn.A"_s, _)).WillOnce([&](auto&&...) {
        return GetParam() == StopDuring::versionCheck ? afterGate(&step, true) : readyTask(true);
    });
    if (GetParam() != StopDuring::versionCheck) {
        EXPECT_CALL(*rest, downloadFile(linkOf("A"), _)).WillOnce([&](auto&&...) {
            return GetParam() == StopDuring::download ? afterGate(&step, file) : readyTask(file);
        });
    }
    if (GetParam() == StopDuring::installation) {
        EXPECT_CALL(*installer, install(file.toLocalFile(), _, _, _)).WillOnce([&](auto&&...) {
            return afterGate(&step);
        });
    }
    EXPECT_CALL(*permissions, releaseAuthorization());
    // The cancelled download ends at once; any other step runs to its end.
    EXPECT_CALL(*rest, cancelDownloads()).WillOnce([&] {
        if (GetParam() == StopDuring::download) {
            step.open();
        }
    });
    QCoro::connect(model().installSelectedApplications(), &model(), [] {});
    drainPostedEvents();
    ASSERT_TRUE(model().isInstallationRunning());

    bool stopped = false;
    QCoro::connect(model().stopInstallation(), &model(), [&] { stopped = true; });
    drainPostedEvents();
    if (GetParam() != StopDuring::download) {
        EXPECT_FALSE(stopped) << "the running step is waited for";
        step.open();
    }
    ASSERT_TRUE(processEventsUntil([&] { return stopped; }));
    drainPostedEvents();

    const bool installed = GetParam() == StopDuring::installation;
    EXPECT_EQ(rowStates["A"].last(), installed ? "done" : "failed");
    EXPECT_EQ(rowStates["B"], (QStringList{"ready", "failed"})) << "nothing more starts";
    EXPECT_EQ(model().tasksToRun()[1].errorMessage, u"error.installation.interrupted"_s);
    EXPECT_EQ(QFile::exists(file.toLocalFile()), GetParam() == StopDuring::versionCheck)
            << "a download is removed; before one, the test's file is never handed over";
    EXPECT_FALSE(model().isInstallationRunning());
    EXPECT_TRUE(logger->lines().contains(u"[INFO] Installation interrupted"_s));
    model().openSuccessUrl(); // a stopped run is no finished one: the strict opener stays unused
}

INSTANTIATE_TEST_SUITE_P(Steps, StoppedRunTest,
                         testing::Values(StopDuring::versionCheck, StopDuring::download, StopDuring::installation));

QCoro::Task<bool> failAfterGate(Gate* gate) {
    co_await afterGate(gate);
    throw std::runtime_error("receipt database gone");
}

// A run started without anyone awaiting it (the installation screen's way): a failure no row caught
// reaches the log and the user once, and the grant is still released; refused rights, which the run
// publishes itself, are not reported a second time.
TEST_F(InstallationRunTest, FailureEscapingADetachedRunIsReportedOnceAndRefusedRightsNotAgain) {
    choose({appEntry("Scan", true)});
    EXPECT_CALL(*permissions, releaseAuthorization());
    Gate versionCheck;
    EXPECT_CALL(*pkgHelper, isInstallationNeeded(_, _)).WillOnce([&](auto&&...) {
        return failAfterGate(&versionCheck);
    });
    // Two screens joined one run: one report.
    model().startDetached(model().installSelectedApplications());
    model().startDetached(model().installSelectedApplications());
    versionCheck.open();
    drainPostedEvents();
    EXPECT_EQ(model().fatalErrorMessage(), u"error.generic"_s);
    ASSERT_EQ(logger->criticalLines().size(), 1) << logger->lines().join(u'\n').toStdString();
    EXPECT_TRUE(logger->criticalLines().first().contains(u"A generic error occurred"_s));

    logger->clear();
    model().fatalErrorMessage = QString();
    EXPECT_CALL(*permissions, requestAdminPrivileges()).WillOnce(ReturnTask(AdminRights::failed));
    model().startDetached(model().installSelectedApplications());
    drainPostedEvents();
    EXPECT_EQ(model().fatalErrorMessage(), u"error.no.permissions"_s);
    EXPECT_TRUE(logger->lines().isEmpty());
}

// The empty run only takes and releases the rights; refused rights release nothing.
TEST_F(InstallationRunTest, SuccessPageOpensOnceForEachWebAddressOnlyAfterAFinishedRun) {
    EXPECT_CALL(*permissions, releaseAuthorization());
    model().openSuccessUrl(); // no configuration yet
    TARNDeviceAppsConfigurationModel configuration;
    configuration.successUrl = u"https://tarn.test/early"_s;
    model().deviceApplicationsModel = configuration;
    ASSERT_TRUE(model().isInstallationSuccessful());
    model().openSuccessUrl(); // before any run nothing was installed: the strict opener must stay unused

    EXPECT_CALL(*permissions, requestAdminPrivileges())
            .WillOnce(ReturnTask(AdminRights::failed))
            .WillOnce(ReturnTask(AdminRights::granted));
    EXPECT_THROW(test::waitFor(model().installSelectedApplications()), InstallationError);
    model().openSuccessUrl(); // refused rights end no run
    run();
    EXPECT_FALSE(model().shouldProcessFatalError());
    EXPECT_TRUE(logger->lines().isEmpty());
    for (const char* link :
         {"file:///etc/passwd", "not a link", "https://tarn.test/welcome", "https://tarn.test/other"}) {
        configuration.successUrl = QString::fromLatin1(link);
        model().deviceApplicationsModel = configuration;
        EXPECT_CALL(*opener, open(QUrl(configuration.successUrl))).Times(link[0] == 'h' ? 1 : 0);
        model().openSuccessUrl();
        model().openSuccessUrl(); // Close, then the termination check: one page, not two
    }
}

} // namespace
} // namespace tarn::test
