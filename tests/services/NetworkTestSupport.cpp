#include "NetworkTestSupport.h"

#include <QDir>

namespace tarn::test {

namespace {

fixtures::CertificateRequest request(const QString& host, bool byAddress) {
    fixtures::CertificateRequest request;
    request.commonName = host;
    (byAddress ? request.ipAddresses : request.dnsNames) = {host};
    return request;
}

} // namespace

const TestPki& testPki() {
    static const TestPki pki = [] {
        const auto authority = fixtures::Credential::authority(QStringLiteral("T.A.R.N. Test Authority"));
        const QString local = QStringLiteral("127.0.0.1");
        auto expired = request(local, true);
        expired.notBefore = QDateTime::currentDateTimeUtc().addYears(-2);
        expired.notAfter = QDateTime::currentDateTimeUtc().addDays(-1);
        return TestPki{authority, authority.issue(request(local, true)), fixtures::Credential::authority(local),
                       authority.issue(expired),
                       authority.issue(request(QStringLiteral("config.example.invalid"), false))};
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
