// Helpers for engine tests: song files built in memory, a device that is always there, and
// drum resources in the fixed layout.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "sequencer/player.hpp"
#include "song/song.hpp"
#include "sound/voice_bank.hpp"
#include "tests/common/song_writer.hpp"

namespace rkv::test {

// A device that opens and lets the test call mixFrames itself.
class OfflineDevice final : public SoundDevice {
  public:
    bool start(VoiceBank&) override { return true; }
    void stop() override {}
};

// A temporary file that removes itself.
class TempFile {
  public:
    explicit TempFile(const std::vector<std::uint8_t>& bytes) {
        static int counter = 0;
        // Kept narrow: the loader takes a char path, and a Windows path's c_str() is wide.
        path_ = (std::filesystem::temp_directory_path() /
                 ("rkv-engine-test-" + std::to_string(::getpid()) + "-" +
                  std::to_string(counter++) + ".rkv"))
                    .string();
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::filesystem::remove(path_); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* path() const { return path_.c_str(); }

  private:
    std::string path_;
};

// One drum resource in the fixed layout, with n samples of the given value.
inline std::vector<std::uint8_t> drumResource(std::uint32_t n, std::uint8_t value) {
    std::vector<std::uint8_t> b(58 + n + (n & 1), 0);
    std::memcpy(&b[0], "RIFF", 4);
    putU32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
    std::memcpy(&b[8], "WAVEfmt ", 8);
    putU32(b, 16, 18);
    const std::uint8_t format[18] = {1,    0, 1, 0, 0x22, 0x56, 0, 0, 0x22,
                                     0x56, 0, 0, 1, 0,    8,    0, 0, 0};
    std::memcpy(&b[20], format, 18);
    std::memcpy(&b[38], "fact", 4);
    putU32(b, 42, 4);
    putU32(b, 46, n);
    std::memcpy(&b[50], "data", 4);
    putU32(b, 54, n);
    std::memset(&b[58], value, n);
    return b;
}

} // namespace rkv::test
