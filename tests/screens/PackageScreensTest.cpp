#include "components/LinkButton.h"
#include "components/Theme.h"
#include "screens/InstallationResultScreenView.h"
#include "screens/PackageChoice.h"
#include "screens/PackageManagerScreenView.h"
#include "screens/ResultPresentation.h"
#include "support/Gate.h"
#include "support/ScreenFixture.h"

namespace tarn::test {
namespace {

using testing::ElementsAre;
using testing::IsSupersetOf;

TEST(PackageChoiceTest, RowShowsNameDescriptionForTheLocaleTrialTagAndLock) {
    auto trial = appEntry(u"PaperStack"_s, false);
    trial.licenseType = LicenseType::trial;
    trial.descriptionLocalized = {{QStringLiteral("en"), QStringLiteral("Sorts scans")},
                                  {QStringLiteral("de"), QStringLiteral("Sortiert Scans")}};
    EXPECT_EQ(packageRow(trial, QLocale(QLocale::German, QLocale::Germany)),
              (PackageRow{QStringLiteral("PaperStack"), QStringLiteral("Sortiert Scans"),
                          QStringLiteral("software.type.trial"), false}));
    EXPECT_EQ(packageRow(trial, QLocale(QLocale::French, QLocale::France)).subtitle, QStringLiteral("Sorts scans"));

    EXPECT_EQ(packageRow(appEntry(u"Driver"_s, true), QLocale(QLocale::English, QLocale::UnitedStates)),
              (PackageRow{u"Driver"_s, std::nullopt, std::nullopt, true}));
    trial.licenseType = LicenseType::unknown;
    EXPECT_EQ(packageRow(trial, QLocale()).titleTag, std::nullopt);
}

TEST(PackageChoiceTest, DownloadLabelIsBoldBeforeTheBracketAndLightFromIt) {
    useShippedResources();
    const QList<StyledRun> runs = downloadLabel(3).runs(); // runs() answers a copy: keep it alive
    ASSERT_EQ(runs.size(), 2);
    const auto& [bold, light] = std::tie(runs[0], runs[1]);
    EXPECT_EQ(
            std::tuple(bold.text, bold.style.font->weight(), light.text, light.style.font->weight(), light.style.color),
            std::tuple(u"Download "_s, QFont::Bold, u"(3 apps)"_s, QFont::Light, theme::color(u"labelText")));
    EXPECT_EQ(downloadLabel(0).runs()[0].style.color, theme::color(u"ButtonPrimaryTextDisabled"));

    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(downloadLabel(2).runs()[1].text, QStringLiteral("(2 Apps)"));
    useShippedResources();
}

TEST(ResultPresentationTest, OutcomeChoosesPictureTextsAndAFailureListOnlyWhenSomethingFailed) {
    struct Case {
        bool successful;
        bool optionalFailed;
        const char* failedText; // nullptr: nothing failed
        const char* image;
        const char* title;
        QStringList failureLines;
    };
    const char* const ok = "info.success.title";
    const char* const failed = "info.error.install.fail.title";
    const QStringList listed{u"OCR - Checksum differs"_s};
    const Case cases[] = {
            {true, false, nullptr, "success", ok, {}},
            {true, true, "Checksum differs", "failure", ok, listed},
            {false, false, "Checksum differs", "failure", failed, listed},
            {false, false, "", "failure", failed, {u"OCR - "_s}}, // the separator stays
            {false, false, nullptr, "failure", failed, {}},       // fetch failed over a seeded list
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title + std::string(c.image) + (c.failedText ? c.failedText : "-"));
        QList<AppInstallTask> tasks{AppInstallTask::from(appEntry(u"Driver"_s, true)),
                                    AppInstallTask::from(appEntry(u"OCR"_s, false))};
        if (c.failedText) {
            tasks[1].state = ToInstallListItemViewState::failed;
            tasks[1].errorMessage = QString::fromLatin1(c.failedText);
        }
        const auto shown = resultPresentation(c.successful, c.optionalFailed, tasks, u"Last error"_s);
        EXPECT_EQ(shown.imageName, QLatin1String(c.image));
        EXPECT_EQ(shown.titleKey, QLatin1String(c.title));
        EXPECT_EQ(shown.subtitleKey, QString(shown.titleKey).replace(u"title"_s, u"subtitle"_s));
        EXPECT_EQ(shown.showsFailureList, c.failedText != nullptr);
        EXPECT_EQ(shown.failureLines, c.failureLines);
        EXPECT_EQ(shown.errorText, u"Last error"_s);
    }
}

class PackageScreensTest : public ScreenTest {
protected:
    // The package screen of the detected scanner with `configuration` loaded: by default two mandatory
    // applications and one optional one.
    PackageManagerScreenView& showPackages(const QByteArray& configuration = sampleConfigurationJson(
                                                   {sampleApps()[0], sampleApps()[1], sampleApps()[3]})) {
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
            .WillOnce([&answer](auto&&...) { return afterGate(&answer, sampleConfigurationJson()); });
    auto& packages = showScreen<PackageManagerScreenView>();
    EXPECT_TRUE(packages.isLoading() && packages.rows().isEmpty());
    EXPECT_FALSE(packages.buttons().next->isEnabled());
    EXPECT_EQ(packages.titleLabel()->accessibleName(), u"Applications for "_s + sampleCatalogue().first().name);
    answer.open();
    settle();
    EXPECT_FALSE(packages.isLoading());
    EXPECT_EQ(packages.rows().size(), 4);
}

TEST_F(PackageScreensTest, MandatoryRowsAreCheckedAndLockedAndTheCountFollowsTheChoice) {
    auto& packages = showPackages();
    const auto rows = packages.rows();
    ASSERT_EQ(rows.size(), 3);
    const QStringList titles{rows[0].second->text(), rows[2].second->text()};
    EXPECT_EQ(titles, (QStringList{u"TARN Capture"_s, u"TARN OCR Studio"_s}));
    for (int index : {0, 1}) {
        EXPECT_TRUE(rows[index].second->isChecked() && rows[index].second->isDisabled());
    }
    EXPECT_FALSE(rows[2].second->isChecked());
    EXPECT_EQ(rows[2].second->accessibleDescription(), sampleApps()[3].english);
    EXPECT_EQ(packages.buttons().next->text(), u"Download (2 apps)"_s);
    click(rows[2].second);
    EXPECT_EQ(packages.buttons().next->text(), u"Download (3 apps)"_s);
    click(rows[0].second);
    EXPECT_TRUE(rows[0].second->isChecked()) << "a locked row ignores the click";
    EXPECT_EQ(packages.buttons().next->text(), u"Download (3 apps)"_s);

    // Shown again, the screen fetches again and checks only what the workflow seeds.
    auto& again = showPackages();
    EXPECT_EQ(again.buttons().next->text(), u"Download (2 apps)"_s);
    EXPECT_FALSE(toggleTitled(again, u"TARN OCR Studio"_s)->isChecked());
}

TEST_F(PackageScreensTest, WithoutMandatoryApplicationsUncheckingEverythingDisablesDownload) {
    auto& packages = showPackages(sampleConfigurationJson({sampleApps()[2], sampleApps()[3]}));
    CustomToggleView* ocr = toggleTitled(packages, u"TARN OCR Studio"_s);
    for (const bool enabled : {false, true, false}) {
        EXPECT_EQ(packages.buttons().next->isEnabled(), enabled);
        click(ocr);
    }
}

TEST_F(PackageScreensTest, DownloadHandsTheChoiceToTheWorkflowInTaskOrder) {
    auto& packages = showPackages(sampleConfigurationJson());
    click(toggleTitled(packages, u"TARN OCR Studio"_s)); // chosen in the reverse of the task order
    click(toggleTitled(packages, u"PaperStack Organizer"_s));
    click(packages.buttons().next);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::installer);
    EXPECT_EQ(model().selectedAppsForInstallation().size(), 4);
    EXPECT_THAT(taskNames(model().tasksToRun()),
                ElementsAre("TARN Capture", "TARN Scanner Driver", "PaperStack Organizer", "TARN OCR Studio"));
}

TEST_F(PackageScreensTest, ResultShowsTheFailuresAndTheErrorAndOffersSupport) {
    const QString failure = u"A downloaded file failed its integrity check"_s;
    loadSampleConfiguration();
    model().selectedAppsForInstallation = model().deviceApplicationsModel()->apps;
    model().tasksToRun.modify([&failure](QList<AppInstallTask>& tasks) {
        tasks[3].state = ToInstallListItemViewState::failed;
        tasks[3].errorMessage = failure;
    });
    model().fatalErrorMessage = failure;
    auto& result = showScreen<InstallationResultScreenView>();
    EXPECT_THAT(shownTexts(result),
                IsSupersetOf({localized(u"info.success.title"), localized(u"failed.to.install.title"),
                              u"TARN OCR Studio - "_s + failure, failure}))
            << "an optional failure";

    auto* support = result.findChild<LinkButton*>();
    EXPECT_CALL(*opener, open(QUrl(u"https://support.test/EN-GB/c2473/Official-TARN-customer-Support.aspx"_s)))
            .Times(2);
    click(support);
    support->setFocus(Qt::TabFocusReason);
    QTest::keyClick(support, Qt::Key_Return);
}

} // namespace
} // namespace tarn::test
