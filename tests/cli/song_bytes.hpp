// Builds song files byte by byte for the tests, with any header values, odd ones included.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/common/song_writer.hpp"

namespace rkvtest {

struct SongFields {
    std::uint32_t stepTime = 20;
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 8;
    std::int32_t stepCount = 8;
    std::uint32_t noteLength[3] = {2000, 2000, 2000};
    std::int32_t volume[3] = {250, 250, 250};
    std::uint8_t octave[3] = {2, 3, 1};
    std::int32_t drumVolume = 250;
    std::vector<std::uint32_t> tracks[4]; // shorter tracks read as zero
};

using rkv::test::putU32;
using rkv::test::readFile;
using rkv::test::writeFile;

inline std::vector<std::uint8_t> songBytes(const SongFields& s) {
    rkv::test::SongSpec spec;
    spec.stepTime = s.stepTime;
    spec.loopStart = s.loopStart;
    spec.loopEnd = s.loopEnd;
    spec.stepCount = s.stepCount;
    spec.drumVolume = s.drumVolume;
    for (int k = 0; k < 3; ++k) {
        auto& in = spec.instruments[k];
        in.octave = s.octave[k];
        in.noteLength = s.noteLength[k];
        in.volume = s.volume[k];
        for (int i = 0; i < 256; ++i) // a triangle, loud enough to hear in the mix
            in.wave[i] = static_cast<std::int8_t>(i < 128 ? i - 64 : 191 - i);
        for (auto& e : in.envelope)
            e = 100;
    }
    for (int t = 0; t < 4; ++t)
        spec.tracks[t] = s.tracks[t];
    return rkv::test::songBytes(spec);
}

} // namespace rkvtest
