#pragma once

#include "fixtures/Packages.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/stat.h>

namespace tarn::test {

using namespace Qt::StringLiterals;

// One run of a stand-in tool: as a signalled run, 128 + the signal when one ended it.
using ToolRun = SignalledRun;

// The path of a stand-in tool as built.
inline QString toolPath(const QString& tool) {
    return u"" TARN_TOOLS_DIR "/"_s + tool;
}

inline ToolRun runTool(const QString& tool, const QStringList& arguments,
                       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
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

inline const QString scanPkgId = u"com.tarn.scanmanager"_s;

inline fixtures::AppBundle scanManager(const QString& version) {
    return {u"Scan Manager"_s, version, version + u".7"_s};
}

// "Scan Manager.app" at `version` as the component package scanPkgId.
inline QByteArray scanManagerPackage(const QString& version, const fixtures::PackageOptions& options = {}) {
    return fixtures::buildComponentPackage(fixtures::appPackage(scanPkgId, scanManager(version)), options);
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// lstat(2) of `path`; all zero when there is nothing.
inline struct stat statusOf(const QString& path) {
    struct stat status = {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status;
}

constexpr auto everyEntry = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

// `size` bytes or a few more in which no two stretches are alike, so that pieces out of order would show.
inline QByteArray distinctBytes(qsizetype size) {
    QByteArray bytes;
    for (int index = 0; bytes.size() < size; ++index) {
        bytes += QByteArray::number(qHash(index) * 2654435761U, 36);
    }
    return bytes;
}

// A temporary system root for the tools: TARN_SYSTEM_ROOT points into it; packages are written beside it
// (never inside it).
class Sandbox {
public:
    Sandbox() { QDir().mkpath(rootPath); }

    QString path(const QString& insideRoot) const { return rootPath + insideRoot; }
    QString outside(const QString& name) const { return directory.filePath(name); }
    QString writePackage(const QString& name, const QByteArray& bytes) const {
        const QString packagePath = directory.filePath(u"downloads/"_s + name);
        fixtures::writeFile(packagePath, bytes);
        return packagePath;
    }
    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"TARN_SYSTEM_ROOT"_s, rootPath);
        return environment;
    }

    ToolRun run(const QString& tool, const QStringList& arguments) const {
        return runTool(tool, arguments, environment());
    }
    ToolRun pkgutil(const QStringList& arguments) const { return run(u"pkgutil"_s, arguments); }
    // installer -pkg PACKAGE -target /, for `package` written beside the root.
    ToolRun install(const QByteArray& package, const QString& name = u"a.pkg"_s) const {
        return run(u"installer"_s, {u"-pkg"_s, writePackage(name, package), u"-target"_s, u"/"_s});
    }
    // `tool` stopped at its test gate `point`, sent `signal` there, and let go on.
    SignalledRun signalled(const QString& tool, const QStringList& arguments, const char* point, int signal,
                           bool wholeGroup) const {
        const ProcessGate gate;
        QProcessEnvironment gated = environment();
        gated.insert(u"TARN_TOOL_GATE"_s, gate.at(point));
        return gate.runSignalled(toolPath(tool), arguments, gated, signal, wholeGroup);
    }

    // Every entry under the root with its type, mode and contents: two equal snapshots mean nothing changed.
    QStringList snapshot() const {
        QStringList entries;
        QDirIterator iterator(rootPath, everyEntry, QDirIterator::Subdirectories);
        while (iterator.hasNext()) {
            const QString path = iterator.next();
            const QFileInfo info(path);
            const QByteArray digest =
                    info.isFile() ? QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256) : QByteArray();
            entries.append(u"%1: mode %2 %3"_s.arg(
                    path.mid(rootPath.size()), QString::number(statusOf(path).st_mode, 8),
                    info.isSymLink() ? u"-> "_s + info.symLinkTarget() : QString::fromLatin1(digest.toHex())));
        }
        entries.sort();
        return entries;
    }

private:
    QTemporaryDir directory;
    QString rootPath = directory.filePath(u"root"_s);
};

// A run that exits 1 with `text` in its error output.
MATCHER_P(FailsWith, text, "") {
    *result_listener << "exit " << arg.exitCode << ", error output: " << arg.err;
    return arg.exitCode == 1 && arg.err.find(text) != std::string::npos;
}

} // namespace tarn::test
