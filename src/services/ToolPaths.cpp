#include "services/ToolPaths.h"

#include <QCoreApplication>
#include <QDir>

namespace tarn {

using namespace Qt::StringLiterals;

ToolPaths ToolPaths::forThisSystem() {
#ifdef Q_OS_MACOS
    return {u"/usr/sbin/pkgutil"_s,
            u"/usr/sbin/installer"_s,
            u"/usr/bin/hdiutil"_s,
            u"/usr/bin/osascript"_s,
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
    return {tools.filePath(u"pkgutil"_s),   tools.filePath(u"installer"_s), tools.filePath(u"hdiutil"_s),
            tools.filePath(u"osascript"_s), tools.filePath(u"askpass"_s),   u"/usr/bin/sudo"_s};
}

} // namespace tarn
