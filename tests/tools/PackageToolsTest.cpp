// The package tools: the xar reader they share, on archives built by the fixtures and then damaged; pkgutil and
// installer run as the real executables in a sandboxed system root, checked through its files and receipts.
#include "PackageToolSupport.h"
#include "common/Plist.h"
#include "common/Xar.h"
#include "fixtures/Certificates.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtEndian>
#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <ctime>
#include <tuple>

namespace tarn::test {
namespace {

using namespace fixtures;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using tool::XarArchive;
using tool::XarError;

// Compressible enough to shrink, long enough to need several reads, and no two reads alike.
const QByteArray payloadBytes = distinctBytes(128 * 1024) + QByteArray(100000, 'z');

XarBuilder::Archive productLayout(HeapEncoding encoding, TocChecksum checksum = TocChecksum::sha256) {
    XarBuilder builder;
    builder.addFile(u"Distribution"_s, "<installer-gui-script/>", encoding);
    builder.addFile(u"A.pkg/PackageInfo"_s, "<pkg-info/>", encoding);
    builder.addFile(u"A.pkg/Payload"_s, payloadBytes, encoding);
    return builder.build(checksum);
}

// `archive` with the big-endian header field of `width` bytes at `offset` set to `value`.
QByteArray header(QByteArray archive, int offset, quint64 value, int width) {
    for (int byte = 0; byte < width; ++byte) {
        archive[offset + byte] = static_cast<char>(value >> (8 * (width - 1 - byte)));
    }
    return archive;
}

// `archive` with the last match of `pattern` in its table of contents replaced, its checksum kept
// consistent so that only the edit is wrong.
QByteArray toc(const QByteArray& archive, const QString& pattern, const QString& replacement) {
    return rewriteToc(
            archive,
            [&](const QByteArray& bytes) {
                QString text = QString::fromUtf8(bytes);
                QRegularExpressionMatch last;
                for (auto matches = QRegularExpression(pattern).globalMatch(text); matches.hasNext();) {
                    last = matches.next();
                }
                return text.replace(last.capturedStart(), last.capturedLength(), replacement).toUtf8();
            },
            true);
}

class XarReaderTest : public ::testing::Test {
protected:
    XarArchive open(const QByteArray& bytes) {
        const QString path = directory.filePath(u"archive-%1.xar"_s.arg(++count));
        writeFile(path, bytes);
        return XarArchive::open(path);
    }

    QTemporaryDir directory;
    int count = 0;
};

// Every heap encoding and every table-of-contents checksum, each at least once.
TEST_F(XarReaderTest, ReadsEntriesBackAsTheyWereStoredAndRefusesDamagedHeadersTablesOfContentsAndEntries) {
    const std::pair<HeapEncoding, TocChecksum> layouts[] = {{HeapEncoding::none, TocChecksum::sha1},
                                                            {HeapEncoding::zlib, TocChecksum::sha256},
                                                            {HeapEncoding::gzip, TocChecksum::sha512},
                                                            {HeapEncoding::bzip2, TocChecksum::sha256}};
    for (const auto& [encoding, checksum] : layouts) {
        SCOPED_TRACE(static_cast<int>(encoding));
        const XarArchive archive = open(productLayout(encoding, checksum).bytes);

        QStringList paths;
        for (const auto& entry : archive.entries()) {
            paths.append(entry.path);
        }
        EXPECT_THAT(paths, ElementsAre(u"Distribution"_s, u"A.pkg"_s, u"A.pkg/PackageInfo"_s, u"A.pkg/Payload"_s));
        EXPECT_EQ(archive.entry(u"A.pkg"_s)->type, tool::XarEntryType::directory);
        EXPECT_TRUE(archive.tocChecksumMatches());
        EXPECT_EQ(archive.contents(*archive.entry(u"A.pkg/Payload"_s), payloadBytes.size()), payloadBytes);
        EXPECT_NO_THROW(archive.verifyArchivedChecksums());
    }

    // Opening, then reading the Payload, ends in the fault's complaint.
    const auto built = productLayout(HeapEncoding::zlib);
    const QByteArray& archive = built.bytes;
    const auto h = [&](int offset, quint64 value, int width) { return header(archive, offset, value, width); };
    const auto t = [&](const QString& pattern, const QString& replacement) {
        return toc(archive, pattern, replacement);
    };
    const quint64 tocSize = qFromBigEndian<quint64>(archive.constData() + 16);
    const QString signature = u"<toc><signature style=\"RSA\"><offset>%1</offset><size>%2</size>%3</signature>"_s;
    // `opening` repeated `depth` times, then as many `closing`, right after the TOC's "<toc>".
    const auto nested = [&](const QByteArray& opening, const QByteArray& closing, int depth) {
        return t(u"<toc>"_s, QString::fromUtf8("<toc>" + opening.repeated(depth) + closing.repeated(depth)));
    };
    const auto stored = built.stored.value(u"A.pkg/Payload"_s);
    QByteArray flipped = archive;
    flipped[built.heapStart + stored.offset + stored.length - 1] ^= 0x01;
    const auto declaredSize = [&](qint64 size) { return t(u"<size>\\d+</size>"_s, u"<size>%1</size>"_s.arg(size)); };
    const struct {
        QByteArray bytes;
        std::string message;
        qint64 limit = 1 << 30;
    } cases[] = {
            {archive.left(20), "not a xar archive"},
            {QByteArray(archive).replace(0, 4, "zip!"), "not a xar archive"},
            {h(6, 2, 2), "unsupported xar header"},
            {h(4, 20, 2), "unsupported xar header"},
            {h(24, 0, 4), "the table of contents has no checksum"},
            {h(24, 2, 4), "unsupported table-of-contents checksum algorithm 2"},
            {h(8, archive.size(), 8), "impossible size"},
            {h(16, 1ULL << 40, 8), "impossible size"},
            {QByteArray(archive).replace(28, 8, "garbage!"), "does not decompress"},
            {h(16, tocSize - 1, 8), "does not decompress to its declared size"},
            {t(u"</toc>[\\s\\S]*"_s, {}), "the table of contents is damaged"},
            {t(u"^[\\s\\S]*$"_s, u"<xar/>"_s), "no <toc> element"},
            {t(u"<checksum style=\"sha256\">"_s, u"<checksum style=\"sha1\">"_s),
             "names another checksum than the header"},
            {t(u"<offset>\\d+</offset>"_s, u"<offset>4611686018427387904</offset>"_s),
             "'A.pkg/Payload' lies outside the heap"},
            {t(u"<length>\\d+</length>"_s, u"<length>-1</length>"_s), "<length> is not a valid number"},
            {t(u"<name>Payload</name>"_s, u"<name>..</name>"_s), "missing or unsafe name '..'"},
            {t(u"<name>PackageInfo</name>"_s, u"<name>Payload</name>"_s), "'A.pkg/Payload' appears twice"},
            {t(u"<extracted-checksum[^>]*>[0-9a-f]*</extracted-checksum>"_s, {}),
             "lacks its archived or extracted checksum"},
            {t(u"<archived-checksum[^>]*>[0-9a-f]*</archived-checksum>"_s,
               u"<archived-checksum style=\"sha256\">abcd</archived-checksum>"_s),
             "<archived-checksum> is not a sha256 digest"},
            {t(u"application/x-gzip"_s, u"application/x-lzma"_s), "unsupported encoding 'application/x-lzma'"},
            {t(u"<toc>"_s,
               signature.arg(99999999).arg(256).arg(
                       u"<KeyInfo><X509Data><X509Certificate>AAAA</X509Certificate></X509Data></KeyInfo>"_s)),
             "the signature lies outside the heap"},
            {t(u"<toc>"_s, signature.arg(0).arg(16).arg(QString())), "the signature carries no certificate"},
            {nested("<file><name>d</name>", "</file>", 20'000), "the table of contents nests deeper than 128 levels"},
            {nested("<KeyInfo>", "</KeyInfo>", 200'000), "the table of contents nests deeper than 128 levels"},
            // Each entry keeps its whole path: 100 folders of 50,000-character names would cost half a
            // billion characters.
            {nested("<file><name>" + QByteArray(50'000, 'n') + "</name>", "</file>", 100),
             "its paths are too long in total"},
            {flipped, "'A.pkg/Payload' is damaged: its archived checksum did not verify"},
            {t(u"<extracted-checksum[^>]*>[0-9a-f]*"_s, u"<extracted-checksum style=\"sha256\">"_s + QString(64, u'a')),
             "'A.pkg/Payload' is damaged: its extracted checksum did not verify"},
            {declaredSize(payloadBytes.size() + 1), u"decodes to %1 bytes instead of %2"_s.arg(payloadBytes.size())
                                                            .arg(payloadBytes.size() + 1)
                                                            .toStdString()},
            {declaredSize(payloadBytes.size() - 1), "decodes to more than its declared size"},
            {toc(productLayout(HeapEncoding::none).bytes, u"application/octet-stream"_s, u"application/x-bzip2"_s),
             "its compressed data is corrupt"},
            {archive, "is larger than expected", 1024},
    };
    for (const auto& damaged : cases) {
        SCOPED_TRACE(damaged.message);
        try {
            const XarArchive opened = open(damaged.bytes);
            opened.contents(*opened.entry(u"A.pkg/Payload"_s), damaged.limit);
            ADD_FAILURE() << "no complaint";
        } catch (const XarError& error) {
            EXPECT_THAT(error.what(), HasSubstr(damaged.message));
        }
    }
}

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

// Entries under `directory` that the installer leaves only while it works.
QStringList workLeftovers(const QString& directory) {
    return QDir(directory).entryList({u".tarn-installer*"_s}, everyEntry);
}

// A field of a receipt as pkgutil exports it.
QString receiptField(const Sandbox& sandbox, const char* key, const QString& pkgId = scanPkgId) {
    const auto receipt =
            tool::Plist::parse(QByteArray::fromStdString(sandbox.pkgutil({u"--export-plist"_s, pkgId}).out));
    return tool::stringEntry(receipt.get(), key).value_or(QString());
}

QByteArray component(const Payload& payload, const QString& pkgId = scanPkgId,
                     const QString& location = u"/Applications"_s) {
    return buildComponentPackage({pkgId, u"1.0"_s, location, payload});
}

// A package written entry by entry, for contents the package fixtures would not make.
QByteArray rawPackage(const QByteArray& info, const QByteArray& payload) {
    XarBuilder builder;
    builder.addFile(u"PackageInfo"_s, info);
    builder.addFile(u"Payload"_s, payload, HeapEncoding::zlib);
    return builder.build(TocChecksum::sha256).bytes;
}

// Signalled alone or with its whole group (a terminal's Ctrl+C), the installer never leaves half an
// installation or its staging: before its commit it rolls back, once the commit runs it finishes it.
TEST(Installer, SignalledItRollsBackBeforeItsCommitAndFinishesACommitThatStarted) {
    const std::tuple<const char*, int, bool, int> rows[] = {
            {"staging", SIGINT, true, 130},
            {"committing", SIGHUP, true, 0},
    };
    for (const auto& [point, signal, wholeGroup, exitCode] : rows) {
        SCOPED_TRACE(std::string(point) + " signal " + std::to_string(signal));
        const Sandbox sandbox;
        const QString package = sandbox.writePackage(u"Scan Manager.pkg"_s, scanManagerPackage(u"2.1"_s));
        const auto before = sandbox.snapshot();
        const bool installed = exitCode == 0;

        const SignalledRun run = sandbox.signalled(u"installer"_s, {u"-pkg"_s, package, u"-target"_s, u"/"_s}, point,
                                                   signal, wholeGroup);

        EXPECT_EQ(run.exitCode, exitCode) << run.err;
        EXPECT_EQ(QFileInfo::exists(sandbox.path(u"/Applications/Scan Manager.app"_s)), installed);
        EXPECT_EQ(sandbox.pkgutil({u"--export-plist"_s, scanPkgId}).exitCode == 0, installed);
        EXPECT_THAT(workLeftovers(sandbox.path(u"/Applications"_s)), IsEmpty());
        if (!installed) {
            EXPECT_THAT(run.err, HasSubstr("nothing was changed"));
            EXPECT_EQ(sandbox.snapshot(), before);
        }
    }
}

// Every Payload compression, in a product archive beside a second component, then a pbzx Payload with
// links and set-ID files; how the heap's encodings decode is the xar reader's tests' business.
TEST(Installer, InstallsProductArchivesAndEveryPayloadCompressionWithLinksAndSetIdFiles) {
    const AppBundle app = scanManager(u"3.0"_s);
    const ComponentPackage drivers{
            u"com.tarn.drivers"_s,    u"7.0"_s,
            u"/Library/TARN"_s,       Payload().directory(u"."_s).file(u"./driver.conf"_s, "speed=fast\n"),
            PayloadCompression::gzip, u"TARN Drivers.pkg"_s};
    for (const auto compression :
         {PayloadCompression::none, PayloadCompression::gzip, PayloadCompression::bzip2, PayloadCompression::xz}) {
        SCOPED_TRACE(static_cast<int>(compression));
        const Sandbox sandbox;
        ComponentPackage component = appPackage(scanPkgId, app);
        component.compression = compression;

        const ToolRun install = sandbox.install(buildProductArchive(u"TARN Suite"_s, {component, drivers}));

        ASSERT_EQ(install.exitCode, 0) << install.err;
        EXPECT_THAT(install.out, HasSubstr("installer: Package name is TARN Suite\n"));
        const QString contents = sandbox.path(u"/Applications/Scan Manager.app/Contents"_s);
        EXPECT_EQ(readFile(contents + u"/Info.plist"_s), infoPlist(app));
        EXPECT_EQ(readFile(sandbox.path(u"/Library/TARN/driver.conf"_s)), "speed=fast\n");
        EXPECT_EQ(sandbox.pkgutil({u"--pkgs"_s}).out, "com.tarn.drivers\ncom.tarn.scanmanager\n");
    }
    {
        const Sandbox sandbox;
        ASSERT_EQ(sandbox.install(buildProductArchive(u"TARN Suite"_s, {drivers})).exitCode, 0);
        EXPECT_EQ(sandbox.pkgutil({u"--pkgs=com\\.tarn\\.d.*"_s}).out, "com.tarn.drivers\n");
        EXPECT_EQ(sandbox.pkgutil({u"--forget"_s, u"com.tarn.drivers"_s}).out,
                  "Forgot package 'com.tarn.drivers' on '/'.\n");
        EXPECT_EQ(sandbox.pkgutil({u"--pkgs"_s}).out, "");
        EXPECT_TRUE(QFile::exists(sandbox.path(u"/Library/TARN/driver.conf"_s))) << "forgetting leaves the files";
    }

    // pbzx in small chunks, so that the payload spans many of them.
    const Sandbox sandbox;
    const QByteArray noise = distinctBytes(20000);
    const QByteArray cpio = Payload()
                                    .file(u"./Kit.app/Versions/A/lib"_s, "library")
                                    .file(u"./Kit.app/noise"_s, noise)
                                    .file(u"./Kit.app/zeros"_s, QByteArray(50000, '\0'))
                                    .symlink(u"./Kit.app/Current"_s, u"Versions/A"_s)
                                    .symlink(u"./Kit.app/Versions/A/self"_s, u"../../Versions/A/lib"_s)
                                    .hardlink(u"./Kit.app/lib-copy"_s, u"./Kit.app/Versions/A/lib"_s)
                                    .file(u"./Kit.app/helper"_s, "setuid", 04755)
                                    .file(u"./Kit.app/group-tool"_s, "setgid", 02711)
                                    .cpio();

    const ToolRun install = sandbox.install(rawPackage(packageInfo({u"com.tarn.kit"_s, u"1.0"_s}), pbzx(cpio, 4096)));

    ASSERT_EQ(install.exitCode, 0) << install.err;
    const QString kit = sandbox.path(u"/Applications/Kit.app"_s);
    EXPECT_EQ(readFile(kit + u"/noise"_s), noise);
    EXPECT_EQ(readFile(kit + u"/zeros"_s), QByteArray(50000, '\0'));
    EXPECT_EQ(QFileInfo(kit + u"/Current"_s).symLinkTarget(), kit + u"/Versions/A"_s);
    EXPECT_EQ(readFile(kit + u"/Current/self"_s), "library");
    EXPECT_EQ(statusOf(kit + u"/lib-copy"_s).st_ino, statusOf(kit + u"/Versions/A/lib"_s).st_ino);
    // Set-user-ID and set-group-ID files are installed as they are, and said so.
    EXPECT_EQ(statusOf(kit + u"/helper"_s).st_mode & 07777, 04755u);
    EXPECT_EQ(statusOf(kit + u"/group-tool"_s).st_mode & 07777, 02711u);
    EXPECT_THAT(install.out, HasSubstr("installer: Note - '/Applications/Kit.app/group-tool' is installed with its "
                                       "set-group-ID bit (mode 2711)\ninstaller: Note - '/Applications/Kit.app/"
                                       "helper' is installed with its set-user-ID bit (mode 4755)\n"));
    EXPECT_THAT(sandbox.pkgutil({u"--files"_s, u"com.tarn.kit"_s}).out, HasSubstr("Kit.app/Versions\n"))
            << "implicit parent folders belong to the receipt";
}

// Every refusal, whether found before extraction or after files were staged, leaves the system as it was.
// How the xar reader refuses a damaged table of contents is the xar reader's tests' business.
TEST(Installer, RefusesHostileOrDamagedPackagesAndBadCommandLinesAndLeavesTheSystemAsItWas) {
    const Sandbox sandbox;
    writeFile(sandbox.path(u"/etc/hosts"_s), "127.0.0.1 localhost\n");
    writeFile(sandbox.path(u"/opt"_s), "a file where a folder is needed");
    const auto damaged = [](PackageDamage damage) {
        return scanManagerPackage(u"1.0"_s, {.signer = {}, .damage = damage});
    };
    const auto withInfo = [](const char* attributes) {
        return rawPackage(QByteArray("<pkg-info ") + attributes + "/>", Payload().file(u"f"_s, "x").cpio());
    };
    const auto withPayload = [](const QByteArray& payload) {
        return rawPackage(packageInfo({u"com.tarn.tool"_s, u"1.0"_s}), payload);
    };
    const auto product = [](const QByteArray& distribution) {
        XarBuilder builder;
        builder.addFile(u"Distribution"_s, distribution);
        return builder.build(TocChecksum::sha256).bytes;
    };
    const auto bundle = [] { return Payload::appBundle(scanManager(u"1.0"_s)); };
    const QByteArray cpio = Payload().file(u"tool"_s, QByteArray(30000, 't')).cpio();
    const QByteArray packed = pbzx(cpio, 8192);
    const ComponentPackage blocked{u"com.tarn.blocked"_s, u"1.0"_s, u"/opt/tarn"_s, Payload().file(u"tool"_s, "x")};
    const QString app = u"./Scan Manager.app/"_s;
    const char* out = "a link leading outside the install location";
    const std::pair<QByteArray, const char*> cases[] = {
            {component(bundle().file(u"/etc/hosts"_s, "6.6.6.6\n")), "an absolute path"},
            {component(bundle().file(app + u"../../../etc/hosts"_s, "x")), "a '..' component"},
            {component(bundle().symlink(u"./etc"_s, u"/etc"_s)), out},
            {component(bundle().symlink(app + u"up"_s, u"../../etc"_s)), out},
            // Out through another link.
            {component(bundle().symlink(u"./here"_s, u"."_s).symlink(u"./parent"_s, u"here/.."_s)), out},
            {component(bundle().symlink(app + u"res"_s, u"Contents"_s).file(app + u"res/Info.plist"_s, "replaced")),
             "lies beyond the link"},
            {component(bundle().file(app + u"Contents/Info.plist"_s, "again")), "it appears twice"},
            // Inspection accepts the name; the file system refuses it once files are already staged.
            {component(bundle().file(app + QString(300, u'n'), "x")), "cannot extract"},
            {damaged(PackageDamage::tamperedToc), "the table-of-contents checksum did not verify"},
            {damaged(PackageDamage::tamperedPayload), "'Payload' is damaged"},
            {withPayload(cpio.left(cpio.size() / 2)), "the Payload cannot be read"},
            // A newc header whose name would take 4 GiB: refused before the reader reserves room for it.
            {withPayload("070701" + QByteArray(88, '0') + "FFFFFFFF00000000"), "not an odc cpio archive"},
            {withPayload(packed.left(packed.size() - 10)), "a pbzx chunk"},
            // A chunk whose header declares another size.
            {withPayload(QByteArray(packed).replace(12, 8, QByteArray("\0\0\0\0\0\0\x30\0", 8))), "a pbzx chunk"},
            {withInfo(R"(identifier="com.tarn.x" version="1" install-location="/Applications/../../..")"),
             "unsafe install location"},
            {withInfo(R"(identifier="com.tarn.x" version="1" install-location="Applications")"),
             "unsafe install location"},
            {withInfo(R"(identifier="../receipt" version="1" install-location="/")"),
             "invalid identifier '../receipt'"},
            {withInfo(R"(identifier="com.tarn.x" install-location="/")"), "names no version"},
            {product(distribution(u"Suite"_s, {{u"com.tarn.gone"_s, u"1"_s}})),
             "the component package 'com.tarn.gone.pkg' is missing"},
            {product("<installer-gui-script><pkg-ref id=\"x\">#..%2F..%2Fetc</pkg-ref></installer-gui-script>"),
             "unsafe component '../../etc'"},
            // A later component of a product archive fails after the first was staged.
            {buildProductArchive(u"Suite"_s, {appPackage(scanPkgId, scanManager(u"1.0"_s)), blocked}),
             "/opt' is not a folder"},
    };
    const auto before = sandbox.snapshot();
    for (const auto& [package, reason] : cases) {
        SCOPED_TRACE(reason);

        const ToolRun install = sandbox.install(package);

        EXPECT_THAT(install, FailsWith(reason));
        EXPECT_THAT(install.err, HasSubstr("installer: The install failed."));
        EXPECT_EQ(sandbox.snapshot(), before);
    }
    const QString valid = sandbox.writePackage(u"a.pkg"_s, scanManagerPackage(u"1.0"_s));
    const std::pair<QStringList, const char*> commandLines[] = {
            {{u"-pkg"_s, valid, u"-target"_s, u"/Volumes/X"_s}, "use '/'"},
            {{u"-pkg"_s, valid}, "usage: installer -pkg PKG -target /"},
            {{u"-pkg"_s, sandbox.outside(u"nowhere.pkg"_s), u"-target"_s, u"/"_s},
             "the package path specified was invalid"},
    };
    for (const auto& [arguments, error] : commandLines) {
        EXPECT_THAT(sandbox.run(u"installer"_s, arguments), FailsWith(error));
    }
    EXPECT_EQ(sandbox.snapshot(), before);
}

// A link where the bundle goes is replaced, never written through. An upgrade replaces files, removes
// leftovers, keeps the user's own and renews the receipt; when its receipt step fails, the previous version
// is restored.
TEST(Installer, InstallsInPlaceOfALinkUpgradesAndRestoresThePreviousVersionWhenTheReceiptFails) {
    const Sandbox sandbox;
    const QString elsewhere = sandbox.outside(u"elsewhere"_s);
    writeFile(elsewhere + u"/Contents/Info.plist"_s, "not to be touched");
    QDir().mkpath(sandbox.path(u"/Applications"_s));
    const QString bundle = sandbox.path(u"/Applications/Scan Manager.app"_s);
    ASSERT_TRUE(QFile::link(elsewhere, bundle));
    ComponentPackage first = appPackage(scanPkgId, scanManager(u"1.9"_s));
    first.payload->file(u"./Scan Manager.app/Contents/Resources/legacy.dat"_s, "old");

    const ToolRun install = sandbox.install(buildComponentPackage(first), u"Scan Manager.pkg"_s);

    ASSERT_EQ(install.exitCode, 0) << install.err;
    EXPECT_EQ(install.out, "installer: Package name is Scan Manager.pkg\n"
                           "installer: Installing at base path /\n"
                           "installer: The install was successful.\n");
    EXPECT_TRUE(QFileInfo(bundle + u"/Contents/MacOS/Scan Manager"_s).isExecutable());
    EXPECT_EQ(readFile(elsewhere + u"/Contents/Info.plist"_s), "not to be touched");
    EXPECT_EQ(u'/' + receiptField(sandbox, "install-location"), sandbox.path(u"/Applications"_s));
    // The services' run of the real tools proves that the version and the bundle are found through the paths.
    EXPECT_EQ(QByteArray::fromStdString(sandbox.pkgutil({u"--files"_s, scanPkgId}).out).count('\n'), 8)
            << "the payload's own '.' is no installed path";
    const QString resources = bundle + u"/Contents/Resources"_s;
    writeFile(resources + u"/user-settings.dat"_s, "the user's own");

    const ToolRun upgrade = sandbox.install(scanManagerPackage(u"1.10"_s));

    ASSERT_EQ(upgrade.exitCode, 0) << upgrade.err;
    EXPECT_EQ(readFile(bundle + u"/Contents/Info.plist"_s), infoPlist(scanManager(u"1.10"_s)));
    EXPECT_FALSE(QFile::exists(resources + u"/legacy.dat"_s));
    EXPECT_EQ(readFile(resources + u"/user-settings.dat"_s), "the user's own");
    EXPECT_THAT(workLeftovers(resources) + workLeftovers(sandbox.path(u"/Applications"_s)), IsEmpty());
    EXPECT_EQ(receiptField(sandbox, "pkg-version"), u"1.10"_s);
    EXPECT_THAT(sandbox.pkgutil({u"--files"_s, scanPkgId}).out, Not(HasSubstr("legacy.dat")));

    // The receipts folder becomes a file: the new files are placed before the receipt step fails.
    const QString receipts = sandbox.path(u"/var/db/receipts"_s);
    ASSERT_TRUE(QDir(receipts).removeRecursively());
    writeFile(receipts, "not a folder");
    const auto before = sandbox.snapshot();
    EXPECT_THAT(sandbox.install(scanManagerPackage(u"2.0"_s)), FailsWith("is not a folder"));
    EXPECT_EQ(sandbox.snapshot(), before);
}

// A link laid on disk earlier resolves inside the root as a chroot would, absolute links included; relative links
// that packages lay to climb out together are the demo end-to-end run's escaping-links variant.
TEST(Installer, LinksLaidOnDiskEarlierResolveInsideTheSystemRoot) {
    const Sandbox sandbox;
    const QString outside = sandbox.outside(u"host"_s);
    ASSERT_TRUE(QDir().mkpath(outside) && QDir().mkpath(sandbox.path(outside)) &&
                QDir().mkpath(sandbox.path(u"/opt"_s)));
    ASSERT_TRUE(QFile::link(outside, sandbox.path(u"/opt/absolute"_s)));
    const QString pkgId = u"com.tarn.escaping"_s;
    const QByteArray package = component(Payload().file(u"./proof"_s, "4"), pkgId, u"/opt/absolute/escaped"_s);

    EXPECT_EQ(sandbox.install(package).exitCode, 0);
    EXPECT_EQ(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    EXPECT_EQ(readFile(sandbox.path(outside + u"/escaped/proof"_s)), "4");
    // The receipt leads a reader to where the files really are.
    EXPECT_EQ(u'/' + receiptField(sandbox, "install-location", pkgId),
              QFileInfo(sandbox.path(outside + u"/escaped"_s)).canonicalFilePath());
}

} // namespace
} // namespace tarn::test
