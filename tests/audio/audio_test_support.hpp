// Shared bits of the audio tests: an offline device, SDL's driver variables, a bank with a
// known voice and a timer that plays it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "sound/voice_bank.hpp"
#include "tests/common/offline_device.hpp"

namespace rkvtest {

using rkv::test::OfflineDevice;

// Points SDL at its disk driver, writing to `file` as fast as it can.
inline void useDiskDriver(const std::string& file) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    ::setenv("SDL_DISKAUDIODELAY", "0", 1);
}

inline std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("rkv_audio_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

// A voice in slot 0 whose bytes ramp so every frame differs from its neighbours, and a timer
// that restarts it and moves its pan: the mixed stream depends on frame-exact ticks.
struct TickContext {
    rkv::VoiceBank* bank = nullptr;
    std::int32_t ticks = 0;
};

inline void restartAndPan(void* context) {
    auto* c = static_cast<TickContext*>(context);
    ++c->ticks;
    rkv::setVoicePanHundredths(*c->bank, 0, (c->ticks % 5 - 2) * 300);
    rkv::restartVoice(*c->bank, 0);
}

inline bool prepareRampVoice(rkv::VoiceBank& bank, TickContext& context, std::uint32_t stepMs) {
    std::vector<std::uint8_t> bytes(1500);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(20 + (i * 37) % 216); // never 128 at i == 0
    if (!rkv::createVoice(bank, 0, rkv::VOICE_FORMAT, static_cast<std::uint32_t>(bytes.size())))
        return false;
    if (!rkv::writeVoice(bank, 0, bytes.data(), static_cast<std::uint32_t>(bytes.size())))
        return false;
    rkv::setVoiceVolumeHundredths(bank, 0, -300);
    context.bank = &bank;
    rkv::restartVoice(bank, 0);
    rkv::startFrameTimer(bank, stepMs, &restartAndPan, &context);
    return true;
}

} // namespace rkvtest
