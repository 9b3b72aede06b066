// installer run as the real executable, then checked through the sandbox's files and pkgutil's receipts.
#include "PackageToolSupport.h"
#include "common/Plist.h"

#include <tuple>

namespace tarn::test {
namespace {

using namespace fixtures;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

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

// Each package alone passes the link checks; together their links climb out of the root unless every
// path resolves inside it as a chroot would, absolute links included.
TEST(Installer, LinksLaidOnDiskEarlierResolveInsideTheSystemRoot) {
    const Sandbox sandbox;
    const QString outside = sandbox.outside(u"host"_s);
    ASSERT_TRUE(QDir().mkpath(outside) && QDir().mkpath(sandbox.path(outside)) &&
                QDir().mkpath(sandbox.path(u"/opt"_s)));
    ASSERT_TRUE(QFile::link(outside, sandbox.path(u"/opt/absolute"_s)));
    const QByteArray steps[] = {
            // "/Library/back" leads to "/"; "/Library/up" then seems to stay in "/Library" but climbs above "/".
            component(Payload().directory(u"./Library"_s).symlink(u"./Library/back"_s, u".."_s), u"com.tarn.one"_s,
                      u"/"_s),
            component(Payload().symlink(u"./up"_s, u"back/.."_s), u"com.tarn.two"_s, u"/Library"_s),
            component(Payload().file(u"./proof"_s, "3"), u"com.tarn.three"_s, u"/Library/up/escaped"_s),
            component(Payload().file(u"./proof"_s, "4"), u"com.tarn.four"_s, u"/opt/absolute/escaped"_s),
    };
    for (const QByteArray& step : steps) {
        EXPECT_EQ(sandbox.install(step).exitCode, 0);
    }
    EXPECT_FALSE(QFileInfo::exists(sandbox.outside(u"escaped"_s)));
    EXPECT_EQ(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    EXPECT_EQ(readFile(sandbox.path(u"/escaped/proof"_s)), "3");
    EXPECT_EQ(readFile(sandbox.path(outside + u"/escaped/proof"_s)), "4");
    // The receipt leads a reader to where the files really are.
    EXPECT_EQ(u'/' + receiptField(sandbox, "install-location", u"com.tarn.three"_s),
              QFileInfo(sandbox.path(u"/escaped"_s)).canonicalFilePath());
}

} // namespace
} // namespace tarn::test
