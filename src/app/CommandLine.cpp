#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

// A base address: absolute, with a host, one of `schemes`; the trailing slash goes, since fixed paths
// beginning with one are appended to it.
std::optional<QString> baseUrl(const QString& text, const QStringList& schemes) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !schemes.contains(url.scheme()) || url.hasQuery() ||
        url.hasFragment()) {
        return std::nullopt;
    }
    QString base = text;
    while (base.endsWith(u'/')) {
        base.chop(1);
    }
    return base;
}

std::variant<ApplicationSelection, UsageError> selectionFrom(const QString& value) {
    if (value == "mandatory"_L1) {
        return ApplicationSelection{ApplicationSelection::Kind::mandatory, {}};
    }
    if (value == "all"_L1) {
        return ApplicationSelection{ApplicationSelection::Kind::all, {}};
    }
    QStringList names;
    for (const QString& part : value.split(u',')) {
        const QString name = part.trimmed();
        if (name.isEmpty()) {
            return UsageError{u"--select takes mandatory, all or a comma-separated list of application names; "
                              "'%1' holds an empty name."_s.arg(value)};
        }
        names.append(name);
    }
    return ApplicationSelection{ApplicationSelection::Kind::named, names};
}

// QSettings skips a line that is neither a comment, a section nor "key=value", so "service-url https://..."
// would be lost without a word. The first such line, numbered from 1, or 0 when there is none.
int firstLineWithoutValue(const QByteArray& contents) {
    int number = 0;
    for (const QByteArray& line : contents.split('\n')) {
        ++number;
        const QByteArray text = line.trimmed();
        if (!text.isEmpty() && !text.startsWith('#') && !text.startsWith(';') && !text.startsWith('[') &&
            !text.contains('=')) {
            return number;
        }
    }
    return 0;
}

// The options of tarn-installer and the checks of their values, each reading step in the order in which
// its mistakes are reported.
class OptionReader {
public:
    using Step = std::optional<UsageError> (OptionReader::*)(CommandLineOptions&) const;

    // Reads the words of `arguments` and the options that take no value.
    std::optional<UsageError> parse(const QStringList& arguments, CommandLineOptions& options);
    std::optional<UsageError> checkCombinations(CommandLineOptions& options) const;
    std::optional<UsageError> readChoices(CommandLineOptions& options) const;
    std::optional<UsageError> readAddresses(CommandLineOptions& options) const;
    std::optional<UsageError> readOutputs(CommandLineOptions& options) const;

private:
    QCommandLineParser parser;
    const QCommandLineOption help{QStringList{u"h"_s, u"help"_s}};
    const QCommandLineOption version{u"version"_s};
    const QCommandLineOption demo{u"demo"_s};
    const QCommandLineOption unattended{u"unattended"_s};
    const QCommandLineOption acceptLicenses{u"accept-licenses"_s};
    const QCommandLineOption select{u"select"_s, QString(), u"which"_s};
    const QCommandLineOption device{u"device"_s, QString(), u"name"_s};
    const QCommandLineOption serviceUrl{u"service-url"_s, QString(), u"url"_s};
    const QCommandLineOption supportUrl{u"support-url"_s, QString(), u"url"_s};
    const QCommandLineOption caBundle{u"ca-bundle"_s, QString(), u"file"_s};
    const QCommandLineOption usbRoot{u"usb-root"_s, QString(), u"dir"_s};
    const QCommandLineOption quiet{u"quiet"_s};
    const QCommandLineOption report{u"report"_s, QString(), u"file"_s};
};

std::optional<UsageError> OptionReader::parse(const QStringList& arguments, CommandLineOptions& options) {
    parser.addOptions({help, version, demo, unattended, acceptLicenses, select, device, serviceUrl, supportUrl,
                       caBundle, usbRoot, quiet, report});
    if (!parser.parse(arguments)) {
        return UsageError{parser.errorText()};
    }
    if (!parser.positionalArguments().isEmpty()) {
        return UsageError{u"Unexpected argument '%1'."_s.arg(parser.positionalArguments().first())};
    }
    options.showHelp = parser.isSet(help);
    options.showVersion = parser.isSet(version);
    options.demo = parser.isSet(demo);
    options.unattended = parser.isSet(unattended);
    options.acceptLicenses = parser.isSet(acceptLicenses);
    return std::nullopt;
}

std::optional<UsageError> OptionReader::checkCombinations(CommandLineOptions& options) const {
    for (const auto* unattendedOnly : {&acceptLicenses, &select, &device, &quiet, &report}) {
        if (parser.isSet(*unattendedOnly) && !options.unattended) {
            return UsageError{u"--%1 applies only to --unattended."_s.arg(unattendedOnly->names().first())};
        }
    }
    // The demo brings its own service, support site, authority and USB bus; none of these can be mixed in.
    for (const auto* outsideWorld : {&serviceUrl, &supportUrl, &caBundle, &usbRoot}) {
        if (parser.isSet(*outsideWorld) && options.demo) {
            return UsageError{
                    u"--%1 cannot be used with --demo, which provides its own."_s.arg(outsideWorld->names().first())};
        }
    }
    return std::nullopt;
}

std::optional<UsageError> OptionReader::readChoices(CommandLineOptions& options) const {
    if (parser.isSet(select)) {
        auto selection = selectionFrom(parser.value(select));
        if (auto* error = std::get_if<UsageError>(&selection)) {
            return *error;
        }
        options.selection = std::get<ApplicationSelection>(selection);
    }
    if (parser.isSet(device)) {
        if (parser.value(device).isEmpty()) {
            return UsageError{u"--device needs the name of a catalogue model."_s};
        }
        options.device = parser.value(device);
    }
    return std::nullopt;
}

std::optional<UsageError> OptionReader::readAddresses(CommandLineOptions& options) const {
    if (parser.isSet(serviceUrl)) {
        // The catalogue's integrity rests on the transport: plain HTTP is refused.
        options.serviceUrl = baseUrl(parser.value(serviceUrl), {u"https"_s});
        if (!options.serviceUrl) {
            return UsageError{u"--service-url needs an https:// address with a host; '%1' is not one."_s.arg(
                    parser.value(serviceUrl))};
        }
    }
    if (parser.isSet(supportUrl)) {
        options.supportUrl = baseUrl(parser.value(supportUrl), {u"https"_s, u"http"_s});
        if (!options.supportUrl) {
            return UsageError{
                    u"--support-url needs a web address with a host; '%1' is not one."_s.arg(parser.value(supportUrl))};
        }
    }
    if (parser.isSet(caBundle)) {
        const QFileInfo file(parser.value(caBundle));
        if (!file.isFile() || !file.isReadable()) {
            return UsageError{u"--ca-bundle: '%1' is not a readable file."_s.arg(parser.value(caBundle))};
        }
        options.caBundle = parser.value(caBundle);
    }
    return std::nullopt;
}

std::optional<UsageError> OptionReader::readOutputs(CommandLineOptions& options) const {
    options.quiet = parser.isSet(quiet);
    if (parser.isSet(report)) {
        // Checked now rather than after a long installation that could then not report.
        const QFileInfo file(parser.value(report));
        if (parser.value(report).isEmpty() || file.isDir() || !file.absoluteDir().exists()) {
            return UsageError{
                    u"--report needs a file in an existing folder; '%1' is not one."_s.arg(parser.value(report))};
        }
        options.report = parser.value(report);
    }
    if (parser.isSet(usbRoot)) {
        if (!QFileInfo(parser.value(usbRoot)).isDir()) {
            return UsageError{u"--usb-root: '%1' is not a folder."_s.arg(parser.value(usbRoot))};
        }
        options.usbRoot = parser.value(usbRoot);
    }
    return std::nullopt;
}

// A problem with the value of the site configuration's `key`, or none once `site` holds it.
std::optional<QString> readSiteValue(SiteConfiguration& site, const QString& key, const QString& text) {
    if (key == "service-url"_L1) {
        site.serviceUrl = baseUrl(text, {u"https"_s});
        if (!site.serviceUrl) {
            return u"service-url needs an https:// address with a host; '%1' is not one."_s.arg(text);
        }
    } else if (key == "support-url"_L1) {
        site.supportUrl = baseUrl(text, {u"https"_s, u"http"_s});
        if (!site.supportUrl) {
            return u"support-url needs a web address with a host; '%1' is not one."_s.arg(text);
        }
    } else if (key == "ca-bundle"_L1) {
        // Relative to what the user's working folder happens to be, a path would mean nothing.
        const QFileInfo bundle(text);
        if (bundle.isRelative()) {
            return u"ca-bundle needs an absolute path; '%1' is not one."_s.arg(text);
        }
        if (!bundle.isFile() || !bundle.isReadable()) {
            return u"ca-bundle: '%1' is not a readable file."_s.arg(text);
        }
        site.caBundle = text;
    } else {
        return u"unknown key '%1'; the keys are service-url, support-url and ca-bundle."_s.arg(key);
    }
    return std::nullopt;
}

// A problem with the file itself, before its entries are read.
std::optional<QString> unreadableSiteFile(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        return u"the configuration file cannot be read."_s;
    }
    if (const int line = firstLineWithoutValue(file.readAll())) {
        return u"line %1 is neither a comment, a [section] nor key=value."_s.arg(line);
    }
    return std::nullopt;
}

} // namespace

std::variant<CommandLineOptions, UsageError> parseCommandLine(const QStringList& arguments) {
    OptionReader reader;
    CommandLineOptions options;
    if (auto error = reader.parse(arguments, options)) {
        return *error;
    }
    for (const OptionReader::Step step : {&OptionReader::checkCombinations, &OptionReader::readChoices,
                                          &OptionReader::readAddresses, &OptionReader::readOutputs}) {
        if (auto error = (reader.*step)(options)) {
            return *error;
        }
    }
    return options;
}

QString usageText() {
    return u"Usage: tarn-installer [options]\n"
           "Installs the companion applications of T.A.R.N. USB document scanners.\n"
           "Without options the guided installer window opens.\n"
           "\n"
           "  --unattended             install without windows; prints one line per step\n"
           "  --accept-licenses        accept the licence agreement and the legal notes\n"
           "                           (required by --unattended)\n"
           "  --select WHICH           mandatory (default), all, or NAME,NAME,... (the mandatory\n"
           "                           applications are always installed)\n"
           "  --device NAME            catalogue model to use when no scanner is detected\n"
           "  --quiet                  print only the summary and errors\n"
           "  --report FILE            write a JSON report of the run to FILE; exit 4 when it cannot\n"
           "  --service-url URL        https base address of the configuration service\n"
           "  --support-url URL        base address of the support site\n"
           "  --ca-bundle FILE         extra PEM trust anchors for HTTPS\n"
           "  --usb-root DIR           sysfs root for USB enumeration (default /sys)\n"
           "  --demo                   everything local: sample service, packages and scanner\n"
           "  --version                print the version\n"
           "  -h, --help               print this text\n"
           "\n"
           "Settings for a whole site (service-url, support-url, ca-bundle) are read from\n"
           "  " TARN_SITE_CONFIGURATION_FILE "\n"
           "except with --demo; the options above win over them.\n"
           "\n"
           "Exit codes of --unattended: 0 all installed, 1 a mandatory application or a download of\n"
           "the catalogue or configuration failed, 2 wrong usage, 3 only optional applications failed,\n"
           "4 the run would have ended with 0 or 3 but its --report could not be written.\n"_s;
}

InstallationSettings settingsFor(const CommandLineOptions& options, InstallationSettings defaults) {
    if (options.serviceUrl) {
        defaults.serviceBaseUrl = *options.serviceUrl;
    }
    if (options.supportUrl) {
        defaults.supportBaseUrl = *options.supportUrl;
    }
    return defaults;
}

QString siteConfigurationPath() {
    return QStringLiteral(TARN_SITE_CONFIGURATION_FILE);
}

std::variant<SiteConfiguration, ConfigurationError> readSiteConfiguration(const QString& path) {
    const auto failure = [&path](const QString& problem) { return ConfigurationError{u"%1: %2"_s.arg(path, problem)}; };
    if (!QFileInfo::exists(path)) {
        return SiteConfiguration{};
    }
    if (const auto problem = unreadableSiteFile(path)) {
        return failure(*problem);
    }
    const QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        return failure(u"the configuration file is not a valid ini file."_s);
    }
    SiteConfiguration site;
    for (const QString& key : settings.allKeys()) {
        // QSettings takes only ';' for a comment and reads "#service-url = ..." as a key; administrators
        // comment a line out with '#'.
        if (key.startsWith(u'#')) {
            continue;
        }
        const QVariant value = settings.value(key);
        if (value.typeId() != QMetaType::QString) {
            return failure(u"'%1' holds a list; it takes one value."_s.arg(key));
        }
        if (const auto problem = readSiteValue(site, key, value.toString())) {
            return failure(*problem);
        }
    }
    return site;
}

CommandLineOptions withSiteConfiguration(CommandLineOptions options, const SiteConfiguration& site) {
    if (!options.serviceUrl) {
        options.serviceUrl = site.serviceUrl;
    }
    if (!options.supportUrl) {
        options.supportUrl = site.supportUrl;
    }
    if (!options.caBundle) {
        options.caBundle = site.caBundle;
    }
    return options;
}

} // namespace tarn
