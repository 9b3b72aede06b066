// pkgutil run as the real executable against packages built by the fixtures, in a sandboxed system root.
#include "PackageToolSupport.h"
#include "fixtures/Certificates.h"

#include <QCryptographicHash>
#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <ctime>

namespace tarn::test {
namespace {

using namespace fixtures;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

CertificateRequest signerRequest(bool expired = false) {
    CertificateRequest request = packageSignerRequest(u"TARN"_s, u"Q7XK2M9P4D"_s);
    if (expired) {
        request.notBefore = QDateTime::currentDateTimeUtc().addYears(-2);
        request.notAfter = QDateTime::currentDateTimeUtc().addDays(-1);
    }
    return request;
}

// Made once per test run: key generation is the slow part. Every signer is "Developer ID Installer: TARN
// (Q7XK2M9P4D)"; the root is the sandbox's trust anchor.
struct Credentials {
    Credential root = Credential::authority(u"TARN Test Root CA"_s);
    Credential intermediate = root.issue([] {
        CertificateRequest request;
        request.commonName = u"TARN Test Installer CA"_s;
        request.usage = CertificateUsage::intermediateAuthority;
        return request;
    }());
    Credential signer = intermediate.issue(signerRequest());
    Credential expiredSigner = intermediate.issue(signerRequest(true));
};

const Credentials& credentials() {
    static const Credentials made;
    return made;
}

QByteArray signedPackage(std::optional<PackageSigner> signer, TocChecksum checksum = TocChecksum::sha256,
                         PackageDamage damage = PackageDamage::none) {
    return scanManagerPackage(u"2.1"_s, {.checksum = checksum, .signer = std::move(signer), .damage = damage});
}

// The certificate's entry in the report's chain.
std::string chainEntry(int index, const char* name, const Credential& credential) {
    struct tm parts = {};
    ASN1_TIME_to_tm(X509_get0_notAfter(credential.certificate()), &parts);
    char expiry[64];
    std::strftime(expiry, sizeof expiry, "%Y-%m-%d %H:%M:%S +0000", &parts);
    const QByteArray digest = QCryptographicHash::hash(credential.certificateDer(), QCryptographicHash::Sha256);
    return "    %1. %2\n       Expires: %3\n       SHA256 Fingerprint:\n           %4\n           %5\n"_L1
            .arg(QString::number(index), QLatin1String(name), QLatin1String(expiry),
                 QString::fromLatin1(digest.left(16).toHex(' ').toUpper()),
                 QString::fromLatin1(digest.mid(16).toHex(' ').toUpper()))
            .toStdString();
}

// A whole binary receipt for com.tarn.nul whose one path, "Scan.app/\u00e9\0b", holds a NUL character (UTF-16,
// where the format keeps it), which libplist would abort on when listing the paths.
const QByteArray receiptWithNulInAPath = QByteArray::fromHex(
        "62706c6973743030d50102030405060708090a55706b6769645b706b672d76657273696f6e5f1010696e7374616c6c2d6c6f6361"
        "74696f6e5c696e7374616c6c2d74696d655570617468735c636f6d2e7461726e2e6e756c5131512f1001d10b0c6c005300630061"
        "006e002e006100700070002f00e900000062d00813192538454b585a5c5e617a0000000000000101000000000000000d00000000"
        "00000000000000000000007b");

class Pkgutil : public ::testing::Test {
protected:
    Pkgutil() { installTrustAnchors(sandbox.path(QString()), {credentials().root}); }

    ToolRun checkSignature(const QByteArray& package, const QString& name = u"App.pkg"_s) const {
        return sandbox.pkgutil({u"--check-signature"_s, sandbox.writePackage(name, package)});
    }

    Sandbox sandbox;
};

// The root is found among the anchors; the intermediate only in the package. Every other package is refused
// with the status that names its fault; unknown identifiers and damaged receipts are refused too.
TEST_F(Pkgutil, ReportsSignaturesListsFilesAndRefusesUnknownOrDamagedReceipts) {
    const Credentials& c = credentials();
    for (const TocChecksum checksum : {TocChecksum::sha1, TocChecksum::sha256}) {
        SCOPED_TRACE(static_cast<int>(checksum));
        const ToolRun run = checkSignature(signedPackage(PackageSigner{c.signer, {c.intermediate}}, checksum),
                                           u"Scan Manager.pkg"_s);

        EXPECT_EQ(run.exitCode, 0) << run.err;
        const std::string rule = "       " + std::string(72, '-') + "\n";
        EXPECT_EQ(run.out, "Package \"Scan Manager.pkg\":\n"
                           "   Status: signed by a certificate trusted by this system\n"
                           "   Certificate Chain:\n" +
                                   chainEntry(1, "Developer ID Installer: TARN (Q7XK2M9P4D)", c.signer) + rule +
                                   chainEntry(2, "TARN Test Installer CA", c.intermediate) + rule +
                                   chainEntry(3, "TARN Test Root CA", c.root) + "\n");
    }

    // How the xar reader refuses a damaged table of contents (nesting included) is the xar reader's tests'
    // business.
    const PackageSigner trusted{c.signer, {c.intermediate, c.root}};
    const auto damaged = [&](PackageDamage damage) { return signedPackage(trusted, TocChecksum::sha256, damage); };
    const std::pair<QByteArray, const char*> cases[] = {
            {signedPackage(std::nullopt), "no signature\n"},
            {damaged(PackageDamage::tamperedToc), "package is invalid (checksum did not verify)\n"},
            {damaged(PackageDamage::tamperedTocAndChecksum), "package is invalid (signature did not verify)\n"},
            {damaged(PackageDamage::tamperedPayload),
             "package is invalid ('Payload' is damaged: its archived checksum did not verify)\n"},
            {signedPackage(PackageSigner{c.signer, {}}), "signed by untrusted certificate\n"},
            {signedPackage(PackageSigner{c.expiredSigner, {c.intermediate, c.root}}),
             "signed by a certificate that has since expired\n"},
            {QByteArray(4096, 'x'), "package is invalid (not a xar archive)\n"},
    };
    for (const auto& [package, status] : cases) {
        SCOPED_TRACE(status);
        const ToolRun run = checkSignature(package);

        EXPECT_THAT(run, FailsWith("pkgutil: 'App.pkg'"));
        EXPECT_THAT(run.out, HasSubstr(std::string("Package \"App.pkg\":\n   Status: ") + status));
    }

    ASSERT_TRUE(QFile::remove(sandbox.path(u"/etc/tarn-installer/package-signing-anchors.pem"_s)));
    EXPECT_THAT(checkSignature(signedPackage(trusted)).out, HasSubstr("Status: signed by untrusted certificate"));

    // The application reads receipts only through --export-plist; the file list is what the installer's tests
    // observe, and its names must each stay one line.
    ComponentPackage component = appPackage(scanPkgId, scanManager(u"1.0"_s));
    // A name with a line break must not print as a line of its own.
    component.payload->file(u"./Scan Manager.app/evil\nforged\x1b[2J"_s, "x");
    ASSERT_EQ(sandbox.install(buildComponentPackage(component)).exitCode, 0);

    EXPECT_THAT(sandbox.pkgutil({u"--files"_s, scanPkgId}).out,
                AllOf(HasSubstr("\nScan Manager.app/evil\\x0aforged\\x1b[2J\n"), Not(HasSubstr("\x1b")),
                      Not(HasSubstr("\nforged"))));

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
    writeFile(sandbox.path(u"/var/db/receipts/com.tarn.nul.plist"_s), receiptWithNulInAPath);
    EXPECT_THAT(sandbox.pkgutil({u"--files"_s, u"com.tarn.nul"_s}),
                FailsWith("the receipt for 'com.tarn.nul' is damaged"));
    for (const QString& line : {u""_s, u"--check-signature"_s, u"--pkg-info-plist x"_s}) {
        EXPECT_THAT(sandbox.pkgutil(line.split(u' ', Qt::SkipEmptyParts)), FailsWith("usage: pkgutil"))
                << line.toStdString();
    }
}

} // namespace
} // namespace tarn::test
