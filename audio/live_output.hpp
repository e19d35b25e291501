// The desktop player's output: the sound device while anything can be heard, nothing at all
// while the player is idle, and the paced silent output while the device is gone, until it
// comes back. A control thread of its own makes every change, so the clock keeps time without
// the audio thread ever waiting on a device.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "audio/paced_output.hpp"
#include "audio/pause_control.hpp"
#include "audio/sdl_output.hpp"

namespace rkv {

class LiveOutput final : public SoundDevice {
  public:
    // How often a lost device is looked for again while the paced output stands in.
    static constexpr std::chrono::milliseconds RETRY{1000};

    explicit LiveOutput(const std::atomic<std::uint8_t>& playing);
    ~LiveOutput() override;
    LiveOutput(const LiveOutput&) = delete;
    LiveOutput& operator=(const LiveOutput&) = delete;

    // True when the sound device opened. Without one the paced output keeps the clock; with no
    // voices to play, the device is not looked for again.
    bool start(VoiceBank& bank) override;
    void stop() override;
    void wake() override;

  private:
    enum class Mode { Paused, Device, Paced };
    void run(Mode mode);
    Mode resume();
    void halt(Mode mode);

    PauseControl control_;
    SdlOutput device_;
    PacedSilentOutput paced_;
    VoiceBank* bank_ = nullptr;
    std::thread thread_;
};

} // namespace rkv
