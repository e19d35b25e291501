#include "sequencer/transport.hpp"

#include "sequencer/clock.hpp"
#include "sound/synthesizer.hpp"

namespace rkv {

namespace {

void afterLoad(Player& player) {
    prepareSongVoices(player.bank, player.song);
    player.state.position.store(-1);
}

} // namespace

void transportLoadSong(Player& player, Song&& song) {
    installSong(player.song, std::move(song), songClockOf(player));
    afterLoad(player);
}

int transportCommand(Player& player, std::int32_t code, const char* path, LoadOutcome* outcome) {
    PlayState& state = player.state;
    switch (static_cast<std::int8_t>(code & 0xFF)) {
    case TRANSPORT_REWIND:
        state.position.store(-1);
        break;
    case TRANSPORT_PLAY:
        if (player.song.loaded) {
            state.playing.store(1);
            wakeSoundDevice(player.bank);
        }
        break;
    case TRANSPORT_STOP:
        state.playing.store(0);
        break;
    case TRANSPORT_LOAD: {
        LoadOutcome local;
        LoadOutcome& out = outcome ? *outcome : local;
        if (!path) {
            out.status = LoadStatus::CannotOpen;
            out.reason = "no file given";
            break;
        }
        loadSongFile(player.song, path, songClockOf(player), &out);
        // A refused file changes nothing at all; a file that cannot be opened keeps the old
        // song, which is rendered again and rewound like a new one.
        if (out.status == LoadStatus::Refused) break;
        afterLoad(player);
        break;
    }
    default:
        break;
    }
    return 1;
}

} // namespace rkv
