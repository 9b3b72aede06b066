#pragma once

#include "fixtures/Certificates.h"
#include "fixtures/Packages.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <ostream>
#include <string>

namespace tarn::test {

using namespace Qt::StringLiterals;

// One run of a stand-in tool.
struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The path of a stand-in tool as built.
inline QString toolPath(const QString& tool) {
    return u"" TARN_TOOLS_DIR "/"_s + tool;
}

ToolRun runTool(const QString& tool, const QStringList& arguments,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// Credentials made once per test run: key generation is the slow part of every package fixture.
struct SigningCredentials {
    fixtures::Credential root;           // in the sandbox's trust anchors
    fixtures::Credential intermediate;   // issued by root
    fixtures::Credential signer;         // "Developer ID Installer: TARN (Q7XK2M9P4D)", by intermediate
    fixtures::Credential expiredSigner;  // the same name, expired yesterday
    fixtures::Credential strangerRoot;   // trusted by nobody
    fixtures::Credential strangerSigner; // the same name, issued by the stranger

    fixtures::PackageSigner trusted() const { return {signer, {intermediate, root}}; }

    static const SigningCredentials& shared();
};

inline const QString scanPkgId = u"com.tarn.scanmanager"_s;

inline fixtures::AppBundle scanManager(const QString& version) {
    return {u"Scan Manager"_s, version, version + u".7"_s};
}

// "Scan Manager.app" at `version` as the component package scanPkgId.
QByteArray scanManagerPackage(const QString& version, const fixtures::PackageOptions& options = {});

// A temporary system root for the tools: TARN_SYSTEM_ROOT points into it, its trust anchors hold the
// shared root, and packages are written beside it (never inside it).
class Sandbox {
public:
    Sandbox();

    QString path(const QString& insideRoot) const { return rootPath + insideRoot; }
    QString outside(const QString& name) const { return directory.filePath(name); }
    QString writePackage(const QString& name, const QByteArray& bytes) const;
    QProcessEnvironment environment() const;

    ToolRun run(const QString& tool, const QStringList& arguments) const;
    ToolRun pkgutil(const QStringList& arguments) const { return run(u"pkgutil"_s, arguments); }
    ToolRun installer(const QStringList& arguments) const { return run(u"installer"_s, arguments); }
    // installer -pkg PACKAGE -target /, for the package at `packagePath` or `package` written beside the root.
    ToolRun installer(const QString& packagePath) const {
        return installer({u"-pkg"_s, packagePath, u"-target"_s, u"/"_s});
    }
    ToolRun install(const QByteArray& package, const QString& name = u"a.pkg"_s) const {
        return installer(writePackage(name, package));
    }
    // `tool` stopped at its test gate `point`, sent `signal` there, and let go on.
    SignalledRun signalled(const QString& tool, const QStringList& arguments, const char* point, int signal,
                           bool wholeGroup) const;

    // Every entry under the root with its type, mode and contents: two equal snapshots mean nothing changed.
    QMap<QString, QString> snapshot() const;

private:
    QTemporaryDir directory;
    QString rootPath;
};

QByteArray readFile(const QString& path);

// A run that exits 1 with `text` in its error output.
MATCHER_P(FailsWith, text, "") {
    *result_listener << "exit " << arg.exitCode << ", error output: " << arg.err;
    return arg.exitCode == 1 && arg.err.find(text) != std::string::npos;
}

} // namespace tarn::test

// Snapshots in failure messages, one entry a line.
inline void PrintTo(const QMap<QString, QString>& entries, std::ostream* out) {
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        *out << "\n  " << entry.key().toStdString() << ": " << entry.value().toStdString();
    }
}
