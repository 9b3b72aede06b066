#include "common/SignalDeferral.h"
#include "osascript/Osascript.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

int finish(const tarn::osascript::Outcome& outcome) {
    std::fwrite(outcome.standardOutput.constData(), 1, static_cast<size_t>(outcome.standardOutput.size()), stdout);
    std::fwrite(outcome.standardError.constData(), 1, static_cast<size_t>(outcome.standardError.size()), stderr);
    return outcome.exitCode;
}

// Replaces this process with the elevation command; answers only when that cannot be done.
int become(const tarn::osascript::Elevation& elevation) {
    for (const auto& [name, value] : elevation.environment) {
        ::setenv(name.constData(), value.constData(), 1);
    }
    // Credentials come from the dialog, never from a terminal.
    const int nothing = ::open("/dev/null", O_RDONLY);
    if (nothing >= 0 && nothing != STDIN_FILENO) {
        ::dup2(nothing, STDIN_FILENO);
        ::close(nothing);
    }
    std::fflush(nullptr);
    std::vector<QByteArray> encoded{QFile::encodeName(elevation.program)};
    for (const QString& argument : elevation.arguments) {
        encoded.push_back(argument.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& argument : encoded) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    ::execv(argv.front(), argv.data());
    const int error = errno;
    return finish({1,
                   {},
                   u"execution error: Cannot run '%1': %2 (-1)\n"_s
                           .arg(elevation.program, QString::fromLocal8Bit(std::strerror(error)))
                           .toUtf8()});
}

} // namespace

int main(int argc, char* argv[]) {
    // A privileged command that has started is waited for whatever signal arrives: a terminal's Ctrl+C
    // reaches every process of the chain, and the package tool below finishes or undoes its own step.
    const tarn::tool::SignalDeferral deferral;
    QCoreApplication application(argc, argv);
    const auto step =
            tarn::osascript::run(QCoreApplication::arguments().mid(1),
                                 tarn::osascript::Settings::fromProcess(QCoreApplication::applicationFilePath()));
    if (const auto* elevation = std::get_if<tarn::osascript::Elevation>(&step)) {
        // Becoming sudo would forget a signal that came before: nothing has run yet, so stop here.
        if (const int signal = tarn::tool::SignalDeferral::received()) {
            return finish({128 + signal,
                           {},
                           tarn::tool::Interrupted(signal).message().toUtf8().prepend("osascript: ") + '\n'});
        }
        return become(*elevation);
    }
    return finish(std::get<tarn::osascript::Outcome>(step));
}
