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
        const auto root = Credential::authority(QStringLiteral("TARN Test Root CA"));
        CertificateRequest intermediateRequest;
        intermediateRequest.commonName = QStringLiteral("TARN Test Installer CA");
        intermediateRequest.usage = CertificateUsage::intermediateAuthority;
        const auto intermediate = root.issue(intermediateRequest);
        const auto signerRequest = packageSignerRequest(QStringLiteral("TARN"), QStringLiteral("Q7XK2M9P4D"));
        auto expiredRequest = signerRequest;
        expiredRequest.notBefore = QDateTime::currentDateTimeUtc().addYears(-2);
        expiredRequest.notAfter = QDateTime::currentDateTimeUtc().addDays(-1);
        const auto strangerRoot = Credential::authority(QStringLiteral("Stranger Root CA"));
        return SigningCredentials{root,
                                  intermediate,
                                  intermediate.issue(signerRequest),
                                  intermediate.issue(expiredRequest),
                                  strangerRoot,
                                  strangerRoot.issue(signerRequest)};
    }();
    return credentials;
}

Sandbox::Sandbox() : rootPath(directory.filePath(QStringLiteral("root"))) {
    QDir().mkpath(rootPath);
    installTrustAnchors(rootPath, {SigningCredentials::shared().root});
}

QString Sandbox::writePackage(const QString& name, const QByteArray& bytes) const {
    const QString packagePath = directory.filePath(QStringLiteral("downloads/") + name);
    writeFile(packagePath, bytes);
    return packagePath;
}

ToolRun runTool(const QString& tool, const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARN_TOOLS_DIR "/") + tool, arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

QByteArray withNestedTocElements(const QByteArray& package, const QByteArray& opening, const QByteArray& closing,
                                 int depth) {
    return fixtures::rewriteToc(
            package,
            [&](QByteArray toc) {
                return toc.replace("<toc>", "<toc>" + opening.repeated(depth) + closing.repeated(depth));
            },
            true);
}

QByteArray scanManagerPackage(const QString& version, const PackageOptions& options) {
    return buildComponentPackage(appPackage(scanPkgId, scanManager(version)), options);
}

ToolRun Sandbox::run(const QString& tool, const QStringList& arguments) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARN_SYSTEM_ROOT"), rootPath);
    return runTool(tool, arguments, environment);
}

ToolRun Sandbox::installer(const QString& packagePath) const {
    return installer({QStringLiteral("-pkg"), packagePath, QStringLiteral("-target"), QStringLiteral("/")});
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
        QString description = QStringLiteral("mode %1 ").arg(status.st_mode, 0, 8);
        if (info.isSymLink()) {
            description += QStringLiteral("-> ") + info.symLinkTarget();
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
