// Transport commands: every user action on playback goes through transportCommand.
#pragma once

#include <cstdint>

#include "sequencer/player.hpp"
#include "song/song_file.hpp"

namespace rkv {

enum TransportCommand : std::int32_t {
    TRANSPORT_REWIND = 0,
    TRANSPORT_PLAY = 1,
    TRANSPORT_STOP = 3,
    TRANSPORT_LOAD = 4,
};

// Only the low 8 bits of `code` count, read as a signed byte. `path` is used by TRANSPORT_LOAD
// only; `outcome`, when given, receives what the load made of the file. Always returns 1.
int transportCommand(Player& player, std::int32_t code, const char* path = nullptr,
                     LoadOutcome* outcome = nullptr);

// TRANSPORT_LOAD of a song already read and accepted (from memory, or from a stream read once).
void transportLoadSong(Player& player, Song&& song);

} // namespace rkv
