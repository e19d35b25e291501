// Helpers for engine tests: a player on a device that is always there, mixing, and files that
// remove themselves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "sequencer/player.hpp"
#include "song/song.hpp"
#include "sound/voice_bank.hpp"
#include "tests/common/offline_device.hpp"
#include "tests/common/song_writer.hpp"

namespace rkv::test {

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
        writeFile(path_, bytes);
    }
    ~TempFile() { std::filesystem::remove(path_); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* path() const { return path_.c_str(); }

  private:
    std::string path_;
};

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
