// The xar reader shared by pkgutil and installer, on archives built by the fixtures and then damaged.
#include "PackageToolSupport.h"
#include "common/Xar.h"

#include <QRegularExpression>
#include <QtEndian>

namespace tarn::test {
namespace {

using namespace fixtures;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using tool::XarArchive;
using tool::XarError;

// Compressible enough to shrink, long enough to need several reads, and no two reads alike.
const QByteArray payloadBytes = distinctBytes(128 * 1024) + QByteArray(100000, 'z');

XarBuilder::Archive productLayout(HeapEncoding encoding, TocChecksum checksum = TocChecksum::sha256) {
    XarBuilder builder;
    builder.addFile(u"Distribution"_s, "<installer-gui-script/>", encoding);
    builder.addFile(u"A.pkg/PackageInfo"_s, "<pkg-info/>", encoding);
    builder.addFile(u"A.pkg/Payload"_s, payloadBytes, encoding);
    return builder.build(checksum);
}

// `archive` with the big-endian header field of `width` bytes at `offset` set to `value`.
QByteArray header(QByteArray archive, int offset, quint64 value, int width) {
    for (int byte = 0; byte < width; ++byte) {
        archive[offset + byte] = static_cast<char>(value >> (8 * (width - 1 - byte)));
    }
    return archive;
}

// `archive` with the last match of `pattern` in its table of contents replaced, its checksum kept
// consistent so that only the edit is wrong.
QByteArray toc(const QByteArray& archive, const QString& pattern, const QString& replacement) {
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
}

class XarReaderTest : public ::testing::Test {
protected:
    XarArchive open(const QByteArray& bytes) {
        const QString path = directory.filePath(u"archive-%1.xar"_s.arg(++count));
        writeFile(path, bytes);
        return XarArchive::open(path);
    }

    QTemporaryDir directory;
    int count = 0;
};

// Every heap encoding and every table-of-contents checksum, each at least once.
TEST_F(XarReaderTest, ReadsEntriesBackAsTheyWereStoredAndRefusesDamagedHeadersTablesOfContentsAndEntries) {
    const std::pair<HeapEncoding, TocChecksum> layouts[] = {{HeapEncoding::none, TocChecksum::sha1},
                                                            {HeapEncoding::zlib, TocChecksum::sha256},
                                                            {HeapEncoding::gzip, TocChecksum::sha512},
                                                            {HeapEncoding::bzip2, TocChecksum::sha256}};
    for (const auto& [encoding, checksum] : layouts) {
        SCOPED_TRACE(static_cast<int>(encoding));
        const XarArchive archive = open(productLayout(encoding, checksum).bytes);

        QStringList paths;
        for (const auto& entry : archive.entries()) {
            paths.append(entry.path);
        }
        EXPECT_THAT(paths, ElementsAre(u"Distribution"_s, u"A.pkg"_s, u"A.pkg/PackageInfo"_s, u"A.pkg/Payload"_s));
        EXPECT_EQ(archive.entry(u"A.pkg"_s)->type, tool::XarEntryType::directory);
        EXPECT_TRUE(archive.tocChecksumMatches());
        EXPECT_EQ(archive.contents(*archive.entry(u"A.pkg/Payload"_s), payloadBytes.size()), payloadBytes);
        EXPECT_NO_THROW(archive.verifyArchivedChecksums());
    }

    // Opening, then reading the Payload, ends in the fault's complaint.
    const auto built = productLayout(HeapEncoding::zlib);
    const QByteArray& archive = built.bytes;
    const auto h = [&](int offset, quint64 value, int width) { return header(archive, offset, value, width); };
    const auto t = [&](const QString& pattern, const QString& replacement) {
        return toc(archive, pattern, replacement);
    };
    const quint64 tocSize = qFromBigEndian<quint64>(archive.constData() + 16);
    const QString signature = u"<toc><signature style=\"RSA\"><offset>%1</offset><size>%2</size>%3</signature>"_s;
    // `opening` repeated `depth` times, then as many `closing`, right after the TOC's "<toc>".
    const auto nested = [&](const QByteArray& opening, const QByteArray& closing, int depth) {
        return t(u"<toc>"_s, QString::fromUtf8("<toc>" + opening.repeated(depth) + closing.repeated(depth)));
    };
    const auto stored = built.stored.value(u"A.pkg/Payload"_s);
    QByteArray flipped = archive;
    flipped[built.heapStart + stored.offset + stored.length - 1] ^= 0x01;
    const auto declaredSize = [&](qint64 size) { return t(u"<size>\\d+</size>"_s, u"<size>%1</size>"_s.arg(size)); };
    const struct {
        QByteArray bytes;
        std::string message;
        qint64 limit = 1 << 30;
    } cases[] = {
            {archive.left(20), "not a xar archive"},
            {QByteArray(archive).replace(0, 4, "zip!"), "not a xar archive"},
            {h(6, 2, 2), "unsupported xar header"},
            {h(4, 20, 2), "unsupported xar header"},
            {h(24, 0, 4), "the table of contents has no checksum"},
            {h(24, 2, 4), "unsupported table-of-contents checksum algorithm 2"},
            {h(8, archive.size(), 8), "impossible size"},
            {h(16, 1ULL << 40, 8), "impossible size"},
            {QByteArray(archive).replace(28, 8, "garbage!"), "does not decompress"},
            {h(16, tocSize - 1, 8), "does not decompress to its declared size"},
            {t(u"</toc>[\\s\\S]*"_s, {}), "the table of contents is damaged"},
            {t(u"^[\\s\\S]*$"_s, u"<xar/>"_s), "no <toc> element"},
            {t(u"<checksum style=\"sha256\">"_s, u"<checksum style=\"sha1\">"_s),
             "names another checksum than the header"},
            {t(u"<offset>\\d+</offset>"_s, u"<offset>4611686018427387904</offset>"_s),
             "'A.pkg/Payload' lies outside the heap"},
            {t(u"<length>\\d+</length>"_s, u"<length>-1</length>"_s), "<length> is not a valid number"},
            {t(u"<name>Payload</name>"_s, u"<name>..</name>"_s), "missing or unsafe name '..'"},
            {t(u"<name>PackageInfo</name>"_s, u"<name>Payload</name>"_s), "'A.pkg/Payload' appears twice"},
            {t(u"<extracted-checksum[^>]*>[0-9a-f]*</extracted-checksum>"_s, {}),
             "lacks its archived or extracted checksum"},
            {t(u"<archived-checksum[^>]*>[0-9a-f]*</archived-checksum>"_s,
               u"<archived-checksum style=\"sha256\">abcd</archived-checksum>"_s),
             "<archived-checksum> is not a sha256 digest"},
            {t(u"application/x-gzip"_s, u"application/x-lzma"_s), "unsupported encoding 'application/x-lzma'"},
            {t(u"<toc>"_s,
               signature.arg(99999999).arg(256).arg(
                       u"<KeyInfo><X509Data><X509Certificate>AAAA</X509Certificate></X509Data></KeyInfo>"_s)),
             "the signature lies outside the heap"},
            {t(u"<toc>"_s, signature.arg(0).arg(16).arg(QString())), "the signature carries no certificate"},
            {nested("<file><name>d</name>", "</file>", 20'000), "the table of contents nests deeper than 128 levels"},
            {nested("<KeyInfo>", "</KeyInfo>", 200'000), "the table of contents nests deeper than 128 levels"},
            // Each entry keeps its whole path: 100 folders of 50,000-character names would cost half a
            // billion characters.
            {nested("<file><name>" + QByteArray(50'000, 'n') + "</name>", "</file>", 100),
             "its paths are too long in total"},
            {flipped, "'A.pkg/Payload' is damaged: its archived checksum did not verify"},
            {t(u"<extracted-checksum[^>]*>[0-9a-f]*"_s, u"<extracted-checksum style=\"sha256\">"_s + QString(64, u'a')),
             "'A.pkg/Payload' is damaged: its extracted checksum did not verify"},
            {declaredSize(payloadBytes.size() + 1), u"decodes to %1 bytes instead of %2"_s.arg(payloadBytes.size())
                                                            .arg(payloadBytes.size() + 1)
                                                            .toStdString()},
            {declaredSize(payloadBytes.size() - 1), "decodes to more than its declared size"},
            {toc(productLayout(HeapEncoding::none).bytes, u"application/octet-stream"_s, u"application/x-bzip2"_s),
             "its compressed data is corrupt"},
            {archive, "is larger than expected", 1024},
    };
    for (const auto& damaged : cases) {
        SCOPED_TRACE(damaged.message);
        try {
            const XarArchive opened = open(damaged.bytes);
            opened.contents(*opened.entry(u"A.pkg/Payload"_s), damaged.limit);
            ADD_FAILURE() << "no complaint";
        } catch (const XarError& error) {
            EXPECT_THAT(error.what(), HasSubstr(damaged.message));
        }
    }
}

} // namespace
} // namespace tarn::test
