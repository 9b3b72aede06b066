#include "PackageToolSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <sys/stat.h>

namespace tarn::test {

using namespace fixtures;

const SigningCredentials& SigningCredentials::shared() {
    static const SigningCredentials credentials = [] {
        const auto root = Credential::authority(u"TARN Test Root CA"_s);
        CertificateRequest intermediateRequest;
        intermediateRequest.commonName = u"TARN Test Installer CA"_s;
        intermediateRequest.usage = CertificateUsage::intermediateAuthority;
        const auto intermediate = root.issue(intermediateRequest);
        const auto signerRequest = packageSignerRequest(u"TARN"_s, u"Q7XK2M9P4D"_s);
        auto expiredRequest = signerRequest;
        expiredRequest.notBefore = QDateTime::currentDateTimeUtc().addYears(-2);
        expiredRequest.notAfter = QDateTime::currentDateTimeUtc().addDays(-1);
        const auto strangerRoot = Credential::authority(u"Stranger Root CA"_s);
        return SigningCredentials{root,
                                  intermediate,
                                  intermediate.issue(signerRequest),
                                  intermediate.issue(expiredRequest),
                                  strangerRoot,
                                  strangerRoot.issue(signerRequest)};
    }();
    return credentials;
}

QByteArray scanManagerPackage(const QString& version, const PackageOptions& options) {
    return buildComponentPackage(appPackage(scanPkgId, scanManager(version)), options);
}

ToolRun runTool(const QString& tool, const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(toolPath(tool), arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

Sandbox::Sandbox() : rootPath(directory.filePath(u"root"_s)) {
    QDir().mkpath(rootPath);
    installTrustAnchors(rootPath, {SigningCredentials::shared().root});
}

QString Sandbox::writePackage(const QString& name, const QByteArray& bytes) const {
    const QString packagePath = directory.filePath(u"downloads/"_s + name);
    writeFile(packagePath, bytes);
    return packagePath;
}

QProcessEnvironment Sandbox::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"TARN_SYSTEM_ROOT"_s, rootPath);
    return environment;
}

ToolRun Sandbox::run(const QString& tool, const QStringList& arguments) const {
    return runTool(tool, arguments, environment());
}

SignalledRun Sandbox::signalled(const QString& tool, const QStringList& arguments, const char* point, int signal,
                                bool wholeGroup) const {
    const ProcessGate gate;
    QProcessEnvironment gated = environment();
    gated.insert(u"TARN_TOOL_GATE"_s, gate.at(point));
    return gate.runSignalled(toolPath(tool), arguments, gated, signal, wholeGroup);
}

QMap<QString, QString> Sandbox::snapshot() const {
    QMap<QString, QString> entries;
    QDirIterator iterator(rootPath, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        const QString path = iterator.next();
        const QFileInfo info(path);
        struct stat status = {};
        lstat(QFile::encodeName(path).constData(), &status);
        QString description = u"mode %1 "_s.arg(status.st_mode, 0, 8);
        if (info.isSymLink()) {
            description += u"-> "_s + info.symLinkTarget();
        } else if (info.isFile()) {
            description +=
                    QString::fromLatin1(QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256).toHex());
        }
        entries.insert(path.mid(rootPath.size()), description);
    }
    return entries;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace tarn::test
