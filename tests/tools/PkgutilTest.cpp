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
    return scanManagerPackage(QStringLiteral("2.1"), options);
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
                QStringLiteral("Scan Manager.pkg"),
                signedPackage(PackageSigner{credentials.signer, {credentials.intermediate}}, checksum));

        const ToolRun run = sandbox.pkgutil({QStringLiteral("--check-signature"), package});

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
            {"TOC files nested 20,000 deep",
             withNestedTocElements(signedPackage(c.trusted()), "<file><name>d</name>", "</file>", 20'000),
             "package is invalid (the table of contents nests deeper than 128 levels)\n"},
            {"TOC key information nested 200,000 deep",
             withNestedTocElements(signedPackage(c.trusted()), "<KeyInfo>", "</KeyInfo>", 200'000),
             "package is invalid (the table of contents nests deeper than 128 levels)\n"},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.name);
        const ToolRun run = sandbox.pkgutil(
                {QStringLiteral("--check-signature"), sandbox.writePackage(QStringLiteral("App.pkg"), refused.bytes)});

        EXPECT_THAT(run, FailsWith("pkgutil: 'App.pkg'"));
        EXPECT_THAT(run.out, HasSubstr(std::string("Package \"App.pkg\":\n   Status: ") + refused.status));
    }

    const QString trusted = sandbox.writePackage(QStringLiteral("App.pkg"), signedPackage(c.trusted()));
    ASSERT_TRUE(QFile::remove(sandbox.path(QStringLiteral("/etc/tarn-installer/package-signing-anchors.pem"))));
    EXPECT_THAT(sandbox.pkgutil({QStringLiteral("--check-signature"), trusted}).out,
                HasSubstr("Status: signed by untrusted certificate"));
    EXPECT_THAT(sandbox.pkgutil({QStringLiteral("--check-signature"), sandbox.outside(QStringLiteral("none.pkg"))}),
                FailsWith("cannot open"));
}

TEST(PkgutilReceipts, ListsShowsAndForgetsInstalledPackages) {
    const Sandbox sandbox;
    for (const QString& name : {QStringLiteral("Viewer"), QStringLiteral("Capture")}) {
        const AppBundle app{name, QStringLiteral("1.0"), QStringLiteral("1.0.1")};
        ComponentPackage component = appPackage(QStringLiteral("com.tarn.") + name.toLower(), app);
        // A name with a line break must not print as a line of its own.
        component.payload->file(QStringLiteral("./%1.app/evil\n%1.app/forged\x1b[2J").arg(name), "x");
        const QString package = sandbox.writePackage(name + QStringLiteral(".pkg"), buildComponentPackage(component));
        ASSERT_EQ(sandbox.installer(package).exitCode, 0);
    }

    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--pkgs")}).out, "com.tarn.capture\ncom.tarn.viewer\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--pkgs=com\\.tarn\\.v.*")}).out, "com.tarn.viewer\n");
    EXPECT_THAT(sandbox.pkgutil({QStringLiteral("--files"), QStringLiteral("com.tarn.viewer")}).out,
                HasSubstr("Viewer.app\nViewer.app/Contents\nViewer.app/Contents/Info.plist\n"));
    EXPECT_THAT(sandbox.pkgutil({QStringLiteral("--files"), QStringLiteral("com.tarn.viewer")}).out,
                AllOf(HasSubstr("\nViewer.app/evil\\x0aViewer.app/forged\\x1b[2J\n"), Not(HasSubstr("\x1b")),
                      Not(HasSubstr("\nViewer.app/forged"))));

    const ToolRun forget = sandbox.pkgutil({QStringLiteral("--forget"), QStringLiteral("com.tarn.viewer")});
    EXPECT_EQ(forget.exitCode, 0);
    EXPECT_EQ(forget.out, "Forgot package 'com.tarn.viewer' on '/'.\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--pkgs")}).out, "com.tarn.capture\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--export-plist"), QStringLiteral("com.tarn.viewer")}).exitCode, 1);
    EXPECT_TRUE(QFile::exists(sandbox.path(QStringLiteral("/Applications/Viewer.app/Contents/Info.plist"))))
            << "forgetting a package leaves its files";
}

TEST(PkgutilReceipts, RefusesUnknownIdentifiersDamagedReceiptsAndBadCommandLines) {
    const Sandbox sandbox;
    for (const QString& command :
         {QStringLiteral("--export-plist"), QStringLiteral("--files"), QStringLiteral("--forget")}) {
        for (const QString& pkgid : {QStringLiteral("com.tarn.unknown"), QStringLiteral("../../etc/passwd")}) {
            SCOPED_TRACE((command + u' ' + pkgid).toStdString());
            const ToolRun run = sandbox.pkgutil({command, pkgid});
            EXPECT_THAT(run, FailsWith(("No receipt for '" + pkgid + "' found").toStdString()));
            EXPECT_TRUE(run.out.empty());
        }
    }

    writeFile(sandbox.path(QStringLiteral("/var/db/receipts/com.tarn.broken.plist")), "<plist><dict><key>pkgid");
    EXPECT_THAT(sandbox.pkgutil({QStringLiteral("--export-plist"), QStringLiteral("com.tarn.broken")}),
                FailsWith("the receipt for 'com.tarn.broken' is damaged"));

    // A binary receipt whose one path holds a NUL character (UTF-16, where the format keeps it), which
    // libplist would abort on when listing the paths.
    const tool::Plist receipt = tool::Plist::dictionary();
    tool::setString(receipt.get(), "pkgid", QStringLiteral("com.tarn.nul"));
    tool::setString(receipt.get(), "pkg-version", QStringLiteral("1"));
    tool::setString(receipt.get(), "install-location", QStringLiteral("/"));
    tool::setUnsigned(receipt.get(), "install-time", 1);
    const plist_t paths = plist_new_dict();
    plist_dict_set_item(paths, "Scan.app/\u00e9?b", plist_new_dict());
    plist_dict_set_item(receipt.get(), "paths", paths);
    char* binary = nullptr;
    uint32_t length = 0;
    plist_to_bin(receipt.get(), &binary, &length);
    QByteArray bytes(binary, static_cast<qsizetype>(length));
    plist_to_bin_free(binary);
    writeFile(sandbox.path(QStringLiteral("/var/db/receipts/com.tarn.nul.plist")),
              bytes.replace(QByteArray("\0\xe9\0?", 4), QByteArray("\0\xe9\0\0", 4)));
    EXPECT_THAT(sandbox.pkgutil({QStringLiteral("--files"), QStringLiteral("com.tarn.nul")}),
                FailsWith("the receipt for 'com.tarn.nul' is damaged"));

    for (const QStringList& arguments : {QStringList{}, QStringList{QStringLiteral("--check-signature")},
                                         QStringList{QStringLiteral("--pkg-info-plist"), QStringLiteral("x")}}) {
        EXPECT_THAT(sandbox.pkgutil(arguments), FailsWith("usage: pkgutil"));
    }
}

} // namespace
} // namespace tarn::test
