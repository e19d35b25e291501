// The Windows side of the platform layer: Ctrl-C and Ctrl-Break arrive as signals through the C
// runtime. Output files are written under a name of their own beside the target and renamed over
// it once complete (the WAV-only writer, cli/wav_only_writer.cpp, does this by itself).
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#include <sys/stat.h>

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

bool openPending(const std::string& path, PendingFile& file, std::string& error) {
    file = PendingFile{};
    file.target = path;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return error = std::strerror(EISDIR), false;
    file.tempPath = path + ".part";
    file.fd = ::_open(file.tempPath.c_str(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY,
                      _S_IREAD | _S_IWRITE);
    if (file.fd >= 0) return true;
    error = std::strerror(errno);
    file.tempPath.clear();
    return false;
}

bool commitPending(PendingFile& file, std::string& error) {
    const bool closed = ::_close(file.fd) == 0;
    file.fd = -1;
    if (!closed) error = std::strerror(errno);
    // std::rename does not replace an existing file here; this does.
    std::error_code ec;
    if (closed) std::filesystem::rename(file.tempPath, file.target, ec);
    if (ec) error = ec.message();
    if (!closed || ec) {
        discardPending(file);
        return false;
    }
    file.tempPath.clear();
    return true;
}

void discardPending(PendingFile& file) {
    if (file.fd >= 0) ::_close(file.fd);
    file.fd = -1;
    if (!file.tempPath.empty()) std::remove(file.tempPath.c_str());
    file.tempPath.clear();
}

} // namespace rkv::cli::platform
