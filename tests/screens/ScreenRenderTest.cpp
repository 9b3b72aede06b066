#include "components/CustomToggleView.h"
#include "components/Resources.h"
#include "components/ToInstallListItemView.h"
#include "screens/InstallManagerScreenView.h"
#include "screens/PackageManagerScreenView.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "screens/ViewExt.h"
#include "services/InstallationError.h"
#include "services/RestClientError.h"
#include "support/Gate.h"
#include "support/ScreenFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

namespace tarn::test {
namespace {

using Screen = Coordinator::Screen;
using testing::_;
using testing::Return;

// Pictures of every screen at the window's size, with sample data, for people to look at; the
// documentation's screenshots are copied from them.
class ScreenRenderTest : public ScreenTest {
protected:
    ScreenRenderTest() { goOnline(); }

    // Shows a fresh view of `screen` on the window background at 900 by 700, lets its on-appear work
    // land, and saves the picture as screen-<name>.png.
    QImage render(Screen screen, const QString& name, const std::function<void(ScreenView&)>& prepare = {}) {
        auto* view = makeScreenView(screen, coordinator, model());
        BackgroundWidget stage(view);
        stage.resize(900, 700);
        stage.show();
        settle();
        if (prepare) {
            prepare(*view);
            settle();
        }
        // Pictures of the screens as they open, without the keyboard focus the test stage gave.
        if (QWidget* focused = QApplication::focusWidget()) {
            focused->clearFocus();
        }
        // Opaque, like the window: no alpha channel to store.
        QImage image(stage.size(), QImage::Format_RGB32);
        image.fill(Qt::black);
        stage.render(&image);
        EXPECT_TRUE(saveRender(image, QStringLiteral("screen-") + name));
        return image;
    }

    // Answers the installation run's calls for one sample application.
    void expectInstalled(const SampleApp& app) {
        const QString path = downloads.filePath(app.slug() + QStringLiteral(".pkg"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_CALL(*pkgHelper, isInstallationNeeded(app.pkgId(), _)).WillRepeatedly(ReturnTask(true));
        EXPECT_CALL(*rest, downloadFile(app.installerUrl(), _)).WillRepeatedly(ReturnTask(QUrl::fromLocalFile(path)));
        EXPECT_CALL(*installer, install(path, app.name, _, _)).WillRepeatedly(ReturnVoidTask());
    }

    // The sample run: both mandatory applications installed, the trial's download refused by a
    // digest mismatch, and the last one held in its installation until `gate` opens.
    void expectSampleRun(Gate& gate) {
        const QList<SampleApp> apps = sampleApps();
        expectInstalled(apps[0]);
        expectInstalled(apps[1]);
        EXPECT_CALL(*pkgHelper, isInstallationNeeded(apps[2].pkgId(), _)).WillRepeatedly(ReturnTask(true));
        EXPECT_CALL(*rest, downloadFile(apps[2].installerUrl(), _))
                .WillRepeatedly(ThrowTask<QUrl>(InstallationError::mismatchHash(QStringLiteral("digest differs"))));
        const QString held = downloads.filePath(QStringLiteral("held.pkg"));
        QFile(held).open(QIODevice::WriteOnly);
        EXPECT_CALL(*pkgHelper, isInstallationNeeded(apps[3].pkgId(), _)).WillRepeatedly(ReturnTask(true));
        EXPECT_CALL(*rest, downloadFile(apps[3].installerUrl(), _))
                .WillRepeatedly(ReturnTask(QUrl::fromLocalFile(held)));
        EXPECT_CALL(*installer, install(held, apps[3].name, _, _)).WillRepeatedly([&gate](auto&&...) {
            return afterGate(&gate);
        });
    }

    // Every application chosen, as a Download with all boxes ticked leaves it.
    void chooseAllSampleApps() {
        loadSampleConfiguration();
        model().selectedAppsForInstallation = model().deviceApplicationsModel()->apps;
    }

    QTemporaryDir downloads;
};

TEST_F(ScreenRenderTest, Onboarding) {
    render(Screen::welcome, QStringLiteral("welcome"));
    render(Screen::eula, QStringLiteral("eula"));
    model().isEulaAccepted = true;
    serveSampleCatalogue();
    render(Screen::legal, QStringLiteral("legal"));
}

TEST_F(ScreenRenderTest, DeviceScreens) {
    // The search the search screen starts ends at once, finding nothing.
    settings.searchTimeLimit = std::chrono::milliseconds(0);
    settings.pauseBetweenQueries = std::chrono::milliseconds(0);
    serveSampleCatalogue();
    render(Screen::deviceConnect, QStringLiteral("connect"));

    model().deviceSearchStatus = DeviceSearchState::searching();
    EXPECT_CALL(*usb, findMatchingUSBDevices(_)).WillRepeatedly(ReturnTask(QList<USBDeviceModel>()));
    render(Screen::deviceSearch, QStringLiteral("search"));

    detect(sampleCatalogue().first());
    render(Screen::deviceDetected, QStringLiteral("detected"));

    model().deviceModel = std::nullopt;
    model().deviceSearchStatus = DeviceSearchState::notFound();
    render(Screen::deviceDetected, QStringLiteral("detected-not-found"));

    render(Screen::networkingIssue, QStringLiteral("no-connection"));
}

TEST_F(ScreenRenderTest, PackageChoice) {
    detect(sampleCatalogue().first());
    serveConfiguration(sampleCatalogue().first());
    render(Screen::appManager, QStringLiteral("packages"), [](ScreenView& view) {
        auto& packages = static_cast<PackageManagerScreenView&>(view);
        for (const auto& [entry, toggle] : packages.rows()) {
            if (entry.name == QLatin1String("PaperStack Organizer")) {
                toggle->click();
            }
        }
    });
}

TEST_F(ScreenRenderTest, InstallationAndResult) {
    Gate gate;
    chooseAllSampleApps();
    expectSampleRun(gate);
    render(Screen::installer, QStringLiteral("installer"));

    gate.open();
    settle();
    render(Screen::installResult, QStringLiteral("result-optional-failed"));
}

// The second application a third of the way through a 418 MB download, the first one installed.
TEST_F(ScreenRenderTest, InstallationMidDownload) {
    Gate gate;
    chooseAllSampleApps();
    const QList<SampleApp> apps = sampleApps();
    expectInstalled(apps[0]);
    expectInstalled(apps[2]);
    expectInstalled(apps[3]);
    const QString held = downloads.filePath(QStringLiteral("held.pkg"));
    QFile(held).open(QIODevice::WriteOnly);
    EXPECT_CALL(*pkgHelper, isInstallationNeeded(apps[1].pkgId(), _)).WillRepeatedly(ReturnTask(true));
    EXPECT_CALL(*rest, downloadFile(apps[1].installerUrl(), _))
            .WillRepeatedly([&gate, held](QUrl, std::function<void(DownloadProgress)> progress) {
                progress({142'300'000, 418'000'000});
                return afterGate(&gate, QUrl::fromLocalFile(held));
            });
    EXPECT_CALL(*installer, install(held, apps[1].name, _, _)).WillRepeatedly(ReturnVoidTask());

    render(Screen::installer, QStringLiteral("installer-downloading"), [](ScreenView& view) {
        // The figures come with the next redraw the row allows.
        const auto rows = view.findChildren<ToInstallListItemView*>();
        ASSERT_EQ(rows.size(), 4);
        QElapsedTimer waited;
        waited.start();
        while (rows[1]->displayedProgressText().isEmpty() && waited.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        EXPECT_EQ(rows[1]->displayedProgressText(), QStringLiteral("34 % · 142 of 418 MB"));
    });
    gate.open();
    settle();
}

TEST_F(ScreenRenderTest, ResultVariantsAndCancel) {
    chooseAllSampleApps();
    for (const SampleApp& app : sampleApps()) {
        expectInstalled(app);
    }
    test::waitFor(model().installSelectedApplications());
    settle();
    render(Screen::installResult, QStringLiteral("result-success"));

    model().tasksToRun.modify([](QList<AppInstallTask>& tasks) {
        tasks[0].state = ToInstallListItemViewState::failed;
        tasks[0].errorMessage = localized(u"error.code.signature.mismatch");
    });
    model().fatalErrorMessage = localized(u"error.code.signature.mismatch");
    render(Screen::installResult, QStringLiteral("result-failed"));

    render(Screen::exit, QStringLiteral("cancel"));
}

TEST_F(ScreenRenderTest, LongerGermanTexts) {
    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    detect(sampleCatalogue().first());
    serveConfiguration(sampleCatalogue().first());
    render(Screen::eula, QStringLiteral("de-eula"));
    render(Screen::deviceDetected, QStringLiteral("de-detected"));
    render(Screen::appManager, QStringLiteral("de-packages"));
    render(Screen::networkingIssue, QStringLiteral("de-no-connection"));
    model().isInstallationSuccessful = false;
    model().fatalErrorMessage = localized(u"error.connectivity");
    render(Screen::installResult, QStringLiteral("de-result-failed"));
    QLocale::setDefault(QLocale::system());
    useShippedResources();
}

} // namespace
} // namespace tarn::test
