// Song files with any header values, odd ones included, on audible defaults; and a player started
// by hand with the engine's own operations, independent of the tool's setup.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "cli/session.hpp"
#include "resources/builtin_resources.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "tests/common/song_writer.hpp"

namespace rkvtest {

using rkv::test::readFile;
using rkv::test::songBytes;
using rkv::test::writeFile;

// Eight 20 ms steps looping over the whole song; each instrument a triangle, loud enough to hear
// in the mix, with notes of 2000 samples.
inline rkv::test::SongSpec audibleSong() {
    rkv::test::SongSpec s;
    s.stepTime = 20;
    s.loopEnd = s.stepCount = 8;
    s.drumVolume = 250;
    const std::uint8_t octaves[3] = {2, 3, 1};
    for (int k = 0; k < 3; ++k) {
        auto& in = s.instruments[k];
        in.octave = octaves[k];
        in.noteLength = 2000;
        in.volume = 250;
        for (int i = 0; i < 256; ++i)
            in.wave[i] = static_cast<std::int8_t>(i < 128 ? i - 64 : 191 - i);
        for (auto& e : in.envelope)
            e = 100;
    }
    return s;
}

inline std::unique_ptr<rkv::Player> loadedPlayer(const std::string& path) {
    auto player = std::make_unique<rkv::Player>();
    // The bank keeps a pointer to its device (play wakes it), so the device must outlive the call.
    static rkv::cli::OfflineDevice device;
    rkv::initSoundDevice(player->bank, &device);
    player->resources = rkv::builtinResources();
    rkv::loadDrumKit(player->bank, player->state, player->resources);
    rkv::LoadOutcome outcome;
    rkv::transportCommand(*player, rkv::TRANSPORT_LOAD, path.c_str(), &outcome);
    EXPECT_EQ(outcome.status, rkv::LoadStatus::Loaded) << outcome.reason;
    return player;
}

} // namespace rkvtest
