#include "services/PkgUtilHelper.h"

#include "base/Error.h"

#include <QFile>
#include <QFileInfo>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

// No real Info.plist comes near this; a larger file is refused rather than read into memory.
constexpr qint64 maxInfoPlistSize = 16 * 1024 * 1024;

// The bundle's own Info.plist sits at "<Bundle>/Contents/Info.plist", directly under the install location.
bool isTopLevelInfoPlist(const QString& relativePath) {
    const QStringList components = relativePath.split(u'/', Qt::SkipEmptyParts);
    return !components.isEmpty() && relativePath == components.first() + u"/Contents/Info.plist"_s;
}

QByteArray readWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw SystemError(u"Could not open '%1' for reading: %2"_s.arg(path, file.errorString()));
    }
    if (file.size() > maxInfoPlistSize) {
        throw SystemError(u"'%1' is larger than %2 bytes."_s.arg(path).arg(maxInfoPlistSize));
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw SystemError(u"Could not read '%1': %2"_s.arg(path, file.errorString()));
    }
    return bytes;
}

bool isDigit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

// The extent [begin, end) of the digit run at `begin`, and where its significant digits start.
struct DigitRun {
    qsizetype significant;
    qsizetype end;
    qsizetype length() const { return end - significant; }
};

DigitRun digitRunAt(const QList<char32_t>& text, qsizetype begin) {
    qsizetype end = begin;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
    }
    qsizetype significant = begin;
    while (significant < end && text[significant] == U'0') {
        ++significant;
    }
    return {significant, end};
}

QList<char32_t> codePoints(const QString& text) {
    const QList<uint> ucs4 = text.toUcs4();
    return QList<char32_t>(ucs4.begin(), ucs4.end());
}

struct ChosenVersion {
    QString version;
    QString which;
};

// A dotted version is preferred, the bundle version first. Without one, the version that is there is
// compared: the short version first, since a dotless bundle version is usually a build number.
// Skipping an app whose version carries no dot would leave version 5 in place when 6 is announced.
std::optional<ChosenVersion> chooseVersion(const PkgDetails& details) {
    const auto present = [](const std::optional<QString>& version) { return version && !version->isEmpty(); };
    const auto dotted = [](const std::optional<QString>& version) { return version && version->contains(u'.'); };
    const QString bundle = u"bundle version"_s;
    const QString shortBundle = u"short bundle version"_s;
    if (dotted(details.bundleVersion)) {
        return ChosenVersion{*details.bundleVersion, bundle};
    }
    if (dotted(details.bundleShortVersion)) {
        return ChosenVersion{*details.bundleShortVersion, shortBundle};
    }
    if (present(details.bundleShortVersion)) {
        return ChosenVersion{*details.bundleShortVersion, shortBundle};
    }
    if (present(details.bundleVersion)) {
        return ChosenVersion{*details.bundleVersion, bundle};
    }
    return std::nullopt;
}

} // namespace

PkgUtilHelper::PkgUtilHelper(std::shared_ptr<LoggerProtocol> logger,
                             std::shared_ptr<ProcessRunnerProtocol> processRunner, QString launchPath)
    : logger(std::move(logger)), processRunner(std::move(processRunner)), launchPath(std::move(launchPath)) {}

QCoro::Task<bool> PkgUtilHelper::isInstallationNeeded(QString pkgId, QString requestedVersion) {
    const std::optional<PkgDetails> details = co_await packageDetails(pkgId);
    if (!details) {
        logger->info(u"Failed to get info for package: %1"_s.arg(pkgId));
        co_return true;
    }

    const std::optional<ChosenVersion> chosen = chooseVersion(*details);
    std::optional<QString> installedVersion;
    if (chosen) {
        installedVersion = chosen->version;
        logger->info(u"Found %1 %2 for %3"_s.arg(chosen->which, chosen->version, pkgId));
    }

    logger->info(u"Comparing %1 for %2"_s.arg(installedVersion.value_or(u"unknown"_s), requestedVersion));
    if (!installedVersion) {
        // Nothing to compare with: installing again is safe, skipping might leave the app out of date.
        logger->info(u"Result no installed version to compare with requested version %1"_s.arg(requestedVersion));
        co_return true;
    }
    if (compareVersions(*installedVersion, requestedVersion) < 0) {
        logger->info(u"Result is %1 < %2"_s.arg(*installedVersion, requestedVersion));
        co_return true;
    }
    logger->info(u"Result installed app is newer or equal than requested version %1"_s.arg(requestedVersion));
    co_return false;
}

QCoro::Task<std::optional<QString>> PkgUtilHelper::installedVersion(QString pkgId) {
    const std::optional<PkgDetails> details = co_await packageDetails(pkgId);
    const std::optional<ChosenVersion> chosen = details ? chooseVersion(*details) : std::nullopt;
    co_return chosen ? std::optional<QString>(chosen->version) : std::nullopt;
}

int PkgUtilHelper::compareVersions(const QString& left, const QString& right) {
    const QList<char32_t> a = codePoints(left);
    const QList<char32_t> b = codePoints(right);
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compared as numbers of any length: the longer significant run is larger, then digit by digit.
            const DigitRun runA = digitRunAt(a, i);
            const DigitRun runB = digitRunAt(b, j);
            if (runA.length() != runB.length()) {
                return runA.length() < runB.length() ? -1 : 1;
            }
            for (qsizetype k = 0; k < runA.length(); ++k) {
                if (a[runA.significant + k] != b[runB.significant + k]) {
                    return a[runA.significant + k] < b[runB.significant + k] ? -1 : 1;
                }
            }
            i = runA.end;
            j = runB.end;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j] ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    return j < b.size() ? -1 : 0;
}

QCoro::Task<std::optional<PkgDetails>> PkgUtilHelper::packageDetails(QString pkgId) {
    logger->info(u"Retrieving info for package: %1"_s.arg(pkgId));
    const QString failure = u"Failed to get info for package: %1"_s.arg(pkgId);

    std::optional<QByteArray> output;
    try {
        const QStringList arguments{u"--export-plist"_s, pkgId};
        output = co_await processRunner->runProcess(launchPath, arguments);
    } catch (const std::exception&) {
        // Also the ordinary answer for a package that was never installed.
        logger->info(failure);
        co_return std::nullopt;
    }
    if (!output) {
        co_return std::nullopt;
    }

    std::optional<PropertyList> receipt;
    try {
        receipt = PropertyList::parse(*output);
    } catch (const PropertyListError&) {
        logger->info(failure);
        co_return std::nullopt;
    }
    const PropertyListNode root = receipt->root();
    if (!root.isDictionary()) {
        co_return std::nullopt;
    }
    const std::optional<QString> installLocation = root.value(u"install-location"_s).string();
    const PropertyListNode paths = root.value(u"paths"_s);
    const std::optional<QString> packageVersion = root.value(u"pkg-version"_s).string();

    QStringList relativePaths;
    std::optional<QString> infoPlistPath;
    for (const auto& [relativePath, value] : paths.entries()) {
        relativePaths.append(relativePath);
        // The receipt's own order decides between several candidates: the last one wins.
        if (installLocation && isTopLevelInfoPlist(relativePath)) {
            infoPlistPath = u'/' + *installLocation + u'/' + relativePath;
        }
    }
    if (!paths.isDictionary() || !infoPlistPath || !installLocation || !packageVersion) {
        co_return std::nullopt;
    }

    const std::optional<BundleVersions> versions = readBundleVersions(*infoPlistPath);
    if (!versions) {
        co_return std::nullopt;
    }
    co_return PkgDetails{pkgId, versions->version, versions->shortVersion, *installLocation, relativePaths};
}

std::optional<BundleVersions> PkgUtilHelper::readBundleVersions(const QString& plistPath) const {
    logger->info(u"Reading plist content %1"_s.arg(plistPath));
    if (!QFileInfo::exists(plistPath)) {
        logger->info(u"Info.plist Path doesn't exist %1"_s.arg(plistPath));
        return std::nullopt;
    }
    std::optional<PropertyList> infoPlist;
    try {
        infoPlist = PropertyList::parse(readWholeFile(plistPath));
    } catch (const Error& failure) {
        logger->info(u"Info.plist Failed to read %1 %2"_s.arg(plistPath, failure.debugDescription()));
        return std::nullopt;
    }
    const PropertyListNode root = infoPlist->root();
    if (!root.isDictionary()) {
        logger->info(u"Info.plist Failed parse plist content %1"_s.arg(plistPath));
        return std::nullopt;
    }
    return BundleVersions{root.value(u"CFBundleShortVersionString"_s).string(),
                          root.value(u"CFBundleVersion"_s).string()};
}

} // namespace tarn
