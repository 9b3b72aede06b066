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
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

QByteArray signedPackage(std::optional<PackageSigner> signer, TocChecksum checksum = TocChecksum::sha256,
                         PackageDamage damage = PackageDamage::none) {
    PackageOptions options;
    options.signer = std::move(signer);
    options.checksum = checksum;
    options.damage = damage;
    return scanManagerPackage(u"2.1"_s, options);
}

// The certificate's first fingerprint line and its expiry, as the report prints them.
std::string fingerprintAndExpiry(const Credential& credential) {
    struct tm parts = {};
    ASN1_TIME_to_tm(X509_get0_notAfter(credential.certificate()), &parts);
    char expiry[64];
    std::strftime(expiry, sizeof expiry, "%Y-%m-%d %H:%M:%S +0000\n", &parts);
    const QByteArray digest = QCryptographicHash::hash(credential.certificateDer(), QCryptographicHash::Sha256);
    return "Expires: " + std::string(expiry) + "       SHA256 Fingerprint:\n           " +
           digest.left(16).toHex(' ').toUpper().toStdString() + "\n";
}

// The root is found among the anchors; the intermediate only in the package.
TEST(PkgutilSignature, TrustsAPackageSignedThroughAnIntermediateOfTheAnchorWithEitherChecksum) {
    const Sandbox sandbox;
    const auto& credentials = SigningCredentials::shared();
    for (const TocChecksum checksum : {TocChecksum::sha1, TocChecksum::sha256}) {
        SCOPED_TRACE(static_cast<int>(checksum));
        const QString package = sandbox.writePackage(
                u"Scan Manager.pkg"_s,
                signedPackage(PackageSigner{credentials.signer, {credentials.intermediate}}, checksum));

        const ToolRun run = sandbox.pkgutil({u"--check-signature"_s, package});

        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_THAT(run.out, HasSubstr("Package \"Scan Manager.pkg\":\n"
                                       "   Status: signed by a certificate trusted by this system\n"
                                       "   Certificate Chain:\n"
                                       "    1. Developer ID Installer: TARN (Q7XK2M9P4D)\n       " +
                                       fingerprintAndExpiry(credentials.signer)));
        EXPECT_THAT(run.out, HasSubstr("    2. TARN Test Installer CA\n"));
        EXPECT_THAT(run.out, HasSubstr("    3. TARN Test Root CA\n       " + fingerprintAndExpiry(credentials.root)));
    }
}

// How the xar reader refuses a damaged table of contents (nesting included) is the xar reader's tests' business.
TEST(PkgutilSignature, RefusesWithTheStatusThatNamesTheFault) {
    const Sandbox sandbox;
    const auto& c = SigningCredentials::shared();
    const auto damaged = [&](PackageDamage damage) { return signedPackage(c.trusted(), TocChecksum::sha256, damage); };
    const struct {
        const char* name;
        QByteArray bytes;
        const char* status;
    } cases[] = {
            {"unsigned", signedPackage(std::nullopt), "no signature\n"},
            {"tampered TOC", damaged(PackageDamage::tamperedToc), "package is invalid (checksum did not verify)\n"},
            {"tampered TOC, fresh checksum", damaged(PackageDamage::tamperedTocAndChecksum),
             "package is invalid (signature did not verify)\n"},
            {"signed with another key", damaged(PackageDamage::foreignSignature),
             "package is invalid (signature did not verify)\n"},
            {"tampered payload", damaged(PackageDamage::tamperedPayload),
             "package is invalid ('Payload' is damaged: its archived checksum did not verify)\n"},
            {"truncated payload", damaged(PackageDamage::truncatedPayload), "package is invalid ("},
            {"no intermediate", signedPackage(PackageSigner{c.signer, {}}), "signed by untrusted certificate\n"},
            {"untrusted root", signedPackage(PackageSigner{c.strangerSigner, {c.strangerRoot}}),
             "signed by untrusted certificate\n"},
            {"expired signer", signedPackage(PackageSigner{c.expiredSigner, {c.intermediate, c.root}}),
             "signed by a certificate that has since expired\n"},
            {"no xar archive", QByteArray(4096, 'x'), "package is invalid (not a xar archive)\n"},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.name);
        const ToolRun run =
                sandbox.pkgutil({u"--check-signature"_s, sandbox.writePackage(u"App.pkg"_s, refused.bytes)});

        EXPECT_THAT(run, FailsWith("pkgutil: 'App.pkg'"));
        EXPECT_THAT(run.out, HasSubstr(std::string("Package \"App.pkg\":\n   Status: ") + refused.status));
    }

    const QString trusted = sandbox.writePackage(u"App.pkg"_s, signedPackage(c.trusted()));
    ASSERT_TRUE(QFile::remove(sandbox.path(u"/etc/tarn-installer/package-signing-anchors.pem"_s)));
    EXPECT_THAT(sandbox.pkgutil({u"--check-signature"_s, trusted}).out,
                HasSubstr("Status: signed by untrusted certificate"));
    EXPECT_THAT(sandbox.pkgutil({u"--check-signature"_s, sandbox.outside(u"none.pkg"_s)}), FailsWith("cannot open"));
}

TEST(PkgutilReceipts, ListsShowsAndForgetsInstalledPackages) {
    const Sandbox sandbox;
    for (const QString& name : {u"Viewer"_s, u"Capture"_s}) {
        ComponentPackage component = appPackage(u"com.tarn."_s + name.toLower(), {name, u"1.0"_s, u"1.0.1"_s});
        // A name with a line break must not print as a line of its own.
        component.payload->file(u"./%1.app/evil\n%1.app/forged\x1b[2J"_s.arg(name), "x");
        ASSERT_EQ(sandbox.install(buildComponentPackage(component)).exitCode, 0);
    }

    EXPECT_EQ(sandbox.pkgutil({u"--pkgs"_s}).out, "com.tarn.capture\ncom.tarn.viewer\n");
    EXPECT_EQ(sandbox.pkgutil({u"--pkgs=com\\.tarn\\.v.*"_s}).out, "com.tarn.viewer\n");
    EXPECT_THAT(sandbox.pkgutil({u"--files"_s, u"com.tarn.viewer"_s}).out,
                AllOf(HasSubstr("Viewer.app\nViewer.app/Contents\nViewer.app/Contents/Info.plist\n"),
                      HasSubstr("\nViewer.app/evil\\x0aViewer.app/forged\\x1b[2J\n"), Not(HasSubstr("\x1b")),
                      Not(HasSubstr("\nViewer.app/forged"))));

    const ToolRun forget = sandbox.pkgutil({u"--forget"_s, u"com.tarn.viewer"_s});
    EXPECT_EQ(forget.exitCode, 0);
    EXPECT_EQ(forget.out, "Forgot package 'com.tarn.viewer' on '/'.\n");
    EXPECT_EQ(sandbox.pkgutil({u"--pkgs"_s}).out, "com.tarn.capture\n");
    EXPECT_EQ(sandbox.pkgutil({u"--export-plist"_s, u"com.tarn.viewer"_s}).exitCode, 1);
    EXPECT_TRUE(QFile::exists(sandbox.path(u"/Applications/Viewer.app/Contents/Info.plist"_s)))
            << "forgetting a package leaves its files";
}

// A binary receipt whose one path holds a NUL character (UTF-16, where the format keeps it), which
// libplist would abort on when listing the paths.
QByteArray receiptWithNulInAPath() {
    const tool::Plist receipt = tool::Plist::dictionary();
    tool::setString(receipt.get(), "pkgid", u"com.tarn.nul"_s);
    tool::setString(receipt.get(), "pkg-version", u"1"_s);
    tool::setString(receipt.get(), "install-location", u"/"_s);
    tool::setUnsigned(receipt.get(), "install-time", 1);
    const plist_t paths = plist_new_dict();
    plist_dict_set_item(paths, "Scan.app/\u00e9?b", plist_new_dict());
    plist_dict_set_item(receipt.get(), "paths", paths);
    char* binary = nullptr;
    uint32_t length = 0;
    plist_to_bin(receipt.get(), &binary, &length);
    QByteArray bytes(binary, static_cast<qsizetype>(length));
    plist_to_bin_free(binary);
    return bytes.replace(QByteArray("\0\xe9\0?", 4), QByteArray("\0\xe9\0\0", 4));
}

TEST(PkgutilReceipts, RefusesUnknownIdentifiersDamagedReceiptsAndBadCommandLines) {
    const Sandbox sandbox;
    for (const QString& command : {u"--export-plist"_s, u"--files"_s, u"--forget"_s}) {
        for (const QString& pkgid : {u"com.tarn.unknown"_s, u"../../etc/passwd"_s}) {
            SCOPED_TRACE((command + u' ' + pkgid).toStdString());
            const ToolRun run = sandbox.pkgutil({command, pkgid});
            EXPECT_THAT(run, FailsWith(u"No receipt for '%1' found"_s.arg(pkgid).toStdString()));
            EXPECT_TRUE(run.out.empty());
        }
    }
    writeFile(sandbox.path(u"/var/db/receipts/com.tarn.broken.plist"_s), "<plist><dict><key>pkgid");
    EXPECT_THAT(sandbox.pkgutil({u"--export-plist"_s, u"com.tarn.broken"_s}),
                FailsWith("the receipt for 'com.tarn.broken' is damaged"));
    writeFile(sandbox.path(u"/var/db/receipts/com.tarn.nul.plist"_s), receiptWithNulInAPath());
    EXPECT_THAT(sandbox.pkgutil({u"--files"_s, u"com.tarn.nul"_s}),
                FailsWith("the receipt for 'com.tarn.nul' is damaged"));
    for (const QStringList& arguments :
         {QStringList{}, QStringList{u"--check-signature"_s}, QStringList{u"--pkg-info-plist"_s, u"x"_s}}) {
        EXPECT_THAT(sandbox.pkgutil(arguments), FailsWith("usage: pkgutil"));
    }
}

} // namespace
} // namespace tarn::test
