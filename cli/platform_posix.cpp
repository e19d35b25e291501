#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/platform.hpp"

namespace rkv::cli::platform {

namespace {

constexpr int TERMINATING[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int EXIT_SIGNAL_BASE = 128;

volatile std::sig_atomic_t deferredMode = 0;
volatile std::sig_atomic_t caught = 0;
// The one named unfinished file a signal must remove; written with the signals blocked.
char unfinished[PATH_MAX + 1] = {};

void onTerminate(int signal) {
    if (deferredMode) {
        caught = signal;
        return;
    }
    if (unfinished[0]) ::unlink(unfinished);
    ::_exit(EXIT_SIGNAL_BASE + signal);
}

// Runs `change` with the terminating signals held back, so the handler never sees it half done.
template <typename F> void withSignalsBlocked(F change) {
    sigset_t block;
    sigset_t old;
    sigemptyset(&block);
    for (int s : TERMINATING)
        sigaddset(&block, s);
    sigprocmask(SIG_BLOCK, &block, &old);
    change();
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

void setUnfinished(const std::string& path) {
    withSignalsBlocked([&] {
        const std::size_t n = path.size() < PATH_MAX ? path.size() : 0;
        std::memcpy(unfinished, path.data(), n);
        unfinished[n] = '\0';
    });
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A fresh name beside the target, short so that it fits wherever the target's name does.
bool makeTempName(const std::string& target, std::string& name, std::string& error) {
    name = directoryOf(target) + "/.rkv-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return error = std::strerror(errno), false;
    ::close(fd);
    return true;
}

} // namespace

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = &onTerminate;
    sigemptyset(&action.sa_mask);
    for (int s : TERMINATING)
        sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void deferSignals(bool deferred) {
    deferredMode = deferred ? 1 : 0;
}

int caughtSignal() {
    return caught;
}

bool openPending(const std::string& path, PendingFile& file, std::string& error) {
    file = PendingFile{};
    // Writing to a symlink writes to the file it names, as any editor or shell redirection does.
    file.target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            file.target = real;
            std::free(real);
        }
    }
    if (::stat(file.target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return error = std::strerror(EISDIR), false;
        // A device or a FIFO would be replaced by a regular file, not written to.
        if (!S_ISREG(st.st_mode))
            return error = "not a regular file (use -o - for a pipe or a device)", false;
    }
#ifdef O_TMPFILE
    // An unnamed file: whatever ends the process, nothing partial is ever left behind.
    file.fd = ::open(directoryOf(file.target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (file.fd >= 0) return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return error = std::strerror(errno), false;
#endif
    // A hidden named file, removed by the signal handler or discardPending when unfinished.
    if (!makeTempName(file.target, file.tempPath, error)) return false;
    setUnfinished(file.tempPath);
    file.fd = ::open(file.tempPath.c_str(), O_RDWR | O_CLOEXEC);
    if (file.fd < 0) {
        error = std::strerror(errno);
        discardPending(file);
        return false;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(file.fd, 0666 & ~mask);
    return true;
}

bool commitPending(PendingFile& file, std::string& error) {
    const int fd = file.fd;
    if (file.tempPath.empty()) {
        // Linked under its name if it is free, else under a temporary name renamed over it.
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file.target.c_str(), AT_SYMLINK_FOLLOW) ==
            0) {
            file.fd = -1;
            return ::close(fd) == 0 || (error = std::strerror(errno), false);
        }
        if (errno != EEXIST) return error = std::strerror(errno), false;
        std::string temp;
        if (!makeTempName(file.target, temp, error)) return false;
        setUnfinished(temp);
        ::unlink(temp.c_str());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            error = std::strerror(errno);
            setUnfinished("");
            return false;
        }
        file.tempPath = temp;
    }
    if (::close(fd) != 0) {
        file.fd = -1;
        error = std::strerror(errno);
        discardPending(file);
        return false;
    }
    file.fd = -1;
    if (std::rename(file.tempPath.c_str(), file.target.c_str()) != 0) {
        error = std::strerror(errno);
        discardPending(file);
        return false;
    }
    file.tempPath.clear();
    setUnfinished("");
    return true;
}

void discardPending(PendingFile& file) {
    if (file.fd >= 0) ::close(file.fd);
    file.fd = -1;
    if (!file.tempPath.empty()) ::unlink(file.tempPath.c_str());
    file.tempPath.clear();
    setUnfinished("");
}

} // namespace rkv::cli::platform
