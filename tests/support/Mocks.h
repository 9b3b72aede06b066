#pragma once

#include "services/InstallerHelperProtocol.h"
#include "services/InstallerValidatorProtocol.h"
#include "services/NetworkPathSource.h"
#include "services/PkgUtilHelperProtoco.h"
#include "services/ProcessRunnerProtocol.h"
#include "services/RestClientProtocol.h"
#include "services/SystemPermissionsManagerProtocol.h"
#include "services/USBScannerHelperProtocol.h"
#include "services/UrlOpener.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>

namespace tarn::test {

class MockProcessRunner : public ProcessRunnerProtocol {
public:
    MOCK_METHOD(QCoro::Task<std::optional<QByteArray>>, runProcess, (QString launchPath, QStringList arguments),
                (override));
    MOCK_METHOD(QCoro::Task<std::optional<QByteArray>>, runWithAdminPrivileges,
                (QString command, QStringList arguments, QString prompt), (override));
};

class MockInstallerValidator : public InstallerValidatorProtocol {
public:
    MOCK_METHOD(QCoro::Task<>, validateHash, (QByteArray content, QString expectedHash, QString label), (override));
    MOCK_METHOD(QCoro::Task<>, validateHash, (QUrl fileURL, QString expectedHash), (override));
    MOCK_METHOD(QCoro::Task<>, validateHash, (QString filePath, QString expectedHash), (override));
    MOCK_METHOD(QCoro::Task<>, validateSignature, (QUrl fileURL, QStringList trustedSigners), (override));
    MOCK_METHOD(QCoro::Task<>, validateSignature, (QString filePath, QStringList trustedSigners), (override));
};

class MockInstallerHelper : public InstallerHelperProtocol {
public:
    MOCK_METHOD(QCoro::Task<>, install,
                (QString filePath, QString appName, QString expectedHash, QStringList trustedSigners), (override));
};

class MockPkgUtilHelper : public PkgUtilHelperProtoco {
public:
    MOCK_METHOD(QCoro::Task<bool>, isInstallationNeeded, (QString pkgId, QString requestedVersion), (override));
};

class MockRestClient : public RestClientProtocol {
public:
    MOCK_METHOD(QCoro::Task<QByteArray>, fetchVerifiedBody,
                (QUrl url, std::optional<QString> expectedHash, QString name), (override));
    MOCK_METHOD(QCoro::Task<QUrl>, downloadFile, (QUrl url, std::function<void(DownloadProgress)> progressHandler),
                (override));
    MOCK_METHOD(void, cancelDownloads, (), (override));
};

class MockSystemPermissionsManager : public SystemPermissionsManagerProtocol {
public:
    MOCK_METHOD(QCoro::Task<AdminRights>, requestAdminPrivileges, (), (override));
    MOCK_METHOD(void, releaseAuthorization, (), (override));
};

class MockUSBScannerHelper : public USBScannerHelperProtocol {
public:
    MOCK_METHOD(QCoro::Task<QList<USBDeviceModel>>, findMatchingUSBDevices, (QList<USBDeviceModel> vendorDevices),
                (override));
};

class MockUrlOpener : public UrlOpener {
public:
    MOCK_METHOD(void, open, (const QUrl& url), (override));
};

// A network path source the test drives by hand.
class FakeNetworkPathSource final : public NetworkPathSource {
public:
    void start(std::function<void(NetworkPathStatus)> update) override { handler = std::move(update); }
    void report(NetworkPathStatus status) {
        if (handler) {
            handler(status);
        }
    }
    bool started() const { return static_cast<bool>(handler); }

private:
    std::function<void(NetworkPathStatus)> handler;
};

} // namespace tarn::test
