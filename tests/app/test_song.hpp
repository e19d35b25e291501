// Song files for the player's tests, written byte by byte in the file layout.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace rkvtest {

struct Instrument {
    std::uint8_t octave = 1;
    std::uint32_t noteLength = 4000;
    std::int32_t volume = 300;
    std::int8_t wave[256] = {};
    std::int8_t envelope[64] = {};
};

struct SongPlan {
    std::uint32_t stepTime = 120;
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 0;
    std::int32_t stepCount = 16;
    Instrument instruments[3];
    std::int32_t drumVolume = 300;
    std::vector<std::uint32_t> tracks[4]; // padded with zeros to stepCount
};

inline void putU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::vector<std::uint8_t> songBytes(const SongPlan& s) {
    std::vector<std::uint8_t> b(1048, 0);
    b[0] = 'R';
    b[1] = 'K';
    b[2] = 'V';
    putU32(b, 8, s.stepTime);
    putU32(b, 12, static_cast<std::uint32_t>(s.loopStart));
    putU32(b, 16, static_cast<std::uint32_t>(s.loopEnd));
    putU32(b, 20, static_cast<std::uint32_t>(s.stepCount));
    for (std::size_t k = 0; k < 3; ++k) {
        const std::size_t base = 24 + 340 * k;
        const Instrument& in = s.instruments[k];
        b[base] = in.octave;
        putU32(b, base + 4, in.noteLength);
        putU32(b, base + 8, static_cast<std::uint32_t>(in.volume));
        std::memcpy(&b[base + 20], in.wave, sizeof in.wave);
        std::memcpy(&b[base + 276], in.envelope, sizeof in.envelope);
    }
    putU32(b, 1044, static_cast<std::uint32_t>(s.drumVolume));
    for (const auto& track : s.tracks)
        for (std::size_t i = 0; i < static_cast<std::size_t>(s.stepCount); ++i)
            putU32(b, b.size(), i < track.size() ? track[i] : 0);
    return b;
}

// A short loop on all four tracks with pan changes, loud from its first frame: the first step
// starts a square wave at full envelope, so the first sounding frame marks step 0.
inline SongPlan busySong(std::uint32_t stepTime = 120) {
    SongPlan s;
    s.stepTime = stepTime;
    s.stepCount = 16;
    s.loopStart = 4;
    s.loopEnd = 16;
    for (int k = 0; k < 3; ++k) {
        Instrument& in = s.instruments[k];
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

inline bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace rkvtest
