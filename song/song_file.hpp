// Reading a song file into the current song, with the sequencer clock stopped while it is replaced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "song/song.hpp"

namespace rkv {

// The clock the loader stops before it replaces the tracks and starts after they are complete.
// Passed in so that the song layer does not depend on the sequencer.
struct SongClock {
    void (*stop)(void* context) = nullptr;
    void (*start)(void* context, std::uint32_t stepTime) = nullptr;
    void* context = nullptr;
};

enum class LoadStatus { Loaded, CannotOpen, Refused };

struct LoadOutcome {
    LoadStatus status = LoadStatus::CannotOpen;
    std::string reason; // human-readable, for messages; empty when loaded
};

// Replaces `song` with the file at `path` and restarts the clock at its step time. Returns 1 when
// loaded. A file that cannot be opened stops the clock and keeps the old song (returns 0). A
// refused file (unreadable, or with values the player cannot play) changes nothing: song and clock
// stay exactly as they were (returns 0). `outcome`, when given, says which case happened and why.
int loadSongFile(Song& song, const char* path, const SongClock& clock,
                 LoadOutcome* outcome = nullptr);

// Reads a song file's bytes: the header and no more track bytes than its step count claims, and at
// most `limit` bytes in all. False, with the system's reason, when it cannot be opened or read.
// Shared by the loader and the tools that inspect song files.
bool readFileBytes(const char* path, std::uint64_t limit, std::vector<std::uint8_t>& bytes,
                   std::string& reason, bool& openFailed);

} // namespace rkv
