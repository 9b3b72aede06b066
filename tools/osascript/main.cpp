#include "osascript/Osascript.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const auto outcome =
            tarn::osascript::run(QCoreApplication::arguments().mid(1),
                                 tarn::osascript::Settings::fromProcess(QCoreApplication::applicationDirPath()));
    std::fwrite(outcome.standardOutput.constData(), 1, static_cast<size_t>(outcome.standardOutput.size()), stdout);
    std::fwrite(outcome.standardError.constData(), 1, static_cast<size_t>(outcome.standardError.size()), stderr);
    return outcome.exitCode;
}
