#include "SignatureCheck.h"

#include "base/PrintableText.h"
#include "common/RootedFiles.h"
#include "common/Xar.h"

#include <QFile>
#include <QTimeZone>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <fcntl.h>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* value) const { Free(value); }
};
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using DigestInfo = std::unique_ptr<X509_SIG, Deleter<X509_SIG, X509_SIG_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

struct CertificateStack {
    STACK_OF(X509) * stack = sk_X509_new_null();
    ~CertificateStack() { sk_X509_free(stack); }
};

QDateTime toDateTime(const ASN1_TIME* time) {
    struct tm parts = {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1) {
        return {};
    }
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), QTimeZone::utc());
}

CertificateSummary summarize(X509* certificate) {
    CertificateSummary summary;
    X509_NAME* subject = X509_get_subject_name(certificate);
    const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index >= 0) {
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
        if (length >= 0) {
            summary.commonName = QString::fromUtf8(reinterpret_cast<const char*>(utf8), length);
        }
        OPENSSL_free(utf8);
    }
    if (summary.commonName.isEmpty()) {
        char line[512] = {};
        X509_NAME_oneline(subject, line, sizeof line);
        summary.commonName = QString::fromUtf8(line);
    }
    summary.expires = toDateTime(X509_get0_notAfter(certificate));
    unsigned char fingerprint[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate, EVP_sha256(), fingerprint, &length);
    summary.sha256Fingerprint = QByteArray(reinterpret_cast<const char*>(fingerprint), static_cast<qsizetype>(length));
    return summary;
}

QList<CertificateSummary> summarize(const std::vector<Certificate>& certificates) {
    QList<CertificateSummary> chain;
    for (const auto& certificate : certificates) {
        chain.append(summarize(certificate.get()));
    }
    return chain;
}

// The RSA signature must recover, through PKCS#1 v1.5, to a DigestInfo that names the TOC's own digest
// algorithm and carries exactly the digest of the compressed TOC.
bool signatureCoversToc(const XarArchive& archive, X509* signer) {
    EVP_PKEY* key = X509_get0_pubkey(signer);
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
        return false;
    }
    const QByteArray& signature = archive.signatureValue();
    if (signature.size() != EVP_PKEY_get_size(key)) {
        return false;
    }
    KeyContext context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context || EVP_PKEY_verify_recover_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1) {
        return false;
    }
    const auto* signatureBytes = reinterpret_cast<const unsigned char*>(signature.constData());
    std::vector<unsigned char> recovered(static_cast<size_t>(signature.size()));
    size_t recoveredLength = recovered.size();
    if (EVP_PKEY_verify_recover(context.get(), recovered.data(), &recoveredLength, signatureBytes,
                                static_cast<size_t>(signature.size())) != 1) {
        return false;
    }
    const unsigned char* cursor = recovered.data();
    DigestInfo digestInfo(d2i_X509_SIG(nullptr, &cursor, static_cast<long>(recoveredLength)));
    if (!digestInfo || cursor != recovered.data() + recoveredLength) {
        return false;
    }
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_get0(digestInfo.get(), &algorithm, &digest);
    const ASN1_OBJECT* algorithmObject = nullptr;
    int parameterType = 0;
    X509_ALGOR_get0(&algorithmObject, &parameterType, nullptr, algorithm);
    const bool sameAlgorithm =
            OBJ_obj2nid(algorithmObject) == EVP_MD_get_type(evpDigest(archive.tocChecksumAlgorithm()));
    const bool plainParameters = parameterType == V_ASN1_NULL || parameterType == V_ASN1_UNDEF;
    const QByteArray signedDigest(reinterpret_cast<const char*>(ASN1_STRING_get0_data(digest)),
                                  ASN1_STRING_length(digest));
    return sameAlgorithm && plainParameters && signedDigest == archive.tocDigest();
}

// Every certificate in the anchor file is trusted as it stands, a root or not; a missing or unreadable
// file trusts nothing. The file is read inside the system root, so a link cannot lend it another's roots.
constexpr qint64 maxAnchorFileSize = 16 * 1024 * 1024;

Store loadTrustAnchors(const SystemRoot& root) {
    Store store(X509_STORE_new());
    QByteArray pem;
    try {
        const FileDescriptor descriptor =
                RootedFiles(root).open(u"/etc/tarn-installer/package-signing-anchors.pem"_s, O_RDONLY);
        QFile file;
        if (!descriptor || !file.open(descriptor.get(), QIODevice::ReadOnly)) {
            return store;
        }
        pem = file.read(maxAnchorFileSize);
    } catch (const ToolError&) {
        return store;
    }
    Bio file(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    if (!file) {
        ERR_clear_error();
        return store;
    }
    while (X509* certificate = PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr)) {
        X509_STORE_add_cert(store.get(), certificate);
        X509_free(certificate);
    }
    ERR_clear_error();
    return store;
}

SignatureReport invalid(const QString& detail, QList<CertificateSummary> chain = {}) {
    return {SignatureStatus::invalid, detail, std::move(chain)};
}

} // namespace

SignatureReport checkSignature(const QString& packagePath, const SystemRoot& root) {
    std::optional<XarArchive> archive;
    try {
        archive = XarArchive::open(packagePath);
    } catch (const XarError& error) {
        return invalid(error.message());
    }
    if (!archive->signature()) {
        return {SignatureStatus::noSignature, {}, {}};
    }

    std::vector<Certificate> certificates;
    for (const auto& der : archive->signature()->certificates) {
        const auto* cursor = reinterpret_cast<const unsigned char*>(der.constData());
        Certificate certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
        if (!certificate || cursor != reinterpret_cast<const unsigned char*>(der.constData()) + der.size()) {
            return invalid(u"a certificate of the signature cannot be read"_s);
        }
        certificates.push_back(std::move(certificate));
    }
    const QList<CertificateSummary> packageChain = summarize(certificates);

    if (!archive->tocChecksumMatches()) {
        return invalid(u"checksum did not verify"_s, packageChain);
    }
    if (!signatureCoversToc(*archive, certificates.front().get())) {
        ERR_clear_error();
        return invalid(u"signature did not verify"_s, packageChain);
    }
    try {
        archive->verifyArchivedChecksums();
    } catch (const XarError& error) {
        return invalid(error.message(), packageChain);
    }

    const Store store = loadTrustAnchors(root);
    CertificateStack intermediates;
    for (size_t index = 1; index < certificates.size(); ++index) {
        sk_X509_push(intermediates.stack, certificates[index].get());
    }
    StoreContext context(X509_STORE_CTX_new());
    if (!store || !context ||
        X509_STORE_CTX_init(context.get(), store.get(), certificates.front().get(), intermediates.stack) != 1) {
        return {SignatureStatus::untrusted, u"the certificate chain cannot be checked"_s, packageChain};
    }
    X509_STORE_CTX_set_flags(context.get(), X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_X509_STRICT);
    const bool verified = X509_verify_cert(context.get()) == 1;
    const int error = X509_STORE_CTX_get_error(context.get());
    ERR_clear_error();
    if (verified) {
        QList<CertificateSummary> chain;
        STACK_OF(X509)* verifiedChain = X509_STORE_CTX_get0_chain(context.get());
        for (int index = 0; index < sk_X509_num(verifiedChain); ++index) {
            chain.append(summarize(sk_X509_value(verifiedChain, index)));
        }
        return {SignatureStatus::trusted, {}, chain};
    }
    const QString reason = QString::fromUtf8(X509_verify_cert_error_string(error));
    if (error == X509_V_ERR_CERT_HAS_EXPIRED) {
        return {SignatureStatus::expired, reason, packageChain};
    }
    return {SignatureStatus::untrusted, reason, packageChain};
}

namespace {

QString statusText(const SignatureReport& report) {
    switch (report.status) {
    case SignatureStatus::trusted:
        return u"signed by a certificate trusted by this system"_s;
    case SignatureStatus::noSignature:
        return u"no signature"_s;
    case SignatureStatus::untrusted:
        return u"signed by untrusted certificate"_s;
    case SignatureStatus::expired:
        return u"signed by a certificate that has since expired"_s;
    case SignatureStatus::invalid:
        return u"package is invalid (%1)"_s.arg(report.detail);
    }
    return {};
}

} // namespace

QString formatReport(const QString& packageName, const SignatureReport& report) {
    QString text = u"Package \"%1\":\n   Status: %2\n"_s.arg(printableText(packageName), statusText(report));
    if (report.chain.isEmpty()) {
        return text;
    }
    text += u"   Certificate Chain:\n"_s;
    for (qsizetype index = 0; index < report.chain.size(); ++index) {
        const auto& certificate = report.chain[index];
        if (index > 0) {
            text += u"       %1\n"_s.arg(QString(72, u'-'));
        }
        text += u"    %1. %2\n"_s.arg(QString::number(index + 1), printableText(certificate.commonName));
        text += u"       Expires: %1 +0000\n"_s.arg(certificate.expires.toUTC().toString(u"yyyy-MM-dd HH:mm:ss"_s));
        text += u"       SHA256 Fingerprint:\n"_s;
        const QByteArray hex = certificate.sha256Fingerprint.toHex(' ').toUpper();
        // Sixteen bytes per line: "XX " is three characters.
        for (qsizetype start = 0; start < hex.size(); start += 48) {
            text += u"           %1\n"_s.arg(QString::fromLatin1(hex.mid(start, 47)));
        }
    }
    return text + u'\n';
}

QString failureLine(const QString& name, const SignatureReport& report) {
    const QString packageName = printableText(name);
    switch (report.status) {
    case SignatureStatus::trusted:
        return {};
    case SignatureStatus::noSignature:
        return u"pkgutil: '%1' has no signature"_s.arg(packageName);
    case SignatureStatus::untrusted:
        return u"pkgutil: '%1' is signed by a certificate this system does not trust (%2)"_s.arg(packageName,
                                                                                                 report.detail);
    case SignatureStatus::expired:
        return u"pkgutil: '%1' is signed by a certificate that has expired"_s.arg(packageName);
    case SignatureStatus::invalid:
        return u"pkgutil: '%1' is invalid: %2"_s.arg(packageName, report.detail);
    }
    return {};
}

} // namespace tarn::tool
