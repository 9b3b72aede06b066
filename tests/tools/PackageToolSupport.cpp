#include "PackageToolSupport.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>

namespace tarn::test {

ToolRun runTool(const QString& tool, const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(toolPath(tool), arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

QString Sandbox::writePackage(const QString& name, const QByteArray& bytes) const {
    const QString packagePath = directory.filePath(u"downloads/"_s + name);
    fixtures::writeFile(packagePath, bytes);
    return packagePath;
}

QProcessEnvironment Sandbox::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"TARN_SYSTEM_ROOT"_s, rootPath);
    return environment;
}

SignalledRun Sandbox::signalled(const QString& tool, const QStringList& arguments, const char* point, int signal,
                                bool wholeGroup) const {
    const ProcessGate gate;
    QProcessEnvironment gated = environment();
    gated.insert(u"TARN_TOOL_GATE"_s, gate.at(point));
    return gate.runSignalled(toolPath(tool), arguments, gated, signal, wholeGroup);
}

QStringList Sandbox::snapshot() const {
    QStringList entries;
    QDirIterator iterator(rootPath, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        const QString path = iterator.next();
        const QFileInfo info(path);
        const QByteArray digest =
                info.isFile() ? QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256) : QByteArray();
        entries.append(u"%1: mode %2 %3"_s.arg(path.mid(rootPath.size()), QString::number(statusOf(path).st_mode, 8),
                                               info.isSymLink() ? u"-> "_s + info.symLinkTarget()
                                                                : QString::fromLatin1(digest.toHex())));
    }
    entries.sort();
    return entries;
}

} // namespace tarn::test
