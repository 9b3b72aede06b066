#pragma once

#include "services/InstallationError.h"
#include "support/Mocks.h"
#include "support/TestSupport.h"
#include "workflow/InstallationViewModel.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace tarn::test {

using namespace Qt::StringLiterals;

template <typename Mock>
using Strict = std::shared_ptr<testing::StrictMock<Mock>>;

inline TARNDeviceModel catalogueDevice(const QString& name, const QString& vid, const QString& pid) {
    return {name, vid, pid, u"https://config.test/devices/"_s + name, u"C0FFEE"_s + name};
}

// The documents the service answers, their fields one table each.
// clang-format off
inline QByteArray catalogueJson(const QList<TARNDeviceModel>& devices) {
    QJsonArray array;
    for (const auto& device : devices) {
        array.append(QJsonObject{{"name", device.name}, {"vid", device.vid}, {"pid", device.pid},
                                 {"configLink", device.configLink}, {"hash", device.hash}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

// One application entry of a configuration document.
struct OfferedApp {
    QString name;
    bool mandatory = false;
    QString installer = u"https://downloads.test/"_s + name + u".pkg"_s;
};

inline QByteArray configurationJson(const QList<OfferedApp>& apps,
                                    const QString& successUrl = u"https://tarn.test/welcome"_s) {
    QJsonArray array;
    for (const auto& app : apps) {
        array.append(QJsonObject{{"name", app.name}, {"version", "2.0"}, {"mandatory", app.mandatory},
                                 {"licenseType", "free"}, {"installer", app.installer}, {"hash", "ABCD" + app.name},
                                 {"pkgId", "com.tarn." + app.name}});
    }
    return QJsonDocument(QJsonObject{{"name", "Scanner"}, {"vid", "4A9"}, {"pid", "1A0B"}, {"successUrl", successUrl},
                                     {"apps", array}}).toJson(QJsonDocument::Compact);
}

inline TARNDeviceAppConfigurationModel appEntry(const QString& name, bool mandatory) {
    return {QUuid::createUuid(), name, u"2.0"_s, mandatory, LicenseType::full,
            u"https://downloads.test/"_s + name + u".pkg"_s, u"ABCD"_s + name, u"com.tarn."_s + name, {}};
}
// clang-format on

// The names of task rows or application entries, in order.
template <typename Named>
QStringList taskNames(const QList<Named>& items) {
    QStringList names;
    for (const auto& item : items) {
        names.append(item.name);
    }
    return names;
}

// A workflow object over mocked services. Expectations are set on the mocks before `model()` builds
// the object, since construction already talks to some of them.
class WorkflowTest : public ::testing::Test {
protected:
    WorkflowTest() {
        settings.serviceBaseUrl = u"https://config.test"_s;
        settings.supportBaseUrl = u"https://support.test"_s;
        // Long enough that a test relying on an early end would hang rather than pass by accident.
        settings.searchTimeLimit = std::chrono::hours(1);
        settings.pauseBetweenQueries = std::chrono::hours(1);
    }

    ~WorkflowTest() override {
        viewModel.reset();
        drainPostedEvents();
    }

    InstallationViewModel& model() {
        if (!viewModel) {
            viewModel = std::make_unique<InstallationViewModel>(services(), settings);
        }
        return *viewModel;
    }

    InstallationServices services() {
        return {logger, monitor, permissions, usb, processRunner, pkgHelper, validator, rest, installer, opener};
    }

    static QUrl catalogueUrl() {
        return QUrl(u"https://config.test/support/Softwaredownloadcenter/Mac_ScannersConfig"_s);
    }

    // Answers every catalogue fetch with `body`.
    void serveCatalogue(const QByteArray& body) {
        EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), std::optional<QString>(), u"content"_s))
                .WillRepeatedly(ReturnTask(body));
    }

    // Fetches the catalogue through the model, as the consents would.
    void loadCatalogue(const QList<TARNDeviceModel>& devices) {
        serveCatalogue(catalogueJson(devices));
        test::waitFor(model().fetchSupportedDevices());
    }

    // A real file standing for a downloaded installer.
    QUrl downloaded(const QString& name) {
        const QString path = downloads.filePath(name + u".pkg"_s);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("xar!");
        return QUrl::fromLocalFile(path);
    }

    static QUrl linkOf(const QString& name) { return QUrl(u"https://downloads.test/"_s + name + u".pkg"_s); }

    void expectNeeded(const QString& name, bool needed) {
        EXPECT_CALL(*pkgHelper, isInstallationNeeded(u"com.tarn."_s + name, u"2.0"_s)).WillOnce(ReturnTask(needed));
    }

    // The download reports half and then all of it.
    void expectDownload(const QString& name, const QUrl& file) {
        EXPECT_CALL(*rest, downloadFile(linkOf(name), testing::_))
                .WillOnce([file](QUrl, std::function<void(DownloadProgress)> progress) {
                    progress({512, 1024});
                    progress({1024, 1024});
                    return readyTask(file);
                });
    }

    // The offered application `name` needs installing, downloads and installs, or fails with `failure`.
    void expectInstallation(const QString& name, std::optional<InstallationError> failure = std::nullopt) {
        const QUrl file = downloaded(name);
        expectNeeded(name, true);
        expectDownload(name, file);
        EXPECT_CALL(*installer,
                    install(file.toLocalFile(), name, u"ABCD"_s + name, InstallationViewModel::trustedSigners()))
                .WillOnce([failure](QString path, auto&&...) {
                    EXPECT_TRUE(QFile::exists(path)) << "the download is kept until installed";
                    return failure ? failingTask<void>(*failure) : readyTask();
                });
    }

    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<FakeNetworkPathSource> pathSource = std::make_shared<FakeNetworkPathSource>();
    std::shared_ptr<NetworkMonitor> monitor = std::make_shared<NetworkMonitor>(pathSource);
    std::shared_ptr<testing::NiceMock<MockSystemPermissionsManager>> permissions =
            std::make_shared<testing::NiceMock<MockSystemPermissionsManager>>();
    Strict<MockUSBScannerHelper> usb = std::make_shared<testing::StrictMock<MockUSBScannerHelper>>();
    Strict<MockProcessRunner> processRunner = std::make_shared<testing::StrictMock<MockProcessRunner>>();
    Strict<MockPkgUtilHelper> pkgHelper = std::make_shared<testing::StrictMock<MockPkgUtilHelper>>();
    Strict<MockInstallerValidator> validator = std::make_shared<testing::StrictMock<MockInstallerValidator>>();
    Strict<MockRestClient> rest = std::make_shared<testing::StrictMock<MockRestClient>>();
    Strict<MockInstallerHelper> installer = std::make_shared<testing::StrictMock<MockInstallerHelper>>();
    Strict<MockUrlOpener> opener = std::make_shared<testing::StrictMock<MockUrlOpener>>();
    InstallationSettings settings;
    QTemporaryDir downloads;
    std::unique_ptr<InstallationViewModel> viewModel;
};

} // namespace tarn::test
