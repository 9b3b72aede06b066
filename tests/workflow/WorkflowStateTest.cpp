#include "support/WorkflowFixture.h"

namespace tarn::test {
namespace {

using WorkflowStateTest = WorkflowTest;

TEST_F(WorkflowStateTest, RefusesToBeBuiltWithoutAService) {
    auto incomplete = services();
    incomplete.installHelper.reset();
    EXPECT_THROW(InstallationViewModel(incomplete, settings), std::invalid_argument);
}

TEST_F(WorkflowStateTest, AnAssignmentOfTheSameValueStillRaisesTheGeneralChangeSignal) {
    int changes = 0;
    QObject::connect(&model(), &InstallationViewModel::changed, [&changes] { ++changes; });
    model().isInstallationCancelled = true;
    model().isInstallationCancelled = true;
    EXPECT_EQ(changes, 2);
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

TEST_F(WorkflowStateTest, ConnectivityErrorIsSetUntilTheMonitorReportsAndThenMirrorsIt) {
    EXPECT_TRUE(model().connectivityError());
    for (const auto status : {NetworkPathStatus::satisfied, NetworkPathStatus::requiresConnection}) {
        pathSource->report(status);
        drainPostedEvents();
        EXPECT_EQ(model().connectivityError(), status != NetworkPathStatus::satisfied);
    }
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
