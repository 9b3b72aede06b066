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
    builder.addFile(u"Distribution"_s, "<installer-gui-script/>", encoding);
    builder.addFile(u"A.pkg/PackageInfo"_s, "<pkg-info/>", encoding);
    builder.addFile(u"A.pkg/Payload"_s, payloadBytes, encoding);
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

// `opening` repeated `depth` times, then as many `closing`, right after the TOC's "<toc>".
Damage nested(const QByteArray& opening, const QByteArray& closing, int depth) {
    return toc(u"<toc>"_s, QString::fromUtf8("<toc>" + opening.repeated(depth) + closing.repeated(depth)));
}

class XarReaderTest : public ::testing::Test {
protected:
    XarArchive open(const QByteArray& bytes) {
        const QString path = directory.filePath(u"archive-%1.xar"_s.arg(++count));
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
    EXPECT_THAT(paths, ElementsAre(u"Distribution"_s, u"A.pkg"_s, u"A.pkg/PackageInfo"_s, u"A.pkg/Payload"_s));
    EXPECT_EQ(archive.entry(u"A.pkg"_s)->type, XarEntryType::directory);
    EXPECT_TRUE(archive.tocChecksumMatches());
    EXPECT_FALSE(archive.signature().has_value());
    EXPECT_EQ(archive.contents(*archive.entry(u"A.pkg/Payload"_s), payloadBytes.size()), payloadBytes);
    EXPECT_EQ(archive.contents(*archive.entry(u"Distribution"_s), 1024), "<installer-gui-script/>");
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
    const QString signature = u"<toc><signature style=\"RSA\"><offset>%1</offset><size>%2</size>%3"
                              "</signature>"_s;
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
            {"truncated XML", toc(u"</toc>[\\s\\S]*"_s, {}), "the table of contents is damaged"},
            {"no TOC", toc(u"^[\\s\\S]*$"_s, u"<xar/>"_s), "no <toc> element"},
            {"checksum style differs from the header",
             toc(u"<checksum style=\"sha256\">"_s, u"<checksum style=\"sha1\">"_s),
             "names another checksum than the header"},
            {"entry outside the heap", toc(u"<offset>\\d+</offset>"_s, u"<offset>4611686018427387904</offset>"_s),
             "'A.pkg/Payload' lies outside the heap"},
            {"negative length", toc(u"<length>\\d+</length>"_s, u"<length>-1</length>"_s),
             "<length> is not a valid number"},
            {"unsafe name", toc(u"<name>Payload</name>"_s, u"<name>..</name>"_s), "missing or unsafe name '..'"},
            {"duplicate path", toc(u"<name>PackageInfo</name>"_s, u"<name>Payload</name>"_s),
             "'A.pkg/Payload' appears twice"},
            {"no extracted checksum", toc(u"<extracted-checksum[^>]*>[0-9a-f]*</extracted-checksum>"_s, {}),
             "lacks its archived or extracted checksum"},
            {"short digest",
             toc(u"<archived-checksum[^>]*>[0-9a-f]*</archived-checksum>"_s,
                 u"<archived-checksum style=\"sha256\">abcd</archived-checksum>"_s),
             "<archived-checksum> is not a sha256 digest"},
            {"unknown encoding", toc(u"application/x-gzip"_s, u"application/x-lzma"_s),
             "unsupported encoding 'application/x-lzma'"},
            {"signature outside the heap",
             toc(u"<toc>"_s,
                 signature.arg(99999999).arg(256).arg(
                         u"<KeyInfo><X509Data><X509Certificate>AAAA</X509Certificate></X509Data></KeyInfo>"_s)),
             "the signature lies outside the heap"},
            {"signature without certificate", toc(u"<toc>"_s, signature.arg(0).arg(16).arg(QString())),
             "the signature carries no certificate"},
            {"TOC files nested 20,000 deep", nested("<file><name>d</name>", "</file>", 20'000),
             "the table of contents nests deeper than 128 levels"},
            {"TOC key information nested 200,000 deep", nested("<KeyInfo>", "</KeyInfo>", 200'000),
             "the table of contents nests deeper than 128 levels"},
            // Each entry keeps its whole path: 100 folders of 50,000-character names would cost half a
            // billion characters.
            {"TOC folders with long names nested",
             nested("<file><name>" + QByteArray(50'000, 'n') + "</name>", "</file>", 100),
             "its paths are too long in total"},
    };
    for (const auto& damaged : cases) {
        EXPECT_THAT(error(damaged.damage(archive)), HasSubstr(damaged.message)) << damaged.name;
    }
}

TEST_F(XarReaderTest, RefusesToReadEntriesThatFailTheirChecksumsOrSizes) {
    const auto built = productLayout(HeapEncoding::zlib);
    const auto stored = built.stored.value(u"A.pkg/Payload"_s);
    QByteArray flipped = built.bytes;
    flipped[built.heapStart + stored.offset + stored.length - 1] ^= 0x01;
    const auto declaredSize = [&](qint64 size) {
        return toc(u"<size>\\d+</size>"_s, u"<size>%1</size>"_s.arg(size))(built.bytes);
    };
    XarBuilder plain;
    plain.addFile(u"A.pkg/Payload"_s, randomBytes(5000), HeapEncoding::none);
    const QString payload = u"A.pkg/Payload"_s;
    const struct {
        const char* name;
        QByteArray bytes;
        qint64 limit;
        std::string message;
    } cases[] = {
            {"flipped byte", flipped, 1 << 30, "'A.pkg/Payload' is damaged: its archived checksum did not verify"},
            {"wrong extracted checksum",
             toc(u"<extracted-checksum[^>]*>[0-9a-f]*"_s,
                 u"<extracted-checksum style=\"sha256\">"_s + QString(64, u'a'))(built.bytes),
             1 << 30, "'A.pkg/Payload' is damaged: its extracted checksum did not verify"},
            {"declared too long", declaredSize(payloadBytes.size() + 1), 1 << 30,
             u"decodes to %1 bytes instead of %2"_s.arg(payloadBytes.size())
                     .arg(payloadBytes.size() + 1)
                     .toStdString()},
            {"declared too short", declaredSize(payloadBytes.size() - 1), 1 << 30,
             "decodes to more than its declared size"},
            {"stored bytes relabelled as bzip2",
             toc(u"application/octet-stream"_s, u"application/x-bzip2"_s)(plain.build(TocChecksum::sha256).bytes),
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
