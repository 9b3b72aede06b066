// installer run as the real executable, then checked through the sandbox's files and pkgutil's receipts.
#include "PackageToolSupport.h"
#include "common/Plist.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tarn::test {
namespace {

using namespace fixtures;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const QString scanPkgId = QStringLiteral("com.tarn.scanmanager");

AppBundle scanManager(const QString& shortVersion, const QString& bundleVersion) {
    return {QStringLiteral("Scan Manager"), shortVersion, bundleVersion};
}

std::string text(const QByteArray& bytes) {
    return bytes.toStdString();
}

// Entries under `directory` that the installer leaves only while it works.
QStringList workLeftovers(const QString& directory) {
    return QDir(directory).entryList({QStringLiteral(".tarn-installer*")},
                                     QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QStringList receiptPaths(plist_t receipt) {
    QStringList paths;
    tool::forEachEntry(plist_dict_get_item(receipt, "paths"),
                       [&](const QString& path, plist_t) { paths.append(path); });
    return paths;
}

ino_t inodeOf(const QString& path) {
    struct stat status = {};
    lstat(QFile::encodeName(path).constData(), &status);
    return status.st_ino;
}

TEST(Installer, InstallsAnAppWhoseReceiptLeadsToItsInfoPlist) {
    const Sandbox sandbox;
    const AppBundle app = scanManager(QStringLiteral("2.1"), QStringLiteral("2.1.7"));
    PackageOptions options;
    options.signer = SigningCredentials::shared().trusted();
    const QString package = sandbox.writePackage(QStringLiteral("Scan Manager.pkg"),
                                                 buildComponentPackage(appPackage(scanPkgId, app), options));
    const qint64 before = QDateTime::currentSecsSinceEpoch();

    const ToolRun install = sandbox.installer(package);

    ASSERT_EQ(install.exitCode, 0) << text(install.err);
    EXPECT_EQ(install.out, "installer: Package name is Scan Manager.pkg\n"
                           "installer: Installing at base path /\n"
                           "installer: The install was successful.\n");
    const QString bundle = sandbox.path(QStringLiteral("/Applications/Scan Manager.app"));
    EXPECT_EQ(readFile(bundle + QStringLiteral("/Contents/Info.plist")), infoPlist(app));
    EXPECT_TRUE(QFileInfo(bundle + QStringLiteral("/Contents/MacOS/Scan Manager")).isExecutable());
    EXPECT_THAT(workLeftovers(sandbox.path(QStringLiteral("/Applications"))), IsEmpty());

    const ToolRun exported = sandbox.pkgutil({QStringLiteral("--export-plist"), scanPkgId});
    ASSERT_EQ(exported.exitCode, 0) << text(exported.err);
    const tool::Plist receipt = tool::Plist::parse(exported.out);
    ASSERT_TRUE(receipt.isDictionary());
    const QString location = tool::stringEntry(receipt.get(), "install-location").value_or(QString());
    EXPECT_EQ(u'/' + location, sandbox.path(QStringLiteral("/Applications")));
    EXPECT_EQ(tool::stringEntry(receipt.get(), "pkg-version"), QStringLiteral("2.1"));
    EXPECT_EQ(tool::stringEntry(receipt.get(), "pkgid"), scanPkgId);
    EXPECT_GE(tool::unsignedEntry(receipt.get(), "install-time").value_or(0), static_cast<quint64>(before));
    const QStringList paths = receiptPaths(receipt.get());
    EXPECT_THAT(paths, Contains(QStringLiteral("Scan Manager.app/Contents/Info.plist")));
    EXPECT_THAT(paths, Contains(QStringLiteral("Scan Manager.app")));
    EXPECT_EQ(paths.size(), 7) << "the payload's own '.' is no installed path";
    // How the installed-version check finds the bundle: "/" + install location + "/" + path.
    EXPECT_EQ(readFile(u'/' + location + QStringLiteral("/Scan Manager.app/Contents/Info.plist")), infoPlist(app));
}

TEST(Installer, InstallsUnsignedPackagesSinceSignaturesAreCheckedBeforeIt) {
    const Sandbox sandbox;
    const QString package = sandbox.writePackage(
            QStringLiteral("a.pkg"),
            buildComponentPackage(appPackage(scanPkgId, scanManager(QStringLiteral("1.0"), QStringLiteral("1.0")))));

    EXPECT_EQ(sandbox.installer(package).exitCode, 0);
    EXPECT_TRUE(QFile::exists(sandbox.path(QStringLiteral("/Applications/Scan Manager.app/Contents/Info.plist"))));
}

struct Storage {
    const char* name;
    PayloadCompression compression;
    HeapEncoding payloadEncoding;
    HeapEncoding metadataEncoding;
    TocChecksum checksum;
};

class InstallerStorage : public ::testing::TestWithParam<Storage> {};

TEST_P(InstallerStorage, InstallsTheSameTree) {
    const Sandbox sandbox;
    const Storage& storage = GetParam();
    const AppBundle app = scanManager(QStringLiteral("3.0"), QStringLiteral("3.0.2"));
    ComponentPackage component = appPackage(scanPkgId, app);
    component.compression = storage.compression;
    PackageOptions options;
    options.payloadEncoding = storage.payloadEncoding;
    options.metadataEncoding = storage.metadataEncoding;
    options.checksum = storage.checksum;
    const QString package = sandbox.writePackage(QStringLiteral("a.pkg"), buildComponentPackage(component, options));

    const ToolRun install = sandbox.installer(package);

    ASSERT_EQ(install.exitCode, 0) << text(install.err);
    const QString contents = sandbox.path(QStringLiteral("/Applications/Scan Manager.app/Contents"));
    EXPECT_EQ(readFile(contents + QStringLiteral("/Info.plist")), infoPlist(app));
    EXPECT_EQ(readFile(contents + QStringLiteral("/Resources/version.txt")), "3.0\n");
    EXPECT_EQ(QFileInfo(contents + QStringLiteral("/MacOS/Scan Manager")).size(), app.executableSize);
}

INSTANTIATE_TEST_SUITE_P(Payloads, InstallerStorage,
                         ::testing::Values(Storage{"PlainCpio", PayloadCompression::none, HeapEncoding::none,
                                                   HeapEncoding::none, TocChecksum::sha1},
                                           Storage{"Gzip", PayloadCompression::gzip, HeapEncoding::none,
                                                   HeapEncoding::zlib, TocChecksum::sha256},
                                           Storage{"Bzip2", PayloadCompression::bzip2, HeapEncoding::none,
                                                   HeapEncoding::gzip, TocChecksum::sha512},
                                           Storage{"Xz", PayloadCompression::xz, HeapEncoding::none,
                                                   HeapEncoding::bzip2, TocChecksum::sha256},
                                           Storage{"Pbzx", PayloadCompression::pbzx, HeapEncoding::none,
                                                   HeapEncoding::zlib, TocChecksum::sha256},
                                           Storage{"CpioInZlibHeapEntry", PayloadCompression::none, HeapEncoding::zlib,
                                                   HeapEncoding::zlib, TocChecksum::sha1},
                                           Storage{"CpioInGzipHeapEntry", PayloadCompression::none, HeapEncoding::gzip,
                                                   HeapEncoding::zlib, TocChecksum::sha256},
                                           Storage{"GzipInBzip2HeapEntry", PayloadCompression::gzip,
                                                   HeapEncoding::bzip2, HeapEncoding::zlib, TocChecksum::sha256}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Installer, ReadsPbzxChunksStoredAndCompressed) {
    const Sandbox sandbox;
    Payload payload;
    QByteArray incompressible;
    for (int index = 0; incompressible.size() < 20000; ++index) {
        incompressible += QByteArray::number(qHash(index) * 2654435761U, 36);
    }
    payload.directory(QStringLiteral("Tool.app"))
            .file(QStringLiteral("Tool.app/noise"), incompressible)
            .file(QStringLiteral("Tool.app/zeros"), QByteArray(50000, '\0'));
    ComponentPackage component{QStringLiteral("com.tarn.tool"), QStringLiteral("1.0")};
    XarBuilder builder;
    builder.addFile(QStringLiteral("PackageInfo"), packageInfo(component));
    builder.addFile(QStringLiteral("Payload"), pbzx(payload.cpio(), 4096));
    const QString package = sandbox.writePackage(QStringLiteral("tool.pkg"), builder.build(TocChecksum::sha256).bytes);

    const ToolRun install = sandbox.installer(package);

    ASSERT_EQ(install.exitCode, 0) << text(install.err);
    EXPECT_EQ(readFile(sandbox.path(QStringLiteral("/Applications/Tool.app/noise"))), incompressible);
    EXPECT_EQ(readFile(sandbox.path(QStringLiteral("/Applications/Tool.app/zeros"))), QByteArray(50000, '\0'));
}

TEST(Installer, KeepsSymbolicAndHardLinksInsideThePayload) {
    const Sandbox sandbox;
    Payload payload;
    payload.directory(QStringLiteral("./Kit.app"))
            .directory(QStringLiteral("./Kit.app/Versions/A"))
            .file(QStringLiteral("./Kit.app/Versions/A/lib"), "library")
            .symlink(QStringLiteral("./Kit.app/Current"), QStringLiteral("Versions/A"))
            .symlink(QStringLiteral("./Kit.app/Versions/A/self"), QStringLiteral("../../Versions/A/lib"))
            .hardlink(QStringLiteral("./Kit.app/lib-copy"), QStringLiteral("./Kit.app/Versions/A/lib"));
    ComponentPackage component{QStringLiteral("com.tarn.kit"), QStringLiteral("1.0")};
    component.payload = payload;
    const QString package = sandbox.writePackage(QStringLiteral("kit.pkg"), buildComponentPackage(component));

    const ToolRun install = sandbox.installer(package);

    ASSERT_EQ(install.exitCode, 0) << text(install.err);
    const QString kit = sandbox.path(QStringLiteral("/Applications/Kit.app"));
    EXPECT_EQ(QFileInfo(kit + QStringLiteral("/Current")).symLinkTarget(), kit + QStringLiteral("/Versions/A"));
    EXPECT_EQ(readFile(kit + QStringLiteral("/Current/self")), "library");
    EXPECT_EQ(inodeOf(kit + QStringLiteral("/lib-copy")), inodeOf(kit + QStringLiteral("/Versions/A/lib")));
    EXPECT_THAT(text(sandbox.pkgutil({QStringLiteral("--files"), QStringLiteral("com.tarn.kit")}).out),
                HasSubstr("Kit.app/Versions\n"))
            << "implicit parent folders belong to the receipt";
}

struct HostilePayload {
    const char* name;
    std::function<void(Payload&)> add;
    const char* reason;
};

void PrintTo(const HostilePayload& hostile, std::ostream* out) {
    *out << hostile.name;
}

class InstallerRefusesPayload : public ::testing::TestWithParam<HostilePayload> {};

TEST_P(InstallerRefusesPayload, BeforeWritingAnything) {
    const Sandbox sandbox;
    writeFile(sandbox.path(QStringLiteral("/etc/hosts")), "127.0.0.1 localhost\n");
    Payload payload = Payload::appBundle(scanManager(QStringLiteral("1.0"), QStringLiteral("1.0")));
    GetParam().add(payload);
    ComponentPackage component{scanPkgId, QStringLiteral("1.0")};
    component.payload = payload;
    const QString package = sandbox.writePackage(QStringLiteral("evil.pkg"), buildComponentPackage(component));
    const auto before = sandbox.snapshot();

    const ToolRun install = sandbox.installer(package);

    EXPECT_EQ(install.exitCode, 1);
    EXPECT_THAT(text(install.err), HasSubstr("unsafe entry"));
    EXPECT_THAT(text(install.err), HasSubstr(GetParam().reason));
    EXPECT_THAT(text(install.err), HasSubstr("installer: The install failed."));
    EXPECT_EQ(sandbox.snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
        Hostile, InstallerRefusesPayload,
        ::testing::Values(
                HostilePayload{"AbsolutePath",
                               [](Payload& p) { p.file(QStringLiteral("/etc/hosts"), "6.6.6.6 localhost\n"); },
                               "an absolute path"},
                HostilePayload{"DotDot",
                               [](Payload& p) { p.file(QStringLiteral("./Scan Manager.app/../../../etc/hosts"), "x"); },
                               "a '..' component"},
                HostilePayload{"AbsoluteLink",
                               [](Payload& p) { p.symlink(QStringLiteral("./etc-link"), QStringLiteral("/etc")); },
                               "a link leading outside the install location"},
                HostilePayload{"RelativeLinkOut",
                               [](Payload& p) {
                                   p.symlink(QStringLiteral("./Scan Manager.app/up"), QStringLiteral("../../etc"));
                               },
                               "a link leading outside the install location"},
                HostilePayload{"LinkOutThroughAnotherLink",
                               [](Payload& p) {
                                   p.symlink(QStringLiteral("./here"), QStringLiteral("."));
                                   p.symlink(QStringLiteral("./parent"), QStringLiteral("here/.."));
                               },
                               "a link leading outside the install location"},
                HostilePayload{"EntryBeyondALink",
                               [](Payload& p) {
                                   p.symlink(QStringLiteral("./Scan Manager.app/res"), QStringLiteral("Contents"));
                                   p.file(QStringLiteral("./Scan Manager.app/res/Info.plist"), "replaced");
                               },
                               "lies beyond the link"},
                HostilePayload{"Duplicate",
                               [](Payload& p) {
                                   p.file(QStringLiteral("Scan Manager.app/Contents/Info.plist"), "second copy");
                               },
                               "it appears twice"}),
        [](const auto& info) { return std::string(info.param.name); });

struct DamagedPackage {
    const char* name;
    PackageDamage damage;
    const char* reason;
};

class InstallerRefusesDamage : public ::testing::TestWithParam<DamagedPackage> {};

TEST_P(InstallerRefusesDamage, AndLeavesTheSystemAsItWas) {
    const Sandbox sandbox;
    PackageOptions options;
    options.damage = GetParam().damage;
    const QString package = sandbox.writePackage(
            QStringLiteral("a.pkg"),
            buildComponentPackage(appPackage(scanPkgId, scanManager(QStringLiteral("1.0"), QStringLiteral("1.0"))),
                                  options));
    const auto before = sandbox.snapshot();

    const ToolRun install = sandbox.installer(package);

    EXPECT_EQ(install.exitCode, 1);
    EXPECT_THAT(text(install.err), HasSubstr(GetParam().reason));
    EXPECT_EQ(sandbox.snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(Damage, InstallerRefusesDamage,
                         ::testing::Values(DamagedPackage{"TamperedToc", PackageDamage::tamperedToc,
                                                          "the table-of-contents checksum did not verify"},
                                           DamagedPackage{"TamperedPayload", PackageDamage::tamperedPayload,
                                                          "'Payload' is damaged"},
                                           DamagedPackage{"TruncatedPayload", PackageDamage::truncatedPayload,
                                                          "the package is damaged"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Installer, RefusesPayloadsThatAreNoArchive) {
    const Sandbox sandbox;
    const QByteArray cpio = Payload().file(QStringLiteral("tool"), QByteArray(30000, 't')).cpio();
    const QByteArray packed = pbzx(cpio, 8192);
    const struct {
        const char* name;
        QByteArray payload;
        const char* reason;
    } cases[] = {
            {"garbage", QByteArray(2048, '\x7f'), "the Payload cannot be read"},
            {"empty", QByteArray(), "the Payload cannot be read"},
            {"truncated cpio", cpio.left(cpio.size() / 2), "the Payload cannot be read"},
            {"pbzx cut in a chunk", packed.left(packed.size() - 10), "the Payload is damaged: a pbzx chunk"},
            {"pbzx chunk of another size", QByteArray(packed).replace(12, 8, QByteArray("\0\0\0\0\0\0\x30\0", 8)),
             "the Payload is damaged: a pbzx chunk"},
    };
    const ComponentPackage component{QStringLiteral("com.tarn.tool"), QStringLiteral("1.0")};
    for (const auto& refused : cases) {
        XarBuilder builder;
        builder.addFile(QStringLiteral("PackageInfo"), packageInfo(component));
        builder.addFile(QStringLiteral("Payload"), refused.payload, HeapEncoding::zlib);
        const QString package =
                sandbox.writePackage(QStringLiteral("tool.pkg"), builder.build(TocChecksum::sha256).bytes);
        const auto before = sandbox.snapshot();

        const ToolRun install = sandbox.installer(package);

        EXPECT_EQ(install.exitCode, 1) << refused.name;
        EXPECT_THAT(text(install.err), HasSubstr(refused.reason)) << refused.name;
        EXPECT_EQ(sandbox.snapshot(), before) << refused.name;
    }
}

TEST(Installer, LeavesNothingWhenExtractionFailsHalfway) {
    const Sandbox sandbox;
    Payload payload = Payload::appBundle(scanManager(QStringLiteral("1.0"), QStringLiteral("1.0")));
    // Inspection accepts the name; the file system refuses it once files are already staged.
    payload.file(QStringLiteral("./Scan Manager.app/") + QString(300, u'n'), "too long a name");
    ComponentPackage component{scanPkgId, QStringLiteral("1.0")};
    component.payload = payload;
    const QString package = sandbox.writePackage(QStringLiteral("a.pkg"), buildComponentPackage(component));
    const auto before = sandbox.snapshot();

    const ToolRun install = sandbox.installer(package);

    EXPECT_EQ(install.exitCode, 1);
    EXPECT_THAT(text(install.err), HasSubstr("cannot extract"));
    EXPECT_EQ(sandbox.snapshot(), before);
    EXPECT_FALSE(QFileInfo::exists(sandbox.path(QStringLiteral("/Applications")))) << "created folders are removed too";
}

TEST(Installer, UpgradesReplaceFilesRemoveLeftoversAndRenewTheReceipt) {
    const Sandbox sandbox;
    ComponentPackage first = appPackage(scanPkgId, scanManager(QStringLiteral("1.9"), QStringLiteral("1.9.0")));
    first.payload->file(QStringLiteral("./Scan Manager.app/Contents/Resources/legacy.dat"), "old");
    const AppBundle newer = scanManager(QStringLiteral("1.10"), QStringLiteral("1.10.3"));
    ASSERT_EQ(sandbox.installer(sandbox.writePackage(QStringLiteral("old.pkg"), buildComponentPackage(first))).exitCode,
              0);
    const QString bundle = sandbox.path(QStringLiteral("/Applications/Scan Manager.app"));
    writeFile(bundle + QStringLiteral("/Contents/Resources/user-settings.dat"), "the user's own");
    ASSERT_TRUE(QFile::exists(bundle + QStringLiteral("/Contents/Resources/legacy.dat")));

    const ToolRun upgrade = sandbox.installer(
            sandbox.writePackage(QStringLiteral("new.pkg"), buildComponentPackage(appPackage(scanPkgId, newer))));

    ASSERT_EQ(upgrade.exitCode, 0) << text(upgrade.err);
    EXPECT_EQ(readFile(bundle + QStringLiteral("/Contents/Info.plist")), infoPlist(newer));
    EXPECT_EQ(readFile(bundle + QStringLiteral("/Contents/Resources/version.txt")), "1.10\n");
    EXPECT_FALSE(QFile::exists(bundle + QStringLiteral("/Contents/Resources/legacy.dat")));
    EXPECT_EQ(readFile(bundle + QStringLiteral("/Contents/Resources/user-settings.dat")), "the user's own");
    EXPECT_THAT(workLeftovers(bundle + QStringLiteral("/Contents/Resources")), IsEmpty());
    EXPECT_THAT(workLeftovers(sandbox.path(QStringLiteral("/Applications"))), IsEmpty());
    const tool::Plist receipt = tool::Plist::parse(sandbox.pkgutil({QStringLiteral("--export-plist"), scanPkgId}).out);
    EXPECT_EQ(tool::stringEntry(receipt.get(), "pkg-version"), QStringLiteral("1.10"));
    EXPECT_THAT(receiptPaths(receipt.get()),
                Not(Contains(QStringLiteral("Scan Manager.app/Contents/Resources/legacy.dat"))));
}

TEST(Installer, RestoresThePreviousVersionWhenTheReceiptCannotBeWritten) {
    const Sandbox sandbox;
    ASSERT_EQ(sandbox.installer(sandbox.writePackage(
                                        QStringLiteral("old.pkg"),
                                        buildComponentPackage(appPackage(
                                                scanPkgId, scanManager(QStringLiteral("1.0"), QStringLiteral("1.0"))))))
                      .exitCode,
              0);
    // The receipts folder becomes a file: the new files are placed before the receipt step fails.
    const QString receipts = sandbox.path(QStringLiteral("/var/db/receipts"));
    ASSERT_TRUE(QDir(receipts).removeRecursively());
    writeFile(receipts, "not a folder");
    const auto before = sandbox.snapshot();

    const ToolRun upgrade = sandbox.installer(sandbox.writePackage(
            QStringLiteral("new.pkg"),
            buildComponentPackage(appPackage(scanPkgId, scanManager(QStringLiteral("2.0"), QStringLiteral("2.0"))))));

    EXPECT_EQ(upgrade.exitCode, 1);
    EXPECT_THAT(text(upgrade.err), HasSubstr("is not a folder"));
    EXPECT_EQ(sandbox.snapshot(), before);
}

TEST(Installer, ReplacesALinkWhereTheBundleGoesWithoutWritingThroughIt) {
    const Sandbox sandbox;
    const QString elsewhere = sandbox.outside(QStringLiteral("elsewhere"));
    writeFile(elsewhere + QStringLiteral("/Contents/Info.plist"), "not to be touched");
    QDir().mkpath(sandbox.path(QStringLiteral("/Applications")));
    ASSERT_TRUE(QFile::link(elsewhere, sandbox.path(QStringLiteral("/Applications/Scan Manager.app"))));
    const AppBundle app = scanManager(QStringLiteral("1.0"), QStringLiteral("1.0"));

    const ToolRun install = sandbox.installer(
            sandbox.writePackage(QStringLiteral("a.pkg"), buildComponentPackage(appPackage(scanPkgId, app))));

    ASSERT_EQ(install.exitCode, 0) << text(install.err);
    EXPECT_EQ(readFile(elsewhere + QStringLiteral("/Contents/Info.plist")), "not to be touched");
    const QFileInfo bundle(sandbox.path(QStringLiteral("/Applications/Scan Manager.app")));
    EXPECT_FALSE(bundle.isSymLink());
    EXPECT_EQ(readFile(bundle.filePath() + QStringLiteral("/Contents/Info.plist")), infoPlist(app));
}

TEST(Installer, InstallsEveryComponentOfAProductArchive) {
    const Sandbox sandbox;
    const AppBundle app = scanManager(QStringLiteral("4.2"), QStringLiteral("4.2.1"));
    ComponentPackage tools{QStringLiteral("com.tarn.drivers"), QStringLiteral("7.0"), QStringLiteral("/Library/TARN")};
    tools.payload = Payload().directory(QStringLiteral(".")).file(QStringLiteral("./driver.conf"), "speed=fast\n");
    tools.fileName = QStringLiteral("TARN Drivers.pkg");
    PackageOptions options;
    options.signer = SigningCredentials::shared().trusted();
    const QString package = sandbox.writePackage(
            QStringLiteral("Suite.pkg"),
            buildProductArchive(QStringLiteral("TARN Suite"), {appPackage(scanPkgId, app), tools}, options));

    const ToolRun install = sandbox.installer(package);

    ASSERT_EQ(install.exitCode, 0) << text(install.err);
    EXPECT_THAT(text(install.out), HasSubstr("installer: Package name is TARN Suite\n"));
    EXPECT_EQ(readFile(sandbox.path(QStringLiteral("/Applications/Scan Manager.app/Contents/Info.plist"))),
              infoPlist(app));
    EXPECT_EQ(readFile(sandbox.path(QStringLiteral("/Library/TARN/driver.conf"))), "speed=fast\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--pkgs")}).out, "com.tarn.drivers\ncom.tarn.scanmanager\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--files"), QStringLiteral("com.tarn.drivers")}).out, "driver.conf\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--check-signature"), package}).exitCode, 0);
}

TEST(Installer, InstallsNoComponentWhenALaterOneFails) {
    const Sandbox sandbox;
    writeFile(sandbox.path(QStringLiteral("/opt")), "a file where a folder is needed");
    ComponentPackage blocked{QStringLiteral("com.tarn.blocked"), QStringLiteral("1.0"), QStringLiteral("/opt/tarn")};
    blocked.payload = Payload().file(QStringLiteral("tool"), "x");
    const QString package = sandbox.writePackage(
            QStringLiteral("Suite.pkg"),
            buildProductArchive(
                    QStringLiteral("Suite"),
                    {appPackage(scanPkgId, scanManager(QStringLiteral("1.0"), QStringLiteral("1.0"))), blocked}));
    const auto before = sandbox.snapshot();

    const ToolRun install = sandbox.installer(package);

    EXPECT_EQ(install.exitCode, 1);
    EXPECT_THAT(text(install.err), HasSubstr("/opt' is not a folder"));
    EXPECT_EQ(sandbox.snapshot(), before);
}

TEST(Installer, RefusesProductArchivesThatReferenceMissingOrUnsafeComponents) {
    const Sandbox sandbox;
    XarBuilder missing;
    missing.addFile(QStringLiteral("Distribution"),
                    distribution(QStringLiteral("Suite"),
                                 {ComponentPackage{QStringLiteral("com.tarn.gone"), QStringLiteral("1")}}));
    XarBuilder unsafe;
    unsafe.addFile(QStringLiteral("Distribution"),
                   "<installer-gui-script><pkg-ref id=\"x\">#..%2F..%2Fetc</pkg-ref></installer-gui-script>");

    const ToolRun missingRun =
            sandbox.installer(sandbox.writePackage(QStringLiteral("m.pkg"), missing.build(TocChecksum::sha256).bytes));
    const ToolRun unsafeRun =
            sandbox.installer(sandbox.writePackage(QStringLiteral("u.pkg"), unsafe.build(TocChecksum::sha256).bytes));

    EXPECT_EQ(missingRun.exitCode, 1);
    EXPECT_THAT(text(missingRun.err), HasSubstr("the component package 'com.tarn.gone.pkg' is missing"));
    EXPECT_EQ(unsafeRun.exitCode, 1);
    EXPECT_THAT(text(unsafeRun.err), HasSubstr("unsafe component '../../etc'"));
}

TEST(Installer, RefusesUnsafePackageInfo) {
    const Sandbox sandbox;
    const auto runWithInfo = [&](const QByteArray& info) {
        XarBuilder builder;
        builder.addFile(QStringLiteral("PackageInfo"), info);
        builder.addFile(QStringLiteral("Payload"), Payload().file(QStringLiteral("f"), "x").cpio());
        return sandbox.installer(
                sandbox.writePackage(QStringLiteral("p.pkg"), builder.build(TocChecksum::sha256).bytes));
    };

    const ToolRun escaping =
            runWithInfo(R"(<pkg-info identifier="com.tarn.x" version="1" install-location="/Applications/../../.."/>)");
    const ToolRun relative =
            runWithInfo(R"(<pkg-info identifier="com.tarn.x" version="1" install-location="Applications"/>)");
    const ToolRun badId = runWithInfo(R"(<pkg-info identifier="../receipt" version="1" install-location="/"/>)");
    const ToolRun noVersion = runWithInfo(R"(<pkg-info identifier="com.tarn.x" install-location="/"/>)");

    EXPECT_THAT(text(escaping.err), HasSubstr("unsafe install location"));
    EXPECT_THAT(text(relative.err), HasSubstr("unsafe install location"));
    EXPECT_THAT(text(badId.err), HasSubstr("invalid identifier '../receipt'"));
    EXPECT_THAT(text(noVersion.err), HasSubstr("names no version"));
    for (const auto* run : {&escaping, &relative, &badId, &noVersion}) {
        EXPECT_EQ(run->exitCode, 1);
    }
    EXPECT_THAT(QDir(sandbox.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                Not(Contains(QStringLiteral("f"))));
}

TEST(Installer, RefusesOtherTargetsAndIncompleteCommandLines) {
    const Sandbox sandbox;
    const QString package = sandbox.writePackage(
            QStringLiteral("a.pkg"),
            buildComponentPackage(appPackage(scanPkgId, scanManager(QStringLiteral("1.0"), QStringLiteral("1.0")))));

    const ToolRun otherTarget = sandbox.installer(
            {QStringLiteral("-pkg"), package, QStringLiteral("-target"), QStringLiteral("/Volumes/X")});
    const ToolRun noTarget = sandbox.installer({QStringLiteral("-pkg"), package});
    const ToolRun missingPackage = sandbox.installer(sandbox.outside(QStringLiteral("nowhere.pkg")));

    EXPECT_EQ(otherTarget.exitCode, 1);
    EXPECT_THAT(text(otherTarget.err), HasSubstr("use '/'"));
    EXPECT_EQ(noTarget.exitCode, 1);
    EXPECT_THAT(text(noTarget.err), HasSubstr("usage: installer -pkg PKG -target /"));
    EXPECT_EQ(missingPackage.exitCode, 1);
    EXPECT_THAT(text(missingPackage.err), HasSubstr("the package path specified was invalid"));
    EXPECT_FALSE(QFileInfo::exists(sandbox.path(QStringLiteral("/Applications"))));
}

} // namespace
} // namespace tarn::test
