// The xar reader shared by pkgutil and installer, on archives built by the fixtures and then damaged.
#include "PackageToolSupport.h"
#include "common/Xar.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace tarn::test {
namespace {

using namespace fixtures;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using tool::XarArchive;
using tool::XarEntryType;
using tool::XarError;
using Damage = std::function<QByteArray(QByteArray)>;

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (auto& byte : bytes) {
        byte = static_cast<char>(generator.bounded(256));
    }
    return bytes;
}

// Compressible enough to shrink, long enough to need several reads.
const QByteArray payloadBytes = randomBytes(64 * 1024).toHex() + QByteArray(100000, 'z');

XarBuilder::Archive productLayout(HeapEncoding encoding, TocChecksum checksum = TocChecksum::sha256) {
    XarBuilder builder;
    builder.addFile(QStringLiteral("Distribution"), "<installer-gui-script/>", encoding);
    builder.addFile(QStringLiteral("A.pkg/PackageInfo"), "<pkg-info/>", encoding);
    builder.addFile(QStringLiteral("A.pkg/Payload"), payloadBytes, encoding);
    return builder.build(checksum);
}

// Sets a big-endian header field of `width` bytes at `offset`.
Damage header(int offset, quint64 value, int width) {
    return [=](QByteArray archive) {
        for (int byte = 0; byte < width; ++byte) {
            archive[offset + byte] = static_cast<char>(value >> (8 * (width - 1 - byte)));
        }
        return archive;
    };
}

// Replaces the last match of `pattern` in the table of contents, keeping its checksum consistent so that
// only the edit is wrong.
Damage toc(const QString& pattern, const QString& replacement) {
    return [=](const QByteArray& archive) {
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
    };
}

class XarReaderTest : public ::testing::Test {
protected:
    XarArchive open(const QByteArray& bytes) {
        const QString path = directory.filePath(QStringLiteral("archive-%1.xar").arg(++count));
        writeFile(path, bytes);
        return XarArchive::open(path);
    }

    // The error that opening, then reading `entryPath` up to `limit` bytes, ends in.
    std::string error(const QByteArray& bytes, const QString& entryPath = {}, qint64 limit = 1 << 30) {
        try {
            const XarArchive archive = open(bytes);
            if (!entryPath.isEmpty()) {
                archive.contents(*archive.entry(entryPath), limit);
            }
        } catch (const XarError& error) {
            return error.what();
        }
        return "no complaint";
    }

private:
    QTemporaryDir directory;
    int count = 0;
};

class XarReaderEncodings : public XarReaderTest,
                           public ::testing::WithParamInterface<std::tuple<HeapEncoding, TocChecksum>> {};

TEST_P(XarReaderEncodings, ReadsNestedEntriesBackAsTheyWereStored) {
    const auto [encoding, checksum] = GetParam();
    const XarArchive archive = open(productLayout(encoding, checksum).bytes);

    QStringList paths;
    for (const auto& entry : archive.entries()) {
        paths.append(entry.path);
    }
    EXPECT_THAT(paths, ElementsAre(QStringLiteral("Distribution"), QStringLiteral("A.pkg"),
                                   QStringLiteral("A.pkg/PackageInfo"), QStringLiteral("A.pkg/Payload")));
    EXPECT_EQ(archive.entry(QStringLiteral("A.pkg"))->type, XarEntryType::directory);
    EXPECT_TRUE(archive.tocChecksumMatches());
    EXPECT_FALSE(archive.signature().has_value());
    EXPECT_EQ(archive.contents(*archive.entry(QStringLiteral("A.pkg/Payload")), payloadBytes.size()), payloadBytes);
    EXPECT_EQ(archive.contents(*archive.entry(QStringLiteral("Distribution")), 1024), "<installer-gui-script/>");
    EXPECT_NO_THROW(archive.verifyArchivedChecksums());
}

INSTANTIATE_TEST_SUITE_P(AllEncodings, XarReaderEncodings,
                         ::testing::Combine(::testing::Values(HeapEncoding::none, HeapEncoding::zlib,
                                                              HeapEncoding::gzip, HeapEncoding::bzip2),
                                            ::testing::Values(TocChecksum::sha1, TocChecksum::sha256,
                                                              TocChecksum::sha512)));

TEST_F(XarReaderTest, RefusesToOpenADamagedHeaderOrTableOfContents) {
    const QByteArray archive = productLayout(HeapEncoding::zlib).bytes;
    const quint64 tocSize = qFromBigEndian<quint64>(archive.constData() + 16);
    const QString signature = QStringLiteral("<toc><signature style=\"RSA\"><offset>%1</offset><size>%2</size>%3"
                                             "</signature>");
    const struct {
        const char* name;
        Damage damage;
        const char* message;
    } cases[] = {
            {"short header", [](const QByteArray& a) { return a.left(20); }, "not a xar archive"},
            {"wrong magic", [](QByteArray a) { return a.replace(0, 4, "zip!"); }, "not a xar archive"},
            {"other version", header(6, 2, 2), "unsupported xar header"},
            {"short header size", header(4, 20, 2), "unsupported xar header"},
            {"no TOC checksum", header(24, 0, 4), "the table of contents has no checksum"},
            {"md5 TOC checksum", header(24, 2, 4), "unsupported table-of-contents checksum algorithm 2"},
            {"TOC beyond the file", header(8, archive.size(), 8), "impossible size"},
            {"huge TOC", header(16, 1ULL << 40, 8), "impossible size"},
            {"TOC not compressed", [](QByteArray a) { return a.replace(28, 8, "garbage!"); }, "does not decompress"},
            {"TOC longer than declared", header(16, tocSize - 1, 8), "does not decompress to its declared size"},
            {"truncated XML", toc(QStringLiteral("</toc>[\\s\\S]*"), {}), "the table of contents is damaged"},
            {"no TOC", toc(QStringLiteral("^[\\s\\S]*$"), QStringLiteral("<xar/>")), "no <toc> element"},
            {"checksum style differs from the header",
             toc(QStringLiteral("<checksum style=\"sha256\">"), QStringLiteral("<checksum style=\"sha1\">")),
             "names another checksum than the header"},
            {"entry outside the heap",
             toc(QStringLiteral("<offset>\\d+</offset>"), QStringLiteral("<offset>4611686018427387904</offset>")),
             "'A.pkg/Payload' lies outside the heap"},
            {"negative length", toc(QStringLiteral("<length>\\d+</length>"), QStringLiteral("<length>-1</length>")),
             "<length> is not a valid number"},
            {"unsafe name", toc(QStringLiteral("<name>Payload</name>"), QStringLiteral("<name>..</name>")),
             "missing or unsafe name '..'"},
            {"duplicate path", toc(QStringLiteral("<name>PackageInfo</name>"), QStringLiteral("<name>Payload</name>")),
             "'A.pkg/Payload' appears twice"},
            {"no extracted checksum",
             toc(QStringLiteral("<extracted-checksum[^>]*>[0-9a-f]*</extracted-checksum>"), {}),
             "lacks its archived or extracted checksum"},
            {"short digest",
             toc(QStringLiteral("<archived-checksum[^>]*>[0-9a-f]*</archived-checksum>"),
                 QStringLiteral("<archived-checksum style=\"sha256\">abcd</archived-checksum>")),
             "<archived-checksum> is not a sha256 digest"},
            {"unknown encoding", toc(QStringLiteral("application/x-gzip"), QStringLiteral("application/x-lzma")),
             "unsupported encoding 'application/x-lzma'"},
            {"signature outside the heap",
             toc(QStringLiteral("<toc>"),
                 signature.arg(99999999).arg(256).arg(QStringLiteral(
                         "<KeyInfo><X509Data><X509Certificate>AAAA</X509Certificate></X509Data></KeyInfo>"))),
             "the signature lies outside the heap"},
            {"signature without certificate", toc(QStringLiteral("<toc>"), signature.arg(0).arg(16).arg(QString())),
             "the signature carries no certificate"},
    };
    for (const auto& damaged : cases) {
        EXPECT_THAT(error(damaged.damage(archive)), HasSubstr(damaged.message)) << damaged.name;
    }
}

TEST_F(XarReaderTest, RefusesToReadEntriesThatFailTheirChecksumsOrSizes) {
    const auto built = productLayout(HeapEncoding::zlib);
    const auto stored = built.stored.value(QStringLiteral("A.pkg/Payload"));
    QByteArray flipped = built.bytes;
    flipped[built.heapStart + stored.offset + stored.length - 1] ^= 0x01;
    const auto declaredSize = [&](qint64 size) {
        return toc(QStringLiteral("<size>\\d+</size>"), QStringLiteral("<size>%1</size>").arg(size))(built.bytes);
    };
    XarBuilder plain;
    plain.addFile(QStringLiteral("A.pkg/Payload"), randomBytes(5000), HeapEncoding::none);
    const QString payload = QStringLiteral("A.pkg/Payload");
    const struct {
        const char* name;
        QByteArray bytes;
        qint64 limit;
        std::string message;
    } cases[] = {
            {"flipped byte", flipped, 1 << 30, "'A.pkg/Payload' is damaged: its archived checksum did not verify"},
            {"wrong extracted checksum",
             toc(QStringLiteral("<extracted-checksum[^>]*>[0-9a-f]*"),
                 QStringLiteral("<extracted-checksum style=\"sha256\">") + QString(64, u'a'))(built.bytes),
             1 << 30, "'A.pkg/Payload' is damaged: its extracted checksum did not verify"},
            {"declared too long", declaredSize(payloadBytes.size() + 1), 1 << 30,
             QStringLiteral("decodes to %1 bytes instead of %2")
                     .arg(payloadBytes.size())
                     .arg(payloadBytes.size() + 1)
                     .toStdString()},
            {"declared too short", declaredSize(payloadBytes.size() - 1), 1 << 30,
             "decodes to more than its declared size"},
            {"stored bytes relabelled as bzip2",
             toc(QStringLiteral("application/octet-stream"),
                 QStringLiteral("application/x-bzip2"))(plain.build(TocChecksum::sha256).bytes),
             1 << 30, "its compressed data is corrupt"},
            {"larger than the caller accepts", built.bytes, 1024, "is larger than expected"},
    };
    for (const auto& damaged : cases) {
        EXPECT_THAT(error(damaged.bytes, payload, damaged.limit), HasSubstr(damaged.message)) << damaged.name;
    }
    EXPECT_THROW(open(flipped).verifyArchivedChecksums(), XarError);
}

} // namespace
} // namespace tarn::test
