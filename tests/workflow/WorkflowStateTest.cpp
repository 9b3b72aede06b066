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
    EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), std::optional<QString>(), u"content"_s))
            .WillRepeatedly([&fetches](auto&&...) {
                ++fetches;
                return readyTask(catalogueJson({catalogueDevice(u"A"_s, "1", "2")}));
            });
    auto& m = model();
    m.isEulaAccepted = true;
    drainPostedEvents();
    EXPECT_EQ(fetches, 0) << "one consent is not enough";
    m.isLegalAccepted = true;
    EXPECT_EQ(fetches, 0) << "the fetch is a task of its own, not part of the assignment";
    drainPostedEvents();
    EXPECT_EQ(fetches, 1);
    EXPECT_EQ(m.supportedDeviceNames(), QStringList{u"A"_s});
    m.isLegalAccepted = true;
    m.isEulaAccepted = true;
    drainPostedEvents();
    EXPECT_EQ(fetches, 3) << "the same value assigned again fetches again";
    m.isLegalAccepted = false;
    m.isEulaAccepted = true;
    drainPostedEvents();
    EXPECT_EQ(fetches, 3);
}

TEST_F(WorkflowStateTest, ConnectivityErrorCopiesTheMonitorAtConstructionAndThenMirrorsIt) {
    EXPECT_TRUE(model().connectivityError()) << "no report yet";
    viewModel.reset();
    for (const auto status : {NetworkPathStatus::satisfied, NetworkPathStatus::requiresConnection}) {
        pathSource->report(status);
        drainPostedEvents();
        EXPECT_EQ(model().connectivityError(), status != NetworkPathStatus::satisfied);
    }
}

TEST_F(WorkflowStateTest, OutcomeIsRecomputedFromEveryTaskList) {
    using S = ToInstallListItemViewState;
    using Rows = QList<std::pair<bool, S>>; // mandatory, state
    const auto tasks = [](const Rows& rows) {
        QList<AppInstallTask> list;
        for (const auto& [mandatory, state] : rows) {
            list.append(AppInstallTask{});
            list.last().isManadatory = mandatory;
            list.last().state = state;
        }
        return list;
    };
    // clang-format off
    const std::tuple<Rows, bool, bool> cases[] = { // rows, successful, an optional one failed
        {{}, true, false},
        {{{true, S::done}, {false, S::done}}, true, false},
        {{{true, S::done}, {false, S::failed}}, true, true},
        {{{true, S::failed}, {false, S::done}}, false, false},
        {{{true, S::failed}, {false, S::failed}}, false, true},
        {{{true, S::installing}, {false, S::ready}}, true, false},
    };
    // clang-format on
    auto& m = model();
    for (const auto& [rows, successful, optionalFailed] : cases) {
        SCOPED_TRACE(rows.size());
        // Start from the opposite outcome, so that each flag must actually be recomputed.
        m.tasksToRun = tasks({{true, successful ? S::failed : S::done}, {false, optionalFailed ? S::done : S::failed}});
        ASSERT_NE(m.isInstallationSuccessful(), successful);
        ASSERT_NE(m.anyOptionalPackageFailedToInstall(), optionalFailed);
        m.tasksToRun = tasks(rows);
        EXPECT_EQ(m.isInstallationSuccessful(), successful);
        EXPECT_EQ(m.anyOptionalPackageFailedToInstall(), optionalFailed);
    }
}

} // namespace
} // namespace tarn::test
