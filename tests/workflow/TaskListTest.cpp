#include "support/WorkflowFixture.h"
#include "workflow/ApplicationOrder.h"

namespace tarn::test {
namespace {

using testing::ElementsAre;

using TaskListTest = WorkflowTest;

TEST_F(TaskListTest, RebuildPublishesTheEmptyListEachPartialListAndTheListMandatoryFirstThenByName) {
    auto& m = model();
    QList<QStringList> published;
    const auto watch =
            m.tasksToRun.subscribe([&](const QList<AppInstallTask>& tasks) { published.append(taskNames(tasks)); });
    published.clear();
    m.selectedAppsForInstallation = {appEntry("b", false), appEntry("OCR", true), appEntry("B", false)};
    EXPECT_THAT(published, ElementsAre(QStringList{}, QStringList{"b"}, (QStringList{"b", "OCR"}),
                                       (QStringList{"b", "OCR", "B"}), (QStringList{"OCR", "B", "b"})));
}

TEST_F(TaskListTest, EveryAssignmentMakesFreshReadyRowsAndResetsTheOutcome) {
    auto& m = model();
    const auto entry = appEntry("Scan", false);
    m.selectedAppsForInstallation = {entry, entry};
    const auto first = m.tasksToRun();
    ASSERT_EQ(first.size(), 2);
    EXPECT_NE(first[0].id, first[1].id) << "the same entry twice gives two rows";
    for (const bool again : {true, false}) {
        m.tasksToRun.modify([](QList<AppInstallTask>& tasks) {
            tasks[0].state = ToInstallListItemViewState::failed;
            tasks[0].errorMessage = u"error.generic"_s;
            tasks[1].downloadProgress = 0.5;
        });
        ASSERT_TRUE(m.anyOptionalPackageFailedToInstall());
        m.selectedAppsForInstallation = again ? QList{entry, entry} : QList<TARNDeviceAppConfigurationModel>();
        EXPECT_FALSE(m.anyOptionalPackageFailedToInstall());
        EXPECT_EQ(m.tasksToRun().size(), again ? 2 : 0);
        for (qsizetype i = 0; i < m.tasksToRun().size(); ++i) {
            const AppInstallTask& row = m.tasksToRun()[i];
            EXPECT_NE(row.id, first[i].id);
            EXPECT_TRUE(row.state == ToInstallListItemViewState::ready && row.downloadProgress == 0 &&
                        !row.errorMessage);
        }
    }
}

TEST_F(TaskListTest, SortedApplicationsFollowTheConfigurationWithoutChangingIt) {
    auto& m = model();
    EXPECT_FALSE(m.sortedApplications().has_value()) << "nothing before a configuration is loaded";
    TARNDeviceAppsConfigurationModel configuration;
    configuration.apps = {appEntry("Scan", false), appEntry("Archive", false), appEntry("OCR", true)};
    m.deviceApplicationsModel = configuration;
    EXPECT_EQ(taskNames(m.sortedApplications().value()), (QStringList{"OCR", "Archive", "Scan"}));
    EXPECT_EQ(m.deviceApplicationsModel()->apps.first().name, u"Scan"_s);
}

// The ordering rule on its own, where names need more than ASCII.
struct Named {
    QString name;
    bool mandatory = false;
    int position = 0;
};

QList<Named> sorted(QList<Named> items) {
    sortMandatoryFirstByName(
            items, [](const Named& item) { return item.mandatory; },
            [](const Named& item) -> const QString& { return item.name; });
    return items;
}

TEST(ApplicationOrderTest, ComparesCodePointsAfterCanonicalCompositionUpperCaseFirstAndKeepsEqualNamesInOrder) {
    const QString fullwidthA = QString(QChar(0xFF21));            // U+FF21, one UTF-16 unit
    const QString grinning = QString::fromUcs4(U"\U0001F600", 1); // U+1F600, surrogates D83D DE00
    ASSERT_LT(grinning, fullwidthA) << "as UTF-16 units the surrogate sorts first";
    const QString decomposed = u"e\u0301"_s; // é once composed (U+00E9), after "f"
    QStringList names;
    for (const auto& item : sorted({{grinning}, {decomposed}, {"f"}, {"b"}, {"a"}, {"Z"}, {"B"}, {fullwidthA}})) {
        names.append(item.name);
    }
    EXPECT_EQ(names, (QStringList{"B", "Z", "a", "b", "f", decomposed, fullwidthA, grinning}));
    QList<int> positions;
    for (const auto& item : sorted({{"\u00E9", false, 1},
                                    {"Same", true, 2},
                                    {decomposed, false, 3},
                                    {"Same", true, 4},
                                    {"\u00E9", false, 5}})) {
        positions.append(item.position);
    }
    EXPECT_THAT(positions, ElementsAre(2, 4, 1, 3, 5));
}

} // namespace
} // namespace tarn::test
