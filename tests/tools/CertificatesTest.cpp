#include "fixtures/Certificates.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace tarn::fixtures {
namespace {

// Verifies `leaf` against `root` the way the stand-ins and the TLS stack do.
int verify(const Credential& root, const Credential& leaf, int purpose) {
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), &X509_STORE_free);
    X509_STORE_add_cert(store.get(), root.certificate());
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(), &X509_STORE_CTX_free);
    X509_STORE_CTX_init(context.get(), store.get(), leaf.certificate(), nullptr);
    X509_STORE_CTX_set_purpose(context.get(), purpose);
    X509_verify_cert(context.get());
    return X509_STORE_CTX_get_error(context.get());
}

// The package stand-ins prove expired and foreign signers; this covers what only the TLS fixtures and the
// demo rely on: a server certificate for its purpose only, and several certificates sharing one key.
TEST(Certificates, IssueForTheirPurposeAndShareAGivenKey) {
    const auto root = Credential::authority(QStringLiteral("Fixture Root"));
    const auto signer = root.issue(packageSignerRequest(QStringLiteral("TARN"), QStringLiteral("Q7XK2M9P4D")));
    CertificateRequest server;
    server.commonName = QStringLiteral("localhost");
    server.dnsNames = {QStringLiteral("localhost")};
    server.ipAddresses = {QStringLiteral("127.0.0.1")};
    server.key = signer.sharedPrivateKey();
    const auto tls = root.issue(server);
    const auto fresh = root.issue(packageSignerRequest(QStringLiteral("Norwell Labs"), QStringLiteral("H4VN8C2T6R")));

    EXPECT_EQ(verify(root, signer, X509_PURPOSE_ANY), X509_V_OK);
    EXPECT_NE(verify(root, signer, X509_PURPOSE_SSL_SERVER), X509_V_OK);
    EXPECT_EQ(verify(root, tls, X509_PURPOSE_SSL_SERVER), X509_V_OK);
    EXPECT_EQ(tls.privateKeyPem(), signer.privateKeyPem());
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(tls.certificate()), signer.privateKey()), 1);
    EXPECT_NE(fresh.privateKeyPem(), signer.privateKeyPem());
}

} // namespace
} // namespace tarn::fixtures
