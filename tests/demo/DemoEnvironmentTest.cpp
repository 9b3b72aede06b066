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

namespace tarn::demo {
namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using testing::HasSubstr;

// What the end-to-end suite cannot see from outside the built program: how the hidden settings read,
// what the sandbox removes, and the demo's documents for the scanners it does not simulate.

DemoOptions optionsFrom(std::initializer_list<std::pair<const char*, const char*>> variables) {
    QProcessEnvironment environment;
    for (const auto& [name, value] : variables) {
        environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    }
    return DemoOptions::fromEnvironment(environment);
}

TEST(DemoOptionsTest, EmptyIsUnsetAndAWrongValueNamesItsVariable) {
    const DemoOptions empty =
            optionsFrom({{"TARN_DEMO_SANDBOX", ""}, {"TARN_DEMO_VARIANT", ""}, {"TARN_DEMO_SCANNER_DELAY_MS", ""}});
    EXPECT_EQ(std::tuple(empty.keptSandbox.has_value(), empty.variant, empty.scannerDelay),
              std::tuple(false, DemoVariant::standard, DemoOptions::defaultScannerDelay));
    EXPECT_EQ(optionsFrom({}).scannerDelay, DemoOptions::defaultScannerDelay);

    const std::pair<const char*, const char*> wrong[] = {
            {"TARN_DEMO_VARIANT", "broken"},       {"TARN_DEMO_SCANNER_DELAY_MS", "-5"},
            {"TARN_DEMO_SCANNER_DELAY_MS", "1.5"}, {"TARN_DEMO_SCANNER_DELAY_MS", "+7"},
            {"TARN_DEMO_SCANNER_DELAY_MS", " 12"}, {"TARN_DEMO_SCANNER_DELAY_MS", "99999999999999"}};
    for (const auto& [name, value] : wrong) {
        SCOPED_TRACE(value);
        try {
            optionsFrom({{name, value}});
            ADD_FAILURE() << "accepted";
        } catch (const DemoError& error) {
            EXPECT_THAT(error.what(), HasSubstr(std::string(name) + ": '" + value + "'"));
        }
    }
}

TEST(DemoSandboxTest, AFreshSandboxGoesWithEverythingInItButNothingOutside) {
    QTemporaryDir outside;
    const QString keep = outside.filePath(u"keep.txt"_s);
    ASSERT_TRUE(QFile(keep).open(QIODevice::WriteOnly));
    QString folder;
    {
        DemoSandbox sandbox(std::nullopt);
        folder = sandbox.folder();
        EXPECT_FALSE(sandbox.isKept());
        // What a detach cut short leaves behind: a read-only volume folder with read-only files.
        const QString volume = QDir(sandbox.systemRoot()).filePath(u"Volumes/Sync"_s);
        ASSERT_TRUE(QDir().mkpath(volume));
        QFile file(QDir(volume).filePath(u"Sync.pkg"_s));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        ASSERT_TRUE(file.setPermissions(QFile::ReadOwner));
        ASSERT_TRUE(QFile::link(outside.path(), QDir(volume).filePath(u"link-out"_s)));
        ASSERT_TRUE(QFile::setPermissions(volume, QFile::ReadOwner | QFile::ExeOwner));
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(QFileInfo::exists(keep)) << "the removal followed a link out of the sandbox";
    EXPECT_TRUE(QFileInfo(outside.path()).isWritable());

    // A named sandbox, kept, is the end-to-end suite's; a file in its place is refused.
    EXPECT_THROW(DemoSandbox{keep}, DemoError);
}

TEST(DemoEnvironmentTest, DocumentsMatchTheirDigestsInThreeLanguagesAndTheVariablesLastAsLongAsTheDemo) {
    const auto variables = [] {
        return QStringList{qEnvironmentVariable("TARN_SYSTEM_ROOT", u"-"_s), qEnvironmentVariable("TARN_SUDO", u"-"_s),
                           qEnvironmentVariable("TMPDIR", u"-"_s)};
    };
    const QStringList before = variables();
    QString systemRoot;
    {
        DemoOptions options;
        options.scannerDelay = 0ms;
        const DemoEnvironment demo(options);
        systemRoot = demo.systemRoot();
        EXPECT_EQ(qEnvironmentVariable("TARN_SYSTEM_ROOT"), systemRoot);

        const auto served = [&demo](const QString& url) {
            const QUrl parsed(url, QUrl::StrictMode);
            EXPECT_EQ(parsed.adjusted(QUrl::RemovePath), demo.serviceUrl(u"/"_s).adjusted(QUrl::RemovePath));
            return demo.servedFile(parsed.path()).value_or(QByteArray());
        };
        const auto catalogue = decodeDeviceCatalogue(*demo.servedFile(QString::fromLatin1(cataloguePath)));
        ASSERT_TRUE(catalogue);
        ASSERT_EQ(catalogue->size(), 3);
        for (const TARNDeviceModel& device : *catalogue) {
            SCOPED_TRACE(device.name.toStdString());
            const QByteArray document = served(device.configLink);
            EXPECT_EQ(InstallerValidator::sha512Hash(document), device.hash);
            const TARNDeviceAppsConfigurationModel configuration = decodeAppsConfiguration(document);
            EXPECT_EQ(configuration.name, device.name);
            EXPECT_EQ(configuration.vid + configuration.pid, device.vid + device.pid);
            EXPECT_THAT(served(configuration.successUrl).toStdString(), HasSubstr("<html"));
            for (const TARNDeviceAppConfigurationModel& app : configuration.apps) {
                SCOPED_TRACE(app.name.toStdString());
                EXPECT_EQ(InstallerValidator::sha512Hash(served(app.installer)), app.hash);
                QStringList descriptions;
                for (const auto language : {QLocale::English, QLocale::German, QLocale::French}) {
                    descriptions.append(app.localizedDescription(QLocale(language)));
                }
                descriptions.removeDuplicates();
                EXPECT_EQ(descriptions.size(), 3);
            }
        }
        EXPECT_THAT(served(demo.settings().supportBaseUrl + QString::fromLatin1(supportPagePath)).toStdString(),
                    HasSubstr("support"));
        EXPECT_FALSE(demo.servedFile(u"/nothing-here"_s));
    }
    EXPECT_EQ(variables(), before);
    EXPECT_FALSE(QFileInfo::exists(systemRoot));
}

} // namespace
} // namespace tarn::demo
