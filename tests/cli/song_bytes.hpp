// Song files for the rkv tests: any header values, odd ones included, on audible defaults.
#pragma once

#include <cstdint>

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

} // namespace rkvtest
