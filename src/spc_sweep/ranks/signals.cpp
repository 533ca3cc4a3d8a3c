#include "signals.h"

#include <atomic>
#include <csignal>
#include <initializer_list>

namespace {

std::atomic<int> arrived{0};

extern "C" void noteSignal(int signal) { arrived.store(signal); }

}  // namespace

void catchInterruptions() {
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGUSR1}) sigaction(signal, &action, nullptr);
}

int interruption() { return arrived.load(); }

void pretendInterruption(int signal) { arrived.store(signal); }

const char* signalName(int signal) {
    switch (signal) {
        case SIGTERM: return "SIGTERM";
        case SIGINT: return "SIGINT";
        case SIGUSR1: return "SIGUSR1";
        default: return "a signal";
    }
}
