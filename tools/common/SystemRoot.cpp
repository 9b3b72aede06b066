#include "common/SystemRoot.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace tarn::tool {

SystemRoot::SystemRoot(const QString& directory) : root(QDir::cleanPath(QDir(directory).absolutePath())) {}

SystemRoot SystemRoot::fromEnvironment() {
    const QString configured = qEnvironmentVariable("TARN_SYSTEM_ROOT");
    return SystemRoot(configured.isEmpty() ? u"/"_s : configured);
}

QString SystemRoot::resolve(const QString& absolutePath) const {
    const QString inside = QDir::cleanPath(u"/"_s + absolutePath);
    if (isRealRoot()) {
        return inside;
    }
    return inside == u"/"_s ? root : root + inside;
}

QString SystemRoot::trustAnchorsFile() const {
    return resolve(u"/etc/tarn-installer/package-signing-anchors.pem"_s);
}

} // namespace tarn::tool
