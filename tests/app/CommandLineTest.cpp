#include "app/CommandLine.h"

#include "support/QtPrinters.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarn {
namespace {

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

TEST(CommandLineTest, NoOptionsMeansTheWindow) {
    EXPECT_EQ(parsed({}), CommandLineOptions{});
}

TEST(CommandLineTest, ReadsTheUnattendedOptions) {
    const auto options =
            parsed({"--unattended", "--accept-licenses", "--select", "OCR Suite, Archive", "--device", "Scanner 5000"});
    EXPECT_TRUE(options.unattended);
    EXPECT_TRUE(options.acceptLicenses);
    EXPECT_EQ(options.selection, (ApplicationSelection{ApplicationSelection::Kind::named, {"OCR Suite", "Archive"}}));
    EXPECT_EQ(options.device, QStringLiteral("Scanner 5000"));

    EXPECT_EQ(parsed({"--unattended", "--select=all"}).selection.kind, ApplicationSelection::Kind::all);
    EXPECT_EQ(parsed({"--unattended", "--select", "mandatory"}).selection, ApplicationSelection{});
}

TEST(CommandLineTest, AddressesLoseTheirTrailingSlashAndBecomeTheSettings) {
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

TEST(CommandLineTest, AcceptsExistingFilesAndFolders) {
    QTemporaryDir folder;
    const QString bundle = folder.filePath(QStringLiteral("extra.pem"));
    QFile file(bundle);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const auto options = parsed({"--ca-bundle", bundle, "--usb-root", folder.path()});
    EXPECT_EQ(options.caBundle, bundle);
    EXPECT_EQ(options.usbRoot, folder.path());
}

TEST(CommandLineTest, TheDemoRunsInTheWindowOrUnattended) {
    EXPECT_TRUE(parsed({"--demo"}).demo);
    const auto unattended = parsed({"--demo", "--unattended", "--accept-licenses", "--select", "all"});
    EXPECT_TRUE(unattended.demo);
    EXPECT_TRUE(unattended.unattended);
    EXPECT_EQ(unattended.selection.kind, ApplicationSelection::Kind::all);
}

TEST(CommandLineTest, HelpAndVersion) {
    EXPECT_TRUE(parsed({"--help"}).showHelp);
    EXPECT_TRUE(parsed({"-h"}).showHelp);
    EXPECT_TRUE(parsed({"--version"}).showVersion);
    for (const char* option : {"--unattended", "--accept-licenses", "--select", "--device", "--service-url",
                               "--support-url", "--ca-bundle", "--usb-root", "--demo", "--version", "--help"}) {
        EXPECT_THAT(usageText().toStdString(), HasSubstr(option));
    }
}

struct MistakeCase {
    const char* name;
    QStringList arguments;
    const char* complaint;
};

class CommandLineMistakeTest : public testing::TestWithParam<MistakeCase> {};

TEST_P(CommandLineMistakeTest, IsAUsageErrorThatSaysWhatIsWrong) {
    const auto result = parse(GetParam().arguments);
    ASSERT_TRUE(std::holds_alternative<UsageError>(result));
    EXPECT_THAT(std::get<UsageError>(result).message.toStdString(), HasSubstr(GetParam().complaint));
}

INSTANTIATE_TEST_SUITE_P(
        Mistakes, CommandLineMistakeTest,
        testing::Values(
                MistakeCase{"UnknownOption", {"--unatended"}, "unatended"},
                MistakeCase{"MissingValue", {"--unattended", "--select"}, "select"},
                MistakeCase{"Positional", {"install"}, "Unexpected argument 'install'"},
                MistakeCase{"EmptyName", {"--unattended", "--select", "OCR,,Scan"}, "empty name"},
                MistakeCase{"SelectWithoutUnattended", {"--select", "all"}, "--select applies only to --unattended"},
                MistakeCase{"ConsentWithoutUnattended", {"--accept-licenses"}, "--accept-licenses applies only"},
                MistakeCase{"DeviceWithoutUnattended", {"--device", "X"}, "--device applies only"},
                MistakeCase{"EmptyDevice", {"--unattended", "--device", ""}, "--device needs"},
                MistakeCase{"PlainHttpService", {"--service-url", "http://config.test"}, "https://"},
                MistakeCase{"ServiceWithoutHost", {"--service-url", "https://"}, "--service-url"},
                MistakeCase{"ServiceWithQuery", {"--service-url", "https://config.test/?a=1"}, "--service-url"},
                MistakeCase{"SupportNotWeb", {"--support-url", "file:///tmp"}, "--support-url"},
                MistakeCase{"MissingBundle", {"--ca-bundle", "/nonexistent/extra.pem"}, "not a readable file"},
                MistakeCase{"RootNotAFolder", {"--usb-root", "/nonexistent/sys"}, "not a folder"},
                MistakeCase{"DemoWithService",
                            {"--demo", "--service-url", "https://config.test"},
                            "--service-url cannot be used with --demo"},
                MistakeCase{"DemoWithUsbRoot", {"--usb-root", "/", "--demo"}, "--usb-root cannot be used with --demo"}),
        [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tarn
