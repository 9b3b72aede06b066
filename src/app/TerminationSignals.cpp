#include "app/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tarn {

namespace {

constexpr std::array handledSignals{SIGINT, SIGTERM, SIGHUP};

// The handler may only do async-signal-safe work: it writes the signal's number to a socket that the
// event loop watches.
int signalSockets[2] = {-1, -1};
struct sigaction previousActions[handledSignals.size()];

void writeSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &number, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals() {
    if (signalSockets[0] != -1) {
        throw std::logic_error("TerminationSignals: one at a time");
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSockets) != 0) {
        throw std::runtime_error("TerminationSignals: socketpair failed");
    }
    notifier = std::make_unique<QSocketNotifier>(signalSockets[1], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::readSignal);

    struct sigaction action = {};
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (size_t i = 0; i < handledSignals.size(); ++i) {
        ::sigaction(handledSignals[i], &action, &previousActions[i]);
    }
}

TerminationSignals::~TerminationSignals() {
    for (size_t i = 0; i < handledSignals.size(); ++i) {
        ::sigaction(handledSignals[i], &previousActions[i], nullptr);
    }
    notifier.reset();
    ::close(signalSockets[0]);
    ::close(signalSockets[1]);
    signalSockets[0] = signalSockets[1] = -1;
}

void TerminationSignals::readSignal() {
    unsigned char number = 0;
    while (::read(signalSockets[1], &number, 1) == 1) {
        if (signalNumber == 0) {
            signalNumber = number;
        }
    }
    if (signalNumber != 0) {
        QCoreApplication::exit(128 + signalNumber);
    }
}

} // namespace tarn
