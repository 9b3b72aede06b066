#include "common/SignalDeferral.h"
#include "osascript/Osascript.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    // A privileged command that has started is waited for, never abandoned; its scratch folder goes
    // when it ends.
    const tarn::tool::SignalDeferral deferral;
    QCoreApplication application(argc, argv);
    tarn::osascript::Outcome outcome;
    try {
        tarn::tool::SignalDeferral::checkpoint("starting");
        outcome = tarn::osascript::run(QCoreApplication::arguments().mid(1),
                                       tarn::osascript::Settings::fromProcess(QCoreApplication::applicationDirPath()));
    } catch (const tarn::tool::Interrupted& interruption) {
        outcome = {interruption.exitStatus(), {}, ("osascript: " + interruption.message() + u'\n').toUtf8()};
    }
    std::fwrite(outcome.standardOutput.constData(), 1, static_cast<size_t>(outcome.standardOutput.size()), stdout);
    std::fwrite(outcome.standardError.constData(), 1, static_cast<size_t>(outcome.standardError.size()), stderr);
    return outcome.exitCode;
}
