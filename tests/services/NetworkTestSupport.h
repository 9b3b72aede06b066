#pragma once

#include "ServicesTestSupport.h"
#include "fixtures/Certificates.h"

#include <QByteArray>
#include <QTemporaryDir>

namespace tarn::test {

// The certificates of the HTTPS tests, made once per run: RSA keys are slow to generate.
struct TestPki {
    fixtures::Credential authority;   // trusted through the extra-CA path
    fixtures::Credential server;      // for 127.0.0.1, issued by the authority
    fixtures::Credential selfSigned;  // 127.0.0.1, issued by nobody we trust
    fixtures::Credential expired;     // issued by the authority, no longer valid
    fixtures::Credential foreignHost; // issued by the authority for another host name
};
const TestPki& testPki();

// Points the temporary folder (TMPDIR) at a fresh folder for the life of the object, so a test can
// see every file a download leaves behind.
class ScopedTemporaryFolder {
public:
    ScopedTemporaryFolder();
    ~ScopedTemporaryFolder();

    QString path() const { return folder.path(); }
    // Names of the files in the folder, hidden ones included.
    QStringList entries() const;

private:
    QTemporaryDir folder;
    QByteArray previous;
    bool hadPrevious;
};

} // namespace tarn::test
