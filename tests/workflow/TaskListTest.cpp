#include "support/WorkflowFixture.h"
#include "workflow/ApplicationOrder.h"

namespace tarn::test {
namespace {

using testing::ElementsAre;

using TaskListTest = WorkflowTest;

TEST_F(TaskListTest, MandatoryFirstThenByName) {
    model().selectedAppsForInstallation = {appEntry(QStringLiteral("Scan"), false),
                                           appEntry(QStringLiteral("OCR"), true),
                                           appEntry(QStringLiteral("Archive"), false)};
    EXPECT_EQ(taskNames(model().tasksToRun()), (QStringList{"OCR", "Archive", "Scan"}));
}

TEST_F(TaskListTest, UpperCaseSortsBeforeLowerCase) {
    model().selectedAppsForInstallation = {appEntry(QStringLiteral("b"), true), appEntry(QStringLiteral("B"), true),
                                           appEntry(QStringLiteral("a"), true), appEntry(QStringLiteral("Z"), true)};
    EXPECT_EQ(taskNames(model().tasksToRun()), (QStringList{"B", "Z", "a", "b"}));
}

TEST_F(TaskListTest, RebuildPublishesTheEmptyListEachPartialListAndTheSortedList) {
    auto& m = model();
    QList<QStringList> published;
    const auto watch =
            m.tasksToRun.subscribe([&](const QList<AppInstallTask>& tasks) { published.append(taskNames(tasks)); });
    published.clear();
    m.selectedAppsForInstallation = {appEntry(QStringLiteral("Scan"), false), appEntry(QStringLiteral("OCR"), true)};
    EXPECT_THAT(published, ElementsAre(QStringList{}, QStringList{"Scan"}, (QStringList{"Scan", "OCR"}),
                                       (QStringList{"OCR", "Scan"})));
}

TEST_F(TaskListTest, AssigningTheSameSelectionAgainMakesNewReadyRows) {
    auto& m = model();
    const QList selection{appEntry(QStringLiteral("Scan"), true), appEntry(QStringLiteral("Scan"), false)};
    m.selectedAppsForInstallation = selection;
    const auto first = m.tasksToRun();
    m.tasksToRun.modify([](QList<AppInstallTask>& tasks) {
        tasks[0].state = ToInstallListItemViewState::failed;
        tasks[0].errorMessage = QStringLiteral("error.generic");
        tasks[1].downloadProgress = 0.5;
    });
    ASSERT_FALSE(m.isInstallationSuccessful());

    m.selectedAppsForInstallation = selection;
    const auto second = m.tasksToRun();
    ASSERT_EQ(second.size(), 2);
    for (qsizetype i = 0; i < 2; ++i) {
        EXPECT_NE(second[i].id, first[i].id);
        EXPECT_EQ(second[i].state, ToInstallListItemViewState::ready);
        EXPECT_EQ(second[i].downloadProgress, 0);
        EXPECT_FALSE(second[i].errorMessage.has_value());
    }
    EXPECT_TRUE(m.isInstallationSuccessful());
}

TEST_F(TaskListTest, TheSameEntryTwiceGivesTwoRows) {
    const auto entry = appEntry(QStringLiteral("Scan"), false);
    model().selectedAppsForInstallation = {entry, entry};
    const auto tasks = model().tasksToRun();
    ASSERT_EQ(tasks.size(), 2);
    EXPECT_EQ(tasks[0].pkgId, tasks[1].pkgId);
    EXPECT_NE(tasks[0].id, tasks[1].id);
}

TEST_F(TaskListTest, EmptySelectionEmptiesTheListAndResetsTheOutcome) {
    auto& m = model();
    AppInstallTask failed;
    failed.isManadatory = false;
    failed.state = ToInstallListItemViewState::failed;
    m.tasksToRun = {failed};
    ASSERT_TRUE(m.anyOptionalPackageFailedToInstall());
    m.selectedAppsForInstallation = QList<TARNDeviceAppConfigurationModel>();
    EXPECT_TRUE(m.tasksToRun().isEmpty());
    EXPECT_TRUE(m.isInstallationSuccessful());
    EXPECT_FALSE(m.anyOptionalPackageFailedToInstall());
}

TEST_F(TaskListTest, SortedApplicationsFollowTheConfiguration) {
    auto& m = model();
    EXPECT_FALSE(m.sortedApplications().has_value()) << "nothing before a configuration is loaded";

    m.deviceApplicationsModel = TARNDeviceAppsConfigurationModel{};
    ASSERT_TRUE(m.sortedApplications().has_value());
    EXPECT_TRUE(m.sortedApplications()->isEmpty());

    TARNDeviceAppsConfigurationModel configuration;
    configuration.apps = {appEntry(QStringLiteral("Scan"), false), appEntry(QStringLiteral("Archive"), false),
                          appEntry(QStringLiteral("OCR"), true)};
    m.deviceApplicationsModel = configuration;
    const auto sorted = m.sortedApplications();
    QStringList names;
    for (const auto& app : *sorted) {
        names.append(app.name);
    }
    EXPECT_EQ(names, (QStringList{"OCR", "Archive", "Scan"}));
    EXPECT_EQ(m.deviceApplicationsModel()->apps.first().name, QStringLiteral("Scan")) << "sorting changes nothing";
}

// The ordering rule on its own, where names need more than ASCII.
struct Named {
    QString name;
    bool mandatory = false;
    int position = 0;
};

QStringList sortedNames(QList<Named> items) {
    sortMandatoryFirstByName(
            items, [](const Named& item) { return item.mandatory; },
            [](const Named& item) -> const QString& { return item.name; });
    QStringList names;
    for (const auto& item : items) {
        names.append(item.name);
    }
    return names;
}

TEST(ApplicationOrderTest, ComparesCodePointsNotUtf16Units) {
    const QString fullwidthA = QString(QChar(0xFF21));            // U+FF21, one UTF-16 unit
    const QString grinning = QString::fromUcs4(U"\U0001F600", 1); // U+1F600, surrogates D83D DE00
    ASSERT_LT(grinning, fullwidthA) << "as UTF-16 units the surrogate sorts first";
    EXPECT_EQ(sortedNames({{grinning}, {fullwidthA}}), (QStringList{fullwidthA, grinning}));
}

TEST(ApplicationOrderTest, ComparesNamesAfterCanonicalComposition) {
    const QString decomposed = QStringLiteral("e\u0301"); // e + combining acute: é once composed (U+00E9)
    EXPECT_EQ(sortedNames({{decomposed}, {QStringLiteral("f")}}), (QStringList{QStringLiteral("f"), decomposed}));
}

TEST(ApplicationOrderTest, EqualNamesKeepTheirOrder) {
    QList<Named> items{{QStringLiteral("\u00E9"), false, 1},
                       {QStringLiteral("Same"), true, 2},
                       {QStringLiteral("e\u0301"), false, 3},
                       {QStringLiteral("Same"), true, 4},
                       {QStringLiteral("\u00E9"), false, 5}};
    sortMandatoryFirstByName(
            items, [](const Named& item) { return item.mandatory; },
            [](const Named& item) -> const QString& { return item.name; });
    QList<int> positions;
    for (const auto& item : items) {
        positions.append(item.position);
    }
    EXPECT_THAT(positions, ElementsAre(2, 4, 1, 3, 5));
}

} // namespace
} // namespace tarn::test
