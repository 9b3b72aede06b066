#include "demo/DemoEnvironment.h"

#include "demo/DemoCatalogue.h"
#include "demo/DemoSandbox.h"
#include "fixtures/Certificates.h"
#include "fixtures/DiskImageBuilder.h"
#include "fixtures/LocalHttpsServer.h"
#include "fixtures/Packages.h"
#include "fixtures/UsbDeviceTree.h"
#include "fixtures/XarBuilder.h"
#include "services/InstallerValidator.h"
#include "services/NetworkPathSource.h"
#include "workflow/InstallationViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QTimer>
#include <openssl/crypto.h>

#include <future>
#include <utility>

namespace tarn::demo {

using namespace Qt::StringLiterals;

namespace {

using fixtures::Credential;

// Big enough for a download to report its progress in several steps, small enough to build in a blink.
constexpr qsizetype executableSize = 512 * 1024;

// Stands in for sudo: no password and no other user. "-v" and "-k" succeed; the command after "--"
// runs as the current user, where TARN_SYSTEM_ROOT keeps it inside the sandbox.
constexpr char elevationScript[] = R"(#!/bin/sh
# The T.A.R.N. Installer demo's elevation: runs the command after "--" as the current user.
while [ "$#" -gt 0 ]; do
    case "$1" in
        --) shift; exec "$@" ;;
        -p) shift 2 ;;
        *) shift ;;
    esac
done
exit 0
)";

// The demo has no network to lose.
class ConnectedPathSource final : public NetworkPathSource {
public:
    void start(std::function<void(NetworkPathStatus)> update) override { update(NetworkPathStatus::satisfied); }
};

// Sets variables for this process (and so for every child) and puts the old values back on destruction.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    ~ScopedEnvironment() {
        for (auto entry = previous.crbegin(); entry != previous.crend(); ++entry) {
            if (entry->second) {
                qputenv(entry->first.constData(), *entry->second);
            } else {
                qunsetenv(entry->first.constData());
            }
        }
    }

    void set(const char* name, const QString& value) {
        previous.emplace_back(QByteArray(name),
                              qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        qputenv(name, QFile::encodeName(value));
    }

private:
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> previous;
};

DemoVariant variantNamed(const QString& name) {
    if (name.isEmpty() || name == QLatin1String("standard")) {
        return DemoVariant::standard;
    }
    if (name == QLatin1String("bad-optional-digest")) {
        return DemoVariant::badOptionalDigest;
    }
    if (name == QLatin1String("broken-mandatory")) {
        return DemoVariant::brokenMandatory;
    }
    if (name == QLatin1String("foreign-signer")) {
        return DemoVariant::foreignSigner;
    }
    if (name == QLatin1String("escaping-links")) {
        return DemoVariant::escapingLinks;
    }
    throw DemoError(u"TARN_DEMO_VARIANT: '%1' is none of standard, bad-optional-digest, "
                    "broken-mandatory, foreign-signer, escaping-links."_s.arg(name)
                            .toStdString());
}

std::chrono::milliseconds delayFrom(const QString& text) {
    static const QRegularExpression digits(u"^[0-9]+$"_s);
    bool isNumber = false;
    const uint milliseconds = text.toUInt(&isNumber);
    if (!isNumber || !digits.match(text).hasMatch()) {
        throw DemoError(
                u"TARN_DEMO_SCANNER_DELAY_MS: '%1' is not a whole number of milliseconds."_s.arg(text).toStdString());
    }
    return std::chrono::milliseconds(milliseconds);
}

// The stand-ins this process runs, and the disk-image tool's own helper.
ToolPaths checkedTools() {
    const ToolPaths tools = ToolPaths::forThisSystem();
    for (const QString& tool : {tools.pkgutil, tools.installer, tools.hdiutil, tools.osascript}) {
        if (!QFileInfo(tool).isExecutable()) {
            throw DemoError(u"The demo runs the package-tool stand-in '%1', which is not there: build "
                            "the whole project, not only the application."_s.arg(QDir::cleanPath(tool))
                                    .toStdString());
        }
    }
    if (QStandardPaths::findExecutable(u"7zz"_s).isEmpty()) {
        throw DemoError("The demo's disk image needs 7-Zip (the command 7zz): run scripts/setup.");
    }
    return tools;
}

// A package that is whole and signed as an archive, but whose payload's compressed stream stops in the
// middle of the application: only unpacking finds out, once part of it has been written.
QByteArray packageWithPayloadCutShort(const fixtures::ComponentPackage& component,
                                      const fixtures::PackageOptions& packaging) {
    QByteArray payload = component.payload->archive(fixtures::PayloadCompression::gzip);
    payload.truncate(payload.size() * 3 / 4);
    fixtures::XarBuilder builder;
    builder.addFile(u"PackageInfo"_s, fixtures::packageInfo(component), packaging.metadataEncoding);
    builder.addFile(u"Payload"_s, payload, packaging.payloadEncoding);
    return builder.build(packaging.checksum, packaging.signer).bytes;
}

QByteArray page(const QString& title, const QString& body) {
    return u"<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>%1</title></head>\n"
           "<body><h1>%1</h1>\n%2\n<p><small>Served by the T.A.R.N. Installer demo.</small></p>"
           "</body></html>\n"_s.arg(title, body)
                   .toUtf8();
}

// A signer the demo's authority vouches for, but no trusted identity.
const QString foreignSignerName = u"Mallory Tools"_s;
const QString foreignSignerTeam = u"Z9Z9Z9Z9Z9"_s;

// A digest of the right form that no file here has.
QString wrongDigest(const QString& digest) {
    QString wrong = digest;
    wrong[0] = wrong[0] == u'0' ? u'1' : u'0';
    return wrong;
}

} // namespace

DemoOptions DemoOptions::fromEnvironment(const QProcessEnvironment& environment) {
    DemoOptions options;
    const QString sandbox = environment.value(u"TARN_DEMO_SANDBOX"_s);
    if (!sandbox.isEmpty()) {
        options.keptSandbox = sandbox;
    }
    options.variant = variantNamed(environment.value(u"TARN_DEMO_VARIANT"_s));
    const QString delay = environment.value(u"TARN_DEMO_SCANNER_DELAY_MS"_s);
    if (!delay.isEmpty()) {
        options.scannerDelay = delayFrom(delay);
    }
    return options;
}

struct DemoEnvironment::Parts {
    explicit Parts(DemoOptions options) : options(std::move(options)), sandbox(this->options.keptSandbox) {}

    void setUpProcessEnvironment();
    void makeCredentials();
    void startService();
    QByteArray buildInstaller(const SampleApplication& application) const;
    void publish(const QString& path, const QByteArray& body, const QByteArray& contentType);
    void publishDocuments();
    void setUpUsbBus();
    void plugScanner();

    DemoOptions options;
    DemoSandbox sandbox; // first made, last gone: everything below lives in it
    ScopedEnvironment environment;
    ToolPaths tools;
    std::optional<Credential> tlsAuthority;
    std::optional<Credential> serverCredential;
    std::optional<Credential> packageAuthority;
    QHash<QString, Credential> signers; // by team identifier
    std::unique_ptr<fixtures::LocalHttpsServer> server;
    QHash<QString, QByteArray> served;
    std::unique_ptr<fixtures::UsbDeviceTree> usbBus;
    bool scannerPlugged = false;
    QTimer plugTimer;
    Subscription searchWatch;
};

DemoEnvironment::DemoEnvironment(DemoOptions options) : parts(std::make_unique<Parts>(std::move(options))) {
    parts->tools = checkedTools();
    parts->setUpProcessEnvironment();
    parts->makeCredentials();
    parts->startService();
    parts->publishDocuments();
    parts->setUpUsbBus();
}

DemoEnvironment::~DemoEnvironment() = default;

void DemoEnvironment::Parts::setUpProcessEnvironment() {
    const QString elevation = QDir(sandbox.toolsFolder()).filePath(u"elevate"_s);
    QFile script(elevation);
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate) || script.write(elevationScript) < 0 ||
        !script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        throw DemoError(u"Cannot write the demo's elevation command '%1': %2"_s.arg(elevation, script.errorString())
                                .toStdString());
    }
    tools.sudo = elevation;
    environment.set("TARN_SYSTEM_ROOT", sandbox.systemRoot());
    environment.set("TARN_SUDO", elevation);
    // Downloads and the tools' scratch folders stay in the sandbox too.
    environment.set("TMPDIR", sandbox.temporaryFolder());
}

// Key generation is most of the start-up: the two authorities share one key and every leaf certificate
// another, and the two keys are made at the same time.
void DemoEnvironment::Parts::makeCredentials() {
    // A thread of its own that frees OpenSSL's per-thread state when done; a pooled thread would keep
    // that state until after OpenSSL has shut down, and it would be lost.
    std::future<std::shared_ptr<EVP_PKEY>> leafKeyBeingMade = std::async(std::launch::async, [] {
        const auto cleanup = qScopeGuard([] { OPENSSL_thread_stop(); });
        return fixtures::newRsaKey();
    });
    const std::shared_ptr<EVP_PKEY> authorityKey = fixtures::newRsaKey();
    const std::shared_ptr<EVP_PKEY> leafKey = leafKeyBeingMade.get();

    tlsAuthority = Credential::authority(u"T.A.R.N. Installer Demo TLS Authority"_s, {}, {}, authorityKey);
    packageAuthority =
            Credential::authority(u"T.A.R.N. Installer Demo Package Signing Authority"_s, {}, {}, authorityKey);
    for (const auto& application : sampleApplications()) {
        if (signers.contains(application.signerTeam)) {
            continue;
        }
        fixtures::CertificateRequest request =
                fixtures::packageSignerRequest(application.signerName, application.signerTeam);
        request.key = leafKey;
        signers.insert(application.signerTeam, packageAuthority->issue(request));
    }
    if (options.variant == DemoVariant::foreignSigner) {
        fixtures::CertificateRequest request = fixtures::packageSignerRequest(foreignSignerName, foreignSignerTeam);
        request.key = leafKey;
        signers.insert(foreignSignerTeam, packageAuthority->issue(request));
    }
    fixtures::CertificateRequest serverRequest;
    serverRequest.commonName = u"127.0.0.1"_s;
    serverRequest.organization = u"T.A.R.N. Installer Demo"_s;
    serverRequest.usage = fixtures::CertificateUsage::tlsServer;
    serverRequest.dnsNames = {u"localhost"_s};
    serverRequest.ipAddresses = {u"127.0.0.1"_s};
    serverRequest.key = leafKey;
    serverCredential = tlsAuthority->issue(serverRequest);
    // Package signatures are checked against the system root's anchors: the sandbox's, and only there.
    fixtures::installTrustAnchors(sandbox.systemRoot(), {*packageAuthority});
}

void DemoEnvironment::Parts::startService() {
    try {
        server = std::make_unique<fixtures::LocalHttpsServer>(*serverCredential,
                                                              fixtures::LocalHttpsServer::Threading::ownThread);
    } catch (const std::runtime_error& failure) {
        throw DemoError(std::string("The demo's configuration service cannot start: ") + failure.what());
    }
}

QByteArray DemoEnvironment::Parts::buildInstaller(const SampleApplication& application) const {
    fixtures::AppBundle bundle;
    bundle.name = application.name;
    bundle.shortVersion = application.version;
    bundle.bundleVersion = application.version;
    bundle.identifier = QString(application.pkgId).replace(u".pkg."_s, u"."_s);
    bundle.executableSize = executableSize;
    fixtures::ComponentPackage component = fixtures::appPackage(application.pkgId, bundle);
    QList<fixtures::ComponentPackage> extraComponents;
    if (options.variant == DemoVariant::escapingLinks) {
        const qsizetype position = simulatedScanner().applications.indexOf(application.name);
        if (position == 0) {
            fixtures::ComponentPackage links{u"%1.links"_s.arg(application.pkgId), application.version, u"/"_s};
            links.payload = fixtures::Payload().directory(u"./Library"_s).symlink(u"./Library/back"_s, u".."_s);
            extraComponents.append(links);
        } else if (position == 1) {
            component.installLocation = u"/Library"_s;
            component.payload->symlink(u"./up"_s, u"back/.."_s);
        } else if (position == 2) {
            component.installLocation = u"/Library/up/Applications"_s;
        }
    }

    fixtures::PackageOptions packaging;
    packaging.signer = fixtures::PackageSigner{*signers.constFind(application.signerTeam), {*packageAuthority}};
    if (options.variant == DemoVariant::brokenMandatory && application.name == damagedMandatory().name) {
        return packageWithPayloadCutShort(component, packaging);
    }

    switch (application.format) {
    case InstallerFormat::componentPackage:
        return fixtures::buildComponentPackage(component, packaging);
    case InstallerFormat::productArchive:
        return fixtures::buildProductArchive(application.name, QList{component} + extraComponents, packaging);
    case InstallerFormat::diskImage: {
        QString packageName = u"%1.pkg"_s.arg(application.name);
        if (options.variant == DemoVariant::foreignSigner) {
            packaging.signer->signer = *signers.constFind(foreignSignerTeam);
            packageName = u"%1 (%2).pkg"_s.arg(application.signerName, application.signerTeam);
        }
        const QString image = QDir(sandbox.temporaryFolder()).filePath(application.fileName);
        fixtures::DiskImageBuilder()
                .setVolumeName(application.name)
                .addFile(packageName, fixtures::buildComponentPackage(component, packaging))
                .write(image);
        QFile file(image);
        if (!file.open(QIODevice::ReadOnly)) {
            throw DemoError(u"Cannot read the demo's disk image '%1'."_s.arg(image).toStdString());
        }
        const QByteArray bytes = file.readAll();
        file.close();
        file.remove();
        return bytes;
    }
    }
    Q_UNREACHABLE();
}

// Served from memory, and written under the sandbox too, so that one can look at what the service
// hands out.
void DemoEnvironment::Parts::publish(const QString& path, const QByteArray& body, const QByteArray& contentType) {
    served.insert(path, body);
    server->route(path, fixtures::HttpReply::withBody(body).header("Content-Type", contentType));
    fixtures::writeFile(sandbox.servedFiles() + path, body);
}

void DemoEnvironment::Parts::publishDocuments() {
    const auto url = [this](const QString& path) { return server->url(path).toString(); };

    QHash<QString, AnnouncedApplication> announced;
    for (const auto& application : sampleApplications()) {
        const QString path = QString::fromLatin1(packagesPath) + application.fileName;
        const QByteArray installer = buildInstaller(application);
        publish(path, installer, "application/octet-stream");
        QString digest = InstallerValidator::sha512Hash(installer);
        if (options.variant == DemoVariant::badOptionalDigest && application.name == optionalWithWrongDigest().name) {
            digest = wrongDigest(digest);
        }
        announced.insert(application.name, {&application, url(path), digest});
    }

    const QString successUrl = url(QString::fromLatin1(successPagePath));
    QList<CatalogueEntry> catalogue;
    for (const auto& scanner : sampleScanners()) {
        QList<AnnouncedApplication> applications;
        for (const QString& name : scanner.applications) {
            applications.append(announced.value(name));
        }
        const QString path = QString::fromLatin1(configurationsPath) + scanner.configurationFile;
        const QByteArray configuration = configurationDocument(scanner, successUrl, applications);
        publish(path, configuration, "application/json");
        catalogue.append({&scanner, url(path), InstallerValidator::sha512Hash(configuration)});
    }
    publish(QString::fromLatin1(cataloguePath), catalogueDocument(catalogue), "application/json");

    publish(QString::fromLatin1(successPagePath),
            page(u"Your T.A.R.N. scanner is ready"_s,
                 u"<p>The applications are installed. Place a document in the scanner and press its "
                 "button.</p>"_s),
            "text/html; charset=utf-8");
    publish(QString::fromLatin1(supportPagePath),
            page(u"T.A.R.N. customer support"_s, u"<p>In a real installation this is the vendor's support site.</p>"_s),
            "text/html; charset=utf-8");
}

// A bus with its root hubs and a keyboard; the scanner comes later.
void DemoEnvironment::Parts::setUpUsbBus() {
    try {
        usbBus = std::make_unique<fixtures::UsbDeviceTree>(sandbox.usbRoot());
        usbBus->addDevice(fixtures::UsbDevice::withIdentity(u"usb1"_s, 0x1d6b, 0x0002, u"Linux 6.1.0 xhci-hcd"_s,
                                                            u"xHCI Host Controller"_s));
        usbBus->addDevice(fixtures::UsbDevice::withIdentity(u"usb2"_s, 0x1d6b, 0x0003, u"Linux 6.1.0 xhci-hcd"_s,
                                                            u"xHCI Host Controller"_s));
        usbBus->addDevice(fixtures::UsbDevice::withIdentity(u"1-1"_s, 0x2b7c, 0x0101, u"Generic"_s, u"USB Keyboard"_s));
        // A kept sandbox may still hold the scanner of the last run.
        usbBus->removeDevice(u"1-2"_s);
    } catch (const std::runtime_error& failure) {
        throw DemoError(std::string("Cannot build the demo's USB device tree: ") + failure.what());
    }
    plugTimer.setSingleShot(true);
    QObject::connect(&plugTimer, &QTimer::timeout, &plugTimer, [this] { plugScanner(); });
}

void DemoEnvironment::Parts::plugScanner() {
    const SampleScanner& scanner = simulatedScanner();
    QString product = scanner.name;
    product.remove(u"T.A.R.N. "_s);
    usbBus->addDevice(
            fixtures::UsbDevice::withIdentity(u"1-2"_s, scanner.vendorID, scanner.productID, u"T.A.R.N."_s, product));
    scannerPlugged = true;
}

void DemoEnvironment::simulateScannerFor(InstallationViewModel& model) {
    parts->searchWatch = model.deviceSearchStatus.subscribe([this](const DeviceSearchState& state) {
        if (!state.is(DeviceSearchState::Case::searching) || parts->scannerPlugged || parts->plugTimer.isActive()) {
            return;
        }
        if (parts->options.scannerDelay.count() <= 0) {
            parts->plugScanner();
        } else {
            parts->plugTimer.start(parts->options.scannerDelay);
        }
    });
}

SystemServiceOptions DemoEnvironment::serviceOptions() const {
    SystemServiceOptions options;
    options.tools = parts->tools;
    options.usbRoot = parts->sandbox.usbRoot();
    options.extraAuthorities = QSslCertificate::fromData(parts->tlsAuthority->certificatePem(), QSsl::Pem);
    options.pathSource = std::make_shared<ConnectedPathSource>();
    return options;
}

InstallationServices DemoEnvironment::services() const {
    return makeSystemServices(serviceOptions());
}

InstallationSettings DemoEnvironment::settings() const {
    InstallationSettings settings;
    QString base = parts->server->url(u"/"_s).toString();
    base.chop(1);
    settings.serviceBaseUrl = base;
    settings.supportBaseUrl = base;
    return settings;
}

const QString& DemoEnvironment::sandboxFolder() const {
    return parts->sandbox.folder();
}

QString DemoEnvironment::systemRoot() const {
    return parts->sandbox.systemRoot();
}

QString DemoEnvironment::usbRoot() const {
    return parts->sandbox.usbRoot();
}

QUrl DemoEnvironment::serviceUrl(const QString& path) const {
    return parts->server->url(path);
}

std::optional<QByteArray> DemoEnvironment::servedFile(const QString& path) const {
    const auto file = parts->served.constFind(path);
    if (file == parts->served.cend()) {
        return std::nullopt;
    }
    return *file;
}

QStringList DemoEnvironment::summary() const {
    const double delay = static_cast<double>(parts->options.scannerDelay.count()) / 1000;
    QStringList lines{
            u"Demo: a local configuration service, signed sample packages and a simulated scanner."_s,
            u"  Configuration service: %1 (its authority is trusted by this process only)"_s.arg(
                    settings().serviceBaseUrl),
            u"  Sandbox: %1 (%2)"_s.arg(parts->sandbox.folder(),
                                        parts->sandbox.isKept() ? u"kept after the run"_s : u"removed on exit"_s),
            u"  Applications install under %1"_s.arg(parts->sandbox.systemRoot()),
            u"  The scanner '%1' is plugged in %2 s after the device search starts."_s.arg(simulatedScanner().name)
                    .arg(delay),
    };
    switch (parts->options.variant) {
    case DemoVariant::standard:
        break;
    case DemoVariant::badOptionalDigest:
        lines.append(u"  Variant: '%1' is announced with a wrong digest."_s.arg(optionalWithWrongDigest().name));
        break;
    case DemoVariant::brokenMandatory:
        lines.append(u"  Variant: the package of '%1' is damaged."_s.arg(damagedMandatory().name));
        break;
    case DemoVariant::foreignSigner:
        lines.append(u"  Variant: the disk image's package is signed by %1 (%2)."_s.arg(foreignSignerName,
                                                                                        foreignSignerTeam));
        break;
    case DemoVariant::escapingLinks:
        lines.append(u"  Variant: the first three applications lay links that climb out of the "
                     "system root."_s);
        break;
    }
    return lines;
}

} // namespace tarn::demo
