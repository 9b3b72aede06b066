#include "services/InstallerValidator.h"

#include "ServicesTestSupport.h"
#include "fixtures/LocalHttpsServer.h"
#include "support/Mocks.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <fcntl.h>
#include <future>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarn::test {

using namespace Qt::StringLiterals;
namespace {

// FIPS 180-4 test vectors.
const QString emptyDigest = u"cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d8"
                            "5f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"_s;
const QString abcDigest = u"ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc"
                          "1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"_s;

const QString pkgutil = u"/opt/tools/pkgutil"_s;

const QStringList trustedSigners{u"TARN (Q7XK2M9P4D)"_s, u"Quillon Ltd. (M2D7S5K9WE)"_s,
                                 u"Norwell Labs (H4VN8C2T6R)"_s};

class InstallerValidatorTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<::testing::StrictMock<MockProcessRunner>> runner =
            std::make_shared<::testing::StrictMock<MockProcessRunner>>();
    InstallerValidator validator{logger, runner, pkgutil};
    QTemporaryDir directory;
};

TEST_F(InstallerValidatorTest, MatchingDigestsPassInAnyCaseAcrossChunkBoundariesAndLogTheirLocation) {
    // Percent signs, quotes, "?" and "#" are part of a downloaded file's name, never URL syntax.
    const QString path = directory.filePath(u"100% 'Scan' a%20b?v=1#x.pkg"_s);
    ASSERT_TRUE(writeFile(path, "abc"));
    const QString encoded = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    test::waitFor(validator.validateHash(QByteArray("abc"), abcDigest.toUpper(), u"catalogue"_s));
    test::waitFor(validator.validateHash(QByteArray(), emptyDigest, u"empty document"_s));
    test::waitFor(validator.validateHash(path, abcDigest.toUpper()));
    test::waitFor(validator.validateHash(u'/' + path, abcDigest));
    test::waitFor(validator.validateHash(QUrl::fromLocalFile(path), abcDigest));
    QStringList expected;
    for (const QString& what : {u"catalogue"_s, u"empty document"_s}) {
        expected << "[INFO] Validating SHA512 hash for " + what << "[INFO] SHA512 matches for provided " + what;
    }
    for (const QString& what : {path, path, encoded}) {
        expected << "[INFO] Validating SHA512 hash for " + what << "[INFO] SHA512 matches for " + what;
    }
    EXPECT_EQ(logger->lines(), expected);

    const qint64 chunk = InstallerValidator::chunkSize;
    const QByteArray content = fixtures::patternBytes(0, 3 * chunk + 1);
    for (const qint64 size : {qint64(0), chunk - 1, chunk, chunk + 1, 3 * chunk + 1}) {
        const QByteArray part = content.left(size);
        const QString file = directory.filePath(u"part-%1.pkg"_s.arg(size));
        ASSERT_TRUE(writeFile(file, part));
        test::waitFor(validator.validateHash(file, InstallerValidator::sha512Hash(part)));
    }
}

// A mismatch is critical; an unreadable file is the platform's error; text that is no file reference is an
// invalid path for both checks, and runs nothing.
TEST_F(InstallerValidatorTest, EachWayOfNotMatchingFailsWithItsOwnError) {
    const QString path = directory.filePath(u"abc.pkg"_s);
    ASSERT_TRUE(writeFile(path, "abc"));
    const QString mismatch = u"Could not validate SHA512 for %1."_s;
    for (const QString& expected :
         {abcDigest + u'\n', u' ' + abcDigest, u"0x"_s + abcDigest, emptyDigest, QString(), abcDigest.left(64)}) {
        SCOPED_TRACE(expected.toStdString()); // never normalised beyond case
        logger->clear();
        EXPECT_EQ(failureOf<InstallationError>(
                          validator.validateHash(QByteArray("abc"), expected, u"device configuration"_s)),
                  InstallationError::mismatchHash(mismatch.arg(u"device configuration"_s)));
        EXPECT_EQ(failureOf<InstallationError>(validator.validateHash(path, expected)),
                  InstallationError::mismatchHash(mismatch.arg(path)));
        EXPECT_EQ(logger->criticalLines(), QStringList({u"[CRITICAL] "_s + mismatch.arg(u"device configuration"_s),
                                                        u"[CRITICAL] "_s + mismatch.arg(path)}));
    }
    logger->clear();
    for (const QString& unreadable : {directory.filePath(u"missing.pkg"_s), directory.path()}) {
        EXPECT_TRUE(failureOf<SystemError>(validator.validateHash(unreadable, emptyDigest))
                            ->localizedDescription()
                            .contains(unreadable));
    }
    EXPECT_TRUE(failureOf<SystemError>(validator.validateHash(QUrl(u"https://example.com/x.pkg"_s), emptyDigest)));
    EXPECT_TRUE(logger->criticalLines().isEmpty());
    logger->clear();
    for (const QString& text : {QString(), u"Scan Pro.pkg"_s, u"%zz.pkg"_s, u"C:\\Downloads\\Scan.pkg"_s,
                                u"file:///tmp/Scan Pro.pkg"_s, u"/tmp/Scan"_s + QChar(u'\0') + u".pkg"_s}) {
        EXPECT_EQ(failureOf<InstallationError>(validator.validateHash(text, emptyDigest)),
                  InstallationError::invalidPath(text));
        EXPECT_EQ(failureOf<InstallationError>(validator.validateSignature(text, trustedSigners)),
                  InstallationError::invalidPath(text));
    }
    EXPECT_TRUE(logger->lines().isEmpty());
}

TEST_F(InstallerValidatorTest, FileDigestRunsOffTheCallingThread) {
    // A pipe stands in for a file that is slow to read: the digest must neither complete nor hold up this
    // thread until the test has written the rest and closed it.
    const QString fifo = directory.filePath(u"slow.pkg"_s);
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "abc", 3), 3);
    // Ends the pipe only if the digest wrongly blocks this thread, so the test fails instead of hanging.
    std::promise<void> returned;
    std::thread watchdog([&, done = returned.get_future()] {
        if (done.wait_for(std::chrono::seconds(30)) == std::future_status::timeout) {
            ::close(writer);
        }
    });

    auto digest = validator.validateHash(fifo, InstallerValidator::sha512Hash(QByteArray("abcdef")));
    const bool finishedEarly = digest.isReady();
    returned.set_value();
    watchdog.join();
    ASSERT_FALSE(finishedEarly);
    // Ending the pipe before the reader has opened it would leave the reader waiting for a writer forever.
    int unread = -1;
    ASSERT_TRUE(processEventsUntil([&] { return ::ioctl(writer, FIONREAD, &unread) == 0 && unread == 0; }));

    ASSERT_EQ(::write(writer, "def", 3), 3);
    ::close(writer);
    test::waitFor(std::move(digest));
}

// Only the signing certificate, entry 1 of the report's chain, counts; every failure is one
// mismatchSignature, logged once.
TEST_F(InstallerValidatorTest, SignatureNeedsATrustedIdentityOnTheSigningCertificate) {
    const QByteArray chain = "   Status: signed by a certificate trusted by this system\n   Certificate Chain:\n";
    const QByteArray byTarn = "Package \"Scan.pkg\":\n" + chain + "    1. Developer ID Installer: TARN (Q7XK2M9P4D)\n";
    const QByteArray byStranger = chain + "    1. Developer ID Installer: Someone Else (AAAAAAAAAA)\n       Expires: "
                                          "2030-01-01\n       ------\n    2. Quillon Ltd. (M2D7S5K9WE) Root\n";
    const QString untrusted = genericDescription(6);
    const auto tool = [](auto failure) { return ThrowTask<std::optional<QByteArray>>(failure); };
    const auto says = [](const QByteArray& report) { return ReturnTask(std::optional(report)); };
    // The tool's answer, the inner description of the failure (empty: the signature passes), the trusted signers.
    using Row = std::tuple<const char*, std::function<QCoro::Task<std::optional<QByteArray>>()>, QString, QStringList>;
    const QStringList& all = trustedSigners;
    const QString noStart = u"Could not start 'pkgutil'."_s;
    const Row rows[] = {
            {"trusted signs", says(chain + "    1. Developer ID Installer: Norwell Labs (H4VN8C2T6R)\n"), {}, all},
            {"the identity alone signs", says(chain + "1. Quillon Ltd. (M2D7S5K9WE)\r\n"), {}, all},
            {"identity in the package name", says("Package \"TARN (Q7XK2M9P4D).pkg\":\n" + byStranger), untrusted, all},
            {"forged chain in the package name",
             says("Package \"x\n   Certificate Chain:\n    1. TARN (Q7XK2M9P4D)\n\":\n" + byStranger), untrusted, all},
            {"identity in an issuer", says(byStranger), untrusted, all},
            {"identity in a note", says("Notes: repackaged for Quillon Ltd. (M2D7S5K9WE)\n"), untrusted, all},
            {"no chain heading", says("    1. Developer ID Installer: TARN (Q7XK2M9P4D)\n"), untrusted, all},
            {"longer name", says(chain + "    1. Developer ID Installer: XTARN (Q7XK2M9P4D)\n"), untrusted, all},
            {"identity in other case", says(chain + "1. Developer ID Installer: Tarn (q7xk2m9p4d)\n"), untrusted, all},
            {"report not UTF-8", says(byTarn + "\xff\xfe"), untrusted, all},
            {"no trusted identities", says(byTarn), untrusted, {}},
            {"empty identity trusts nothing", says(byTarn), untrusted, {QString()}},
            {"no output", ReturnTask(std::optional<QByteArray>()), genericDescription(10), all},
            {"tool fails", tool(InstallationError::installationFailed(u"no signature"_s)), genericDescription(2), all},
            {"tool cannot start", tool(SystemError(noStart)), noStart, all},
    };
    const QString path = directory.filePath(u"Scan.pkg"_s);
    for (const auto& [name, answer, innerDescription, signers] : rows) {
        SCOPED_TRACE(name);
        logger->clear();
        EXPECT_CALL(*runner, runProcess(pkgutil, ::testing::ElementsAre(u"--check-signature"_s, path)))
                .WillOnce([&](auto&&...) { return answer(); });

        QString last = u"[INFO] Code signature is valid for "_s + path;
        if (innerDescription.isEmpty()) {
            test::waitFor(validator.validateSignature(path, signers));
        } else {
            const QString message = u"Error during code signature validation for %1. %2"_s.arg(path, innerDescription);
            EXPECT_EQ(failureOf<InstallationError>(validator.validateSignature(path, signers)),
                      InstallationError::mismatchSignature(message));
            last = "[CRITICAL] " + message;
        }
        EXPECT_EQ(logger->lines(), QStringList({"[INFO] Validating code signature for " + path, last}));
    }
}

} // namespace
} // namespace tarn::test
