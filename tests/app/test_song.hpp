// The song the player's tests and the end-to-end scripts play, written byte by byte in the file
// layout.
#pragma once

#include <cstdint>

#include "tests/common/song_writer.hpp"

namespace rkvtest {

using rkv::test::songBytes;
using rkv::test::SongSpec;
using rkv::test::writeFile;

// A short loop on all four tracks with pan changes, loud from its first frame: the first step
// starts a square wave at full envelope, so the first sounding frame marks step 0.
inline SongSpec busySong(std::uint32_t stepTime = 120) {
    SongSpec s;
    s.stepTime = stepTime;
    s.stepCount = 16;
    s.loopStart = 4;
    s.loopEnd = 16;
    for (int k = 0; k < 3; ++k) {
        auto& in = s.instruments[k];
        in.octave = static_cast<std::uint8_t>(k + 1);
        in.noteLength = 3000 + 1000 * static_cast<std::uint32_t>(k);
        in.volume = 300 - 20 * k;
        for (int i = 0; i < 256; ++i) {
            const int square = i < 128 ? 100 : -100;
            const int saw = i - 128;
            in.wave[i] = static_cast<std::int8_t>(k == 0 ? square : k == 1 ? saw / 2 : saw / 3);
        }
        for (int i = 0; i < 64; ++i)
            in.envelope[i] = static_cast<std::int8_t>(127 - 2 * i);
    }
    for (std::uint32_t step = 0; step < 16; ++step) {
        const std::uint32_t pan = (step % 7 + 1) << 24;
        s.tracks[0].push_back((1u << (step % 12)) | (step % 4 == 0 ? pan : 0));
        s.tracks[1].push_back(step % 2 == 0 ? (1u << (12 + step % 12)) : 0);
        s.tracks[2].push_back(step % 3 == 0 ? (1u << (step % 24)) | (4u << 24) : 0);
        s.tracks[3].push_back(step % 4 == 0 ? 0x1u : step % 2 == 0 ? 0x104u : 0x10u);
    }
    return s;
}

} // namespace rkvtest
