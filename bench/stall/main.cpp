// Runs the whole demo in the installer window (offscreen): an autopilot clicks through the guided flow
// as a person would, from the welcome screen to the result, while a 5 ms timer measures how late the
// main thread serves it. The permission step is included: the demo's elevation is wrapped so that the
// up-front request takes as long as a person typing a password would.
//
//   tarn_stall_bench [--prompt-ms N] [--limit-s N]      goal: longest stall <= 50 ms

#include "app/TARNInstallerApp.h"
#include "components/CustomButtonView.h"
#include "components/CustomToggleView.h"
#include "components/Resources.h"
#include "demo/DemoEnvironment.h"
#include "screens/Coordinator.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "workflow/InstallationViewModel.h"
#include "workflow/SystemServices.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace tarn;

namespace {

constexpr int tickMs = 5;
constexpr int autopilotMs = 150;
constexpr double goalMs = 50.0;

QString promptTimesFile(const QTemporaryDir& folder) {
    return folder.filePath(QStringLiteral("prompt-times"));
}

// The demo's elevation, with a pause on "-v" where a person would be typing the password.
QString elevationWithPrompt(const QTemporaryDir& folder, const QString& demoElevation, int promptMs) {
    const QString path = folder.filePath(QStringLiteral("elevate-after-prompt"));
    QFile script(path);
    script.open(QIODevice::WriteOnly);
    script.write(QStringLiteral("#!/bin/sh\n"
                                "for argument in \"$@\"; do\n"
                                "    [ \"$argument\" = -v ] || continue\n"
                                "    date +%s%N >> '%3'; sleep %1; date +%s%N >> '%3'\n"
                                "done\n"
                                "exec '%2' \"$@\"\n")
                         .arg(promptMs / 1000.0)
                         .arg(demoElevation, promptTimesFile(folder))
                         .toUtf8());
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// How long this thread has waited for a CPU so far, in ms (Linux's scheduler statistics): on a busy
// machine a tick is also late when the thread was ready to run but had no processor.
double waitedForCpuMs() {
    static const QString path = QStringLiteral("/proc/self/task/%1/schedstat").arg(::gettid());
    QFile statistics(path);
    if (!statistics.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = statistics.readAll().split(' ');
    return fields.size() > 1 ? static_cast<double>(fields[1].toLongLong()) / 1e6 : 0;
}

// How late each tick of a steady timer comes, and where the worst one was.
class StallMeter : public QObject {
public:
    explicit StallMeter(const Coordinator& coordinator) : coordinator(coordinator) {
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] { tick(); });
        clock.start();
        timer.start(tickMs);
    }

    void tick() {
        const double now = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const double late = std::max(0.0, now - last - tickMs);
        const double waited = waitedForCpuMs();
        last = now;
        lateness.push_back(late);
        ownLateness.push_back(std::max(0.0, late - (waited - lastWaited)));
        lastWaited = waited;
        if (late > reportFromMs) {
            stalls.append(QStringLiteral("%1 ms on %2 at %3 s")
                                  .arg(late, 0, 'f', 1)
                                  .arg(screenName(coordinator.currentScreen()))
                                  .arg(now / 1000.0, 0, 'f', 2));
        }
        if (late > worst) {
            worst = late;
            worstScreen = screenName(coordinator.currentScreen());
        }
        wallClock.push_back(QDateTime::currentMSecsSinceEpoch());
    }

    // The longest lateness of a tick while the prompt was open, from the wall-clock times (in ns) at
    // which the elevation opened and closed it; and how many ticks that was.
    std::pair<double, int> worstBetween(const std::vector<double>& values, qint64 openedNs, qint64 closedNs) const {
        double longest = 0;
        int ticks = 0;
        for (size_t index = 0; index < values.size(); ++index) {
            const qint64 atNs = wallClock[index] * 1'000'000;
            if (atNs > openedNs && atNs <= closedNs + tickMs * 1'000'000LL) {
                longest = std::max(longest, values[index]);
                ++ticks;
            }
        }
        return {longest, ticks};
    }

    static double percentile(const std::vector<double>& values, double fraction) {
        if (values.empty()) {
            return 0;
        }
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1))];
    }

    const Coordinator& coordinator;
    QTimer timer;
    QElapsedTimer clock;
    double last = 0;
    std::vector<double> lateness;
    std::vector<double> ownLateness; // less the time spent waiting for a CPU
    double lastWaited = waitedForCpuMs();
    double worst = 0;
    QString worstScreen;
    std::vector<qint64> wallClock; // ms since the epoch, per tick
    QStringList stalls;            // every stall above reportFromMs, in order
    static constexpr double reportFromMs = 20.0;
};

// One step of a person's way through the flow: accept what asks to be accepted, then press the
// screen's way forward. Never Cancel, Back or Close.
void pressOn(ScreenView& screen, Coordinator::Screen current) {
    if (current == Coordinator::Screen::eula || current == Coordinator::Screen::legal) {
        for (CustomToggleView* toggle : screen.findChildren<CustomToggleView*>()) {
            if (toggle->isEnabled() && !toggle->isChecked()) {
                toggle->click();
            }
        }
    }
    for (const char* key : {"welcome.button.text", "button.next", "button.download", "button.done"}) {
        for (CustomButtonView* button : screen.findChildren<CustomButtonView*>()) {
            if (button->textKey() == QLatin1String(key) && button->isEnabled() && button->isVisible()) {
                button->click();
                return;
            }
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption promptOption(QStringLiteral("prompt-ms"),
                                          QStringLiteral("How long the password prompt stays open."),
                                          QStringLiteral("ms"), QStringLiteral("1500"));
    const QCommandLineOption limitOption(QStringLiteral("limit-s"), QStringLiteral("Give up after this long."),
                                         QStringLiteral("s"), QStringLiteral("180"));
    parser.addOptions({promptOption, limitOption});
    parser.process(application);
    QTextStream out(stdout);

    registerFonts();
    installTranslations();
    demo::DemoEnvironment demo;
    const QTemporaryDir folder;
    SystemServiceOptions options = demo.serviceOptions();
    options.tools.sudo = elevationWithPrompt(folder, options.tools.sudo, parser.value(promptOption).toInt());
    InstallationViewModel model(makeSystemServices(options), demo.settings());
    demo.simulateScannerFor(model);
    Coordinator coordinator;
    TARNInstallerApp app(coordinator, model);
    app.show();

    StallMeter meter(coordinator);
    QEventLoop loop;
    QElapsedTimer wall;
    wall.start();
    QTimer autopilot;
    QObject::connect(&autopilot, &QTimer::timeout, [&] {
        const Coordinator::Screen current = coordinator.currentScreen();
        if (current == Coordinator::Screen::installResult) {
            loop.exit(0);
            return;
        }
        if (ScreenView* screen = app.rootView()->currentView(); screen && app.rootView()->shownScreen() == current) {
            pressOn(*screen, current);
        }
    });
    autopilot.start(autopilotMs);
    QTimer::singleShot(parser.value(limitOption).toInt() * 1000, &loop, [&] { loop.exit(1); });
    const int status = loop.exec();

    out << "screens walked to: " << screenName(coordinator.currentScreen()) << " in "
        << QString::number(static_cast<double>(wall.elapsed()) / 1000.0, 'f', 1) << " s\n";
    out << "installation successful: " << (model.isInstallationSuccessful() ? "yes" : "no") << '\n';
    const auto figure = [](double milliseconds) { return QString::number(milliseconds, 'f', 1); };
    out << "ticks: " << meter.lateness.size() << ", lateness p50 "
        << figure(StallMeter::percentile(meter.lateness, 0.5)) << " ms, p99 "
        << figure(StallMeter::percentile(meter.lateness, 0.99)) << " ms\n";
    const double ownWorst = *std::max_element(meter.ownLateness.cbegin(), meter.ownLateness.cend());
    out << "longest stall of this program's own (time waiting for a CPU taken out): " << figure(ownWorst) << " ms, p99 "
        << figure(StallMeter::percentile(meter.ownLateness, 0.99)) << " ms, goal <= " << goalMs
        << " ms: " << (ownWorst <= goalMs ? "met" : "missed") << '\n';
    out << "longest main-thread stall: " << figure(meter.worst) << " ms (on " << meter.worstScreen << ")\n";
    QFile promptTimes(promptTimesFile(folder));
    const QList<QByteArray> times =
            promptTimes.open(QIODevice::ReadOnly) ? promptTimes.readAll().split('\n') : QList<QByteArray>();
    if (times.size() >= 2) {
        const qint64 opened = times[0].toLongLong();
        const qint64 closed = times[1].toLongLong();
        const auto [longest, ticks] = meter.worstBetween(meter.lateness, opened, closed);
        const double ownLongest = meter.worstBetween(meter.ownLateness, opened, closed).first;
        out << "while the password prompt was open (" << ticks << " ticks): longest stall " << figure(longest)
            << " ms, of its own " << figure(ownLongest) << " ms\n";
    }
    for (const QString& stall : meter.stalls) {
        out << "  stall " << stall << '\n';
    }
    if (status != 0) {
        out << "the flow did not reach the result screen in time\n";
        return 1;
    }
    return 0;
}
