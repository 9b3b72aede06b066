#include "hdiutil/Hdiutil.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const auto outcome =
            tarn::hdiutil::run(QCoreApplication::arguments().mid(1), tarn::hdiutil::Environment::fromProcess());
    std::fwrite(outcome.standardOutput.constData(), 1, static_cast<size_t>(outcome.standardOutput.size()), stdout);
    std::fwrite(outcome.standardError.constData(), 1, static_cast<size_t>(outcome.standardError.size()), stderr);
    return outcome.exitCode;
}
