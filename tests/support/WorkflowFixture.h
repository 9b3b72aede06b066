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

inline TARNDeviceModel catalogueDevice(const QString& name, const QString& vid, const QString& pid) {
    return {name, vid, pid, QStringLiteral("https://config.test/devices/") + name, QStringLiteral("C0FFEE") + name};
}

inline QByteArray catalogueJson(const QList<TARNDeviceModel>& devices) {
    QJsonArray array;
    for (const auto& device : devices) {
        array.append(QJsonObject{{QStringLiteral("name"), device.name},
                                 {QStringLiteral("vid"), device.vid},
                                 {QStringLiteral("pid"), device.pid},
                                 {QStringLiteral("configLink"), device.configLink},
                                 {QStringLiteral("hash"), device.hash}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

// One application entry of a configuration document.
struct OfferedApp {
    QString name;
    bool mandatory = false;
    QString installer = QStringLiteral("https://downloads.test/") + name + QStringLiteral(".pkg");
};

inline QByteArray configurationJson(const QList<OfferedApp>& apps,
                                    const QString& successUrl = QStringLiteral("https://tarn.test/welcome")) {
    QJsonArray array;
    for (const auto& app : apps) {
        array.append(QJsonObject{{QStringLiteral("name"), app.name},
                                 {QStringLiteral("version"), QStringLiteral("2.0")},
                                 {QStringLiteral("mandatory"), app.mandatory},
                                 {QStringLiteral("licenseType"), QStringLiteral("free")},
                                 {QStringLiteral("installer"), app.installer},
                                 {QStringLiteral("hash"), QStringLiteral("ABCD") + app.name},
                                 {QStringLiteral("pkgId"), QStringLiteral("com.tarn.") + app.name}});
    }
    const QJsonObject root{{QStringLiteral("name"), QStringLiteral("Scanner")},
                           {QStringLiteral("vid"), QStringLiteral("4A9")},
                           {QStringLiteral("pid"), QStringLiteral("1A0B")},
                           {QStringLiteral("successUrl"), successUrl},
                           {QStringLiteral("apps"), array}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

inline TARNDeviceAppConfigurationModel appEntry(const QString& name, bool mandatory) {
    TARNDeviceAppConfigurationModel entry;
    entry.id = QUuid::createUuid();
    entry.name = name;
    entry.version = QStringLiteral("2.0");
    entry.mandatory = mandatory;
    entry.licenseType = LicenseType::full;
    entry.installer = QStringLiteral("https://downloads.test/") + name + QStringLiteral(".pkg");
    entry.hash = QStringLiteral("ABCD") + name;
    entry.pkgId = QStringLiteral("com.tarn.") + name;
    return entry;
}

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
        settings.serviceBaseUrl = QStringLiteral("https://config.test");
        settings.supportBaseUrl = QStringLiteral("https://support.test");
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
        return QUrl(QStringLiteral("https://config.test/support/Softwaredownloadcenter/Mac_ScannersConfig"));
    }

    // Answers every catalogue fetch with `body`.
    void serveCatalogue(const QByteArray& body) {
        EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), std::optional<QString>(), QStringLiteral("content")))
                .WillRepeatedly(ReturnTask(body));
    }

    // Fetches the catalogue through the model, as the consents would.
    void loadCatalogue(const QList<TARNDeviceModel>& devices) {
        serveCatalogue(catalogueJson(devices));
        test::waitFor(model().fetchSupportedDevices());
    }

    // A real file standing for a downloaded installer.
    QUrl downloaded(const QString& name) {
        const QString path = downloads.filePath(name + QStringLiteral(".pkg"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("xar!");
        return QUrl::fromLocalFile(path);
    }

    static QUrl linkOf(const QString& name) {
        return QUrl(QStringLiteral("https://downloads.test/") + name + QStringLiteral(".pkg"));
    }

    void expectNeeded(const QString& name, bool needed) {
        EXPECT_CALL(*pkgHelper, isInstallationNeeded(QStringLiteral("com.tarn.") + name, QStringLiteral("2.0")))
                .WillOnce(ReturnTask(needed));
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
        EXPECT_CALL(*installer, install(file.toLocalFile(), name, QStringLiteral("ABCD") + name,
                                        InstallationViewModel::trustedSigners()))
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
    std::shared_ptr<testing::StrictMock<MockUSBScannerHelper>> usb =
            std::make_shared<testing::StrictMock<MockUSBScannerHelper>>();
    std::shared_ptr<testing::StrictMock<MockProcessRunner>> processRunner =
            std::make_shared<testing::StrictMock<MockProcessRunner>>();
    std::shared_ptr<testing::StrictMock<MockPkgUtilHelper>> pkgHelper =
            std::make_shared<testing::StrictMock<MockPkgUtilHelper>>();
    std::shared_ptr<testing::StrictMock<MockInstallerValidator>> validator =
            std::make_shared<testing::StrictMock<MockInstallerValidator>>();
    std::shared_ptr<testing::StrictMock<MockRestClient>> rest = std::make_shared<testing::StrictMock<MockRestClient>>();
    std::shared_ptr<testing::StrictMock<MockInstallerHelper>> installer =
            std::make_shared<testing::StrictMock<MockInstallerHelper>>();
    std::shared_ptr<testing::StrictMock<MockUrlOpener>> opener = std::make_shared<testing::StrictMock<MockUrlOpener>>();
    InstallationSettings settings;
    QTemporaryDir downloads;
    std::unique_ptr<InstallationViewModel> viewModel;
};

} // namespace tarn::test
