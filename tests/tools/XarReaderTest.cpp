// The xar reader shared by pkgutil and installer, on archives built by the fixtures and then damaged.
#include "PackageToolSupport.h"
#include "common/Xar.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>

namespace tarn::test {
namespace {

using namespace fixtures;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using tool::XarArchive;
using tool::XarEntryType;
using tool::XarError;

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

XarBuilder productLayout(HeapEncoding encoding) {
    XarBuilder builder;
    builder.addFile(QStringLiteral("Distribution"), "<installer-gui-script/>", encoding);
    builder.addFile(QStringLiteral("A.pkg/PackageInfo"), "<pkg-info/>", encoding);
    builder.addFile(QStringLiteral("A.pkg/Payload"), payloadBytes, encoding);
    return builder;
}

class ArchiveFile {
public:
    QString write(const QByteArray& bytes) {
        const QString path = directory.filePath(QStringLiteral("archive-%1.xar").arg(++count));
        writeFile(path, bytes);
        return path;
    }

    XarArchive open(const QByteArray& bytes) { return XarArchive::open(write(bytes)); }

private:
    QTemporaryDir directory;
    int count = 0;
};

std::string openingError(const QByteArray& bytes) {
    ArchiveFile file;
    try {
        XarArchive::open(file.write(bytes));
    } catch (const XarError& error) {
        return error.what();
    }
    return "opened without complaint";
}

std::string readingError(const QByteArray& bytes, const QString& entryPath) {
    ArchiveFile file;
    try {
        const XarArchive archive = file.open(bytes);
        archive.contents(*archive.entry(entryPath), 1 << 30);
    } catch (const XarError& error) {
        return error.what();
    }
    return "read without complaint";
}

// Edits the text of the table of contents, keeping its checksum consistent, so only the edit is wrong.
QByteArray editToc(const QByteArray& archive, const std::function<QString(QString)>& edit) {
    return rewriteToc(
            archive, [&](const QByteArray& toc) { return edit(QString::fromUtf8(toc)).toUtf8(); }, true);
}

QByteArray withHeaderField(QByteArray archive, int offset, quint64 value, int width) {
    if (width == 2) {
        qToBigEndian<quint16>(static_cast<quint16>(value), archive.data() + offset);
    } else if (width == 4) {
        qToBigEndian<quint32>(static_cast<quint32>(value), archive.data() + offset);
    } else {
        qToBigEndian<quint64>(value, archive.data() + offset);
    }
    return archive;
}

QString replaceLast(QString text, const QString& pattern, const QString& replacement) {
    const QRegularExpression expression(pattern);
    QRegularExpressionMatch last;
    for (auto matches = expression.globalMatch(text); matches.hasNext();) {
        last = matches.next();
    }
    return last.hasMatch() ? text.replace(last.capturedStart(), last.capturedLength(), replacement) : text;
}

class XarReaderEncodings : public ::testing::TestWithParam<std::tuple<HeapEncoding, TocChecksum>> {};

TEST_P(XarReaderEncodings, ReadsNestedEntriesBackAsTheyWereStored) {
    const auto [encoding, checksum] = GetParam();
    ArchiveFile file;
    const XarArchive archive = file.open(productLayout(encoding).build(checksum).bytes);

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

TEST(XarReader, ReadsTheSignatureAndTheDigestItCovers) {
    const auto& credentials = SigningCredentials::shared();
    const auto built =
            productLayout(HeapEncoding::zlib)
                    .build(TocChecksum::sha256, PackageSigner{credentials.signer, {credentials.intermediate}});
    ArchiveFile file;
    const XarArchive archive = file.open(built.bytes);

    ASSERT_TRUE(archive.signature().has_value());
    EXPECT_THAT(archive.signature()->certificates,
                ElementsAre(credentials.signer.certificateDer(), credentials.intermediate.certificateDer()));
    EXPECT_EQ(archive.signatureValue().size(), 256);
    const qint64 tocLength = static_cast<qint64>(qFromBigEndian<quint64>(built.bytes.constData() + 8));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(built.bytes.constData() + 28, static_cast<size_t>(tocLength), digest, &length, EVP_sha256(), nullptr);
    EXPECT_EQ(archive.tocDigest(), QByteArray(reinterpret_cast<const char*>(digest), length));
}

TEST(XarReader, TellsATocThatNoLongerMatchesItsChecksum) {
    const QByteArray original = productLayout(HeapEncoding::zlib).build(TocChecksum::sha1).bytes;
    const auto edit = [](QByteArray toc) { return toc.replace("A.pkg", "B.pkg"); };
    ArchiveFile file;

    const XarArchive stale = file.open(rewriteToc(original, edit, false));
    const XarArchive refreshed = file.open(rewriteToc(original, edit, true));

    EXPECT_FALSE(stale.tocChecksumMatches());
    EXPECT_THROW(stale.requireIntactToc(), XarError);
    EXPECT_TRUE(refreshed.tocChecksumMatches());
    EXPECT_NE(refreshed.entry(QStringLiteral("B.pkg/Payload")), nullptr);
}

struct Malformed {
    const char* name;
    std::function<QByteArray(const QByteArray&)> damage;
    const char* message;
};

void PrintTo(const Malformed& malformed, std::ostream* out) {
    *out << malformed.name;
}

class XarReaderRefuses : public ::testing::TestWithParam<Malformed> {};

TEST_P(XarReaderRefuses, ToOpenAMalformedArchive) {
    const QByteArray archive = productLayout(HeapEncoding::zlib).build(TocChecksum::sha256).bytes;
    EXPECT_THAT(openingError(GetParam().damage(archive)), HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
        Archives, XarReaderRefuses,
        ::testing::Values(
                Malformed{"Empty", [](const QByteArray&) { return QByteArray(); }, "not a xar archive"},
                Malformed{"ShortHeader", [](const QByteArray& a) { return a.left(20); }, "not a xar archive"},
                Malformed{"WrongMagic", [](QByteArray a) { return a.replace(0, 4, "zip!"); }, "not a xar archive"},
                Malformed{"OtherVersion", [](const QByteArray& a) { return withHeaderField(a, 6, 2, 2); },
                          "unsupported xar header"},
                Malformed{"ShortHeaderSize", [](const QByteArray& a) { return withHeaderField(a, 4, 20, 2); },
                          "unsupported xar header"},
                Malformed{"NoTocChecksum", [](const QByteArray& a) { return withHeaderField(a, 24, 0, 4); },
                          "the table of contents has no checksum"},
                Malformed{"Md5TocChecksum", [](const QByteArray& a) { return withHeaderField(a, 24, 2, 4); },
                          "unsupported table-of-contents checksum algorithm 2"},
                Malformed{"TocBeyondTheFile", [](const QByteArray& a) { return withHeaderField(a, 8, a.size(), 8); },
                          "impossible size"},
                Malformed{"HugeToc", [](const QByteArray& a) { return withHeaderField(a, 16, 1ULL << 40, 8); },
                          "impossible size"},
                Malformed{"TocNotCompressed", [](QByteArray a) { return a.replace(28, 8, "garbage!"); },
                          "does not decompress"},
                Malformed{"TocLongerThanDeclared",
                          [](const QByteArray& a) {
                              return withHeaderField(a, 16, qFromBigEndian<quint64>(a.constData() + 16) - 1, 8);
                          },
                          "does not decompress to its declared size"},
                Malformed{"TruncatedXml",
                          [](const QByteArray& a) {
                              return rewriteToc(
                                      a, [](const QByteArray& toc) { return toc.left(toc.size() / 2); }, true);
                          },
                          "the table of contents is damaged"},
                Malformed{"NoToc",
                          [](const QByteArray& a) {
                              return rewriteToc(
                                      a, [](const QByteArray&) { return QByteArray("<xar/>"); }, true);
                          },
                          "no <toc> element"},
                Malformed{"ChecksumStyleDiffersFromHeader",
                          [](const QByteArray& a) {
                              return editToc(a, [](QString toc) {
                                  return toc.replace(QStringLiteral("<checksum style=\"sha256\">"),
                                                     QStringLiteral("<checksum style=\"sha1\">"));
                              });
                          },
                          "names another checksum than the header"},
                Malformed{"EntryOutsideTheHeap",
                          [](const QByteArray& a) {
                              return editToc(a, [](const QString& toc) {
                                  return replaceLast(toc, QStringLiteral("<offset>\\d+</offset>"),
                                                     QStringLiteral("<offset>4611686018427387904</offset>"));
                              });
                          },
                          "'A.pkg/Payload' lies outside the heap"},
                Malformed{"NegativeLength",
                          [](const QByteArray& a) {
                              return editToc(a, [](const QString& toc) {
                                  return replaceLast(toc, QStringLiteral("<length>\\d+</length>"),
                                                     QStringLiteral("<length>-1</length>"));
                              });
                          },
                          "<length> is not a valid number"},
                Malformed{"UnsafeName",
                          [](const QByteArray& a) {
                              return editToc(a, [](QString toc) {
                                  return toc.replace(QStringLiteral("<name>Payload</name>"),
                                                     QStringLiteral("<name>..</name>"));
                              });
                          },
                          "missing or unsafe name '..'"},
                Malformed{"DuplicatePath",
                          [](const QByteArray& a) {
                              return editToc(a, [](QString toc) {
                                  return toc.replace(QStringLiteral("<name>PackageInfo</name>"),
                                                     QStringLiteral("<name>Payload</name>"));
                              });
                          },
                          "'A.pkg/Payload' appears twice"},
                Malformed{"NoExtractedChecksum",
                          [](const QByteArray& a) {
                              return editToc(a, [](const QString& toc) {
                                  return replaceLast(
                                          toc,
                                          QStringLiteral("<extracted-checksum[^>]*>[0-9a-f]*</extracted-checksum>"),
                                          QString());
                              });
                          },
                          "lacks its archived or extracted checksum"},
                Malformed{"ShortDigest",
                          [](const QByteArray& a) {
                              return editToc(a, [](const QString& toc) {
                                  return replaceLast(
                                          toc,
                                          QStringLiteral("(<archived-checksum[^>]*>)[0-9a-f]*(</archived-checksum>)"),
                                          QStringLiteral(
                                                  "<archived-checksum style=\"sha256\">abcd</archived-checksum>"));
                              });
                          },
                          "<archived-checksum> is not a sha256 digest"},
                Malformed{"UnknownEncoding",
                          [](const QByteArray& a) {
                              return editToc(a, [](QString toc) {
                                  return toc.replace(QStringLiteral("application/x-gzip"),
                                                     QStringLiteral("application/x-lzma"));
                              });
                          },
                          "unsupported encoding 'application/x-lzma'"},
                Malformed{"SignatureOutsideTheHeap",
                          [](const QByteArray& a) {
                              return editToc(a, [](QString toc) {
                                  return toc.replace(
                                          QStringLiteral("<toc>"),
                                          QStringLiteral("<toc><signature style=\"RSA\"><offset>99999999</offset>"
                                                         "<size>256</size><KeyInfo><X509Data><X509Certificate>AAAA"
                                                         "</X509Certificate></X509Data></KeyInfo></signature>"));
                              });
                          },
                          "the signature lies outside the heap"},
                Malformed{"SignatureWithoutCertificate",
                          [](const QByteArray& a) {
                              return editToc(a, [](QString toc) {
                                  return toc.replace(QStringLiteral("<toc>"),
                                                     QStringLiteral("<toc><signature style=\"RSA\"><offset>0</offset>"
                                                                    "<size>16</size></signature>"));
                              });
                          },
                          "the signature carries no certificate"}),
        [](const auto& info) { return std::string(info.param.name); });

TEST(XarReader, RefusesHeapEntriesThatFailTheirChecksumsOrSizes) {
    const auto built = productLayout(HeapEncoding::zlib).build(TocChecksum::sha256);
    const auto payload = built.stored.value(QStringLiteral("A.pkg/Payload"));
    QByteArray flipped = built.bytes;
    flipped[built.heapStart + payload.offset + payload.length - 1] ^= 0x01;
    const QByteArray otherDigest = QByteArray(32, 'a').toHex();
    const QByteArray wrongExtracted = editToc(built.bytes, [&](const QString& toc) {
        return replaceLast(toc, QStringLiteral("(<extracted-checksum[^>]*>)[0-9a-f]*"),
                           QStringLiteral("<extracted-checksum style=\"sha256\">") + QString::fromLatin1(otherDigest));
    });
    const auto withDeclaredSize = [&](qint64 size) {
        return editToc(built.bytes, [&](const QString& toc) {
            return replaceLast(toc, QStringLiteral("<size>\\d+</size>"), QStringLiteral("<size>%1</size>").arg(size));
        });
    };

    EXPECT_THAT(readingError(flipped, QStringLiteral("A.pkg/Payload")),
                HasSubstr("'A.pkg/Payload' is damaged: its archived checksum did not verify"));
    EXPECT_THAT(readingError(wrongExtracted, QStringLiteral("A.pkg/Payload")),
                HasSubstr("'A.pkg/Payload' is damaged: its extracted checksum did not verify"));
    EXPECT_THAT(readingError(withDeclaredSize(payloadBytes.size() + 1), QStringLiteral("A.pkg/Payload")),
                HasSubstr(QStringLiteral("decodes to %1 bytes instead of %2")
                                  .arg(payloadBytes.size())
                                  .arg(payloadBytes.size() + 1)
                                  .toStdString()));
    EXPECT_THAT(readingError(withDeclaredSize(payloadBytes.size() - 1), QStringLiteral("A.pkg/Payload")),
                HasSubstr("decodes to more than its declared size"));
    EXPECT_THAT(readingError(built.bytes, QStringLiteral("A.pkg/Payload")), HasSubstr("without complaint"));

    ArchiveFile file;
    const XarArchive archive = file.open(flipped);
    EXPECT_THROW(archive.verifyArchivedChecksums(), XarError);
}

TEST(XarReader, ReportsCorruptCompressedDataThatMatchesItsArchivedChecksum) {
    XarBuilder builder;
    builder.addFile(QStringLiteral("Payload"), randomBytes(5000), HeapEncoding::none);
    const QByteArray relabelled = editToc(builder.build(TocChecksum::sha256).bytes, [](QString toc) {
        return toc.replace(QStringLiteral("application/octet-stream"), QStringLiteral("application/x-bzip2"));
    });

    EXPECT_THAT(readingError(relabelled, QStringLiteral("Payload")), HasSubstr("its compressed data is corrupt"));
}

TEST(XarReader, RefusesEntriesLargerThanTheCallerAccepts) {
    ArchiveFile file;
    const XarArchive archive = file.open(productLayout(HeapEncoding::none).build(TocChecksum::sha256).bytes);
    try {
        archive.contents(*archive.entry(QStringLiteral("A.pkg/Payload")), 1024);
        FAIL() << "an oversized entry was read";
    } catch (const XarError& error) {
        EXPECT_THAT(error.what(), HasSubstr("is larger than expected"));
    }
}

} // namespace
} // namespace tarn::test
