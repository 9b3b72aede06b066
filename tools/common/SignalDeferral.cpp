#include "common/SignalDeferral.h"

#include <QByteArray>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

constexpr std::array deferredSignals{SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t firstSignal = 0;
bool deferring = false;
struct sigaction previousActions[deferredSignals.size()];

void recordSignal(int signalNumber) {
    if (firstSignal == 0) {
        firstSignal = signalNumber;
    }
}

QString signalName(int signalNumber) {
    switch (signalNumber) {
    case SIGINT:
        return u"SIGINT"_s;
    case SIGTERM:
        return u"SIGTERM"_s;
    case SIGHUP:
        return u"SIGHUP"_s;
    default:
        return u"signal %1"_s.arg(signalNumber);
    }
}

// Writes or reads the whole FIFO, retrying when a deferred signal interrupts the call.
void writeAll(int descriptor, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(descriptor, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        done += written;
    }
}

int openRetrying(const QByteArray& path, int flags) {
    int descriptor = -1;
    do {
        descriptor = ::open(path.constData(), flags | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

} // namespace

Interrupted::Interrupted(int signalNumber)
    : ToolError(u"interrupted by %1; nothing was changed"_s.arg(signalName(signalNumber))), number(signalNumber) {}

SignalDeferral::SignalDeferral() {
    if (deferring) {
        throw ToolError(u"SignalDeferral: one at a time"_s);
    }
    deferring = true;
    firstSignal = 0;
    struct sigaction action = {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // Blocking calls go on where they were: the tool decides where it stops.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < deferredSignals.size(); ++i) {
        ::sigaction(deferredSignals[i], &action, &previousActions[i]);
    }
}

SignalDeferral::~SignalDeferral() {
    for (size_t i = 0; i < deferredSignals.size(); ++i) {
        ::sigaction(deferredSignals[i], &previousActions[i], nullptr);
    }
    deferring = false;
}

int SignalDeferral::received() {
    return firstSignal;
}

void SignalDeferral::checkpoint(const char* point) {
    waitAtGate(point);
    if (firstSignal != 0) {
        throw Interrupted(firstSignal);
    }
}

void SignalDeferral::passing(const char* point) {
    waitAtGate(point);
}

void waitAtGate(const char* point) {
    const QByteArray gate = qgetenv("TARN_TOOL_GATE");
    const qsizetype colon = gate.indexOf(':');
    if (colon <= 0 || gate.left(colon) != point) {
        return;
    }
    const QByteArray fifo = gate.mid(colon + 1);
    if (const int out = openRetrying(fifo, O_WRONLY); out >= 0) {
        writeAll(out, QByteArray(point) + '\n');
        ::close(out);
    }
    if (const int in = openRetrying(fifo, O_RDONLY); in >= 0) {
        char buffer[64];
        for (;;) {
            const ssize_t count = ::read(in, buffer, sizeof buffer);
            if (count == 0 || (count < 0 && errno != EINTR)) {
                break;
            }
        }
        ::close(in);
    }
}

} // namespace tarn::tool
