#include "common/SystemRoot.h"

#include <QDir>

namespace tarn::tool {

SystemRoot::SystemRoot(const QString& directory) : root(QDir::cleanPath(QDir(directory).absolutePath())) {}

SystemRoot SystemRoot::fromEnvironment() {
    const QString configured = qEnvironmentVariable("TARN_SYSTEM_ROOT");
    return SystemRoot(configured.isEmpty() ? QStringLiteral("/") : configured);
}

QString SystemRoot::resolve(const QString& absolutePath) const {
    const QString inside = QDir::cleanPath(QStringLiteral("/") + absolutePath);
    if (isRealRoot()) {
        return inside;
    }
    return inside == QStringLiteral("/") ? root : root + inside;
}

QString SystemRoot::receiptsDirectory() const {
    return resolve(QStringLiteral("/var/db/receipts"));
}

QString SystemRoot::trustAnchorsFile() const {
    return resolve(QStringLiteral("/etc/tarn-installer/package-signing-anchors.pem"));
}

} // namespace tarn::tool
