#include "app/CommandLine.h"

#include "support/QtPrinters.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

// Designated initializers leave the other members at their defaults
// [gcc12-designated-initializers-warn].
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tarn {
namespace {

using namespace Qt::StringLiterals;
using testing::AllOf;
using testing::HasSubstr;

QString emptyFile(const QTemporaryDir& folder, const QString& name, const QByteArray& contents = {}) {
    QFile file(folder.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    return file.fileName();
}

TEST(CommandLineTest, ArgumentsGiveTheirOptionsOrAUsageErrorThatSaysWhatIsWrong) {
    QTemporaryDir folder;
    const QString bundle = emptyFile(folder, u"extra.pem"_s);
    using Kind = ApplicationSelection::Kind;
    struct Case {
        QStringList arguments;
        CommandLineOptions options;
        const char* error; // none when null
    };
    // clang-format off
    const Case cases[] = {
        {{}, {}, nullptr}, // the window
        {{"--demo", "--unattended", "--accept-licenses", "--select", "OCR Suite, Archive", "--device", "Scanner 5000"},
         {.demo = true, .unattended = true, .acceptLicenses = true,
          .selection = {Kind::named, {"OCR Suite", "Archive"}},
          .device = u"Scanner 5000"_s}, nullptr},
        {{"--unattended", "--select=all"}, {.unattended = true, .selection = {Kind::all, {}}}, nullptr},
        {{"--unattended", "--select", "mandatory"}, {.unattended = true}, nullptr},
        // A new file in the current folder.
        {{"--unattended", "--quiet", "--report", "run.json"},
         {.unattended = true, .quiet = true, .report = u"run.json"_s}, nullptr},
        {{"--help"}, {.showHelp = true}, nullptr},
        {{"-h"}, {.showHelp = true}, nullptr},
        {{"--version"}, {.showVersion = true}, nullptr},
        {{"--ca-bundle", bundle, "--usb-root", folder.path()}, {.caBundle = bundle, .usbRoot = folder.path()}, nullptr},
        {{"--service-url", "https://config.test:8443/base/", "--support-url", "http://support.test/"},
         {.serviceUrl = u"https://config.test:8443/base"_s, .supportUrl = u"http://support.test"_s}, nullptr},
        {{"--unatended"}, {}, "unatended"},
        {{"--unattended", "--select"}, {}, "select"},
        {{"install"}, {}, "Unexpected argument 'install'"},
        {{"--unattended", "--select", "OCR,,Scan"}, {}, "empty name"},
        {{"--select", "all"}, {}, "--select applies only to --unattended"},
        {{"--accept-licenses"}, {}, "--accept-licenses applies only"},
        {{"--device", "X"}, {}, "--device applies only"},
        {{"--quiet"}, {}, "--quiet applies only"},
        {{"--report", "r.json"}, {}, "--report applies only"},
        {{"--unattended", "--report", "/nonexistent/r.json"}, {}, "--report needs a file in an existing folder"},
        {{"--unattended", "--report", "/"}, {}, "--report needs a file in an existing folder; '/' is not one"},
        {{"--unattended", "--device", ""}, {}, "--device needs"},
        {{"--service-url", "http://config.test"}, {}, "https://"},
        {{"--service-url", "https://"}, {}, "--service-url"},
        {{"--service-url", "https://config.test/?a=1"}, {}, "--service-url"},
        {{"--support-url", "file:///tmp"}, {}, "--support-url"},
        {{"--ca-bundle", "/nonexistent/extra.pem"}, {}, "not a readable file"},
        {{"--usb-root", "/nonexistent/sys"}, {}, "not a folder"},
        {{"--demo", "--service-url", "https://config.test"}, {}, "--service-url cannot be used with --demo"},
        {{"--usb-root", "/", "--demo"}, {}, "--usb-root cannot be used with --demo"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const auto result = parseCommandLine(QStringList{u"tarn-installer"_s} + c.arguments);
        if (const auto* error = std::get_if<UsageError>(&result)) {
            EXPECT_THAT(error->message.toStdString(), HasSubstr(c.error ? c.error : "no error"));
        } else {
            EXPECT_FALSE(c.error) << "accepted";
            EXPECT_EQ(std::get<CommandLineOptions>(result), c.options);
        }
    }
    for (const char* option : {"--unattended", "--accept-licenses", "--select", "--device", "--service-url",
                               "--support-url", "--ca-bundle", "--usb-root", "--demo", "--version", "--help"}) {
        EXPECT_THAT(usageText().toStdString(), HasSubstr(option));
    }
    EXPECT_THAT(usageText().toStdString(), HasSubstr(siteConfigurationPath().toStdString()));
}

TEST(CommandLineTest, SiteFilesGiveTheirValuesOrAnErrorNamingTheFileAndTheEntry) {
    QTemporaryDir folder;
    const QString bundle = emptyFile(folder, u"site.pem"_s);
    struct Case {
        QByteArray contents;
        SiteConfiguration site;
        const char* error; // none when null
    };
    // clang-format off
    const Case cases[] = {
        {"# set by the administrator\n[General]\nservice-url = https://config.site.test/base/\n"
         "support-url=http://help.site.test\nca-bundle=" + bundle.toUtf8() + "\n",
         {"https://config.site.test/base", "http://help.site.test", bundle}, nullptr},
        {"# the site's service\nservice-url https://config.site.test\n", {}, "line 2 is neither"},
        {"# fine\n\n[General\nservice-url=https://config.site.test\n", {}, "not a valid ini file"},
        {"ServiceUrl=https://config.site.test\n", {}, "unknown key 'ServiceUrl'"},
        {"[site]\nservice-url=https://config.site.test\n", {}, "unknown key 'site/service-url'"},
        {"service-url=http://config.site.test\n", {}, "service-url needs an https:// address"},
        {"service-url=\n", {}, "service-url needs"},
        {"support-url=https://a.site.test, https://b.site.test\n", {}, "'support-url' holds a list"},
        {"support-url=ftp://help.site.test\n", {}, "support-url needs a web address"},
        {"ca-bundle=site.pem\n", {}, "ca-bundle needs an absolute path"},
        {"ca-bundle=/nonexistent/site.pem\n", {}, "not a readable file"},
    };
    // clang-format on
    const auto read = [](const QString& path, const SiteConfiguration& site, const char* error) {
        SCOPED_TRACE(path.toStdString());
        const auto result = readSiteConfiguration(path);
        if (const auto* refusal = std::get_if<ConfigurationError>(&result)) {
            EXPECT_THAT(refusal->message.toStdString(),
                        AllOf(HasSubstr(path.toStdString()), HasSubstr(error ? error : "no error")));
        } else {
            EXPECT_FALSE(error) << "accepted";
            EXPECT_EQ(std::get<SiteConfiguration>(result), site);
        }
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        read(emptyFile(folder, u"%1.conf"_s.arg(i), cases[i].contents), cases[i].site, cases[i].error);
    }
    // No file, or the one we install with every line commented out: the built-in defaults.
    read(folder.filePath(u"missing.conf"_s), {}, nullptr);
    read(u"" TARN_TEST_SOURCE_DIR "/../resources/install/tarn-installer.conf"_s, {}, nullptr);
    // A folder in the file's place cannot be read as one, also by root, who reads any file.
    read(folder.path(), {}, "cannot be read");
}

// The command line wins over the site file, which wins over the defaults.
TEST(CommandLineTest, SettingsTakeTheCommandLineThenTheSiteFileThenTheDefaults) {
    const SiteConfiguration site{u"https://config.site.test"_s, u"http://help.site.test"_s, u"/site.pem"_s};
    const CommandLineOptions overridden =
            withSiteConfiguration({.serviceUrl = u"https://config.test"_s, .caBundle = u"/own.pem"_s}, site);
    EXPECT_EQ(overridden, (CommandLineOptions{.serviceUrl = u"https://config.test"_s,
                                              .supportUrl = site.supportUrl,
                                              .caBundle = u"/own.pem"_s}));
    EXPECT_EQ(withSiteConfiguration({}, site),
              (CommandLineOptions{
                      .serviceUrl = site.serviceUrl, .supportUrl = site.supportUrl, .caBundle = site.caBundle}));

    InstallationSettings defaults;
    defaults.searchTimeLimit = std::chrono::milliseconds(5);
    const InstallationSettings settings = settingsFor(overridden, defaults);
    EXPECT_EQ(settings.serviceBaseUrl, u"https://config.test"_s);
    EXPECT_EQ(settings.supportBaseUrl, u"http://help.site.test"_s);
    EXPECT_EQ(settings.searchTimeLimit, std::chrono::milliseconds(5));
    EXPECT_EQ(settingsFor(withSiteConfiguration({}, {})).serviceBaseUrl, InstallationSettings{}.serviceBaseUrl);
}

} // namespace
} // namespace tarn
