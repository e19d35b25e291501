// One player: the current song, the voice bank, the play state and the resources it draws on.
#pragma once

#include "song/song.hpp"
#include "sound/play_state.hpp"
#include "sound/resources.hpp"
#include "sound/voice_bank.hpp"

namespace rkv {

struct Player {
    Song song;
    VoiceBank bank;
    PlayState state;
    ResourceTable resources; // where the drum kit finds its sounds
};

} // namespace rkv

namespace rkv {

// Plays, with step 0 sounding on the next frame mixed. Offline renders and `rkv play` start this
// way right after a load, so both produce the same frames from frame 0 on.
void playFromNextFrame(Player& player);

} // namespace rkv
