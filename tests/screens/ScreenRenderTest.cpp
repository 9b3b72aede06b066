#include "components/ToInstallListItemView.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "services/InstallationError.h"
#include "support/Gate.h"
#include "support/ScreenFixture.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

namespace tarn::test {
namespace {

using namespace Qt::StringLiterals;
using Screen = Coordinator::Screen;
using testing::_;

// Pictures of every screen at the window's size, with sample data, for people to look at; the
// documentation's screenshots are copied from them.
class ScreenRenderTest : public ScreenTest {
protected:
    ScreenRenderTest() { goOnline(); }

    // Shows a fresh view of `screen` on the window background at 900 by 700, lets its on-appear work
    // land, and saves the picture, without the keyboard focus the test stage gave, as screen-<name>.png.
    void render(Screen screen, const QString& name, const std::function<void(ScreenView&)>& prepare = {}) {
        auto* view = makeScreenView(screen, coordinator, model());
        BackgroundWidget stage(view);
        stage.resize(900, 700);
        stage.show();
        settle();
        if (prepare) {
            prepare(*view);
            settle();
        }
        if (QWidget* focused = QApplication::focusWidget()) {
            focused->clearFocus();
        }
        QImage image(stage.size(), QImage::Format_RGB32); // opaque, like the window
        image.fill(Qt::black);
        stage.render(&image);
        EXPECT_TRUE(saveRender(image, u"screen-"_s + name));
    }

    // Answers the installation run's calls for `app`: its download as `download` does, then its
    // installation as `install` does.
    template <typename Download, typename Install>
    void answer(const SampleApp& app, Download download, Install install) {
        EXPECT_CALL(*pkgHelper, isInstallationNeeded(app.pkgId(), _)).WillRepeatedly(ReturnTask(true));
        EXPECT_CALL(*rest, downloadFile(app.installerUrl(), _)).WillRepeatedly(download);
        EXPECT_CALL(*installer, install(_, app.name, _, _)).WillRepeatedly(install);
    }
    void answerInstalled(const SampleApp& app) { answer(app, ReturnTask(downloaded()), ReturnVoidTask()); }
    QUrl downloaded() {
        const QString path = downloads.filePath(u"app.pkg"_s);
        QFile(path).open(QIODevice::WriteOnly);
        return QUrl::fromLocalFile(path);
    }

    // Every application chosen, as a Download with all boxes ticked leaves it.
    void chooseAllSampleApps() {
        loadSampleConfiguration();
        model().selectedAppsForInstallation = model().deviceApplicationsModel()->apps;
    }

    QTemporaryDir downloads;
    const QList<SampleApp> apps = sampleApps();
};

TEST_F(ScreenRenderTest, Onboarding) {
    render(Screen::welcome, u"welcome"_s);
    render(Screen::eula, u"eula"_s);
    model().isEulaAccepted = true;
    serveSampleCatalogue();
    render(Screen::legal, u"legal"_s);
}

TEST_F(ScreenRenderTest, DeviceScreens) {
    // The search the search screen starts ends at once, finding nothing.
    settings.searchTimeLimit = std::chrono::milliseconds(0);
    settings.pauseBetweenQueries = std::chrono::milliseconds(0);
    serveSampleCatalogue();
    render(Screen::deviceConnect, u"connect"_s);
    model().deviceSearchStatus = DeviceSearchState::searching();
    EXPECT_CALL(*usb, findMatchingUSBDevices(_)).WillRepeatedly(ReturnTask(QList<USBDeviceModel>()));
    render(Screen::deviceSearch, u"search"_s);
    detect(sampleCatalogue().first());
    render(Screen::deviceDetected, u"detected"_s);
    render(Screen::networkingIssue, u"no-connection"_s);
}

TEST_F(ScreenRenderTest, PackageChoice) {
    detect(sampleCatalogue().first());
    serveConfiguration(sampleCatalogue().first());
    render(Screen::appManager, u"packages"_s,
           [](ScreenView& view) { toggleTitled(view, u"PaperStack Organizer"_s)->click(); });
}

// Both mandatory applications installed, the trial's download refused by a digest mismatch, and the
// last one held in its installation.
TEST_F(ScreenRenderTest, InstallationAndResult) {
    Gate gate;
    chooseAllSampleApps();
    answerInstalled(apps[0]);
    answerInstalled(apps[1]);
    answer(apps[2], ThrowTask<QUrl>(InstallationError::mismatchHash(u"digest differs"_s)), ReturnVoidTask());
    answer(apps[3], ReturnTask(downloaded()), [&gate](auto&&...) { return afterGate(&gate); });
    render(Screen::installer, u"installer"_s);
    gate.open();
    settle();
    render(Screen::installResult, u"result-optional-failed"_s);
}

// The second application a third of the way through a 418 MB download, the first one installed.
TEST_F(ScreenRenderTest, InstallationMidDownload) {
    Gate gate;
    chooseAllSampleApps();
    for (const int index : {0, 2, 3}) {
        answerInstalled(apps[index]);
    }
    answer(
            apps[1],
            [this, &gate](QUrl, std::function<void(DownloadProgress)> progress) {
                progress({142'300'000, 418'000'000});
                return afterGate(&gate, downloaded());
            },
            ReturnVoidTask());
    render(Screen::installer, u"installer-downloading"_s, [](ScreenView& view) {
        // The figures come with the next redraw the row allows.
        const auto rows = view.findChildren<ToInstallListItemView*>();
        ASSERT_TRUE(processEventsUntil([&] { return !rows[1]->displayedProgressText().isEmpty(); },
                                       std::chrono::seconds(5)));
    });
    gate.open();
    settle();
}

TEST_F(ScreenRenderTest, ResultAndCancel) {
    chooseAllSampleApps();
    for (const SampleApp& app : apps) {
        answerInstalled(app);
    }
    test::waitFor(model().installSelectedApplications());
    settle();
    render(Screen::installResult, u"result-success"_s);
    render(Screen::exit, u"cancel"_s);
}

} // namespace
} // namespace tarn::test
