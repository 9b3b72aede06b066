// installer run as the real executable, then checked through the sandbox's files and pkgutil's receipts.
#include "PackageToolSupport.h"
#include "common/Plist.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <tuple>

namespace tarn::test {
namespace {

using namespace fixtures;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

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

tool::Plist exportedReceipt(const Sandbox& sandbox) {
    return tool::Plist::parse(
            QByteArray::fromStdString(sandbox.pkgutil({QStringLiteral("--export-plist"), scanPkgId}).out));
}

ino_t inodeOf(const QString& path) {
    struct stat status = {};
    lstat(QFile::encodeName(path).constData(), &status);
    return status.st_ino;
}

// The app bundle, to which a test adds its own (hostile) entries.
Payload bundle() {
    return Payload::appBundle(scanManager(QStringLiteral("1.0")));
}

QByteArray component(const Payload& payload) {
    ComponentPackage component{scanPkgId, QStringLiteral("1.0")};
    component.payload = payload;
    return buildComponentPackage(component);
}

// A package written entry by entry, for contents the package fixtures would not make.
QByteArray rawPackage(const QByteArray& info, const QByteArray& payload) {
    XarBuilder builder;
    builder.addFile(QStringLiteral("PackageInfo"), info);
    builder.addFile(QStringLiteral("Payload"), payload, HeapEncoding::zlib);
    return builder.build(TocChecksum::sha256).bytes;
}

TEST(Installer, InstallsAnAppAndWritesItsReceipt) {
    const Sandbox sandbox;
    const QString package =
            sandbox.writePackage(QStringLiteral("Scan Manager.pkg"), scanManagerPackage(QStringLiteral("2.1")));
    const qint64 before = QDateTime::currentSecsSinceEpoch();

    const ToolRun install = sandbox.installer(package);

    ASSERT_EQ(install.exitCode, 0) << install.err;
    EXPECT_EQ(install.out, "installer: Package name is Scan Manager.pkg\n"
                           "installer: Installing at base path /\n"
                           "installer: The install was successful.\n");
    const QString bundle = sandbox.path(QStringLiteral("/Applications/Scan Manager.app"));
    EXPECT_TRUE(QFileInfo(bundle + QStringLiteral("/Contents/MacOS/Scan Manager")).isExecutable());
    EXPECT_THAT(workLeftovers(sandbox.path(QStringLiteral("/Applications"))), IsEmpty());

    const tool::Plist receipt = exportedReceipt(sandbox);
    ASSERT_TRUE(receipt.isDictionary());
    EXPECT_EQ(u'/' + tool::stringEntry(receipt.get(), "install-location").value_or(QString()),
              sandbox.path(QStringLiteral("/Applications")));
    EXPECT_EQ(tool::stringEntry(receipt.get(), "pkg-version"), QStringLiteral("2.1"));
    EXPECT_EQ(tool::stringEntry(receipt.get(), "pkgid"), scanPkgId);
    EXPECT_GE(tool::unsignedEntry(receipt.get(), "install-time").value_or(0), static_cast<quint64>(before));
    const QStringList paths = receiptPaths(receipt.get());
    EXPECT_THAT(paths, Contains(QStringLiteral("Scan Manager.app")));
    // The services' flow proves that the installed-version check finds the bundle through these paths.
    EXPECT_EQ(paths.size(), 7) << "the payload's own '.' is no installed path";
}

// Signalled alone or with its whole group (a terminal's Ctrl+C), the installer never leaves half an
// installation or its staging: before its commit it rolls back, once the commit runs it finishes it.
TEST(Installer, SignalledItRollsBackBeforeItsCommitAndFinishesACommitThatStarted) {
    const struct {
        const char* point;
        int signal;
        bool wholeGroup;
        int exitCode;
        bool installed;
    } rows[] = {
            {"staging", SIGINT, true, 130, false},
            {"staged", SIGTERM, false, 143, false},
            {"committing", SIGTERM, false, 0, true},
            {"committing", SIGHUP, true, 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.point) + " signal " + std::to_string(row.signal));
        const Sandbox sandbox;
        const QString package =
                sandbox.writePackage(QStringLiteral("Scan Manager.pkg"), scanManagerPackage(QStringLiteral("2.1")));
        const auto before = sandbox.snapshot();
        const ProcessGate gate;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TARN_SYSTEM_ROOT"), sandbox.path(QString()));
        environment.insert(QStringLiteral("TARN_TOOL_GATE"), gate.at(row.point));

        const SignalledRun run =
                gate.runSignalled(toolPath(QStringLiteral("installer")),
                                  {QStringLiteral("-pkg"), package, QStringLiteral("-target"), QStringLiteral("/")},
                                  environment, row.signal, row.wholeGroup);

        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_EQ(QFileInfo::exists(sandbox.path(QStringLiteral("/Applications/Scan Manager.app"))), row.installed);
        EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--export-plist"), scanPkgId}).exitCode == 0, row.installed);
        EXPECT_THAT(workLeftovers(sandbox.path(QStringLiteral("/Applications"))), IsEmpty());
        if (!row.installed) {
            EXPECT_THAT(run.err, HasSubstr("nothing was changed"));
            EXPECT_EQ(sandbox.snapshot(), before);
        }
    }
}

TEST(Installer, InstallsTheSameTreeFromEveryPayloadStorage) {
    // pbzx is proven with many chunks below; metadata encodings and checksums by the xar reader's own tests.
    const struct {
        const char* name;
        PayloadCompression compression;
        HeapEncoding heapEncoding;
    } storages[] = {
            {"plain cpio", PayloadCompression::none, HeapEncoding::none},
            {"gzip", PayloadCompression::gzip, HeapEncoding::none},
            {"bzip2", PayloadCompression::bzip2, HeapEncoding::none},
            {"xz", PayloadCompression::xz, HeapEncoding::none},
            {"cpio in zlib heap entry", PayloadCompression::none, HeapEncoding::zlib},
            {"cpio in gzip heap entry", PayloadCompression::none, HeapEncoding::gzip},
            {"gzip in bzip2 heap entry", PayloadCompression::gzip, HeapEncoding::bzip2},
    };
    const AppBundle app = scanManager(QStringLiteral("3.0"));
    for (const auto& storage : storages) {
        SCOPED_TRACE(storage.name);
        const Sandbox sandbox;
        ComponentPackage component = appPackage(scanPkgId, app);
        component.compression = storage.compression;
        PackageOptions options;
        options.payloadEncoding = storage.heapEncoding;

        const ToolRun install = sandbox.installer(
                sandbox.writePackage(QStringLiteral("a.pkg"), buildComponentPackage(component, options)));

        ASSERT_EQ(install.exitCode, 0) << install.err;
        const QString contents = sandbox.path(QStringLiteral("/Applications/Scan Manager.app/Contents"));
        EXPECT_EQ(readFile(contents + QStringLiteral("/Info.plist")), infoPlist(app));
        EXPECT_EQ(readFile(contents + QStringLiteral("/Resources/version.txt")), "3.0\n");
        EXPECT_EQ(QFileInfo(contents + QStringLiteral("/MacOS/Scan Manager")).size(), app.executableSize);
    }
}

// Small chunks, so that the payload spans many of them.
TEST(Installer, InstallsLinksAndFilesFromAChunkedPbzxPayload) {
    const Sandbox sandbox;
    QByteArray noise;
    for (int index = 0; noise.size() < 20000; ++index) {
        noise += QByteArray::number(qHash(index) * 2654435761U, 36);
    }
    const QByteArray cpio =
            Payload()
                    .directory(QStringLiteral("./Kit.app"))
                    .directory(QStringLiteral("./Kit.app/Versions/A"))
                    .file(QStringLiteral("./Kit.app/Versions/A/lib"), "library")
                    .file(QStringLiteral("./Kit.app/noise"), noise)
                    .file(QStringLiteral("./Kit.app/zeros"), QByteArray(50000, '\0'))
                    .symlink(QStringLiteral("./Kit.app/Current"), QStringLiteral("Versions/A"))
                    .symlink(QStringLiteral("./Kit.app/Versions/A/self"), QStringLiteral("../../Versions/A/lib"))
                    .hardlink(QStringLiteral("./Kit.app/lib-copy"), QStringLiteral("./Kit.app/Versions/A/lib"))
                    .file(QStringLiteral("./Kit.app/helper"), "setuid", 04755)
                    .file(QStringLiteral("./Kit.app/group-tool"), "setgid", 02711)
                    .cpio();
    const QByteArray info = packageInfo({QStringLiteral("com.tarn.kit"), QStringLiteral("1.0")});

    const ToolRun install =
            sandbox.installer(sandbox.writePackage(QStringLiteral("kit.pkg"), rawPackage(info, pbzx(cpio, 4096))));

    ASSERT_EQ(install.exitCode, 0) << install.err;
    const QString kit = sandbox.path(QStringLiteral("/Applications/Kit.app"));
    EXPECT_EQ(readFile(kit + QStringLiteral("/noise")), noise);
    EXPECT_EQ(readFile(kit + QStringLiteral("/zeros")), QByteArray(50000, '\0'));
    EXPECT_EQ(QFileInfo(kit + QStringLiteral("/Current")).symLinkTarget(), kit + QStringLiteral("/Versions/A"));
    EXPECT_EQ(readFile(kit + QStringLiteral("/Current/self")), "library");
    EXPECT_EQ(inodeOf(kit + QStringLiteral("/lib-copy")), inodeOf(kit + QStringLiteral("/Versions/A/lib")));
    // Set-user-ID and set-group-ID files are installed as they are, and said so.
    for (const auto& [name, mode, bit] :
         {std::tuple("helper", 04755, "set-user-ID"), std::tuple("group-tool", 02711, "set-group-ID")}) {
        struct stat status = {};
        ASSERT_EQ(::stat(QFile::encodeName(kit + u'/' + QLatin1String(name)).constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, static_cast<mode_t>(mode)) << name;
        EXPECT_THAT(install.out, HasSubstr(QStringLiteral("installer: Note - '/Applications/Kit.app/%1' is installed "
                                                          "with its %2 bit (mode %3)\n")
                                                   .arg(QLatin1String(name), QLatin1String(bit))
                                                   .arg(mode, 0, 8)
                                                   .toStdString()));
    }
    EXPECT_THAT(sandbox.pkgutil({QStringLiteral("--files"), QStringLiteral("com.tarn.kit")}).out,
                HasSubstr("Kit.app/Versions\n"))
            << "implicit parent folders belong to the receipt";
}

// Every refusal, whether found before extraction or after files were staged, leaves the system as it was.
TEST(Installer, RefusesHostileOrDamagedPackagesAndLeavesTheSystemAsItWas) {
    const Sandbox sandbox;
    writeFile(sandbox.path(QStringLiteral("/etc/hosts")), "127.0.0.1 localhost\n");
    writeFile(sandbox.path(QStringLiteral("/opt")), "a file where a folder is needed");
    const auto damaged = [](PackageDamage damage) {
        PackageOptions options;
        options.damage = damage;
        return scanManagerPackage(QStringLiteral("1.0"), options);
    };
    const auto withInfo = [](const char* attributes) {
        return rawPackage(QByteArray("<pkg-info ") + attributes + "/>",
                          Payload().file(QStringLiteral("f"), "x").cpio());
    };
    const auto withPayload = [](const QByteArray& payload) {
        return rawPackage(packageInfo({QStringLiteral("com.tarn.tool"), QStringLiteral("1.0")}), payload);
    };
    const QByteArray cpio = Payload().file(QStringLiteral("tool"), QByteArray(30000, 't')).cpio();
    const QByteArray packed = pbzx(cpio, 8192);
    ComponentPackage blocked{QStringLiteral("com.tarn.blocked"), QStringLiteral("1.0"), QStringLiteral("/opt/tarn")};
    blocked.payload = Payload().file(QStringLiteral("tool"), "x");
    XarBuilder missingComponent;
    missingComponent.addFile(
            QStringLiteral("Distribution"),
            distribution(QStringLiteral("Suite"), {{QStringLiteral("com.tarn.gone"), QStringLiteral("1")}}));
    XarBuilder unsafeComponent;
    unsafeComponent.addFile(QStringLiteral("Distribution"),
                            "<installer-gui-script><pkg-ref id=\"x\">#..%2F..%2Fetc</pkg-ref></installer-gui-script>");
    const QString app = QStringLiteral("./Scan Manager.app/");
    const char* out = "a link leading outside the install location";
    const struct {
        const char* name;
        QByteArray package;
        const char* reason;
    } cases[] = {
            {"absolute path", component(bundle().file(QStringLiteral("/etc/hosts"), "6.6.6.6\n")), "an absolute path"},
            {"'..'", component(bundle().file(app + QStringLiteral("../../../etc/hosts"), "x")), "a '..' component"},
            {"absolute link", component(bundle().symlink(QStringLiteral("./etc"), QStringLiteral("/etc"))), out},
            {"relative link out", component(bundle().symlink(app + QStringLiteral("up"), QStringLiteral("../../etc"))),
             out},
            {"link out through another link",
             component(bundle().symlink(QStringLiteral("./here"), QStringLiteral("."))
                               .symlink(QStringLiteral("./parent"), QStringLiteral("here/.."))),
             out},
            {"entry beyond a link",
             component(bundle().symlink(app + QStringLiteral("res"), QStringLiteral("Contents"))
                               .file(app + QStringLiteral("res/Info.plist"), "replaced")),
             "lies beyond the link"},
            {"duplicate", component(bundle().file(app + QStringLiteral("Contents/Info.plist"), "again")),
             "it appears twice"},
            // Inspection accepts the name; the file system refuses it once files are already staged.
            {"name too long", component(bundle().file(app + QString(300, u'n'), "x")), "cannot extract"},
            {"tampered TOC", damaged(PackageDamage::tamperedToc), "the table-of-contents checksum did not verify"},
            {"TOC files nested 20,000 deep",
             withNestedTocElements(damaged(PackageDamage::none), "<file><name>d</name>", "</file>", 20'000),
             "the table of contents nests deeper than 128 levels"},
            {"TOC key information nested 200,000 deep",
             withNestedTocElements(damaged(PackageDamage::none), "<KeyInfo>", "</KeyInfo>", 200'000),
             "the table of contents nests deeper than 128 levels"},
            // Each entry keeps its whole path: 100 folders of 50,000-character names would cost half a
            // billion characters.
            {"TOC folders with long names nested",
             withNestedTocElements(damaged(PackageDamage::none), "<file><name>" + QByteArray(50'000, 'n') + "</name>",
                                   "</file>", 100),
             "its paths are too long in total"},
            {"tampered payload", damaged(PackageDamage::tamperedPayload), "'Payload' is damaged"},
            {"empty payload", withPayload(QByteArray()), "the Payload cannot be read"},
            {"truncated cpio", withPayload(cpio.left(cpio.size() / 2)), "the Payload cannot be read"},
            {"pbzx cut in a chunk", withPayload(packed.left(packed.size() - 10)), "a pbzx chunk"},
            {"pbzx chunk of another size",
             withPayload(QByteArray(packed).replace(12, 8, QByteArray("\0\0\0\0\0\0\x30\0", 8))), "a pbzx chunk"},
            {"install location escaping",
             withInfo(R"(identifier="com.tarn.x" version="1" install-location="/Applications/../../..")"),
             "unsafe install location"},
            {"relative install location",
             withInfo(R"(identifier="com.tarn.x" version="1" install-location="Applications")"),
             "unsafe install location"},
            {"invalid identifier", withInfo(R"(identifier="../receipt" version="1" install-location="/")"),
             "invalid identifier '../receipt'"},
            {"no version", withInfo(R"(identifier="com.tarn.x" install-location="/")"), "names no version"},
            {"missing component", missingComponent.build(TocChecksum::sha256).bytes,
             "the component package 'com.tarn.gone.pkg' is missing"},
            {"unsafe component", unsafeComponent.build(TocChecksum::sha256).bytes, "unsafe component '../../etc'"},
            {"later component fails",
             buildProductArchive(QStringLiteral("Suite"),
                                 {appPackage(scanPkgId, scanManager(QStringLiteral("1.0"))), blocked}),
             "/opt' is not a folder"},
    };
    const auto before = sandbox.snapshot();
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.name);

        const ToolRun install = sandbox.installer(sandbox.writePackage(QStringLiteral("a.pkg"), refused.package));

        EXPECT_THAT(install, FailsWith(refused.reason));
        EXPECT_THAT(install.err, HasSubstr("installer: The install failed."));
        EXPECT_EQ(sandbox.snapshot(), before);
    }
}

TEST(Installer, UpgradesReplaceFilesRemoveLeftoversAndRenewTheReceipt) {
    const Sandbox sandbox;
    ComponentPackage first = appPackage(scanPkgId, scanManager(QStringLiteral("1.9")));
    first.payload->file(QStringLiteral("./Scan Manager.app/Contents/Resources/legacy.dat"), "old");
    ASSERT_EQ(sandbox.installer(sandbox.writePackage(QStringLiteral("old.pkg"), buildComponentPackage(first))).exitCode,
              0);
    const QString resources = sandbox.path(QStringLiteral("/Applications/Scan Manager.app/Contents/Resources"));
    writeFile(resources + QStringLiteral("/user-settings.dat"), "the user's own");
    ASSERT_TRUE(QFile::exists(resources + QStringLiteral("/legacy.dat")));

    const ToolRun upgrade = sandbox.installer(
            sandbox.writePackage(QStringLiteral("new.pkg"), scanManagerPackage(QStringLiteral("1.10"))));

    ASSERT_EQ(upgrade.exitCode, 0) << upgrade.err;
    EXPECT_EQ(readFile(resources + QStringLiteral("/../Info.plist")), infoPlist(scanManager(QStringLiteral("1.10"))));
    EXPECT_EQ(readFile(resources + QStringLiteral("/version.txt")), "1.10\n");
    EXPECT_FALSE(QFile::exists(resources + QStringLiteral("/legacy.dat")));
    EXPECT_EQ(readFile(resources + QStringLiteral("/user-settings.dat")), "the user's own");
    EXPECT_THAT(workLeftovers(resources), IsEmpty());
    EXPECT_THAT(workLeftovers(sandbox.path(QStringLiteral("/Applications"))), IsEmpty());
    const tool::Plist receipt = exportedReceipt(sandbox);
    EXPECT_EQ(tool::stringEntry(receipt.get(), "pkg-version"), QStringLiteral("1.10"));
    EXPECT_THAT(receiptPaths(receipt.get()),
                Not(Contains(QStringLiteral("Scan Manager.app/Contents/Resources/legacy.dat"))));
}

TEST(Installer, RestoresThePreviousVersionWhenTheReceiptCannotBeWritten) {
    const Sandbox sandbox;
    ASSERT_EQ(sandbox.installer(
                             sandbox.writePackage(QStringLiteral("old.pkg"), scanManagerPackage(QStringLiteral("1.0"))))
                      .exitCode,
              0);
    // The receipts folder becomes a file: the new files are placed before the receipt step fails.
    const QString receipts = sandbox.path(QStringLiteral("/var/db/receipts"));
    ASSERT_TRUE(QDir(receipts).removeRecursively());
    writeFile(receipts, "not a folder");
    const auto before = sandbox.snapshot();

    const ToolRun upgrade = sandbox.installer(
            sandbox.writePackage(QStringLiteral("new.pkg"), scanManagerPackage(QStringLiteral("2.0"))));

    EXPECT_THAT(upgrade, FailsWith("is not a folder"));
    EXPECT_EQ(sandbox.snapshot(), before);
}

TEST(Installer, ReplacesALinkWhereTheBundleGoesWithoutWritingThroughIt) {
    const Sandbox sandbox;
    const QString elsewhere = sandbox.outside(QStringLiteral("elsewhere"));
    writeFile(elsewhere + QStringLiteral("/Contents/Info.plist"), "not to be touched");
    QDir().mkpath(sandbox.path(QStringLiteral("/Applications")));
    const QFileInfo bundle(sandbox.path(QStringLiteral("/Applications/Scan Manager.app")));
    ASSERT_TRUE(QFile::link(elsewhere, bundle.filePath()));

    const ToolRun install =
            sandbox.installer(sandbox.writePackage(QStringLiteral("a.pkg"), scanManagerPackage(QStringLiteral("1.0"))));

    ASSERT_EQ(install.exitCode, 0) << install.err;
    EXPECT_EQ(readFile(elsewhere + QStringLiteral("/Contents/Info.plist")), "not to be touched");
    EXPECT_FALSE(QFileInfo(bundle.filePath()).isSymLink());
    EXPECT_EQ(readFile(bundle.filePath() + QStringLiteral("/Contents/Info.plist")),
              infoPlist(scanManager(QStringLiteral("1.0"))));
}

// Each package alone passes the link checks; together their links climb out of the root unless every
// path resolves inside it as a chroot would.
TEST(Installer, LinksLaidOnDiskEarlierResolveInsideTheSystemRoot) {
    const Sandbox sandbox;
    const auto packageAt = [](const char* identifier, const char* location, const Payload& payload) {
        ComponentPackage component{QString::fromLatin1(identifier), QStringLiteral("1.0"),
                                   QString::fromLatin1(location)};
        component.payload = payload;
        return buildComponentPackage(component);
    };
    const QString outside = sandbox.outside(QStringLiteral("host"));
    ASSERT_TRUE(QDir().mkpath(outside));
    // Where the absolute link leads inside the root.
    ASSERT_TRUE(QDir().mkpath(sandbox.path(outside)));
    QDir().mkpath(sandbox.path(QStringLiteral("/opt")));
    ASSERT_TRUE(QFile::link(outside, sandbox.path(QStringLiteral("/opt/absolute"))));
    const struct {
        const char* name;
        QByteArray package;
    } steps[] = {
            // "/Library/back" leads to "/", the install location itself.
            {"link back to its install location",
             packageAt("com.tarn.one", "/",
                       Payload()
                               .directory(QStringLiteral("./Library"))
                               .symlink(QStringLiteral("./Library/back"), QStringLiteral("..")))},
            // "/Library/up" seems to stay in "/Library"; through the first link it climbs above "/".
            {"link through it", packageAt("com.tarn.two", "/Library",
                                          Payload().symlink(QStringLiteral("./up"), QStringLiteral("back/..")))},
            {"install location through both",
             packageAt("com.tarn.three", "/Library/up/escaped", Payload().file(QStringLiteral("./proof"), "3"))},
            {"install location through an absolute link",
             packageAt("com.tarn.four", "/opt/absolute/escaped", Payload().file(QStringLiteral("./proof"), "4"))},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        const ToolRun install = sandbox.installer(sandbox.writePackage(QStringLiteral("step.pkg"), step.package));
        EXPECT_EQ(install.exitCode, 0) << install.err;
    }

    EXPECT_FALSE(QFileInfo::exists(sandbox.outside(QStringLiteral("escaped"))));
    EXPECT_EQ(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    EXPECT_EQ(readFile(sandbox.path(QStringLiteral("/escaped/proof"))), "3");
    EXPECT_EQ(readFile(sandbox.path(outside + QStringLiteral("/escaped/proof"))), "4");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--files"), QStringLiteral("com.tarn.three")}).out, "proof\n");
    // The receipt leads a reader to where the files really are.
    const tool::Plist receipt = tool::Plist::parse(QByteArray::fromStdString(
            sandbox.pkgutil({QStringLiteral("--export-plist"), QStringLiteral("com.tarn.three")}).out));
    EXPECT_EQ(u'/' + tool::stringEntry(receipt.get(), "install-location").value_or(QString()),
              QFileInfo(sandbox.path(QStringLiteral("/escaped"))).canonicalFilePath());
}

TEST(Installer, InstallsEveryComponentOfASignedProductArchive) {
    const Sandbox sandbox;
    const AppBundle app = scanManager(QStringLiteral("4.2"));
    ComponentPackage drivers{QStringLiteral("com.tarn.drivers"), QStringLiteral("7.0"),
                             QStringLiteral("/Library/TARN")};
    drivers.payload = Payload().directory(QStringLiteral(".")).file(QStringLiteral("./driver.conf"), "speed=fast\n");
    drivers.fileName = QStringLiteral("TARN Drivers.pkg");
    PackageOptions options;
    options.signer = SigningCredentials::shared().trusted();
    const QString package = sandbox.writePackage(
            QStringLiteral("Suite.pkg"),
            buildProductArchive(QStringLiteral("TARN Suite"), {appPackage(scanPkgId, app), drivers}, options));

    const ToolRun install = sandbox.installer(package);

    ASSERT_EQ(install.exitCode, 0) << install.err;
    EXPECT_THAT(install.out, HasSubstr("installer: Package name is TARN Suite\n"));
    EXPECT_EQ(readFile(sandbox.path(QStringLiteral("/Applications/Scan Manager.app/Contents/Info.plist"))),
              infoPlist(app));
    EXPECT_EQ(readFile(sandbox.path(QStringLiteral("/Library/TARN/driver.conf"))), "speed=fast\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--pkgs")}).out, "com.tarn.drivers\ncom.tarn.scanmanager\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--files"), QStringLiteral("com.tarn.drivers")}).out, "driver.conf\n");
    EXPECT_EQ(sandbox.pkgutil({QStringLiteral("--check-signature"), package}).exitCode, 0);
}

TEST(Installer, RefusesOtherTargetsAndIncompleteCommandLines) {
    const Sandbox sandbox;
    const QString package = sandbox.writePackage(QStringLiteral("a.pkg"), scanManagerPackage(QStringLiteral("1.0")));
    const struct {
        QStringList arguments;
        const char* error;
    } cases[] = {
            {{QStringLiteral("-pkg"), package, QStringLiteral("-target"), QStringLiteral("/Volumes/X")}, "use '/'"},
            {{QStringLiteral("-pkg"), package}, "usage: installer -pkg PKG -target /"},
            {{QStringLiteral("-pkg"), sandbox.outside(QStringLiteral("nowhere.pkg")), QStringLiteral("-target"),
              QStringLiteral("/")},
             "the package path specified was invalid"},
    };
    for (const auto& refused : cases) {
        EXPECT_THAT(sandbox.installer(refused.arguments), FailsWith(refused.error));
    }
    EXPECT_FALSE(QFileInfo::exists(sandbox.path(QStringLiteral("/Applications"))));
}

} // namespace
} // namespace tarn::test
