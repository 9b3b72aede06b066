#include "services/PkgUtilHelper.h"

#include "ServicesTestSupport.h"
#include "fixtures/Packages.h"
#include "support/Mocks.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {

using namespace Qt::StringLiterals;
namespace {

using ::testing::ElementsAre;
using ::testing::StrictMock;

const QString pkgutil = u"/opt/tools/pkgutil"_s;
const QString pkgId = u"com.example.scan.pkg"_s;
const QString bundleKey = u"Scan Pro.app/Contents/Info.plist"_s;

class PkgUtilHelperTest : public ::testing::Test {
protected:
    void answerWith(std::optional<QByteArray> output) {
        EXPECT_CALL(*runner, runProcess(pkgutil, ElementsAre(u"--export-plist"_s, pkgId)))
                .WillOnce(ReturnTask(std::move(output)));
    }

    QString installLocation() const { return directory.path(); }
    QString infoPlistPath() const { return u'/' + installLocation() + u'/' + bundleKey; }

    bool isInstallationNeeded(const QString& requestedVersion) {
        return test::waitFor(helper.isInstallationNeeded(pkgId, requestedVersion));
    }

    QTemporaryDir directory;
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<StrictMock<MockProcessRunner>> runner = std::make_shared<StrictMock<MockProcessRunner>>();
    PkgUtilHelper helper{logger, runner, pkgutil};
};

// A dotted version wins; without one the version that is there decides; with none at all, install.
TEST_F(PkgUtilHelperTest, TheDottedInstalledVersionDecidesThenAnyVersionThereIs) {
    // Short and bundle version written, requested, needed, which version was taken (if any) and its text, binary.
    using Row = std::tuple<std::optional<QString>, std::optional<QString>, QString, bool, const char*, QString, bool>;
    const Row rows[] = {
            {std::nullopt, "1.9", "1.10", true, "bundle version", "1.9", false},
            {"9.9", "2.0", "2.0", false, "bundle version", "2.0", false},
            {"3.1", "1234", "3.2", true, "short bundle version", "3.1", false},
            {"7", "1234", "6", false, "short bundle version", "7", true},
            {std::nullopt, "5", "6", true, "bundle version", "5", false},
            {"", "6", "6", false, "bundle version", "6", false},
            {std::nullopt, std::nullopt, "6.0", true, nullptr, "unknown", false},
            {"", "", "6.0", true, nullptr, "unknown", false},
            {std::nullopt, "1.0", "", false, "bundle version", "1.0", false},
    };
    const QString earlierKey = u"Scan Helper.app/Contents/Info.plist"_s;
    ASSERT_TRUE(writeFile(installLocation() + u'/' + earlierKey, infoPlist(u"99.0"_s, u"99.0"_s)));
    for (const auto& [shortVersion, version, requested, needed, found, chosen, binary] : rows) {
        SCOPED_TRACE(requested.toStdString() + " binary " + std::to_string(binary));
        logger->clear();
        const QByteArray plist = infoPlist(shortVersion, version);
        // The last Info.plist of an application's top level that the receipt names counts, not an earlier one.
        const QByteArray receiptList = receipt(
                installLocation(), {earlierKey, u"Scan Pro.app"_s, u"Scan Pro.app/Contents/MacOS/Scan"_s, bundleKey});
        ASSERT_TRUE(writeFile(installLocation() + u'/' + bundleKey, binary ? toBinary(plist) : plist));
        answerWith(binary ? toBinary(receiptList) : receiptList);

        EXPECT_EQ(isInstallationNeeded(requested), needed);

        QStringList expected{"[INFO] Retrieving info for package: " + pkgId,
                             "[INFO] Reading plist content " + infoPlistPath()};
        if (found) {
            expected << "[INFO] Found " + QLatin1String(found) + ' ' + chosen + " for " + pkgId;
        }
        expected << "[INFO] Comparing " + chosen + " for " + requested
                 << (!found   ? "[INFO] Result no installed version to compare with requested version " + requested
                     : needed ? "[INFO] Result is " + chosen + " < " + requested
                              : "[INFO] Result installed app is newer or equal than requested version " + requested);
        EXPECT_EQ(logger->lines(), expected);

        answerWith(binary ? toBinary(receiptList) : receiptList); // reports name the compared version
        EXPECT_EQ(test::waitFor(helper.installedVersion(pkgId)), found ? std::optional(chosen) : std::nullopt);
    }
}

TEST(PkgUtilHelperComparison, OrdersDigitRunsByValueAndOtherCharactersByCodePoint) {
    // Leading zeros do not count. Other characters go by code point: case-sensitive, a letter against a digit,
    // "é" after "z", code points rather than UTF-16 units; full-width digits are no digits.
    for (const char* text :
         {"1.10 > 1.9", "2.0 = 2.0", "2.0 < 2.0.1", " < 0.1", "1.01 = 1.1", "007 = 7", "1.010 > 1.9", "1.0a < 1.0b",
          "1.0B < 1.0a", "1.0 < 1.0-beta", "1.a > 1.5", "1.99999999999999999999999 > 1.99999999999999999999998",
          "1.100000000000000000000000 > 1.99999999999999999999999", "1.0\xc3\xa9 > 1.0z",
          "1.\xf0\x9d\x9f\x99 > 1.\xef\xbf\xbd", "1.\xef\xbc\x91\xef\xbc\x90 < 1.\xef\xbc\x99"}) {
        const QStringList parts = QString::fromUtf8(text).split(u' '); // left, "<", "=" or ">", right
        const int order = u"<=>"_s.indexOf(parts.at(1)) - 1;
        EXPECT_EQ(PkgUtilHelper::compareVersions(parts.at(0), parts.at(2)), order) << text;
        EXPECT_EQ(PkgUtilHelper::compareVersions(parts.at(2), parts.at(0)), -order) << text;
    }
}

// Every way of not learning the installed version means "install", logged at information level only.
TEST_F(PkgUtilHelperTest, EveryUnusableReceiptOrInfoPlistAnswersInstall) {
    // What goes wrong: the tool, its receipt, or the Info.plist a usable receipt names.
    enum class Fault { tool, receipt, plistAbsent, plistFolder, plistWritten };
    const QByteArray location = "<key>install-location</key><string>/Applications</string>";
    const QByteArray pkgVersion = "<key>pkg-version</key><string>1</string>";
    const QByteArray paths = "<key>paths</key><dict><key>Scan Pro.app/Contents/Info.plist</key><dict/></dict>";
    // The output is the receipt, or the Info.plist written. The lines follow "Retrieving", '|' between them: %F is
    // the failure line, %P the Info.plist's path.
    const std::tuple<const char*, Fault, std::optional<QByteArray>, const char*> rows[] = {
            {"tool fails", Fault::tool, std::nullopt, "%F|%F"},
            {"no output", Fault::receipt, std::nullopt, "%F"},
            {"not a property list", Fault::receipt, "No receipt\n", "%F|%F"},
            {"root not a dictionary", Fault::receipt, PropertyList::array().toXml(), "%F"},
            {"empty dictionary", Fault::receipt, PropertyList::dictionary().toBinary(), "%F"},
            {"bundle two levels deep", Fault::receipt, receipt(u"/"_s, {u"Applications/S.app/Contents/Info.plist"_s}),
             "%F"},
            {"key with leading slash", Fault::receipt, receipt(u"/Applications"_s, {u'/' + bundleKey}), "%F"},
            {"no install location", Fault::receipt, plistXml("<dict>" + pkgVersion + paths + "</dict>"), "%F"},
            {"no paths", Fault::receipt, plistXml("<dict>" + location + pkgVersion + "</dict>"), "%F"},
            {"no package version", Fault::receipt, plistXml("<dict>" + location + paths + "</dict>"), "%F"},
            {"Info.plist missing", Fault::plistAbsent, std::nullopt, "Info.plist Path doesn't exist %P"},
            {"Info.plist malformed", Fault::plistWritten, "{ CFBundleVersion = 1; }",
             "Info.plist Failed to read %P PropertyListError(\"The data is not a property list in XML or binary "
             "format.\")"},
            {"Info.plist unreadable", Fault::plistFolder, std::nullopt,
             "Info.plist Failed to read %P SystemError(\"Could not open '%P' for reading: file to open is a "
             "directory\")"},
            {"Info.plist nested 200,000 deep", Fault::plistWritten, fixtures::nestedPropertyList(200'000, false),
             "Info.plist Failed to read %P PropertyListError(\"The property list nests deeper than 128 levels.\")"},
            {"Info.plist root not a dictionary", Fault::plistWritten, PropertyList::string(u"2.0"_s).toBinary(),
             "Info.plist Failed parse plist content %P"},
    };
    for (const auto& [name, fault, output, lines] : rows) {
        SCOPED_TRACE(name);
        logger->clear();
        QDir(installLocation()).removeRecursively();
        const bool plistRead = fault != Fault::tool && fault != Fault::receipt;
        if (fault == Fault::tool) {
            EXPECT_CALL(*runner, runProcess(pkgutil, ElementsAre(u"--export-plist"_s, pkgId)))
                    .WillOnce(ThrowTask<std::optional<QByteArray>>(
                            InstallationError::installationFailed(u"No receipt for 'x' found"_s)));
        } else {
            answerWith(plistRead ? receipt(installLocation(), {bundleKey}) : output);
        }
        if (fault == Fault::plistFolder) {
            ASSERT_TRUE(QDir().mkpath(infoPlistPath()));
        } else if (fault == Fault::plistWritten) {
            ASSERT_TRUE(writeFile(infoPlistPath(), *output));
        }

        EXPECT_TRUE(isInstallationNeeded(u"1.0"_s));

        QStringList expected = ("Retrieving info for package: " + pkgId + u'|' +
                                (plistRead ? u"Reading plist content %P|%1|%F"_s.arg(QLatin1String(lines))
                                           : QString::fromLatin1(lines)))
                                       .split(u'|');
        expected.replaceInStrings(u"%F"_s, u"Failed to get info for package: "_s + pkgId);
        expected.replaceInStrings(u"%P"_s, infoPlistPath());
        EXPECT_EQ(logger->lines(), expected.replaceInStrings(QRegularExpression(u"^"_s), "[INFO] "));
    }
}

} // namespace
} // namespace tarn::test
