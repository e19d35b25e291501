// The step sequencer: one step of all four tracks per clock tick.
#pragma once

#include "sequencer/player.hpp"

namespace rkv {

// Plays the next step when playing: advances the position (wrapping at the loop end or the song
// end to the loop start), then for each track applies its pan code and restarts its notes.
void sequencerTick(Player& player);

} // namespace rkv
