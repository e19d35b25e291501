// Reading a song file into the current song, with the sequencer clock stopped while it is replaced.
#pragma once

#include <cstdint>
#include <cstdio>
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

// Replaces `song` with one already read, as loadSongFile does with a file it loaded.
void installSong(Song& song, Song&& fresh, const SongClock& clock);

// readSong over an open file, which may be a pipe: read once, from where it stands.
SongRead readSongFrom(std::FILE* file, bool stopWithoutMagic);

} // namespace rkv
