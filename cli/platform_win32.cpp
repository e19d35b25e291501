// The Windows side of the platform layer: Ctrl-C and Ctrl-Break arrive as signals through the C
// runtime. Output files are replaced by the WAV writer itself (cli/wav_only_writer.cpp).
#include <csignal>
#include <cstdlib>

#include "cli/platform.hpp"

namespace rkv::cli::platform {

namespace {

constexpr int EXIT_SIGNAL_BASE = 128;

volatile std::sig_atomic_t deferredMode = 0;
volatile std::sig_atomic_t caught = 0;

void onTerminate(int signal) {
    if (deferredMode) {
        caught = signal;
        std::signal(signal, &onTerminate); // the C runtime resets the handler on delivery
        return;
    }
    std::_Exit(EXIT_SIGNAL_BASE + signal);
}

} // namespace

void installSignalHandlers() {
    for (int s : {SIGINT, SIGBREAK, SIGTERM})
        std::signal(s, &onTerminate);
}

void deferSignals(bool deferred) {
    deferredMode = deferred ? 1 : 0;
}

int caughtSignal() {
    return caught;
}

} // namespace rkv::cli::platform
