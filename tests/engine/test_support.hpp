// Helpers for engine tests: a player on a device that is always there, and mixing.
#pragma once

#include <cstdint>
#include <vector>

#include "sequencer/player.hpp"
#include "song/song.hpp"
#include "sound/voice_bank.hpp"
#include "tests/common/offline_device.hpp"
#include "tests/common/song_writer.hpp"

namespace rkv::test {

// A player whose device never pulls frames: the test mixes itself.
struct OfflinePlayer : Player {
    OfflineDevice device;
    OfflinePlayer() { initSoundDevice(bank, &device); }
};

inline std::vector<float> mix(VoiceBank& bank, std::size_t frames) {
    std::vector<float> out(2 * frames);
    mixFrames(bank, out.data(), frames);
    return out;
}

} // namespace rkv::test
