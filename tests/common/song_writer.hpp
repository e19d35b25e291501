// Song and drum files for tests, written byte by byte in their layouts, with any values, odd
// ones too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace rkv::test {

inline void putU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct InstrumentSpec {
    std::uint8_t octave = 0;
    std::uint32_t noteLength = 64;
    std::int32_t volume = 300;
    std::int8_t wave[256] = {};
    std::int8_t envelope[64] = {};
};

struct SongSpec {
    std::uint32_t stepTime = 100;
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 0;
    std::int32_t stepCount = 0;
    InstrumentSpec instruments[3];
    std::int32_t drumVolume = 300;
    std::vector<std::uint32_t> tracks[4]; // each padded with zeros to stepCount
};

inline std::vector<std::uint8_t> songBytes(const SongSpec& s) {
    std::vector<std::uint8_t> b(1048, 0); // the header
    b[0] = 'R', b[1] = 'K', b[2] = 'V';
    putU32(b, 8, s.stepTime);
    putU32(b, 12, static_cast<std::uint32_t>(s.loopStart));
    putU32(b, 16, static_cast<std::uint32_t>(s.loopEnd));
    putU32(b, 20, static_cast<std::uint32_t>(s.stepCount));
    for (std::size_t k = 0; k < 3; ++k) {
        const std::size_t base = 24 + 340 * k;
        const InstrumentSpec& in = s.instruments[k];
        b[base] = in.octave;
        putU32(b, base + 4, in.noteLength);
        putU32(b, base + 8, static_cast<std::uint32_t>(in.volume));
        std::memcpy(&b[base + 20], in.wave, 256);
        std::memcpy(&b[base + 276], in.envelope, 64);
    }
    putU32(b, 1044, static_cast<std::uint32_t>(s.drumVolume));
    for (const auto& track : s.tracks)
        for (std::int32_t i = 0; i < s.stepCount; ++i)
            putU32(b, b.size(),
                   static_cast<std::size_t>(i) < track.size() ? track[static_cast<std::size_t>(i)]
                                                              : 0);
    return b;
}

// One drum sound in the fixed wave layout, with n samples of the given value.
inline std::vector<std::uint8_t> drumResource(std::uint32_t n, std::uint8_t value) {
    // The header is built in a fixed array: GCC 12 at -O3 warns falsely about fixed offsets into
    // a vector that may have grown.
    std::uint8_t h[58] = {'R',  'I',  'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V',  'E',  'f', 'm',
                          't',  ' ',  18,  0,   0, 0, 1, 0, 1,   0,   0x22, 0x56, 0,   0,
                          0x22, 0x56, 0,   0,   1, 0, 8, 0, 0,   0,   'f',  'a',  'c', 't',
                          4,    0,    0,   0,   0, 0, 0, 0, 'd', 'a', 't',  'a'};
    const auto put = [&h](std::size_t at, std::uint32_t v) {
        for (std::size_t i = 0; i < 4; ++i)
            h[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(4, 50 + n + (n & 1));
    put(46, n);
    put(54, n);
    std::vector<std::uint8_t> b(h, h + sizeof h);
    b.resize(sizeof h + n + (n & 1), value);
    if (n & 1) b.back() = 0; // the pad byte of an odd chunk
    return b;
}

inline bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    // An empty vector may have no buffer at all; fwrite must not be handed a null pointer.
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
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

// A file in the temporary folder holding the given bytes, removed when it goes out of scope.
class TempFile {
  public:
    explicit TempFile(const std::vector<std::uint8_t>& bytes) {
        static int counter = 0;
        // Kept narrow: the loader takes a char path, and a Windows path's c_str() is wide.
        path_ = (std::filesystem::temp_directory_path() /
                 ("rkv-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                    .string();
        writeFile(path_, bytes);
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* path() const { return path_.c_str(); }

  private:
    std::string path_;
};

} // namespace rkv::test
