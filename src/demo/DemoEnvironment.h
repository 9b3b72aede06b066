#pragma once

#include "workflow/InstallationServices.h"
#include "workflow/SystemServices.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>

namespace tarn {

class InstallationViewModel;

namespace demo {

// The demo cannot be set up as asked: a bad setting, a missing tool, a folder it cannot write.
class DemoError final : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class DemoVariant {
    standard,
    badOptionalDigest, // an optional application is announced with a digest its installer does not have
    // A mandatory application's package is damaged: announced with its true digest and properly signed,
    // its payload breaks off halfway, so the installation fails after it has begun to unpack.
    brokenMandatory,
    // The disk image's package is signed by a stranger whose chain the anchors vouch for, and lies in
    // the image under a trusted identity as its file name: the signature check must refuse it.
    foreignSigner,
    // Links laid by packages lead later ones out of the system root unless paths resolve inside it. In
    // the configuration's order (the two mandatory ones install first): the scanner's first application
    // also lays "/Library/back" -> "..", the second installs at "/Library" with "up" -> "back/..", the
    // third installs at "/Library/up/Applications".
    escapingLinks,
};

// How the demo is set up. Hidden knobs, read from the environment, for the end-to-end tests and for
// anyone who wants to look into a run:
//   TARN_DEMO_SANDBOX=DIR        work in DIR and keep it (installs and receipts survive, so a second
//                                run finds the applications installed); otherwise a fresh temporary
//                                folder that is removed on exit
//   TARN_DEMO_VARIANT=NAME       bad-optional-digest, broken-mandatory, foreign-signer or escaping-links
//   TARN_DEMO_SCANNER_DELAY_MS=N how long after a device search starts the scanner is plugged in
//                                (default 3000; 0 plugs it in as the search starts)
struct DemoOptions {
    static constexpr std::chrono::milliseconds defaultScannerDelay{3'000};

    std::optional<QString> keptSandbox;
    DemoVariant variant = DemoVariant::standard;
    std::chrono::milliseconds scannerDelay = defaultScannerDelay;

    // Throws DemoError naming the variable and what it accepts when a value is wrong.
    static DemoOptions
    fromEnvironment(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
};

// Everything outside the installer that a real installation needs, made locally, so that the real
// installer (workflow, services, stand-in tools) runs end to end on a machine with no scanner and no
// configuration service:
//   - a sandbox folder with a system root (TARN_SYSTEM_ROOT, set for this process and its children),
//     a sysfs tree, the served files, a temporary folder (TMPDIR) and the elevation command;
//   - an HTTPS configuration service on 127.0.0.1 whose certificate comes from an authority made at
//     start-up and trusted by this process only; it serves the catalogue, one configuration per
//     scanner, signed packages and a disk image built at start-up, the success and support pages;
//   - package signatures by the three trusted signers, under a signing authority that only the
//     sandbox's system root trusts;
//   - a scanner that is plugged into the sysfs tree a while after a device search starts;
//   - a network path that is always there;
//   - elevation without a password: a passthrough in place of sudo (TARN_SUDO for the script runner).
// Nothing is written outside the sandbox except the installer's own log. Needs an application
// object; lives as long as the services it made.
class DemoEnvironment {
public:
    explicit DemoEnvironment(DemoOptions options = DemoOptions::fromEnvironment());
    ~DemoEnvironment();

    DemoEnvironment(const DemoEnvironment&) = delete;
    DemoEnvironment& operator=(const DemoEnvironment&) = delete;

    // The real services, pointed at the demo's tools, USB tree, authority and network path.
    SystemServiceOptions serviceOptions() const;
    InstallationServices services() const;
    // The workflow settings: the local service and support site, the usual durations.
    InstallationSettings settings() const;

    // Plugs the simulated scanner in once `model`'s device search has run for the scanner delay. Call
    // once, right after building the model; the watch ends with this object.
    void simulateScannerFor(InstallationViewModel& model);

    const QString& sandboxFolder() const;
    QString systemRoot() const;
    QString usbRoot() const;
    // https://127.0.0.1:<port><path>
    QUrl serviceUrl(const QString& path) const;
    // What the service answers for GET `path`; none where it answers 404.
    std::optional<QByteArray> servedFile(const QString& path) const;

    // A few lines for the terminal: where the service runs, where the sandbox is, what to expect.
    QStringList summary() const;

private:
    struct Parts;
    std::unique_ptr<Parts> parts;
};

} // namespace demo
} // namespace tarn
