#pragma once

#include "common/SystemRoot.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace tarn::tool {

enum class SignatureStatus { trusted, noSignature, untrusted, expired, invalid };

struct CertificateSummary {
    QString commonName;
    QDateTime expires;
    QByteArray sha256Fingerprint;
};

struct SignatureReport {
    SignatureStatus status = SignatureStatus::invalid;
    QString detail;                  // why the package is invalid or its chain untrusted
    QList<CertificateSummary> chain; // the verified chain, or the package's certificates as found
};

// Decides whether a flat package is signed by a certificate that chains to this system's package-signing
// trust anchors: the TOC checksum must match the TOC, the RSA signature must cover that checksum with
// the same digest algorithm, every heap entry must match its archived checksum, and the chain must verify.
SignatureReport checkSignature(const QString& packagePath, const SystemRoot& root);

// The report in the shape of `pkgutil --check-signature` on macOS.
QString formatReport(const QString& packageName, const SignatureReport& report);
// One line for standard error saying why the check failed; empty for a trusted package.
QString failureLine(const QString& packageName, const SignatureReport& report);

} // namespace tarn::tool
