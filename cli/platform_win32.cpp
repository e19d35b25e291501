// The Windows side of the platform layer. Ctrl-C, Ctrl-Break and a closing console arrive on a
// thread of their own through the console's control handler. Output files are written under a
// name of their own beside the target and renamed over it once complete; the control handler
// removes an unfinished one before the process ends.
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#include <mutex>

#include "cli/platform.hpp"

namespace rkv::cli::platform {

namespace {

constexpr int EXIT_SIGNAL_BASE = 128;

volatile std::sig_atomic_t deferredMode = 0;
volatile std::sig_atomic_t caught = 0;
// The unfinished file and its handle, and the lock that keeps the handler from seeing them half
// changed.
std::mutex unfinishedLock;
std::string unfinished;
HANDLE unfinishedHandle = INVALID_HANDLE_VALUE;

[[noreturn]] void terminate(int signal) {
    // Held until the process ends, so no file is renamed or opened meanwhile. The file is closed
    // here rather than by the exit: Windows removes a file only once no handle holds it, and
    // the exit closes handles after the process is seen to end.
    unfinishedLock.lock();
    if (unfinishedHandle != INVALID_HANDLE_VALUE) CloseHandle(unfinishedHandle);
    if (!unfinished.empty()) DeleteFileA(unfinished.c_str());
    std::_Exit(EXIT_SIGNAL_BASE + signal);
}

void onSignal(int signal) {
    if (deferredMode) {
        caught = signal;
        std::signal(signal, &onSignal); // the C runtime resets the handler on delivery
        return;
    }
    terminate(signal);
}

BOOL WINAPI onConsoleControl(DWORD event) {
    int signal = 0;
    if (event == CTRL_C_EVENT) signal = SIGINT;
    if (event == CTRL_BREAK_EVENT) signal = SIGBREAK;
    if (event == CTRL_CLOSE_EVENT) signal = SIGTERM;
    if (signal == 0) return FALSE;
    if (!deferredMode) terminate(signal);
    caught = signal;
    return TRUE;
}

// The C library's wording for the common failures, as the other systems report them.
int errnoOf(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

} // namespace

void installSignalHandlers() {
    SetConsoleCtrlHandler(&onConsoleControl, TRUE);
    std::signal(SIGTERM, &onSignal);
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
    const std::lock_guard<std::mutex> guard(unfinishedLock); // created and noted as one step
    const HANDLE handle =
        CreateFileA(file.tempPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = std::strerror(errnoOf(GetLastError()));
        file.tempPath.clear();
        return false;
    }
    file.fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (file.fd < 0) {
        error = std::strerror(errno);
        CloseHandle(handle);
        DeleteFileA(file.tempPath.c_str());
        file.tempPath.clear();
        return false;
    }
    unfinished = file.tempPath;
    unfinishedHandle = handle;
    return true;
}

bool commitPending(PendingFile& file, std::string& error) {
    const std::lock_guard<std::mutex> guard(unfinishedLock);
    const bool closed = ::_close(file.fd) == 0;
    file.fd = -1;
    unfinishedHandle = INVALID_HANDLE_VALUE;
    if (!closed) error = std::strerror(errno);
    // std::rename does not replace an existing file here; this does.
    std::error_code ec;
    if (closed) std::filesystem::rename(file.tempPath, file.target, ec);
    if (ec) error = ec.message();
    if (!closed || ec) {
        std::remove(file.tempPath.c_str());
        file.tempPath.clear();
        unfinished.clear();
        return false;
    }
    file.tempPath.clear();
    unfinished.clear();
    return true;
}

void discardPending(PendingFile& file) {
    const std::lock_guard<std::mutex> guard(unfinishedLock);
    if (file.fd >= 0) ::_close(file.fd);
    file.fd = -1;
    unfinishedHandle = INVALID_HANDLE_VALUE;
    if (!file.tempPath.empty()) std::remove(file.tempPath.c_str());
    file.tempPath.clear();
    unfinished.clear();
}

} // namespace rkv::cli::platform
