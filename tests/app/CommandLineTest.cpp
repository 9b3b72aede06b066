#include "app/CommandLine.h"

#include "support/QtPrinters.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using testing::AllOf;
using testing::HasSubstr;

std::variant<CommandLineOptions, UsageError> parse(QStringList arguments) {
    arguments.prepend(QStringLiteral("tarn-installer"));
    return parseCommandLine(arguments);
}

CommandLineOptions parsed(const QStringList& arguments) {
    auto result = parse(arguments);
    if (const auto* error = std::get_if<UsageError>(&result)) {
        ADD_FAILURE() << "unexpected usage error: " << error->message.toStdString();
        return {};
    }
    return std::get<CommandLineOptions>(result);
}

TEST(CommandLineTest, ReadsTheUnattendedAndDemoOptionsAndNothingMeansTheWindow) {
    EXPECT_EQ(parsed({}), CommandLineOptions{});
    const auto options = parsed({"--demo", "--unattended", "--accept-licenses", "--select", "OCR Suite, Archive",
                                 "--device", "Scanner 5000"});
    EXPECT_TRUE(options.demo && options.unattended && options.acceptLicenses);
    EXPECT_EQ(options.selection, (ApplicationSelection{ApplicationSelection::Kind::named, {"OCR Suite", "Archive"}}));
    EXPECT_EQ(options.device, QStringLiteral("Scanner 5000"));
    EXPECT_EQ(parsed({"--unattended", "--select=all"}).selection.kind, ApplicationSelection::Kind::all);
    EXPECT_EQ(parsed({"--unattended", "--select", "mandatory"}).selection, ApplicationSelection{});
    EXPECT_TRUE(parsed({"--demo"}).demo);
    const auto reporting = parsed({"--unattended", "--quiet", "--report", "run.json"});
    EXPECT_TRUE(reporting.quiet);
    EXPECT_EQ(reporting.report, QStringLiteral("run.json")) << "a new file in the current folder";
}

TEST(CommandLineTest, AcceptsExistingFilesAndFoldersAndAddressesLoseTheirTrailingSlash) {
    QTemporaryDir folder;
    const QString bundle = folder.filePath(QStringLiteral("extra.pem"));
    QFile file(bundle);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const auto paths = parsed({"--ca-bundle", bundle, "--usb-root", folder.path()});
    EXPECT_EQ(paths.caBundle, bundle);
    EXPECT_EQ(paths.usbRoot, folder.path());

    const auto options =
            parsed({"--service-url", "https://config.test:8443/base/", "--support-url", "http://support.test/"});
    EXPECT_EQ(options.serviceUrl, QStringLiteral("https://config.test:8443/base"));
    EXPECT_EQ(options.supportUrl, QStringLiteral("http://support.test"));

    InstallationSettings defaults;
    defaults.searchTimeLimit = std::chrono::milliseconds(5);
    const InstallationSettings settings = settingsFor(options, defaults);
    EXPECT_EQ(settings.serviceBaseUrl, QStringLiteral("https://config.test:8443/base"));
    EXPECT_EQ(settings.supportBaseUrl, QStringLiteral("http://support.test"));
    EXPECT_EQ(settings.searchTimeLimit, std::chrono::milliseconds(5));
    EXPECT_EQ(settingsFor(CommandLineOptions{}).serviceBaseUrl, InstallationSettings{}.serviceBaseUrl);
}

TEST(CommandLineTest, HelpAndVersion) {
    EXPECT_TRUE(parsed({"--help"}).showHelp);
    EXPECT_TRUE(parsed({"-h"}).showHelp);
    EXPECT_TRUE(parsed({"--version"}).showVersion);
    for (const char* option : {"--unattended", "--accept-licenses", "--select", "--device", "--service-url",
                               "--support-url", "--ca-bundle", "--usb-root", "--demo", "--version", "--help"}) {
        EXPECT_THAT(usageText().toStdString(), HasSubstr(option));
    }
    EXPECT_THAT(usageText().toStdString(), HasSubstr(siteConfigurationPath().toStdString()));
}

TEST(CommandLineTest, EveryMistakeIsAUsageErrorThatSaysWhatIsWrong) {
    const std::pair<QStringList, const char*> mistakes[]{
            {{"--unatended"}, "unatended"},
            {{"--unattended", "--select"}, "select"},
            {{"install"}, "Unexpected argument 'install'"},
            {{"--unattended", "--select", "OCR,,Scan"}, "empty name"},
            {{"--select", "all"}, "--select applies only to --unattended"},
            {{"--accept-licenses"}, "--accept-licenses applies only"},
            {{"--device", "X"}, "--device applies only"},
            {{"--quiet"}, "--quiet applies only"},
            {{"--report", "r.json"}, "--report applies only"},
            {{"--unattended", "--report", "/nonexistent/r.json"}, "--report needs a file in an existing folder"},
            {{"--unattended", "--report", "/"}, "--report needs a file in an existing folder; '/' is not one"},
            {{"--unattended", "--device", ""}, "--device needs"},
            {{"--service-url", "http://config.test"}, "https://"},
            {{"--service-url", "https://"}, "--service-url"},
            {{"--service-url", "https://config.test/?a=1"}, "--service-url"},
            {{"--support-url", "file:///tmp"}, "--support-url"},
            {{"--ca-bundle", "/nonexistent/extra.pem"}, "not a readable file"},
            {{"--usb-root", "/nonexistent/sys"}, "not a folder"},
            {{"--demo", "--service-url", "https://config.test"}, "--service-url cannot be used with --demo"},
            {{"--usb-root", "/", "--demo"}, "--usb-root cannot be used with --demo"},
    };
    for (const auto& [arguments, complaint] : mistakes) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        const auto result = parse(arguments);
        ASSERT_TRUE(std::holds_alternative<UsageError>(result));
        EXPECT_THAT(std::get<UsageError>(result).message.toStdString(), HasSubstr(complaint));
    }
}

// A site's configuration file with `contents`, in a folder of its own.
struct SiteFile {
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("tarn-installer.conf"));

    explicit SiteFile(const QByteArray& contents) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
            ADD_FAILURE() << "cannot write " << path.toStdString();
        }
    }
};

QString emptyFile(const QTemporaryDir& folder, const QString& name) {
    QFile file(folder.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    return file.fileName();
}

SiteConfiguration siteFrom(const QString& path) {
    auto result = readSiteConfiguration(path);
    if (const auto* error = std::get_if<ConfigurationError>(&result)) {
        ADD_FAILURE() << "unexpected configuration error: " << error->message.toStdString();
        return {};
    }
    return std::get<SiteConfiguration>(result);
}

TEST(CommandLineTest, TheCommandLineWinsOverTheSiteFileWhichWinsOverTheDefaults) {
    QTemporaryDir folder;
    const QString bundle = emptyFile(folder, QStringLiteral("site.pem"));
    const SiteFile file("# set by the administrator\n[General]\nservice-url = https://config.site.test/base/\n"
                        "support-url=http://help.site.test\nca-bundle=" +
                        bundle.toUtf8() + "\n");
    const SiteConfiguration site = siteFrom(file.path);
    EXPECT_EQ(site, (SiteConfiguration{"https://config.site.test/base", "http://help.site.test", bundle}));

    const CommandLineOptions fromFile = withSiteConfiguration(parsed({}), site);
    EXPECT_EQ(fromFile.serviceUrl, site.serviceUrl);
    EXPECT_EQ(fromFile.caBundle, bundle);
    EXPECT_EQ(settingsFor(fromFile).supportBaseUrl, QStringLiteral("http://help.site.test"));

    const QString ownBundle = emptyFile(folder, QStringLiteral("own.pem"));
    const CommandLineOptions overridden =
            withSiteConfiguration(parsed({"--service-url", "https://config.test", "--ca-bundle", ownBundle}), site);
    EXPECT_EQ(overridden.serviceUrl, QStringLiteral("https://config.test"));
    EXPECT_EQ(overridden.supportUrl, QStringLiteral("http://help.site.test"));
    EXPECT_EQ(overridden.caBundle, ownBundle);

    // No file, or the one we install with every line commented out: the built-in defaults.
    EXPECT_EQ(siteFrom(folder.filePath(QStringLiteral("missing.conf"))), SiteConfiguration{});
    EXPECT_EQ(siteFrom(QStringLiteral(TARN_TEST_SOURCE_DIR "/../resources/install/tarn-installer.conf")),
              SiteConfiguration{});
    EXPECT_EQ(settingsFor(withSiteConfiguration(parsed({}), {})).serviceBaseUrl, InstallationSettings{}.serviceBaseUrl);
}

TEST(CommandLineTest, ABrokenSiteFileIsAnErrorNamingTheFileAndTheEntry) {
    const std::pair<QByteArray, const char*> mistakes[]{
            {"# the site's service\nservice-url https://config.site.test\n", "line 2 is neither"},
            {"# fine\n\n[General\nservice-url=https://config.site.test\n", "not a valid ini file"},
            {"ServiceUrl=https://config.site.test\n", "unknown key 'ServiceUrl'"},
            {"[site]\nservice-url=https://config.site.test\n", "unknown key 'site/service-url'"},
            {"service-url=http://config.site.test\n", "service-url needs an https:// address"},
            {"service-url=\n", "service-url needs"},
            {"support-url=https://a.site.test, https://b.site.test\n", "'support-url' holds a list"},
            {"support-url=ftp://help.site.test\n", "support-url needs a web address"},
            {"ca-bundle=site.pem\n", "ca-bundle needs an absolute path"},
            {"ca-bundle=/nonexistent/site.pem\n", "not a readable file"},
    };
    for (const auto& [contents, complaint] : mistakes) {
        SCOPED_TRACE(contents.toStdString());
        const SiteFile file(contents);
        const auto result = readSiteConfiguration(file.path);
        ASSERT_TRUE(std::holds_alternative<ConfigurationError>(result));
        EXPECT_THAT(std::get<ConfigurationError>(result).message.toStdString(),
                    AllOf(HasSubstr(file.path.toStdString()), HasSubstr(complaint)));
    }
    // A folder in the file's place cannot be read as one, also by root, who reads any file.
    QTemporaryDir folder;
    const auto unreadable = readSiteConfiguration(folder.path());
    ASSERT_TRUE(std::holds_alternative<ConfigurationError>(unreadable));
    EXPECT_THAT(std::get<ConfigurationError>(unreadable).message.toStdString(), HasSubstr("cannot be read"));
}

} // namespace
} // namespace tarn
