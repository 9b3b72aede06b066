#include "components/LinkButton.h"
#include "components/Theme.h"
#include "components/ToInstallListItemView.h"
#include "screens/InstallationResultScreenView.h"
#include "screens/PackageChoice.h"
#include "screens/PackageManagerScreenView.h"
#include "screens/ResultPresentation.h"
#include "support/Gate.h"
#include "support/ScreenFixture.h"

#include <QLabel>

namespace tarn::test {
namespace {

using Screen = Coordinator::Screen;
using testing::_;
using testing::ElementsAre;
using testing::Return;

TARNDeviceAppConfigurationModel entryNamed(const QString& name, bool mandatory,
                                           LicenseType license = LicenseType::full) {
    auto entry = appEntry(name, mandatory);
    entry.licenseType = license;
    return entry;
}

TEST(PackageChoiceTest, SeedingChoosesAndTheUserChangesOnlyWhatTheyTouch) {
    const auto driver = entryNamed(QStringLiteral("Driver"), true);
    const auto capture = entryNamed(QStringLiteral("Capture"), true);
    const auto ocr = entryNamed(QStringLiteral("OCR"), false);
    PackageChoice choice;
    EXPECT_FALSE(choice.anyChosen());
    EXPECT_FALSE(choice.isChosen(ocr)) << "an entry without a value is not chosen";

    choice.seed({driver, capture});
    choice.setChosen(ocr, true);
    EXPECT_EQ(choice.chosenCount(), 3);
    choice.setChosen(ocr, false);
    choice.seed({driver});
    EXPECT_EQ(choice.chosenCount(), 2);
    EXPECT_FALSE(choice.isChosen(ocr)) << "seeding again leaves the others as they are";
    EXPECT_EQ(choice.chosenApplications(), (QList{driver, capture}));

    // Another decoding of the same application is another entry.
    auto redecoded = driver;
    redecoded.id = QUuid::createUuid();
    EXPECT_FALSE(choice.isChosen(redecoded));
}

TEST(PackageChoiceTest, RowShowsNameDescriptionForTheLocaleTrialTagAndLock) {
    auto trial = entryNamed(QStringLiteral("PaperStack"), false, LicenseType::trial);
    trial.descriptionLocalized = {{QStringLiteral("en"), QStringLiteral("Sorts scans")},
                                  {QStringLiteral("de"), QStringLiteral("Sortiert Scans")}};
    EXPECT_EQ(packageRow(trial, QLocale(QLocale::German, QLocale::Germany)),
              (PackageRow{QStringLiteral("PaperStack"), QStringLiteral("Sortiert Scans"),
                          QStringLiteral("software.type.trial"), false}));
    EXPECT_EQ(packageRow(trial, QLocale(QLocale::French, QLocale::France)).subtitle, QStringLiteral("Sorts scans"));

    const auto driver = entryNamed(QStringLiteral("Driver"), true);
    EXPECT_EQ(packageRow(driver, QLocale(QLocale::English, QLocale::UnitedStates)),
              (PackageRow{QStringLiteral("Driver"), std::nullopt, std::nullopt, true}));
    EXPECT_EQ(packageRow(entryNamed(QStringLiteral("X"), false, LicenseType::unknown), QLocale()).titleTag,
              std::nullopt);
}

TEST(PackageChoiceTest, DownloadLabelIsBoldBeforeTheBracketAndLightFromIt) {
    useShippedResources();
    const StyledText three = downloadLabel(3);
    ASSERT_EQ(three.runs().size(), 2);
    EXPECT_EQ(three.runs()[0].text, QStringLiteral("Download "));
    EXPECT_EQ(three.runs()[0].style.font->weight(), QFont::Bold);
    EXPECT_EQ(three.runs()[1].text, QStringLiteral("(3 apps)"));
    EXPECT_EQ(three.runs()[1].style.font->weight(), QFont::Light);
    EXPECT_EQ(three.runs()[1].style.color, theme::color(u"labelText"));
    EXPECT_EQ(downloadLabel(0).runs()[0].style.color, theme::color(u"ButtonPrimaryTextDisabled"));

    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(downloadLabel(2).runs()[1].text, QStringLiteral("(2 Apps)"));
    useShippedResources();
}

TEST(ResultPresentationTest, OutcomeChoosesPictureTextsAndAFailureListOnlyWhenSomethingFailed) {
    struct Case {
        const char* name;
        bool successful;
        bool optionalFailed;
        bool oneFailed;
        const char* image;
        const char* title;
    };
    const Case cases[] = {
            {"AllDone", true, false, false, "success", "info.success.title"},
            {"OptionalFailed", true, true, true, "failure", "info.success.title"},
            {"MandatoryFailed", false, false, true, "failure", "info.error.install.fail.title"},
            {"FetchFailedOverASeededList", false, false, false, "failure", "info.error.install.fail.title"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QList<AppInstallTask> tasks{AppInstallTask::from(appEntry(QStringLiteral("Driver"), true)),
                                    AppInstallTask::from(appEntry(QStringLiteral("OCR"), false))};
        if (c.oneFailed) {
            tasks[1].state = ToInstallListItemViewState::failed;
            tasks[1].errorMessage = QStringLiteral("Checksum differs");
        }
        const auto shown = resultPresentation(c.successful, c.optionalFailed, tasks, QStringLiteral("Last error"));
        EXPECT_EQ(shown.imageName, QLatin1String(c.image));
        EXPECT_EQ(shown.titleKey, QLatin1String(c.title));
        EXPECT_EQ(shown.subtitleKey,
                  QString(shown.titleKey).replace(QStringLiteral("title"), QStringLiteral("subtitle")));
        EXPECT_EQ(shown.showsFailureList, c.oneFailed);
        EXPECT_EQ(shown.failureLines,
                  c.oneFailed ? QStringList{QStringLiteral("OCR - Checksum differs")} : QStringList());
        EXPECT_EQ(shown.errorText, QStringLiteral("Last error"));
    }
    // A failure without a text keeps the separator.
    auto task = AppInstallTask::from(appEntry(QStringLiteral("Broken link"), true));
    task.state = ToInstallListItemViewState::failed;
    EXPECT_EQ(resultPresentation(false, false, {task}, QString()).failureLines,
              QStringList{QStringLiteral("Broken link - ")});
}

class PackageScreensTest : public ScreenTest {
protected:
    // Two mandatory applications and one optional one.
    static QByteArray threeApps() {
        const QList<SampleApp> apps = sampleApps();
        return sampleConfigurationJson({apps[0], apps[1], apps[3]});
    }

    // The package screen of the detected scanner with `configuration` loaded.
    PackageManagerScreenView& showPackages(const QByteArray& configuration = sampleConfigurationJson()) {
        detect(sampleCatalogue().first());
        serveConfiguration(sampleCatalogue().first(), configuration);
        auto& packages = showScreen<PackageManagerScreenView>();
        settle();
        return packages;
    }
};

TEST_F(PackageScreensTest, SpinnerAloneWhileTheConfigurationLoads) {
    Gate answer;
    detect(sampleCatalogue().first());
    EXPECT_CALL(*rest, fetchVerifiedBody(QUrl(sampleCatalogue().first().configLink), _, _))
            .WillOnce([&answer](auto&&...) { return afterGate(&answer, threeApps()); });
    auto& packages = showScreen<PackageManagerScreenView>();
    EXPECT_TRUE(packages.isLoading());
    EXPECT_TRUE(packages.rows().isEmpty());
    EXPECT_FALSE(packages.buttons().next->isEnabled());
    EXPECT_EQ(packages.titleLabel()->accessibleName(),
              QStringLiteral("Applications for ") + sampleCatalogue().first().name);

    answer.open();
    settle();
    EXPECT_FALSE(packages.isLoading());
    EXPECT_EQ(packages.rows().size(), 3);
}

TEST_F(PackageScreensTest, MandatoryRowsAreCheckedAndLockedAndTheCountFollowsTheChoice) {
    auto& packages = showPackages(threeApps());
    const auto rows = packages.rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].second->text(), QStringLiteral("TARN Capture"));
    EXPECT_EQ(rows[2].second->text(), QStringLiteral("TARN OCR Studio"));
    for (int index : {0, 1}) {
        EXPECT_TRUE(rows[index].second->isChecked());
        EXPECT_TRUE(rows[index].second->isDisabled());
    }
    EXPECT_FALSE(rows[2].second->isChecked());
    EXPECT_EQ(rows[2].second->accessibleDescription(), sampleApps()[3].english);
    EXPECT_TRUE(packages.buttons().next->isEnabled());
    EXPECT_EQ(packages.buttons().next->text(), QStringLiteral("Download (2 apps)"));

    click(rows[2].second);
    EXPECT_EQ(packages.buttons().next->text(), QStringLiteral("Download (3 apps)"));
    click(rows[0].second);
    EXPECT_TRUE(rows[0].second->isChecked()) << "a locked row ignores the click";
    EXPECT_EQ(packages.choice().chosenCount(), 3);

    // Shown again, the screen fetches again and checks only what the workflow seeds.
    auto& again = showPackages(threeApps());
    EXPECT_EQ(again.choice().chosenCount(), 2);
    EXPECT_FALSE(toggleTitled(again, QStringLiteral("TARN OCR Studio"))->isChecked());
}

TEST_F(PackageScreensTest, DownloadHandsTheChoiceToTheWorkflowInTaskOrder) {
    auto& packages = showPackages();
    // Chosen in the reverse of the task order.
    click(toggleTitled(packages, QStringLiteral("TARN OCR Studio")));
    click(toggleTitled(packages, QStringLiteral("PaperStack Organizer")));

    click(packages.buttons().next);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::installer);
    EXPECT_EQ(model().selectedAppsForInstallation().size(), 4);
    EXPECT_THAT(taskNames(model().tasksToRun()),
                ElementsAre("TARN Capture", "TARN Scanner Driver", "PaperStack Organizer", "TARN OCR Studio"));
}

TEST_F(PackageScreensTest, WithoutMandatoryApplicationsUncheckingEverythingDisablesDownload) {
    auto& packages = showPackages(sampleConfigurationJson({sampleApps()[2], sampleApps()[3]}));
    EXPECT_FALSE(packages.buttons().next->isEnabled()) << "nothing is preselected";

    CustomToggleView* ocr = toggleTitled(packages, QStringLiteral("TARN OCR Studio"));
    click(ocr);
    EXPECT_TRUE(packages.buttons().next->isEnabled());
    click(ocr);
    EXPECT_FALSE(packages.buttons().next->isEnabled());
}

TEST_F(PackageScreensTest, ResultShowsTheFailuresAndTheErrorAndOffersSupport) {
    loadSampleConfiguration();
    model().selectedAppsForInstallation = model().deviceApplicationsModel()->apps;
    model().tasksToRun.modify([](QList<AppInstallTask>& tasks) {
        tasks[3].state = ToInstallListItemViewState::failed;
        tasks[3].errorMessage = QStringLiteral("A downloaded file failed its integrity check");
    });
    model().fatalErrorMessage = QStringLiteral("A downloaded file failed its integrity check");
    auto& result = showScreen<InstallationResultScreenView>();
    EXPECT_EQ(result.presentation().imageName, QStringLiteral("failure"));
    EXPECT_EQ(result.presentation().titleKey, QStringLiteral("info.success.title"));
    EXPECT_TRUE(result.failureList()->isVisible());
    QStringList lines;
    for (const QLabel* label : result.failureList()->findChildren<QLabel*>()) {
        lines.append(label->text());
    }
    EXPECT_TRUE(lines.contains(QStringLiteral("TARN OCR Studio - A downloaded file failed its integrity check")));
    EXPECT_EQ(result.errorLabel()->text(), QStringLiteral("A downloaded file failed its integrity check"));

    auto* support = result.findChild<LinkButton*>();

    EXPECT_CALL(*opener,
                open(QUrl(QStringLiteral("https://support.test/EN-GB/c2473/Official-TARN-customer-Support.aspx"))))
            .Times(2);
    click(support);
    support->setFocus(Qt::TabFocusReason);
    QTest::keyClick(support, Qt::Key_Return);
}

TEST_F(PackageScreensTest, CloseOpensTheSuccessPageOnlyAfterSuccessThenQuits) {
    loadSampleConfiguration();
    finishEmptyRun();
    auto& result = showScreen<InstallationResultScreenView>();
    EXPECT_TRUE(result.failureList()->isHidden()) << "nothing failed";
    EXPECT_CALL(*opener, open(QUrl(QStringLiteral("https://tarn.test/welcome"))));
    click(buttonWithKey(result, QStringLiteral("button.close")));
    EXPECT_EQ(host->terminationRequests, 1);

    model().isInstallationSuccessful = false;
    click(buttonWithKey(result, QStringLiteral("button.close")));
    EXPECT_EQ(host->terminationRequests, 2);
}

} // namespace
} // namespace tarn::test
