// pkgutil run as the real executable against packages built by the fixtures, in a sandboxed system root.
#include "PackageToolSupport.h"
#include "common/Plist.h"

#include <QCryptographicHash>
#include <QFile>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <ctime>

namespace tarn::test {
namespace {

using namespace fixtures;
using ::testing::HasSubstr;
using ::testing::Not;

std::string text(const QByteArray& bytes) {
    return bytes.toStdString();
}

// The first line of a certificate's fingerprint as the report prints it.
std::string fingerprintLine(const Credential& credential) {
    const QByteArray digest = QCryptographicHash::hash(credential.certificateDer(), QCryptographicHash::Sha256);
    return digest.left(16).toHex(' ').toUpper().toStdString();
}

// "2027-05-01 10:00:00 +0000" for the certificate's notAfter.
std::string expiryLine(const Credential& credential) {
    struct tm parts = {};
    ASN1_TIME_to_tm(X509_get0_notAfter(credential.certificate()), &parts);
    char line[64];
    std::strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S +0000\n", &parts);
    return line;
}

QByteArray appPackageBytes(const PackageOptions& options) {
    const AppBundle app{QStringLiteral("Scan Manager"), QStringLiteral("2.1"), QStringLiteral("2.1.7")};
    return buildComponentPackage(appPackage(QStringLiteral("com.tarn.scanmanager"), app), options);
}

class PkgutilSignature : public ::testing::TestWithParam<TocChecksum> {};

TEST_P(PkgutilSignature, TrustsAPackageSignedThroughAnIntermediateOfTheAnchor) {
    const Sandbox sandbox;
    const auto& credentials = SigningCredentials::shared();
    PackageOptions options;
    options.checksum = GetParam();
    options.signer = credentials.trusted();
    const QString package = sandbox.writePackage(QStringLiteral("Scan Manager.pkg"), appPackageBytes(options));

    const ToolRun run = sandbox.pkgutil({QStringLiteral("--check-signature"), package});

    EXPECT_EQ(run.exitCode, 0) << text(run.err);
    const std::string report = text(run.out);
    EXPECT_THAT(report, HasSubstr("Package \"Scan Manager.pkg\":\n"
                                  "   Status: signed by a certificate trusted by this system\n"
                                  "   Certificate Chain:\n"
                                  "    1. Developer ID Installer: TARN (Q7XK2M9P4D)\n"
                                  "       Expires: "));
    EXPECT_THAT(report, HasSubstr("    2. TARN Test Installer CA\n"));
    EXPECT_THAT(report, HasSubstr("    3. TARN Test Root CA\n"));
    EXPECT_THAT(report, HasSubstr(fingerprintLine(credentials.signer)));
    EXPECT_THAT(report, HasSubstr(fingerprintLine(credentials.root)));
    EXPECT_THAT(report, HasSubstr("1. Developer ID Installer: TARN (Q7XK2M9P4D)\n       Expires: " +
                                  expiryLine(credentials.signer)));
}

INSTANTIATE_TEST_SUITE_P(TocChecksums, PkgutilSignature,
                         ::testing::Values(TocChecksum::sha1, TocChecksum::sha256, TocChecksum::sha512));

TEST(PkgutilSignature, FindsTheIntermediateOnlyInThePackage) {
    const Sandbox sandbox;
    const auto& credentials = SigningCredentials::shared();
    PackageOptions options;
    options.signer = PackageSigner{credentials.signer, {}};
    const QString withoutIntermediate = sandbox.writePackage(QStringLiteral("a.pkg"), appPackageBytes(options));
    options.signer = PackageSigner{credentials.signer, {credentials.intermediate}};
    const QString withIntermediate = sandbox.writePackage(QStringLiteral("b.pkg"), appPackageBytes(options));

    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--check-signature"), withIntermediate}).exitCode, 0);
    const ToolRun run = sandbox.pkgutil({QStringLiteral("--check-signature"), withoutIntermediate});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(text(run.out), HasSubstr("   Status: signed by untrusted certificate\n"));
}

struct RefusedPackage {
    const char* name;
    PackageDamage damage;
    enum class Signer { trusted, none, stranger, expired } signer;
    const char* expectedStatus;
};

void PrintTo(const RefusedPackage& refused, std::ostream* out) {
    *out << refused.name;
}

class PkgutilRefuses : public ::testing::TestWithParam<RefusedPackage> {};

TEST_P(PkgutilRefuses, WithAReportAndExitStatusOne) {
    const Sandbox sandbox;
    const auto& credentials = SigningCredentials::shared();
    const RefusedPackage& refused = GetParam();
    PackageOptions options;
    options.damage = refused.damage;
    switch (refused.signer) {
    case RefusedPackage::Signer::trusted:
        options.signer = credentials.trusted();
        break;
    case RefusedPackage::Signer::none:
        break;
    case RefusedPackage::Signer::stranger:
        options.signer = PackageSigner{credentials.strangerSigner, {credentials.strangerRoot}};
        break;
    case RefusedPackage::Signer::expired:
        options.signer = PackageSigner{credentials.expiredSigner, {credentials.intermediate, credentials.root}};
        break;
    }
    const QString package = sandbox.writePackage(QStringLiteral("App.pkg"), appPackageBytes(options));

    const ToolRun run = sandbox.pkgutil({QStringLiteral("--check-signature"), package});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(text(run.out), HasSubstr(std::string("Package \"App.pkg\":\n   Status: ") + refused.expectedStatus));
    EXPECT_THAT(text(run.out), Not(HasSubstr("trusted by this system")));
    EXPECT_THAT(text(run.err), HasSubstr("pkgutil: 'App.pkg'"));
}

INSTANTIATE_TEST_SUITE_P(
        Packages, PkgutilRefuses,
        ::testing::Values(
                RefusedPackage{"Unsigned", PackageDamage::none, RefusedPackage::Signer::none, "no signature\n"},
                RefusedPackage{"TamperedToc", PackageDamage::tamperedToc, RefusedPackage::Signer::trusted,
                               "package is invalid (checksum did not verify)\n"},
                RefusedPackage{"TamperedTocWithFreshChecksum", PackageDamage::tamperedTocAndChecksum,
                               RefusedPackage::Signer::trusted, "package is invalid (signature did not verify)\n"},
                RefusedPackage{"SignedWithAnotherKey", PackageDamage::foreignSignature, RefusedPackage::Signer::trusted,
                               "package is invalid (signature did not verify)\n"},
                RefusedPackage{"TamperedPayload", PackageDamage::tamperedPayload, RefusedPackage::Signer::trusted,
                               "package is invalid ('Payload' is damaged: its archived checksum did not verify)\n"},
                RefusedPackage{"TruncatedPayload", PackageDamage::truncatedPayload, RefusedPackage::Signer::trusted,
                               "package is invalid ("},
                RefusedPackage{"UntrustedRoot", PackageDamage::none, RefusedPackage::Signer::stranger,
                               "signed by untrusted certificate\n"},
                RefusedPackage{"ExpiredSigner", PackageDamage::none, RefusedPackage::Signer::expired,
                               "signed by a certificate that has since expired\n"}),
        [](const auto& info) { return std::string(info.param.name); });

TEST(PkgutilSignature, TrustsNothingWithoutAnAnchorFile) {
    const Sandbox sandbox;
    PackageOptions options;
    options.signer = SigningCredentials::shared().trusted();
    const QString package = sandbox.writePackage(QStringLiteral("App.pkg"), appPackageBytes(options));
    ASSERT_TRUE(QFile::remove(sandbox.path(QStringLiteral("/etc/tarn-installer/package-signing-anchors.pem"))));

    const ToolRun run = sandbox.pkgutil({QStringLiteral("--check-signature"), package});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(text(run.out), HasSubstr("Status: signed by untrusted certificate"));
    EXPECT_THAT(text(run.out), HasSubstr("1. Developer ID Installer: TARN (Q7XK2M9P4D)"));
}

TEST(PkgutilSignature, CallsAFileThatIsNoPackageInvalid) {
    const Sandbox sandbox;
    const QString garbage = sandbox.writePackage(QStringLiteral("garbage.pkg"), QByteArray(4096, 'x'));

    const ToolRun notXar = sandbox.pkgutil({QStringLiteral("--check-signature"), garbage});
    const ToolRun missing =
            sandbox.pkgutil({QStringLiteral("--check-signature"), sandbox.outside(QStringLiteral("none.pkg"))});

    EXPECT_EQ(notXar.exitCode, 1);
    EXPECT_THAT(text(notXar.out), HasSubstr("Status: package is invalid (not a xar archive)"));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(text(missing.err), HasSubstr("cannot open"));
}

TEST(PkgutilReceipts, AnswersNoReceiptForUnknownAndInvalidIdentifiers) {
    const Sandbox sandbox;
    for (const QString& command :
         {QStringLiteral("--export-plist"), QStringLiteral("--files"), QStringLiteral("--forget")}) {
        for (const QString& pkgid : {QStringLiteral("com.tarn.unknown"), QStringLiteral("../../etc/passwd")}) {
            const ToolRun run = sandbox.pkgutil({command, pkgid});
            EXPECT_EQ(run.exitCode, 1) << command.toStdString();
            EXPECT_THAT(text(run.err), HasSubstr(("No receipt for '" + pkgid + "' found").toStdString()));
            EXPECT_TRUE(run.out.isEmpty());
        }
    }
}

TEST(PkgutilReceipts, ListsShowsAndForgetsInstalledPackages) {
    const Sandbox sandbox;
    for (const auto& [pkgid, name] :
         {std::pair{"com.tarn.viewer", "Viewer"}, std::pair{"com.tarn.capture", "Capture"}}) {
        const AppBundle app{QString::fromLatin1(name), QStringLiteral("1.0"), QStringLiteral("1.0.1")};
        const QString package =
                sandbox.writePackage(QString::fromLatin1(name) + QStringLiteral(".pkg"),
                                     buildComponentPackage(appPackage(QString::fromLatin1(pkgid), app)));
        ASSERT_EQ(sandbox.installer(package).exitCode, 0);
    }

    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--pkgs")}).out, "com.tarn.capture\ncom.tarn.viewer\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--pkgs=com\\.tarn\\.v.*")}).out, "com.tarn.viewer\n");
    EXPECT_THAT(text(sandbox.pkgutil({QStringLiteral("--files"), QStringLiteral("com.tarn.viewer")}).out),
                HasSubstr("Viewer.app\nViewer.app/Contents\nViewer.app/Contents/Info.plist\n"));

    const ToolRun forget = sandbox.pkgutil({QStringLiteral("--forget"), QStringLiteral("com.tarn.viewer")});
    EXPECT_EQ(forget.exitCode, 0);
    EXPECT_EQ(forget.out, "Forgot package 'com.tarn.viewer' on '/'.\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--pkgs")}).out, "com.tarn.capture\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--export-plist"), QStringLiteral("com.tarn.viewer")}).exitCode, 1);
    EXPECT_TRUE(QFile::exists(sandbox.path(QStringLiteral("/Applications/Viewer.app/Contents/Info.plist"))))
            << "forgetting a package leaves its files";
}

TEST(PkgutilReceipts, RefusesADamagedReceipt) {
    const Sandbox sandbox;
    writeFile(sandbox.path(QStringLiteral("/var/db/receipts/com.tarn.broken.plist")), "<plist><dict><key>pkgid");

    const ToolRun run = sandbox.pkgutil({QStringLiteral("--export-plist"), QStringLiteral("com.tarn.broken")});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(text(run.err), HasSubstr("the receipt for 'com.tarn.broken' is damaged"));
}

TEST(PkgutilUsage, RefusesUnknownCommandsAndMissingOperands) {
    const Sandbox sandbox;
    for (const QStringList& arguments : {QStringList{}, QStringList{QStringLiteral("--check-signature")},
                                         QStringList{QStringLiteral("--pkg-info-plist"), QStringLiteral("x")}}) {
        const ToolRun run = sandbox.pkgutil(arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_THAT(text(run.err), HasSubstr("usage: pkgutil"));
    }
}

} // namespace
} // namespace tarn::test
