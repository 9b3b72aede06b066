// Runs the stand-in tools on inputs built to cost out of proportion and reports wall and processor time
// and the child's peak resident memory. Goal: costs in proportion to the input. The deep payload (20,000
// entries, 1,000 folders deep by default, about 40 MB once decompressed) once took 104 s and 1.3 GB; the
// nested-folder table of contents, refused now, once grew to hundreds of megabytes.
#include "fixtures/Certificates.h"
#include "fixtures/Packages.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

using namespace tarn::fixtures;

struct Measured {
    int exitCode = -1;
    double seconds = 0;
    double cpuSeconds = 0; // user and system, of every child so far
    long peakKiB = 0;
};

// One child at a time, so RUSAGE_CHILDREN's peak is this child's unless an earlier one was larger.
Measured measure(const QString& tool, const QStringList& arguments, const QString& systemRoot) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARN_SYSTEM_ROOT"), systemRoot);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(TARN_TOOLS_DIR "/") + tool, arguments);
    process.waitForFinished(-1);
    Measured result{process.exitCode(), static_cast<double>(timer.nsecsElapsed()) / 1e9, 0, 0};
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakKiB = usage.ru_maxrss;
    return result;
}

QByteArray deepPayloadPackage(int entries, int depth) {
    Payload payload;
    QString folder = QStringLiteral("./Deep.app");
    payload.directory(folder);
    for (int level = 1; level < depth; ++level) {
        folder += QStringLiteral("/d");
        payload.directory(folder);
    }
    for (int index = 0; payload.size() < entries; ++index) {
        payload.file(folder + QStringLiteral("/f%1").arg(index), "x");
    }
    ComponentPackage component{QStringLiteral("com.tarn.deep"), QStringLiteral("1.0")};
    component.payload = payload;
    return buildComponentPackage(component);
}

QByteArray nestedFolderToc(int depth, int nameLength) {
    const QByteArray package = buildComponentPackage({QStringLiteral("com.tarn.toc"), QStringLiteral("1.0")});
    const QByteArray name(nameLength, 'n');
    return rewriteToc(
            package,
            [&](QByteArray toc) {
                return toc.replace("<toc>", "<toc>" + ("<file><name>" + name + "</name>").repeated(depth) +
                                                    QByteArray("</file>").repeated(depth));
            },
            true);
}

void report(const char* what, const Measured& measured) {
    std::printf("%-48s exit %d  %7.2f s (%.2f s CPU)  %8ld KiB peak\n", what, measured.exitCode, measured.seconds,
                measured.cpuSeconds, measured.peakKiB);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption entries(QStringLiteral("entries"), QStringLiteral("payload entries"), QStringLiteral("N"),
                                     QStringLiteral("20000"));
    const QCommandLineOption depth(QStringLiteral("depth"), QStringLiteral("payload folder depth"), QStringLiteral("N"),
                                   QStringLiteral("1000"));
    parser.addOptions({entries, depth});
    parser.process(application);

    QTemporaryDir work;
    const QString root = work.filePath(QStringLiteral("root"));
    writeFile(root + QStringLiteral("/.keep"), {});

    const QString deep = work.filePath(QStringLiteral("deep.pkg"));
    writeFile(deep, deepPayloadPackage(parser.value(entries).toInt(), parser.value(depth).toInt()));
    report("installer, deep payload",
           measure(QStringLiteral("installer"),
                   {QStringLiteral("-pkg"), deep, QStringLiteral("-target"), QStringLiteral("/")}, root));

    const QString toc = work.filePath(QStringLiteral("toc.pkg"));
    writeFile(toc, nestedFolderToc(120, 20000));
    report("pkgutil, 120 nested folders of 20,000-byte names",
           measure(QStringLiteral("pkgutil"), {QStringLiteral("--check-signature"), toc}, root));
    return 0;
}
