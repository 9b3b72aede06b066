#include "demo/DemoEnvironment.h"

#include "demo/DemoCatalogue.h"
#include "demo/DemoSandbox.h"
#include "models/CatalogueDecoding.h"
#include "services/InstallerValidator.h"
#include "support/TestSupport.h"
#include "workflow/InstallationViewModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace tarn::demo {
namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

// The path of a service URL, after checking that it points at the demo's own service.
QString servedPath(const DemoEnvironment& demo, const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    EXPECT_EQ(parsed.adjusted(QUrl::RemovePath), demo.serviceUrl(QStringLiteral("/")).adjusted(QUrl::RemovePath))
            << url.toStdString();
    return parsed.path();
}

QByteArray servedBody(const DemoEnvironment& demo, const QString& url) {
    const auto body = demo.servedFile(servedPath(demo, url));
    EXPECT_TRUE(body) << "not served: " << url.toStdString();
    return body.value_or(QByteArray());
}

DemoOptions quickOptions(DemoVariant variant = DemoVariant::standard) {
    DemoOptions options;
    options.variant = variant;
    options.scannerDelay = 0ms;
    return options;
}

QProcessEnvironment environmentWith(std::initializer_list<std::pair<const char*, const char*>> variables) {
    QProcessEnvironment environment;
    for (const auto& [name, value] : variables) {
        environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    }
    return environment;
}

TEST(DemoOptionsTest, ReadsTheHiddenKnobsWhereSetButEmptyIsUnset) {
    const DemoOptions set = DemoOptions::fromEnvironment(environmentWith({{"TARN_DEMO_SANDBOX", "/tmp/kept"},
                                                                          {"TARN_DEMO_VARIANT", "broken-mandatory"},
                                                                          {"TARN_DEMO_SCANNER_DELAY_MS", "250"}}));
    EXPECT_EQ(set.keptSandbox, QStringLiteral("/tmp/kept"));
    EXPECT_EQ(set.variant, DemoVariant::brokenMandatory);
    EXPECT_EQ(set.scannerDelay, 250ms);
    EXPECT_EQ(DemoOptions::fromEnvironment(environmentWith({{"TARN_DEMO_VARIANT", "bad-optional-digest"}})).variant,
              DemoVariant::badOptionalDigest);
    EXPECT_EQ(DemoOptions::fromEnvironment(environmentWith({{"TARN_DEMO_VARIANT", "foreign-signer"}})).variant,
              DemoVariant::foreignSigner);
    for (const auto& environment : {QProcessEnvironment(), environmentWith({{"TARN_DEMO_SANDBOX", ""},
                                                                            {"TARN_DEMO_VARIANT", ""},
                                                                            {"TARN_DEMO_SCANNER_DELAY_MS", ""}})}) {
        const DemoOptions defaults = DemoOptions::fromEnvironment(environment);
        EXPECT_FALSE(defaults.keptSandbox);
        EXPECT_EQ(defaults.variant, DemoVariant::standard);
        EXPECT_EQ(defaults.scannerDelay, DemoOptions::defaultScannerDelay);
    }
}

TEST(DemoOptionsTest, AWrongValueNamesItsVariable) {
    const auto complaint = [](const char* name, const char* value) -> std::string {
        try {
            DemoOptions::fromEnvironment(environmentWith({{name, value}}));
        } catch (const DemoError& error) {
            return error.what();
        }
        return "accepted";
    };
    EXPECT_THAT(complaint("TARN_DEMO_VARIANT", "broken"), HasSubstr("TARN_DEMO_VARIANT: 'broken'"));
    for (const char* delay : {"-5", "1.5", "3s", "+7", " 12", "99999999999999"}) {
        EXPECT_THAT(complaint("TARN_DEMO_SCANNER_DELAY_MS", delay), HasSubstr("TARN_DEMO_SCANNER_DELAY_MS")) << delay;
    }
}

TEST(DemoSandboxTest, AFreshSandboxGoesWithEverythingInItButNothingOutside) {
    QTemporaryDir outside;
    const QString keep = outside.filePath(QStringLiteral("keep.txt"));
    ASSERT_TRUE(QFile(keep).open(QIODevice::WriteOnly));

    QString folder;
    {
        DemoSandbox sandbox(std::nullopt);
        folder = sandbox.folder();
        EXPECT_FALSE(sandbox.isKept());
        // What a detach cut short leaves behind: a read-only volume folder with read-only files.
        const QString volume = QDir(sandbox.systemRoot()).filePath(QStringLiteral("Volumes/Sync"));
        ASSERT_TRUE(QDir().mkpath(volume));
        QFile file(QDir(volume).filePath(QStringLiteral("Sync.pkg")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        ASSERT_TRUE(file.setPermissions(QFile::ReadOwner));
        ASSERT_TRUE(QFile::link(outside.path(), QDir(volume).filePath(QStringLiteral("link-out"))));
        ASSERT_TRUE(QFile::setPermissions(volume, QFile::ReadOwner | QFile::ExeOwner));
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(QFileInfo::exists(keep)) << "the removal followed a link out of the sandbox";
    EXPECT_TRUE(QFileInfo(outside.path()).isWritable());
}

TEST(DemoSandboxTest, ANamedSandboxIsKeptAndAFileInItsPlaceRefused) {
    QTemporaryDir parent;
    const QString named = parent.filePath(QStringLiteral("sandbox"));
    {
        DemoSandbox sandbox(named);
        EXPECT_TRUE(sandbox.isKept());
        EXPECT_TRUE(QFileInfo(sandbox.systemRoot()).isDir());
    }
    EXPECT_TRUE(QFileInfo(QDir(named).filePath(QStringLiteral("root"))).isDir());

    const QString file = parent.filePath(QStringLiteral("file"));
    ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
    EXPECT_THROW(DemoSandbox{file}, DemoError);
}

class DemoDocumentsTest : public testing::Test {
protected:
    static void SetUpTestSuite() { demo = std::make_unique<DemoEnvironment>(quickOptions()); }
    static void TearDownTestSuite() { demo.reset(); }

    static std::unique_ptr<DemoEnvironment> demo;
};

std::unique_ptr<DemoEnvironment> DemoDocumentsTest::demo;

TEST_F(DemoDocumentsTest, TheCatalogueListsThreeScannersWhoseConfigurationsMatchTheirDigestsAndTheSupportPage) {
    const auto catalogue = decodeDeviceCatalogue(*demo->servedFile(QString::fromLatin1(cataloguePath)));
    ASSERT_TRUE(catalogue);
    ASSERT_EQ(catalogue->size(), 3);
    QStringList names;
    for (const TARNDeviceModel& device : *catalogue) {
        SCOPED_TRACE(device.name.toStdString());
        names.append(device.name);
        const QByteArray document = servedBody(*demo, device.configLink);
        EXPECT_EQ(InstallerValidator::sha512Hash(document), device.hash);

        const TARNDeviceAppsConfigurationModel configuration = decodeAppsConfiguration(document);
        EXPECT_EQ(configuration.name, device.name);
        EXPECT_EQ(configuration.vid, device.vid);
        EXPECT_EQ(configuration.pid, device.pid);
        EXPECT_THAT(QString::fromUtf8(servedBody(*demo, configuration.successUrl)).toStdString(), HasSubstr("<html"));
    }
    EXPECT_TRUE(names.contains(simulatedScanner().name));
    const QString supportPage = demo->settings().supportBaseUrl + QString::fromLatin1(supportPagePath);
    EXPECT_THAT(QString::fromUtf8(servedBody(*demo, supportPage)).toStdString(), HasSubstr("support"));
    EXPECT_FALSE(demo->servedFile(QStringLiteral("/nothing-here")));
}

TEST_F(DemoDocumentsTest, EveryApplicationIsServedWithItsDigestAndDescribedInThreeLanguages) {
    bool anyTrial = false;
    bool anyDiskImage = false;
    for (const auto& scanner : sampleScanners()) {
        SCOPED_TRACE(scanner.name.toStdString());
        const QByteArray document =
                *demo->servedFile(QString::fromLatin1(configurationsPath) + scanner.configurationFile);
        const auto apps = decodeAppsConfiguration(document).apps;
        ASSERT_EQ(apps.size(), scanner.applications.size());
        EXPECT_TRUE(std::any_of(apps.begin(), apps.end(), [](const auto& app) { return app.mandatory; }));
        EXPECT_TRUE(std::any_of(apps.begin(), apps.end(), [](const auto& app) { return !app.mandatory; }));
        for (const TARNDeviceAppConfigurationModel& app : apps) {
            SCOPED_TRACE(app.name.toStdString());
            EXPECT_EQ(InstallerValidator::sha512Hash(servedBody(*demo, app.installer)), app.hash);
            anyTrial = anyTrial || app.licenseType == LicenseType::trial;
            anyDiskImage = anyDiskImage || app.installer.endsWith(QLatin1String(".dmg"));
            const QString english = app.localizedDescription(QLocale(QLocale::English, QLocale::UnitedKingdom));
            const QString german = app.localizedDescription(QLocale(QLocale::German, QLocale::Germany));
            const QString french = app.localizedDescription(QLocale(QLocale::French, QLocale::France));
            EXPECT_FALSE(english.isEmpty());
            EXPECT_NE(german, english);
            EXPECT_NE(french, english);
            EXPECT_NE(french, german);
        }
    }
    EXPECT_TRUE(anyTrial);
    EXPECT_TRUE(anyDiskImage);
}

TEST(DemoVariantTest, TheDemoSetsItsVariablesForItsLifetimeOnlyAndCleansItsSandbox) {
    const auto variables = [] {
        QStringList values;
        for (const char* name : {"TARN_SYSTEM_ROOT", "TARN_SUDO", "TMPDIR"}) {
            values.append(qEnvironmentVariable(name, QStringLiteral("(unset)")));
        }
        return values;
    };
    const QStringList before = variables();
    QString systemRoot;
    {
        const DemoEnvironment demo(quickOptions());
        systemRoot = demo.systemRoot();
        EXPECT_EQ(qEnvironmentVariable("TARN_SYSTEM_ROOT"), systemRoot);
        EXPECT_TRUE(QFileInfo(qEnvironmentVariable("TARN_SUDO")).isExecutable());
        EXPECT_TRUE(qEnvironmentVariable("TMPDIR").startsWith(demo.sandboxFolder()));
        EXPECT_TRUE(QFileInfo::exists(systemRoot + QStringLiteral("/etc/tarn-installer/package-signing-anchors.pem")));
    }
    EXPECT_EQ(variables(), before);
    EXPECT_FALSE(QFileInfo::exists(systemRoot));
}

} // namespace
} // namespace tarn::demo
