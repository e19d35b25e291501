// A song made ready for the sound device: a fresh player started the way `rkv render` starts
// one, how long it plays, and for a seek the same song rendered forward to a step, so that what
// the device gets from there is what `rkv render` writes from that frame on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli/session.hpp"
#include "cli/song_timing.hpp"

namespace rkv::cli {

struct PlayTrack {
    std::string name;
    OfflineDevice device; // frames are pulled by whichever output the bank is attached to
    std::unique_ptr<Player> player;
    std::unique_ptr<TickLimit> limit; // after the player: it goes first
    SongTiming timing;
    std::optional<std::uint64_t> loops; // forever when empty
    std::uint64_t ticks = TickLimit::UNLIMITED;
    std::optional<std::uint64_t> endFrame; // where playing ends, ring-out included

    // The tick whose step sounds at `frame`: the last one due at or before it.
    std::uint64_t tickAt(std::uint64_t frame) const;
};

// Loads the song into a fresh player and starts it on its frame 0. Throws CliError (refused).
std::unique_ptr<PlayTrack> prepareTrack(SongFile&& song, std::optional<std::uint64_t> loops);

// The same song from the frame of tick `tick` (kept within the ticks it plays): a fresh player
// rendered forward to there. The render runs far faster than real time.
std::unique_ptr<PlayTrack> seekTrack(const PlayTrack& track, std::uint64_t tick);

} // namespace rkv::cli
