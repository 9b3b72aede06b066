#pragma once

#include "fixtures/Packages.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

ToolRun runTool(const QString& tool, const QStringList& arguments,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

inline const QString scanPkgId = u"com.tarn.scanmanager"_s;

inline fixtures::AppBundle scanManager(const QString& version) {
    return {u"Scan Manager"_s, version, version + u".7"_s};
}

// "Scan Manager.app" at `version` as the component package scanPkgId.
inline QByteArray scanManagerPackage(const QString& version, const fixtures::PackageOptions& options = {}) {
    return fixtures::buildComponentPackage(fixtures::appPackage(scanPkgId, scanManager(version)), options);
}

// A temporary system root for the tools: TARN_SYSTEM_ROOT points into it; packages are written beside it
// (never inside it).
class Sandbox {
public:
    Sandbox() { QDir().mkpath(rootPath); }

    QString path(const QString& insideRoot) const { return rootPath + insideRoot; }
    QString outside(const QString& name) const { return directory.filePath(name); }
    QString writePackage(const QString& name, const QByteArray& bytes) const;
    QProcessEnvironment environment() const;

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
                           bool wholeGroup) const;

    // Every entry under the root with its type, mode and contents: two equal snapshots mean nothing changed.
    QStringList snapshot() const;

private:
    QTemporaryDir directory;
    QString rootPath = directory.filePath(u"root"_s);
};

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

// A run that exits 1 with `text` in its error output.
MATCHER_P(FailsWith, text, "") {
    *result_listener << "exit " << arg.exitCode << ", error output: " << arg.err;
    return arg.exitCode == 1 && arg.err.find(text) != std::string::npos;
}

} // namespace tarn::test
