#include "services/PkgUtilHelper.h"

#include "PackageServicesSupport.h"
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
    const struct {
        std::optional<QString> shortVersion;
        std::optional<QString> version;
        QString requested;
        bool needed;
        const char* found; // which version was taken, if any
        QString chosen;
        bool binary;
    } rows[] = {
            {std::nullopt, "1.9", "1.10", true, "bundle version", "1.9", false},
            {"9.9", "2.0", "2.0", false, "bundle version", "2.0", false},
            {std::nullopt, "2.1", "2.0", false, "bundle version", "2.1", false},
            {"3.1", "1234", "3.2", true, "short bundle version", "3.1", false},
            {"4.2", "4.2.7", "4.2.7", false, "bundle version", "4.2.7", true},
            {"5", "1234", "6", true, "short bundle version", "5", false},
            {"7", "1234", "6", false, "short bundle version", "7", true},
            {std::nullopt, "5", "6", true, "bundle version", "5", false},
            {"", "6", "6", false, "bundle version", "6", false},
            {std::nullopt, std::nullopt, "6.0", true, nullptr, "unknown", false},
            {"", "", "6.0", true, nullptr, "unknown", false},
            {std::nullopt, "1.0", "", false, "bundle version", "1.0", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.requested.toStdString() + " binary " + std::to_string(row.binary));
        logger->clear();
        const PropertyList plist = infoPlist(row.shortVersion, row.version);
        const PropertyList receiptList = receipt(installLocation(), {u"Scan Pro.app"_s, bundleKey});
        ASSERT_TRUE(writeFile(installLocation() + u'/' + bundleKey, row.binary ? plist.toBinary() : plist.toXml()));
        answerWith(row.binary ? receiptList.toBinary() : receiptList.toXml());

        EXPECT_EQ(isInstallationNeeded(row.requested), row.needed);

        QStringList expected{"[INFO] Retrieving info for package: " + pkgId,
                             "[INFO] Reading plist content " + infoPlistPath()};
        if (row.found) {
            expected << "[INFO] Found " + QLatin1String(row.found) + ' ' + row.chosen + " for " + pkgId;
        }
        expected << "[INFO] Comparing " + row.chosen + " for " + row.requested
                 << (!row.found
                             ? "[INFO] Result no installed version to compare with requested version " + row.requested
                     : row.needed
                             ? "[INFO] Result is " + row.chosen + " < " + row.requested
                             : "[INFO] Result installed app is newer or equal than requested version " + row.requested);
        EXPECT_EQ(logger->lines(), expected);

        answerWith(row.binary ? receiptList.toBinary() : receiptList.toXml());
        const std::optional<QString> reported = test::waitFor(helper.installedVersion(pkgId));
        EXPECT_EQ(reported, row.found ? std::optional<QString>(row.chosen) : std::nullopt)
                << "reports name the compared version";
    }
}

TEST(PkgUtilHelperComparison, OrdersDigitRunsByValueAndOtherCharactersByCodePoint) {
    const std::tuple<const char*, const char*, int> cases[] = {
            {"1.10", "1.9", 1},
            {"2.0", "2.0", 0},
            {"2.0", "2.0.1", -1},
            {"", "0.1", -1},
            {"1.01", "1.1", 0}, // leading zeros do not count
            {"007", "7", 0},
            {"1.010", "1.9", 1},
            {"1.0a", "1.0b", -1},
            {"1.0B", "1.0a", -1}, // case-sensitive, by code
            {"1.0", "1.0-beta", -1},
            {"1.a", "1.5", 1}, // a letter against a digit: by code
            {"1.99999999999999999999999", "1.99999999999999999999998", 1},
            {"1.100000000000000000000000", "1.99999999999999999999999", 1},
            {"1.0\xc3\xa9", "1.0z", 1},                           // é after z
            {"1.\xf0\x9d\x9f\x99", "1.\xef\xbf\xbd", 1},          // code points, not UTF-16 units
            {"1.\xef\xbc\x91\xef\xbc\x90", "1.\xef\xbc\x99", -1}, // full-width digits are not digits
    };
    for (const auto& [leftText, rightText, order] : cases) {
        const QString left = QString::fromUtf8(leftText);
        const QString right = QString::fromUtf8(rightText);
        EXPECT_EQ(PkgUtilHelper::compareVersions(left, right), order) << leftText << " vs " << rightText;
        EXPECT_EQ(PkgUtilHelper::compareVersions(right, left), -order) << leftText << " vs " << rightText;
    }
}

// A receipt from its keys, as property-list XML: paths name the bundle's Info.plist.
QByteArray receiptWith(const QByteArray& keys) {
    return "<plist version=\"1.0\"><dict>" + keys + "</dict></plist>";
}

// Every way of not learning the installed version means "install", logged at information level only.
TEST_F(PkgUtilHelperTest, EveryUnusableReceiptOrInfoPlistAnswersInstall) {
    // What goes wrong: the tool, its receipt, or the Info.plist a usable receipt names.
    enum class Fault { tool, receipt, plistAbsent, plistFolder, plistWritten };
    const QByteArray location = "<key>install-location</key><string>/Applications</string>";
    const QByteArray pkgVersion = "<key>pkg-version</key><string>1</string>";
    const QByteArray paths = "<key>paths</key><dict><key>Scan Pro.app/Contents/Info.plist</key><dict/></dict>";
    const struct {
        const char* name;
        Fault fault;
        std::optional<QByteArray> output; // the receipt, or the Info.plist written
        const char* lines; // after "Retrieving"; '|' between lines, %F the failure line, %P the Info.plist's path
    } rows[] = {
            {"tool fails", Fault::tool, std::nullopt, "%F|%F"},
            {"no output", Fault::receipt, std::nullopt, "%F"},
            {"not a property list", Fault::receipt, "No receipt\n", "%F|%F"},
            {"root not a dictionary", Fault::receipt, PropertyList::array().toXml(), "%F"},
            {"empty dictionary", Fault::receipt, PropertyList::dictionary().toBinary(), "%F"},
            {"bundle two levels deep", Fault::receipt,
             receipt(u"/"_s, {u"Applications/S.app/Contents/Info.plist"_s}).toXml(), "%F"},
            {"key with leading slash", Fault::receipt, receipt(u"/Applications"_s, {u'/' + bundleKey}).toXml(), "%F"},
            {"no install location", Fault::receipt, receiptWith(pkgVersion + paths), "%F"},
            {"no paths", Fault::receipt, receiptWith(location + pkgVersion), "%F"},
            {"no package version", Fault::receipt, receiptWith(location + paths), "%F"},
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
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        logger->clear();
        QDir(installLocation()).removeRecursively();
        const bool plistRead = row.fault != Fault::tool && row.fault != Fault::receipt;
        if (row.fault == Fault::tool) {
            EXPECT_CALL(*runner, runProcess(pkgutil, ElementsAre(u"--export-plist"_s, pkgId)))
                    .WillOnce(ThrowTask<std::optional<QByteArray>>(
                            InstallationError::installationFailed(u"No receipt for 'x' found"_s)));
        } else {
            answerWith(plistRead ? receipt(installLocation(), {bundleKey}).toXml() : row.output);
        }
        if (row.fault == Fault::plistFolder) {
            ASSERT_TRUE(QDir().mkpath(infoPlistPath()));
        } else if (row.fault == Fault::plistWritten) {
            ASSERT_TRUE(writeFile(infoPlistPath(), *row.output));
        }

        EXPECT_TRUE(isInstallationNeeded(u"1.0"_s));

        const QString lines = QString::fromLatin1(row.lines);
        QStringList expected = ("Retrieving info for package: " + pkgId + u'|' +
                                (plistRead ? "Reading plist content %P|" + lines + "|%F" : lines))
                                       .split(u'|');
        expected.replaceInStrings(u"%F"_s, u"Failed to get info for package: "_s + pkgId);
        expected.replaceInStrings(u"%P"_s, infoPlistPath());
        EXPECT_EQ(logger->lines(), expected.replaceInStrings(QRegularExpression(u"^"_s), "[INFO] "));
    }
}

TEST_F(PkgUtilHelperTest, LastQualifyingKeyOfTheReceiptWins) {
    const QString helperKey = u"Scan Helper.app/Contents/Info.plist"_s;
    ASSERT_TRUE(writeFile(installLocation() + u'/' + bundleKey, infoPlist(std::nullopt, u"9.0"_s).toXml()));
    ASSERT_TRUE(writeFile(installLocation() + u'/' + helperKey, infoPlist(std::nullopt, u"1.0"_s).toXml()));
    answerWith(receipt(installLocation(), {bundleKey, u"Scan Pro.app/Contents/MacOS/Scan"_s, helperKey}).toXml());

    EXPECT_TRUE(isInstallationNeeded(u"2.0"_s));
    EXPECT_TRUE(logger->lines().contains(u"[INFO] Reading plist content /"_s + installLocation() + u'/' + helperKey));
}

} // namespace
} // namespace tarn::test
