#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>

namespace tarn {

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
    if (value == QLatin1String("mandatory")) {
        return ApplicationSelection{ApplicationSelection::Kind::mandatory, {}};
    }
    if (value == QLatin1String("all")) {
        return ApplicationSelection{ApplicationSelection::Kind::all, {}};
    }
    QStringList names;
    for (const QString& part : value.split(u',')) {
        const QString name = part.trimmed();
        if (name.isEmpty()) {
            return UsageError{QStringLiteral("--select takes mandatory, all or a comma-separated list of "
                                             "application names; '%1' holds an empty name.")
                                      .arg(value)};
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

} // namespace

std::variant<CommandLineOptions, UsageError> parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption demo(QStringLiteral("demo"));
    const QCommandLineOption unattended(QStringLiteral("unattended"));
    const QCommandLineOption acceptLicenses(QStringLiteral("accept-licenses"));
    const QCommandLineOption select(QStringLiteral("select"), QString(), QStringLiteral("which"));
    const QCommandLineOption device(QStringLiteral("device"), QString(), QStringLiteral("name"));
    const QCommandLineOption serviceUrl(QStringLiteral("service-url"), QString(), QStringLiteral("url"));
    const QCommandLineOption supportUrl(QStringLiteral("support-url"), QString(), QStringLiteral("url"));
    const QCommandLineOption caBundle(QStringLiteral("ca-bundle"), QString(), QStringLiteral("file"));
    const QCommandLineOption usbRoot(QStringLiteral("usb-root"), QString(), QStringLiteral("dir"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("file"));
    parser.addOptions({help, version, demo, unattended, acceptLicenses, select, device, serviceUrl, supportUrl,
                       caBundle, usbRoot, quiet, report});
    if (!parser.parse(arguments)) {
        return UsageError{parser.errorText()};
    }
    if (!parser.positionalArguments().isEmpty()) {
        return UsageError{QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first())};
    }

    CommandLineOptions options;
    options.showHelp = parser.isSet(help);
    options.showVersion = parser.isSet(version);
    options.demo = parser.isSet(demo);
    options.unattended = parser.isSet(unattended);
    options.acceptLicenses = parser.isSet(acceptLicenses);

    for (const auto* unattendedOnly : {&acceptLicenses, &select, &device, &quiet, &report}) {
        if (parser.isSet(*unattendedOnly) && !options.unattended) {
            return UsageError{
                    QStringLiteral("--%1 applies only to --unattended.").arg(unattendedOnly->names().first())};
        }
    }
    // The demo brings its own service, support site, authority and USB bus; none of these can be mixed in.
    for (const auto* outsideWorld : {&serviceUrl, &supportUrl, &caBundle, &usbRoot}) {
        if (parser.isSet(*outsideWorld) && options.demo) {
            return UsageError{QStringLiteral("--%1 cannot be used with --demo, which provides its own.")
                                      .arg(outsideWorld->names().first())};
        }
    }
    if (parser.isSet(select)) {
        auto selection = selectionFrom(parser.value(select));
        if (auto* error = std::get_if<UsageError>(&selection)) {
            return *error;
        }
        options.selection = std::get<ApplicationSelection>(selection);
    }
    if (parser.isSet(device)) {
        if (parser.value(device).isEmpty()) {
            return UsageError{QStringLiteral("--device needs the name of a catalogue model.")};
        }
        options.device = parser.value(device);
    }
    if (parser.isSet(serviceUrl)) {
        // The catalogue's integrity rests on the transport: plain HTTP is refused.
        options.serviceUrl = baseUrl(parser.value(serviceUrl), {QStringLiteral("https")});
        if (!options.serviceUrl) {
            return UsageError{QStringLiteral("--service-url needs an https:// address with a host; '%1' is not one.")
                                      .arg(parser.value(serviceUrl))};
        }
    }
    if (parser.isSet(supportUrl)) {
        options.supportUrl = baseUrl(parser.value(supportUrl), {QStringLiteral("https"), QStringLiteral("http")});
        if (!options.supportUrl) {
            return UsageError{QStringLiteral("--support-url needs a web address with a host; '%1' is not one.")
                                      .arg(parser.value(supportUrl))};
        }
    }
    if (parser.isSet(caBundle)) {
        const QFileInfo file(parser.value(caBundle));
        if (!file.isFile() || !file.isReadable()) {
            return UsageError{QStringLiteral("--ca-bundle: '%1' is not a readable file.").arg(parser.value(caBundle))};
        }
        options.caBundle = parser.value(caBundle);
    }
    options.quiet = parser.isSet(quiet);
    if (parser.isSet(report)) {
        // Checked now rather than after a long installation that could then not report.
        const QFileInfo file(parser.value(report));
        if (parser.value(report).isEmpty() || file.isDir() || !file.absoluteDir().exists()) {
            return UsageError{QStringLiteral("--report needs a file in an existing folder; '%1' is not one.")
                                      .arg(parser.value(report))};
        }
        options.report = parser.value(report);
    }
    if (parser.isSet(usbRoot)) {
        if (!QFileInfo(parser.value(usbRoot)).isDir()) {
            return UsageError{QStringLiteral("--usb-root: '%1' is not a folder.").arg(parser.value(usbRoot))};
        }
        options.usbRoot = parser.value(usbRoot);
    }
    return options;
}

QString usageText() {
    return QStringLiteral(
            "Usage: tarn-installer [options]\n"
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
            "4 the run would have ended with 0 or 3 but its --report could not be written.\n");
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
    const auto failure = [&path](const QString& problem) {
        return ConfigurationError{QStringLiteral("%1: %2").arg(path, problem)};
    };
    if (!QFileInfo::exists(path)) {
        return SiteConfiguration{};
    }
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        return failure(QStringLiteral("the configuration file cannot be read."));
    }
    if (const int line = firstLineWithoutValue(file.readAll())) {
        return failure(QStringLiteral("line %1 is neither a comment, a [section] nor key=value.").arg(line));
    }
    file.close();

    const QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        return failure(QStringLiteral("the configuration file is not a valid ini file."));
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
            return failure(QStringLiteral("'%1' holds a list; it takes one value.").arg(key));
        }
        const QString text = value.toString();
        if (key == QLatin1String("service-url")) {
            site.serviceUrl = baseUrl(text, {QStringLiteral("https")});
            if (!site.serviceUrl) {
                return failure(QStringLiteral("service-url needs an https:// address with a host; '%1' is not one.")
                                       .arg(text));
            }
        } else if (key == QLatin1String("support-url")) {
            site.supportUrl = baseUrl(text, {QStringLiteral("https"), QStringLiteral("http")});
            if (!site.supportUrl) {
                return failure(
                        QStringLiteral("support-url needs a web address with a host; '%1' is not one.").arg(text));
            }
        } else if (key == QLatin1String("ca-bundle")) {
            // Relative to what the user's working folder happens to be, a path would mean nothing.
            const QFileInfo bundle(text);
            if (bundle.isRelative()) {
                return failure(QStringLiteral("ca-bundle needs an absolute path; '%1' is not one.").arg(text));
            }
            if (!bundle.isFile() || !bundle.isReadable()) {
                return failure(QStringLiteral("ca-bundle: '%1' is not a readable file.").arg(text));
            }
            site.caBundle = text;
        } else {
            return failure(
                    QStringLiteral("unknown key '%1'; the keys are service-url, support-url and ca-bundle.").arg(key));
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
