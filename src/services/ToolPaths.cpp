#include "services/ToolPaths.h"

#include <QCoreApplication>
#include <QDir>

namespace tarn {

ToolPaths ToolPaths::forThisSystem() {
#ifdef Q_OS_MACOS
    return {QStringLiteral("/usr/sbin/pkgutil"),
            QStringLiteral("/usr/sbin/installer"),
            QStringLiteral("/usr/bin/hdiutil"),
            QStringLiteral("/usr/bin/osascript"),
            QString(),
            QString()};
#else
    const QString toolsDirectory =
            QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral(TARN_TOOLS_RELATIVE_TO_APP));
    return inDirectory(QDir::cleanPath(toolsDirectory));
#endif
}

ToolPaths ToolPaths::inDirectory(const QString& directory) {
    const QDir tools(directory);
    return {tools.filePath(QStringLiteral("pkgutil")), tools.filePath(QStringLiteral("installer")),
            tools.filePath(QStringLiteral("hdiutil")), tools.filePath(QStringLiteral("osascript")),
            tools.filePath(QStringLiteral("askpass")), QStringLiteral("/usr/bin/sudo")};
}

} // namespace tarn
