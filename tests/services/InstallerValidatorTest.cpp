#include "services/InstallerValidator.h"

#include "PackageServicesSupport.h"
#include "support/Mocks.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarn::test {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::Return;
using ::testing::StrictMock;

// FIPS 180-4 test vectors.
const QString emptyDigest = QStringLiteral("cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d8"
                                           "5f2b0ff8318d2877eec2f63b931bd47417a81a"
                                           "538327af927da3e");
const QString abcDigest = QStringLiteral("ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc"
                                         "1a836ba3c23a3feebbd454d4423643ce80e"
                                         "2a9ac94fa54ca49f");

const QString pkgutil = QStringLiteral("/opt/tools/pkgutil");

QStringList trustedSigners() {
    return {QStringLiteral("TARN (Q7XK2M9P4D)"), QStringLiteral("Quillon Ltd. (M2D7S5K9WE)"),
            QStringLiteral("Norwell Labs (H4VN8C2T6R)")};
}

class InstallerValidatorTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<StrictMock<MockProcessRunner>> runner = std::make_shared<StrictMock<MockProcessRunner>>();
    InstallerValidator validator{logger, runner, pkgutil};
    QTemporaryDir directory;

    QString fileWith(const QString& name, const QByteArray& content) {
        const QString path = directory.filePath(name);
        EXPECT_TRUE(writeFile(path, content));
        return path;
    }
};

TEST_F(InstallerValidatorTest, ContentDigestMatchesRegardlessOfExpectedCase) {
    test::waitFor(validator.validateHash(QByteArray("abc"), abcDigest.toUpper(), QStringLiteral("catalogue")));
    test::waitFor(validator.validateHash(QByteArray(), emptyDigest, QStringLiteral("empty document")));

    EXPECT_EQ(logger->lines(), QStringList({QStringLiteral("[INFO] Validating SHA512 hash for catalogue"),
                                            QStringLiteral("[INFO] SHA512 matches for provided catalogue"),
                                            QStringLiteral("[INFO] Validating SHA512 hash for empty document"),
                                            QStringLiteral("[INFO] SHA512 matches for provided empty document")}));
}

class ExpectedDigestNotNormalised : public InstallerValidatorTest, public ::testing::WithParamInterface<QString> {};

TEST_P(ExpectedDigestNotNormalised, FailsContentAndFileChecksAlike) {
    const QString expected = GetParam();
    const auto contentFailure = failureOf<InstallationError>(
            validator.validateHash(QByteArray("abc"), expected, QStringLiteral("device configuration")));
    const QString path = fileWith(QStringLiteral("abc.pkg"), "abc");
    const auto fileFailure = failureOf<InstallationError>(validator.validateHash(path, expected));

    EXPECT_EQ(contentFailure,
              InstallationError::mismatchHash(QStringLiteral("Could not validate SHA512 for device configuration.")));
    EXPECT_EQ(fileFailure,
              InstallationError::mismatchHash(QStringLiteral("Could not validate SHA512 for ") + path + u'.'));
    EXPECT_EQ(logger->criticalLines(),
              QStringList({QStringLiteral("[CRITICAL] Could not validate SHA512 for device configuration."),
                           QStringLiteral("[CRITICAL] Could not validate SHA512 for ") + path + u'.'}));
}

INSTANTIATE_TEST_SUITE_P(Variants, ExpectedDigestNotNormalised,
                         ::testing::Values(abcDigest + u'\n', abcDigest + u' ', u' ' + abcDigest,
                                           QStringLiteral("0x") + abcDigest, emptyDigest, QString(),
                                           abcDigest.left(64)));

TEST_F(InstallerValidatorTest, FileDigestAgreesWithInMemoryDigestAcrossChunkBoundaries) {
    QByteArray content;
    for (int i = 0; content.size() < 3 * InstallerValidator::chunkSize + 1; ++i) {
        content.append(static_cast<char>((i * 131) ^ (i >> 8)));
    }
    for (const qint64 size : {qint64(0), qint64(1), InstallerValidator::chunkSize - 1, InstallerValidator::chunkSize,
                              InstallerValidator::chunkSize + 1, 3 * InstallerValidator::chunkSize + 1}) {
        SCOPED_TRACE(size);
        const QByteArray part = content.left(size);
        const QString path = fileWith(QStringLiteral("part-%1.pkg").arg(size), part);
        EXPECT_EQ(InstallerValidator::sha512HashOfFile(path), InstallerValidator::sha512Hash(part));
        test::waitFor(validator.validateHash(path, InstallerValidator::sha512Hash(part)));
    }
    EXPECT_EQ(InstallerValidator::sha512HashOfFile(fileWith(QStringLiteral("empty.pkg"), {})), emptyDigest);
    EXPECT_EQ(InstallerValidator::sha512Hash(QByteArray("abc")), abcDigest);
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

TEST_F(InstallerValidatorTest, FileLogLinesNameThePathOrTheEncodedFileUrl) {
    const QString path = fileWith(QStringLiteral("Scan Pro.dmg"), "abc");
    test::waitFor(validator.validateHash(path, abcDigest));
    test::waitFor(validator.validateHash(QUrl::fromLocalFile(path), abcDigest));

    const QString encoded = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    EXPECT_TRUE(encoded.endsWith(QStringLiteral("/Scan%20Pro.dmg")));
    EXPECT_EQ(logger->lines(), QStringList({QStringLiteral("[INFO] Validating SHA512 hash for ") + path,
                                            QStringLiteral("[INFO] SHA512 matches for ") + path,
                                            QStringLiteral("[INFO] Validating SHA512 hash for ") + encoded,
                                            QStringLiteral("[INFO] SHA512 matches for ") + encoded}));
}

TEST_F(InstallerValidatorTest, PlainAbsolutePathsAreTakenLiterally) {
    // Percent signs, quotes, "?" and "#" are part of a downloaded file's name, never URL syntax.
    const QString path = fileWith(QStringLiteral("100% 'Scan' a%20b?v=1#x.pkg"), "abc");
    const QString doubledSlash = u'/' + path;

    test::waitFor(validator.validateHash(path, abcDigest));
    test::waitFor(validator.validateHash(doubledSlash, abcDigest));

    EXPECT_EQ(logger->lines().first(), QStringLiteral("[INFO] Validating SHA512 hash for ") + path);
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

TEST_F(InstallerValidatorTest, UnreadableFilesFailWithThePlatformErrorAndNoCriticalLine) {
    const QString missing = directory.filePath(QStringLiteral("missing.pkg"));
    const auto missingFailure = failureOf<SystemError>(validator.validateHash(missing, emptyDigest));
    const auto directoryFailure = failureOf<SystemError>(validator.validateHash(directory.path(), emptyDigest));
    const auto remoteFailure = failureOf<SystemError>(
            validator.validateHash(QUrl(QStringLiteral("https://example.com/x.pkg")), emptyDigest));

    ASSERT_TRUE(missingFailure && directoryFailure && remoteFailure);
    EXPECT_TRUE(missingFailure->localizedDescription().contains(missing));
    EXPECT_TRUE(directoryFailure->localizedDescription().contains(directory.path()));
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

class InvalidPathText : public InstallerValidatorTest, public ::testing::WithParamInterface<QString> {};

TEST_P(InvalidPathText, FailsBothPathChecksWithTheTextAndRunsNothing) {
    const QString text = GetParam();
    EXPECT_EQ(failureOf<InstallationError>(validator.validateHash(text, emptyDigest)),
              InstallationError::invalidPath(text));
    EXPECT_EQ(failureOf<InstallationError>(validator.validateSignature(text, trustedSigners())),
              InstallationError::invalidPath(text));
    EXPECT_TRUE(logger->lines().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Texts, InvalidPathText,
                         ::testing::Values(QString(), QStringLiteral("Scan Pro.pkg"), QStringLiteral("%zz.pkg"),
                                           QStringLiteral("C:\\Downloads\\Scan.pkg"), QStringLiteral(":Scan.pkg"),
                                           QStringLiteral("file:///tmp/Scan Pro.pkg"),
                                           QStringLiteral("/tmp/Scan") + QChar(u'\0') + QStringLiteral(".pkg")));

TEST_F(InstallerValidatorTest, FileDigestRunsOffTheCallingThread) {
    // A pipe stands in for a file whose reading takes long: the digest must not complete, and must not
    // hold up this thread, until the test has written the rest and closed the pipe.
    const QString fifo = directory.filePath(QStringLiteral("slow.pkg"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "abc", 3), 3);

    // Only when the digest wrongly blocks this thread does the watchdog end the pipe, so the test fails
    // instead of hanging.
    std::mutex mutex;
    std::condition_variable released;
    bool testFinished = false;
    bool watchdogFired = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!released.wait_for(lock, std::chrono::seconds(30), [&] { return testFinished; })) {
            watchdogFired = true;
            ::close(writer);
        }
    });

    auto digest = validator.validateHash(fifo, InstallerValidator::sha512Hash(QByteArray("abcdef")));
    const bool finishedEarly = digest.isReady();
    {
        std::lock_guard lock(mutex);
        testFinished = true;
    }
    released.notify_one();
    watchdog.join();
    ASSERT_FALSE(watchdogFired);
    EXPECT_FALSE(finishedEarly);

    ASSERT_EQ(::write(writer, "def", 3), 3);
    ::close(writer);
    test::waitFor(std::move(digest));
    EXPECT_TRUE(logger->criticalLines().isEmpty());
}

TEST_F(InstallerValidatorTest, SignatureByAnyTrustedIdentityAnywhereInTheReportPasses) {
    const QString path = fileWith(QStringLiteral("Scan Pro.pkg"), "xar!");
    const QByteArray thirdSigner = "Package \"Scan Pro.pkg\":\n   Status: signed by a developer certificate\n"
                                   "   1. Developer ID Installer: Norwell Labs (H4VN8C2T6R)\n";
    const QByteArray outsideSignerLines = "Notes: repackaged for Quillon Ltd. (M2D7S5K9WE)\n";
    EXPECT_CALL(*runner, runProcess(pkgutil, ElementsAre(QStringLiteral("--check-signature"), path)))
            .WillOnce(ReturnTask(std::optional(thirdSigner)))
            .WillOnce(ReturnTask(std::optional(outsideSignerLines)));

    test::waitFor(validator.validateSignature(path, trustedSigners()));
    test::waitFor(validator.validateSignature(QUrl::fromLocalFile(path), trustedSigners()));

    const QString encoded = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    EXPECT_EQ(logger->lines(), QStringList({QStringLiteral("[INFO] Validating code signature for ") + path,
                                            QStringLiteral("[INFO] Code signature is valid for ") + path,
                                            QStringLiteral("[INFO] Validating code signature for ") + encoded,
                                            QStringLiteral("[INFO] Code signature is valid for ") + encoded}));
}

struct SignatureFailure {
    const char* name;
    std::function<QCoro::Task<std::optional<QByteArray>>()> toolAnswer;
    QStringList signers;
    QString innerDescription;
};

class SignatureFailures : public InstallerValidatorTest, public ::testing::WithParamInterface<SignatureFailure> {};

TEST_P(SignatureFailures, AreWrappedAsMismatchSignatureAndLoggedOnce) {
    const SignatureFailure& row = GetParam();
    const QString path = directory.filePath(QStringLiteral("Scan.pkg"));
    EXPECT_CALL(*runner, runProcess(pkgutil, ElementsAre(QStringLiteral("--check-signature"), path)))
            .WillOnce([&](auto&&...) { return row.toolAnswer(); });

    const auto failure = failureOf<InstallationError>(validator.validateSignature(path, row.signers));

    const QString message = QStringLiteral("Error during code signature validation for ") + path +
                            QStringLiteral(". ") + row.innerDescription;
    EXPECT_EQ(failure, InstallationError::mismatchSignature(message));
    EXPECT_EQ(logger->lines(), QStringList({QStringLiteral("[INFO] Validating code signature for ") + path,
                                            QStringLiteral("[CRITICAL] ") + message}));
}

const QByteArray signedByTarn = "1. Developer ID Installer: TARN (Q7XK2M9P4D)\n";

INSTANTIATE_TEST_SUITE_P(
        Rows, SignatureFailures,
        ::testing::Values(
                SignatureFailure{"ToolExitsNonZero",
                                 [] {
                                     return failingTask<std::optional<QByteArray>>(
                                             InstallationError::installationFailed(QStringLiteral("no signature")));
                                 },
                                 trustedSigners(),
                                 QStringLiteral("The operation could not be completed. (InstallationError error 2.)")},
                SignatureFailure{"ToolCannotStart",
                                 [] {
                                     return failingTask<std::optional<QByteArray>>(
                                             SystemError(QStringLiteral("Could not start 'pkgutil'.")));
                                 },
                                 trustedSigners(), QStringLiteral("Could not start 'pkgutil'.")},
                SignatureFailure{"NoOutputAtAll", [] { return readyTask(std::optional<QByteArray>()); },
                                 trustedSigners(),
                                 QStringLiteral("The operation could not be completed. (InstallationError error 10.)")},
                SignatureFailure{"UntrustedSigner",
                                 [] {
                                     return readyTask(std::optional<QByteArray>(
                                             "1. Developer ID Installer: Someone Else (AAAAAAAAAA)\n"));
                                 },
                                 trustedSigners(),
                                 QStringLiteral("The operation could not be completed. (InstallationError error 6.)")},
                SignatureFailure{"IdentityInOtherCase",
                                 [] {
                                     return readyTask(std::optional<QByteArray>(
                                             "1. Developer ID Installer: Tarn (q7xk2m9p4d)\n"));
                                 },
                                 trustedSigners(),
                                 QStringLiteral("The operation could not be completed. (InstallationError error 6.)")},
                SignatureFailure{"ReportNotUtf8",
                                 [] { return readyTask(std::optional<QByteArray>(signedByTarn + "\xff\xfe")); },
                                 trustedSigners(),
                                 QStringLiteral("The operation could not be completed. (InstallationError error 6.)")},
                SignatureFailure{"NoTrustedIdentities",
                                 [] { return readyTask(std::optional<QByteArray>(signedByTarn)); }, QStringList(),
                                 QStringLiteral("The operation could not be completed. (InstallationError error 6.)")},
                SignatureFailure{"EmptyIdentityTrustsNothing",
                                 [] { return readyTask(std::optional<QByteArray>(signedByTarn)); },
                                 QStringList{QString()},
                                 QStringLiteral("The operation could not be completed. (InstallationError error 6.)")}),
        [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tarn::test
