// The sequencer clock: a periodic tick every step time, kept in frames by the mixer.
#pragma once

#include <cstdint>

#include "sequencer/player.hpp"
#include "song/song_file.hpp"

namespace rkv {

// Starts (or restarts) the periodic tick at `delay` ms from the current frame. Always 1.
int startClock(Player& player, std::uint32_t delay);
// Stops the tick; when it returns no tick is running and none will start. Returns 1.
int stopClock(Player& player);
// The timer callback: runs one sequencer tick. `context` is the Player.
void clockCallback(void* context);

// The clock as the song loader sees it.
SongClock songClockOf(Player& player);

} // namespace rkv
