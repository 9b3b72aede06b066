#include "common/SignalDeferral.h"
#include "hdiutil/Hdiutil.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[]) {
    // A signal lets an attach finish or roll back, and a detach finish.
    const tarn::tool::SignalDeferral deferral;
    QCoreApplication application(argc, argv);
    tarn::hdiutil::Outcome outcome;
    try {
        outcome = tarn::hdiutil::run(QCoreApplication::arguments().mid(1), tarn::hdiutil::Environment::fromProcess());
    } catch (const tarn::tool::Interrupted& interruption) {
        outcome = {interruption.exitStatus(), {}, u"hdiutil: %1\n"_s.arg(interruption.message()).toUtf8()};
    }
    std::fwrite(outcome.standardOutput.constData(), 1, static_cast<size_t>(outcome.standardOutput.size()), stdout);
    std::fwrite(outcome.standardError.constData(), 1, static_cast<size_t>(outcome.standardError.size()), stderr);
    return outcome.exitCode;
}
