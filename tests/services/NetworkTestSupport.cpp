#include "NetworkTestSupport.h"

#include <QDir>

namespace tarn::test {

using namespace Qt::StringLiterals;

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
        const auto authority = fixtures::Credential::authority(u"T.A.R.N. Test Authority"_s);
        const QString local = u"127.0.0.1"_s;
        auto expired = request(local, true);
        expired.notBefore = QDateTime::currentDateTimeUtc().addYears(-2);
        expired.notAfter = QDateTime::currentDateTimeUtc().addDays(-1);
        return TestPki{authority, authority.issue(request(local, true)), fixtures::Credential::authority(local),
                       authority.issue(expired), authority.issue(request(u"config.example.invalid"_s, false))};
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
