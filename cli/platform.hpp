// What rkv needs from the operating system beyond standard C++: ending cleanly on a terminating
// signal, and output files that carry their name only once complete. platform_posix.cpp holds the
// POSIX version; another system gets its own file beside it.
#pragma once

#include <string>

namespace rkv::cli::platform {

// Catches interrupt, terminate, hang-up and quit: by default a caught signal N removes the
// unfinished file (if any) and exits with 128 + N at once. A file-size limit and a closed pipe
// become ordinary write errors instead of killing the process.
void installSignalHandlers();
// While deferred, a terminating signal is only recorded, for a caller that ends by itself.
void deferSignals(bool deferred);
int caughtSignal(); // the signal number, 0 while none came

// An output file being written. `fd` is open for reading and writing.
struct PendingFile {
    int fd = -1;
    std::string target;   // where it goes: a symlink's destination, not the link itself
    std::string tempPath; // its temporary name, when the system cannot keep it unnamed
};
// Creates the pending file for `path`. False, with the reason, when it cannot.
bool openPending(const std::string& path, PendingFile& file, std::string& error);
// Closes the file and puts it under its name, replacing what was there. False, with the reason.
bool commitPending(PendingFile& file, std::string& error);
// Closes and forgets an unfinished file: nothing of it stays on disk.
void discardPending(PendingFile& file);

} // namespace rkv::cli::platform
