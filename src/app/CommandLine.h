#pragma once

#include "workflow/InstallationServices.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace tarn {

// The exit codes of the command line, shared by the unattended mode and the option parser.
enum class ExitCode : int {
    success = 0,
    failure = 1,        // a mandatory application or a document fetch failed
    usageError = 2,     // the command line or a name on it is wrong
    optionalFailed = 3, // everything mandatory installed, some optional application failed
    reportFailed = 4,   // the run succeeded (fully or but for optional applications); its report could not be written
};

// Which applications the unattended mode installs. Mandatory applications are always included.
struct ApplicationSelection {
    enum class Kind { mandatory, all, named };
    Kind kind = Kind::mandatory;
    QStringList names; // for `named`, as given, in order

    friend bool operator==(const ApplicationSelection&, const ApplicationSelection&) = default;
};

struct CommandLineOptions {
    bool showHelp = false;
    bool showVersion = false;
    bool demo = false;
    bool unattended = false;
    bool acceptLicenses = false;
    ApplicationSelection selection;
    std::optional<QString> device;     // catalogue model when no scanner is detected
    std::optional<QString> serviceUrl; // https base URL, without a trailing slash
    std::optional<QString> supportUrl; // http(s) base URL, without a trailing slash
    std::optional<QString> caBundle;   // an existing PEM file
    std::optional<QString> usbRoot;    // an existing folder
    bool quiet = false;                // unattended: only the summary and errors
    std::optional<QString> report;     // unattended: where the JSON report goes, in an existing folder

    friend bool operator==(const CommandLineOptions&, const CommandLineOptions&) = default;
};

struct UsageError {
    QString message;
};

// Reads `arguments` (the program name first). A mistake gives a UsageError that says what is wrong;
// nothing is printed here.
std::variant<CommandLineOptions, UsageError> parseCommandLine(const QStringList& arguments);

// The text `--help` prints.
QString usageText();

// The workflow settings with the command line's addresses in place of the defaults.
InstallationSettings settingsFor(const CommandLineOptions& options, InstallationSettings defaults = {});

// What an administrator sets once for a whole site, in an ini file whose keys are the option names
// service-url, support-url and ca-bundle. The command line wins over the file, the file over the
// built-in defaults.
struct SiteConfiguration {
    std::optional<QString> serviceUrl;
    std::optional<QString> supportUrl;
    std::optional<QString> caBundle;

    friend bool operator==(const SiteConfiguration&, const SiteConfiguration&) = default;
};

struct ConfigurationError {
    QString message; // names the file and, for a bad entry, the key
};

// The installed configuration file, <sysconfdir>/tarn-installer/tarn-installer.conf.
QString siteConfigurationPath();

// A missing file is an empty configuration. An unreadable or malformed file, an unknown key or a value
// the matching option would refuse is a ConfigurationError: running on without the site's service or
// CA bundle would quietly send users elsewhere.
std::variant<SiteConfiguration, ConfigurationError> readSiteConfiguration(const QString& path);

// `options` with every address and bundle the command line left unset taken from `site`.
CommandLineOptions withSiteConfiguration(CommandLineOptions options, const SiteConfiguration& site);

} // namespace tarn
