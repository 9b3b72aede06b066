#include "support/WorkflowFixture.h"

namespace tarn::test {
namespace {

using testing::_;
using testing::Return;

using WorkflowStateTest = WorkflowTest;

TEST_F(WorkflowStateTest, StartsWithTheDeclaredValuesAndTheOutcomeOfAnEmptyList) {
    auto& m = model();
    EXPECT_FALSE(m.isEulaAccepted());
    EXPECT_FALSE(m.isLegalAccepted());
    EXPECT_EQ(m.deviceSearchStatus(), DeviceSearchState::notFound());
    EXPECT_FALSE(m.deviceModel().has_value());
    EXPECT_FALSE(m.deviceApplicationsModel().has_value());
    EXPECT_TRUE(m.selectedAppsForInstallation().isEmpty());
    EXPECT_TRUE(m.tasksToRun().isEmpty());
    EXPECT_TRUE(m.supportedDeviceList().list.isEmpty());
    EXPECT_TRUE(m.supportedDevices().isEmpty());
    EXPECT_TRUE(m.supportedDeviceNames().isEmpty());
    EXPECT_TRUE(m.connectivityError()) << "offline until the monitor first reports a path";
    EXPECT_TRUE(m.fatalErrorMessage().isEmpty());
    EXPECT_TRUE(m.isInstallationSuccessful()) << "set by the outcome subscription during construction";
    EXPECT_FALSE(m.anyOptionalPackageFailedToInstall());
    EXPECT_FALSE(m.isInstallationCancelled());
    EXPECT_TRUE(m.shouldProcessFatalError());
    drainPostedEvents();
    EXPECT_TRUE(logger->lines().isEmpty());
}

TEST_F(WorkflowStateTest, RefusesToBeBuiltWithoutAService) {
    auto incomplete = services();
    incomplete.installHelper.reset();
    EXPECT_THROW(InstallationViewModel(incomplete, settings), std::invalid_argument);
}

TEST_F(WorkflowStateTest, EveryAssignmentRaisesTheGeneralChangeSignal) {
    auto& m = model();
    int changes = 0;
    QObject::connect(&m, &InstallationViewModel::changed, [&changes] { ++changes; });
    m.isInstallationCancelled = true;
    m.isInstallationCancelled = true;
    EXPECT_EQ(changes, 2) << "an assignment notifies even when the value stays";
    // C rebuilds the list (empty, one append, sort) and D recomputes both flags on each of those.
    m.selectedAppsForInstallation = {appEntry(QStringLiteral("Scan"), false)};
    EXPECT_EQ(changes, 2 + 1 + 3 * 3);
}

TEST_F(WorkflowStateTest, ConsentsStartOneCatalogueFetchPerAssignmentWhileBothAreGiven) {
    int fetches = 0;
    EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), std::optional<QString>(), QStringLiteral("content")))
            .WillRepeatedly([&fetches](auto&&...) {
                ++fetches;
                return readyTask(catalogueJson({catalogueDevice(QStringLiteral("A"), "1", "2")}));
            });
    auto& m = model();

    m.isEulaAccepted = true;
    drainPostedEvents();
    EXPECT_EQ(fetches, 0) << "one consent is not enough";

    m.isLegalAccepted = true;
    EXPECT_EQ(fetches, 0) << "the fetch is a task of its own, not part of the assignment";
    drainPostedEvents();
    EXPECT_EQ(fetches, 1);
    EXPECT_EQ(m.supportedDeviceNames(), QStringList{QStringLiteral("A")});

    m.isLegalAccepted = true;
    m.isEulaAccepted = true;
    drainPostedEvents();
    EXPECT_EQ(fetches, 3) << "the same value assigned again fetches again";

    m.isLegalAccepted = false;
    m.isEulaAccepted = true;
    drainPostedEvents();
    EXPECT_EQ(fetches, 3);
}

TEST_F(WorkflowStateTest, AFoundDeviceBecomesTheDeviceModelAndStaysAfterwards) {
    auto& m = model();
    const auto scanner = catalogueDevice(QStringLiteral("Scanner"), "4A9", "1A0B");
    m.deviceSearchStatus = DeviceSearchState::found(scanner);
    EXPECT_EQ(m.deviceModel(), scanner);

    m.deviceSearchStatus = DeviceSearchState::notFound();
    m.deviceSearchStatus = DeviceSearchState::prepareForSearching();
    m.deviceSearchStatus = DeviceSearchState::searching();
    EXPECT_EQ(m.deviceModel(), scanner);
}

TEST_F(WorkflowStateTest, ConnectivityErrorMirrorsEveryReportOfTheMonitor) {
    auto& m = model();
    pathSource->report(NetworkPathStatus::satisfied);
    drainPostedEvents();
    EXPECT_FALSE(m.connectivityError());
    pathSource->report(NetworkPathStatus::requiresConnection);
    drainPostedEvents();
    EXPECT_TRUE(m.connectivityError());
}

TEST_F(WorkflowStateTest, ConnectivityErrorCopiesTheMonitorAtConstruction) {
    pathSource->report(NetworkPathStatus::satisfied);
    drainPostedEvents();
    EXPECT_FALSE(model().connectivityError());
}

struct OutcomeCase {
    const char* name;
    QList<std::pair<bool, ToInstallListItemViewState>> rows; // mandatory, state
    bool successful;
    bool optionalFailed;
};

class OutcomeTest : public WorkflowTest, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(OutcomeTest, IsRecomputedFromEveryTaskList) {
    auto& m = model();
    const auto task = [](bool mandatory, ToInstallListItemViewState state) {
        AppInstallTask row;
        row.isManadatory = mandatory;
        row.state = state;
        return row;
    };
    // Start from the opposite outcome, so that each flag must actually be recomputed.
    QList<AppInstallTask> opposite;
    if (GetParam().successful) {
        opposite.append(task(true, ToInstallListItemViewState::failed));
    }
    if (!GetParam().optionalFailed) {
        opposite.append(task(false, ToInstallListItemViewState::failed));
    }
    m.tasksToRun = opposite;
    ASSERT_NE(m.isInstallationSuccessful(), GetParam().successful);
    ASSERT_NE(m.anyOptionalPackageFailedToInstall(), GetParam().optionalFailed);

    QList<AppInstallTask> tasks;
    for (const auto& [mandatory, state] : GetParam().rows) {
        tasks.append(task(mandatory, state));
    }
    m.tasksToRun = tasks;
    EXPECT_EQ(m.isInstallationSuccessful(), GetParam().successful);
    EXPECT_EQ(m.anyOptionalPackageFailedToInstall(), GetParam().optionalFailed);
}

using S = ToInstallListItemViewState;
INSTANTIATE_TEST_SUITE_P(
        Rows, OutcomeTest,
        testing::Values(OutcomeCase{"Empty", {}, true, false},
                        OutcomeCase{"AllDone", {{true, S::done}, {false, S::done}}, true, false},
                        OutcomeCase{"OptionalFailed", {{true, S::done}, {false, S::failed}}, true, true},
                        OutcomeCase{"MandatoryFailed", {{true, S::failed}, {false, S::done}}, false, false},
                        OutcomeCase{"BothFailed", {{true, S::failed}, {false, S::failed}}, false, true},
                        OutcomeCase{"StillRunning", {{true, S::installing}, {false, S::ready}}, true, false}),
        [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tarn::test
