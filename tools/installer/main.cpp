// installer: installs a flat package onto the system with the command line of the macOS tool,
// `installer -pkg PKG -target /`. It trusts the caller to have checked the package's signature, but it
// checks every checksum of the archive and refuses any payload entry that would land outside the
// package's install location.
#include "Installation.h"
#include "PackageContents.h"
#include "base/PrintableText.h"
#include "common/SignalDeferral.h"
#include "common/SystemRoot.h"
#include "common/ToolError.h"
#include "common/Xar.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

using namespace tarn::tool;

// Names in a line come from the package; printed raw, a control character could forge a line of its own.
void writeLine(FILE* stream, const QString& line) {
    const QByteArray bytes = tarn::printableText(line).toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int usage() {
    writeLine(stderr, u"usage: installer -pkg PKG -target /"_s);
    return 1;
}

int run(const QStringList& arguments) {
    QString packagePath;
    QString target;
    for (qsizetype index = 0; index < arguments.size(); ++index) {
        const QString& option = arguments[index];
        if (option == QLatin1String("-verbose") || option == QLatin1String("-dumplog")) {
            continue;
        }
        if (index + 1 >= arguments.size()) {
            return usage();
        }
        if (option == QLatin1String("-pkg") || option == QLatin1String("-package")) {
            packagePath = arguments[++index];
        } else if (option == QLatin1String("-target") || option == QLatin1String("-tgt")) {
            target = arguments[++index];
        } else {
            return usage();
        }
    }
    if (packagePath.isEmpty() || target.isEmpty()) {
        return usage();
    }
    if (target != QLatin1String("/")) {
        throw ToolError(u"the target '%1' is not a volume this system can install on; use '/'"_s.arg(target));
    }

    const QFileInfo package(packagePath);
    if (!package.isFile()) {
        throw ToolError(u"the package path specified was invalid: '%1'"_s.arg(packagePath));
    }
    const XarArchive archive = XarArchive::open(package.absoluteFilePath());
    archive.requireIntactToc();
    const PackageContents contents = readPackageContents(archive, package.fileName());

    writeLine(stdout, u"installer: Package name is %1"_s.arg(contents.title));
    writeLine(stdout, u"installer: Installing at base path /"_s);
    const QStringList problems =
            installPackage(archive, contents, SystemRoot::fromEnvironment(),
                           [](const QString& note) { writeLine(stdout, u"installer: Note - %1"_s.arg(note)); });
    for (const auto& problem : problems) {
        writeLine(stderr, u"installer: Warning - %1"_s.arg(problem));
    }
    writeLine(stdout, u"installer: The install was successful."_s);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // A signal lets the installation finish its commit, or roll back before it.
    const SignalDeferral deferral;
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    try {
        return run(arguments);
    } catch (const Interrupted& interruption) {
        writeLine(stderr, u"installer: Error - %1"_s.arg(interruption.message()));
        writeLine(stderr, u"installer: The install failed."_s);
        return interruption.exitStatus();
    } catch (const XarError& error) {
        writeLine(stderr, u"installer: Error - the package is damaged: %1"_s.arg(error.message()));
    } catch (const ToolError& error) {
        writeLine(stderr, u"installer: Error - %1"_s.arg(error.message()));
    } catch (const std::exception& error) {
        writeLine(stderr, u"installer: Error - %1"_s.arg(QString::fromLocal8Bit(error.what())));
    }
    writeLine(stderr, u"installer: The install failed."_s);
    return 1;
}
