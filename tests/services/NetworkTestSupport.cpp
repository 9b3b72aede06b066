#include "NetworkTestSupport.h"

#include <QDir>

namespace tarn::test {

const TestPki& testPki() {
    static const TestPki pki = [] {
        using fixtures::CertificateRequest;
        using fixtures::Credential;
        const auto authority = Credential::authority(QStringLiteral("T.A.R.N. Test Authority"));
        const auto server = authority.issue([] {
            CertificateRequest request;
            request.commonName = QStringLiteral("127.0.0.1");
            request.dnsNames = {QStringLiteral("localhost")};
            request.ipAddresses = {QStringLiteral("127.0.0.1")};
            return request;
        }());
        const auto selfSigned = Credential::authority(QStringLiteral("127.0.0.1"));
        const auto expired = authority.issue([] {
            CertificateRequest request;
            request.commonName = QStringLiteral("127.0.0.1");
            request.ipAddresses = {QStringLiteral("127.0.0.1")};
            request.notBefore = QDateTime::currentDateTimeUtc().addYears(-2);
            request.notAfter = QDateTime::currentDateTimeUtc().addDays(-1);
            return request;
        }());
        const auto foreignHost = authority.issue([] {
            CertificateRequest request;
            request.commonName = QStringLiteral("config.example.invalid");
            request.dnsNames = {QStringLiteral("config.example.invalid")};
            return request;
        }());
        return TestPki{authority, server, selfSigned, expired, foreignHost};
    }();
    return pki;
}

ScopedTemporaryFolder::ScopedTemporaryFolder()
    : previous(qgetenv("TMPDIR")), hadPrevious(qEnvironmentVariableIsSet("TMPDIR")) {
    qputenv("TMPDIR", QFile::encodeName(folder.path()));
}

ScopedTemporaryFolder::~ScopedTemporaryFolder() {
    if (hadPrevious) {
        qputenv("TMPDIR", previous);
    } else {
        qunsetenv("TMPDIR");
    }
}

QStringList ScopedTemporaryFolder::entries() const {
    return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace tarn::test
