#include "uSignalBridge.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int Pipe[2] = {-1, -1};

void OnSignal(int Signal) {
    const unsigned char Byte = static_cast<unsigned char>(Signal);
    [[maybe_unused]] ssize_t Written = ::write(Pipe[0], &Byte, 1);
}
} // namespace

TSignalBridge::TSignalBridge(QObject* Parent) : QObject(Parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, Pipe) != 0)
        return;
    FNotifier = new QSocketNotifier(Pipe[1], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        unsigned char Byte = 0;
        while (::read(Pipe[1], &Byte, 1) == 1)
            Q_EMIT Received(Byte);
    });
    struct sigaction Action {};
    Action.sa_handler = OnSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    for (int Signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(Signal, &Action, nullptr);
}

TSignalBridge::~TSignalBridge() {
    struct sigaction Action {};
    Action.sa_handler = SIG_DFL;
    for (int Signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(Signal, &Action, nullptr);
}
