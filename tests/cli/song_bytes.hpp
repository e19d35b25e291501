// Builds song files byte by byte for the tests, with any header values, odd ones included.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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

inline void putU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = (v >> (8 * i)) & 0xFF;
}

inline std::vector<std::uint8_t> songBytes(const SongFields& s) {
    std::vector<std::uint8_t> b(1048, 0);
    b[0] = 'R';
    b[1] = 'K';
    b[2] = 'V';
    putU32(b, 8, s.stepTime);
    putU32(b, 12, static_cast<std::uint32_t>(s.loopStart));
    putU32(b, 16, static_cast<std::uint32_t>(s.loopEnd));
    putU32(b, 20, static_cast<std::uint32_t>(s.stepCount));
    for (int k = 0; k < 3; ++k) {
        const std::size_t base = 24 + 340 * static_cast<std::size_t>(k);
        b[base] = s.octave[k];
        putU32(b, base + 4, s.noteLength[k]);
        putU32(b, base + 8, static_cast<std::uint32_t>(s.volume[k]));
        for (std::size_t i = 0; i < 256; ++i) // a triangle, loud enough to hear in the mix
            b[base + 20 + i] = static_cast<std::uint8_t>(static_cast<std::int8_t>(
                i < 128 ? static_cast<int>(i) - 64 : 191 - static_cast<int>(i)));
        for (std::size_t i = 0; i < 64; ++i)
            b[base + 276 + i] = 100;
    }
    putU32(b, 1044, static_cast<std::uint32_t>(s.drumVolume));
    const std::size_t count = s.stepCount > 0 ? static_cast<std::size_t>(s.stepCount) : 0;
    for (const auto& track : s.tracks)
        for (std::size_t i = 0; i < count; ++i) {
            b.resize(b.size() + 4);
            putU32(b, b.size() - 4, i < track.size() ? track[i] : 0);
        }
    return b;
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline std::vector<std::uint8_t> readFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    std::uint8_t buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

} // namespace rkvtest
