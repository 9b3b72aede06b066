#include "services/PkgUtilHelper.h"

#include "PackageServicesSupport.h"
#include "support/Mocks.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn::test {
namespace {

using ::testing::ElementsAre;
using ::testing::StrictMock;

const QString pkgutil = QStringLiteral("/opt/tools/pkgutil");
const QString pkgId = QStringLiteral("com.example.scan.pkg");
const QString bundleKey = QStringLiteral("Scan Pro.app/Contents/Info.plist");

// Public, so that the rows of the tables below can arrange their situation.
class PkgUtilHelperTest : public ::testing::Test {
public:
    void answerWith(std::optional<QByteArray> output) {
        EXPECT_CALL(*runner, runProcess(pkgutil, ElementsAre(QStringLiteral("--export-plist"), pkgId)))
                .WillOnce(ReturnTask(std::move(output)));
    }

    // An installed bundle under the temporary install location, and the receipt that lists it.
    void installBundle(const std::optional<QString>& shortVersion, const std::optional<QString>& version) {
        ASSERT_TRUE(writeFile(installLocation() + u'/' + bundleKey, infoPlist(shortVersion, version).toXml()));
        answerWith(receipt(installLocation(), {QStringLiteral("Scan Pro.app"), bundleKey}).toXml());
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

struct VersionDecision {
    std::optional<QString> shortVersion;
    std::optional<QString> version;
    QString requested;
    bool needed;
    QStringList decisionLines; // after the receipt has been read
};

class VersionDecisions : public PkgUtilHelperTest, public ::testing::WithParamInterface<VersionDecision> {};

TEST_P(VersionDecisions, FollowTheDottedInstalledVersion) {
    const VersionDecision& row = GetParam();
    installBundle(row.shortVersion, row.version);

    EXPECT_EQ(isInstallationNeeded(row.requested), row.needed);

    const QStringList expected = QStringList{QStringLiteral("[INFO] Retrieving info for package: ") + pkgId,
                                             QStringLiteral("[INFO] Reading plist content ") + infoPlistPath()} +
                                 row.decisionLines;
    EXPECT_EQ(logger->lines(), expected);
}

QStringList decision(const QString& found, const QString& comparing, const QString& result) {
    QStringList lines;
    if (!found.isEmpty()) {
        lines.append(QStringLiteral("[INFO] ") + found + QStringLiteral(" for ") + pkgId);
    }
    lines.append(QStringLiteral("[INFO] Comparing ") + comparing);
    lines.append(QStringLiteral("[INFO] ") + result);
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
        Rows, VersionDecisions,
        ::testing::Values(
                VersionDecision{std::nullopt, QStringLiteral("1.9"), QStringLiteral("1.10"), true,
                                decision(QStringLiteral("Found bundle version 1.9"), QStringLiteral("1.9 for 1.10"),
                                         QStringLiteral("Result is 1.9 < 1.10"))},
                VersionDecision{QStringLiteral("9.9"), QStringLiteral("2.0"), QStringLiteral("2.0"), false,
                                decision(QStringLiteral("Found bundle version 2.0"), QStringLiteral("2.0 for 2.0"),
                                         QStringLiteral("Result installed app is newer or equal than requested "
                                                        "version 2.0"))},
                VersionDecision{std::nullopt, QStringLiteral("2.1"), QStringLiteral("2.0"), false,
                                decision(QStringLiteral("Found bundle version 2.1"), QStringLiteral("2.1 for 2.0"),
                                         QStringLiteral("Result installed app is newer or equal than requested "
                                                        "version 2.0"))},
                VersionDecision{QStringLiteral("3.1"), QStringLiteral("1234"), QStringLiteral("3.2"), true,
                                decision(QStringLiteral("Found short bundle version 3.1"),
                                         QStringLiteral("3.1 for 3.2"), QStringLiteral("Result is 3.1 < 3.2"))},
                VersionDecision{QStringLiteral("5"), QStringLiteral("5"), QStringLiteral("6.0"), false,
                                decision(QString(), QStringLiteral("unknown for 6.0"),
                                         QStringLiteral("Result installed app is newer or equal than requested "
                                                        "version 6.0"))},
                VersionDecision{std::nullopt, std::nullopt, QStringLiteral("6.0"), false,
                                decision(QString(), QStringLiteral("unknown for 6.0"),
                                         QStringLiteral("Result installed app is newer or equal than requested "
                                                        "version 6.0"))},
                VersionDecision{std::nullopt, QStringLiteral("1.0"), QString(), false,
                                decision(QStringLiteral("Found bundle version 1.0"), QStringLiteral("1.0 for "),
                                         QStringLiteral("Result installed app is newer or equal than requested "
                                                        "version "))}));

TEST(PkgUtilHelperComparison, OrdersDigitRunsByValueAndOtherCharactersByCodePoint) {
    struct Case {
        const char* left;
        const char* right;
        int order;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        const QString left = QString::fromUtf8(c.left);
        const QString right = QString::fromUtf8(c.right);
        SCOPED_TRACE(left.toStdString() + " vs " + right.toStdString());
        EXPECT_EQ(PkgUtilHelper::compareVersions(left, right), c.order);
        EXPECT_EQ(PkgUtilHelper::compareVersions(right, left), -c.order);
    }
}

struct ReceiptFailure {
    const char* name;
    std::function<void(PkgUtilHelperTest&)> arrange;
    std::function<QStringList(const PkgUtilHelperTest&)> linesAfterRetrieving;
};

class ReceiptFailures : public PkgUtilHelperTest, public ::testing::WithParamInterface<ReceiptFailure> {};

TEST_P(ReceiptFailures, AnswerInstallAndLogOnlyAtInformationLevel) {
    const ReceiptFailure& row = GetParam();
    row.arrange(*this);

    EXPECT_TRUE(isInstallationNeeded(QStringLiteral("1.0")));

    const QStringList expected = QStringList(QStringLiteral("[INFO] Retrieving info for package: ") + pkgId) +
                                 row.linesAfterRetrieving(*this);
    EXPECT_EQ(logger->lines(), expected);
}

QString packageLine() {
    return QStringLiteral("[INFO] Failed to get info for package: ") + pkgId;
}

QStringList packageLineOnce(const PkgUtilHelperTest&) {
    return {packageLine()};
}

QStringList packageLineTwice(const PkgUtilHelperTest&) {
    return {packageLine(), packageLine()};
}

PropertyList receiptWithout(const QString& location, const QString& key) {
    PropertyList full = receipt(location, {bundleKey});
    PropertyList partial = PropertyList::dictionary();
    for (const QString& kept : {QStringLiteral("install-location"), QStringLiteral("pkg-version")}) {
        if (kept != key) {
            partial.insert(kept, PropertyList::string(*full.root().value(kept).string()));
        }
    }
    if (key != QStringLiteral("paths")) {
        PropertyList paths = PropertyList::dictionary();
        paths.insert(bundleKey, PropertyList::dictionary());
        partial.insert(QStringLiteral("paths"), std::move(paths));
    }
    return partial;
}

INSTANTIATE_TEST_SUITE_P(
        Rows, ReceiptFailures,
        ::testing::Values(
                ReceiptFailure{"ToolFails",
                               [](PkgUtilHelperTest& t) {
                                   EXPECT_CALL(
                                           *t.runner,
                                           runProcess(pkgutil, ElementsAre(QStringLiteral("--export-plist"), pkgId)))
                                           .WillOnce(ThrowTask<std::optional<QByteArray>>(
                                                   InstallationError::installationFailed(
                                                           QStringLiteral("No receipt for 'x' found"))));
                               },
                               packageLineTwice},
                ReceiptFailure{"NoOutput", [](PkgUtilHelperTest& t) { t.answerWith(std::nullopt); }, packageLineOnce},
                ReceiptFailure{"EmptyOutput", [](PkgUtilHelperTest& t) { t.answerWith(QByteArray()); },
                               packageLineTwice},
                ReceiptFailure{"NotAPropertyList",
                               [](PkgUtilHelperTest& t) { t.answerWith(QByteArray("No receipt\n")); },
                               packageLineTwice},
                ReceiptFailure{"RootNotADictionary",
                               [](PkgUtilHelperTest& t) { t.answerWith(PropertyList::array().toXml()); },
                               packageLineOnce},
                ReceiptFailure{"EmptyDictionary",
                               [](PkgUtilHelperTest& t) { t.answerWith(PropertyList::dictionary().toBinary()); },
                               packageLineOnce},
                ReceiptFailure{"BundleTwoLevelsDeep",
                               [](PkgUtilHelperTest& t) {
                                   t.answerWith(receipt(QStringLiteral("/"),
                                                        {QStringLiteral("Applications/Scan.app/Contents/Info.plist")})
                                                        .toXml());
                               },
                               packageLineOnce},
                ReceiptFailure{"KeyWithLeadingSlash",
                               [](PkgUtilHelperTest& t) {
                                   t.answerWith(receipt(t.installLocation(), {u'/' + bundleKey}).toXml());
                               },
                               packageLineOnce},
                ReceiptFailure{
                        "NoInstallLocation",
                        [](PkgUtilHelperTest& t) {
                            t.answerWith(
                                    receiptWithout(t.installLocation(), QStringLiteral("install-location")).toXml());
                        },
                        packageLineOnce},
                ReceiptFailure{"NoPaths",
                               [](PkgUtilHelperTest& t) {
                                   t.answerWith(receiptWithout(t.installLocation(), QStringLiteral("paths")).toXml());
                               },
                               packageLineOnce},
                ReceiptFailure{"NoPackageVersion",
                               [](PkgUtilHelperTest& t) {
                                   t.answerWith(
                                           receiptWithout(t.installLocation(), QStringLiteral("pkg-version")).toXml());
                               },
                               packageLineOnce},
                ReceiptFailure{
                        "InfoPlistMissing",
                        [](PkgUtilHelperTest& t) { t.answerWith(receipt(t.installLocation(), {bundleKey}).toXml()); },
                        [](const PkgUtilHelperTest& t) {
                            const QString path = t.infoPlistPath();
                            return QStringList{QStringLiteral("[INFO] Reading plist content ") + path,
                                               QStringLiteral("[INFO] Info.plist Path doesn't exist ") + path,
                                               packageLine()};
                        }},
                ReceiptFailure{"InfoPlistMalformed",
                               [](PkgUtilHelperTest& t) {
                                   ASSERT_TRUE(writeFile(t.infoPlistPath(), "{ CFBundleVersion = 1; }"));
                                   t.answerWith(receipt(t.installLocation(), {bundleKey}).toXml());
                               },
                               [](const PkgUtilHelperTest& t) {
                                   const QString path = t.infoPlistPath();
                                   return QStringList{
                                           QStringLiteral("[INFO] Reading plist content ") + path,
                                           QStringLiteral("[INFO] Info.plist Failed to read ") + path +
                                                   QStringLiteral(" PropertyListError(\"The data is not a property "
                                                                  "list in XML or binary format.\")"),
                                           packageLine()};
                               }},
                ReceiptFailure{"InfoPlistUnreadable",
                               [](PkgUtilHelperTest& t) {
                                   ASSERT_TRUE(QDir().mkpath(t.infoPlistPath()));
                                   t.answerWith(receipt(t.installLocation(), {bundleKey}).toXml());
                               },
                               [](const PkgUtilHelperTest& t) {
                                   const QString path = t.infoPlistPath();
                                   return QStringList{QStringLiteral("[INFO] Reading plist content ") + path,
                                                      QStringLiteral("[INFO] Info.plist Failed to read ") + path +
                                                              QStringLiteral(" SystemError(\"Could not open '") + path +
                                                              QStringLiteral("' for reading: file to open is a "
                                                                             "directory\")"),
                                                      packageLine()};
                               }},
                ReceiptFailure{"InfoPlistRootNotADictionary",
                               [](PkgUtilHelperTest& t) {
                                   ASSERT_TRUE(writeFile(t.infoPlistPath(),
                                                         PropertyList::string(QStringLiteral("2.0")).toBinary()));
                                   t.answerWith(receipt(t.installLocation(), {bundleKey}).toXml());
                               },
                               [](const PkgUtilHelperTest& t) {
                                   const QString path = t.infoPlistPath();
                                   return QStringList{QStringLiteral("[INFO] Reading plist content ") + path,
                                                      QStringLiteral("[INFO] Info.plist Failed parse plist content ") +
                                                              path,
                                                      packageLine()};
                               }}),
        [](const auto& info) { return std::string(info.param.name); });

TEST_F(PkgUtilHelperTest, BinaryReceiptAndBinaryInfoPlistAreRead) {
    ASSERT_TRUE(writeFile(installLocation() + u'/' + bundleKey,
                          infoPlist(QStringLiteral("4.2"), QStringLiteral("4.2.7")).toBinary()));
    answerWith(receipt(installLocation(), {bundleKey}).toBinary());

    EXPECT_FALSE(isInstallationNeeded(QStringLiteral("4.2.7")));
    EXPECT_TRUE(logger->lines().contains(QStringLiteral("[INFO] Found bundle version 4.2.7 for ") + pkgId));
}

TEST_F(PkgUtilHelperTest, LastQualifyingKeyOfTheReceiptWins) {
    const QString helperKey = QStringLiteral("Scan Helper.app/Contents/Info.plist");
    ASSERT_TRUE(
            writeFile(installLocation() + u'/' + bundleKey, infoPlist(std::nullopt, QStringLiteral("9.0")).toXml()));
    ASSERT_TRUE(
            writeFile(installLocation() + u'/' + helperKey, infoPlist(std::nullopt, QStringLiteral("1.0")).toXml()));
    answerWith(receipt(installLocation(), {bundleKey, QStringLiteral("Scan Pro.app/Contents/MacOS/Scan"), helperKey})
                       .toXml());

    EXPECT_TRUE(isInstallationNeeded(QStringLiteral("2.0")));
    EXPECT_TRUE(logger->lines().contains(QStringLiteral("[INFO] Reading plist content /") + installLocation() + u'/' +
                                         helperKey));
}

} // namespace
} // namespace tarn::test
