// Stands in for a sound device when none opens: a thread of our own mixes in real time and
// throws the frames away, so the frame clock, and with it the sequencer, still keeps time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "sound/voice_bank.hpp"

namespace rkv {

class PauseControl;

class PacedSilentOutput final : public SoundDevice {
  public:
    // Frames mixed per pass, as a device would ask for them.
    static constexpr std::size_t BLOCK_FRAMES = 256;
    // Falling further behind than this (a suspended machine, a stalled process) drops the lag
    // instead of mixing it all at once.
    static constexpr std::chrono::milliseconds MAX_LAG{500};

    // With a control, the thread reports to it when the player is idle.
    explicit PacedSilentOutput(PauseControl* control = nullptr) : control_(control) {}
    ~PacedSilentOutput() override;
    PacedSilentOutput(const PacedSilentOutput&) = delete;
    PacedSilentOutput& operator=(const PacedSilentOutput&) = delete;

    // Starts the pacing thread; always succeeds.
    bool start(VoiceBank& bank) override;
    // Ends and joins the thread; when it returns no mixing runs or will start.
    void stop() override;

    // Frames mixed since start; for tests and diagnostics.
    std::uint64_t framesMixed() const;

  private:
    void run();

    PauseControl* control_;
    VoiceBank* bank_ = nullptr;
    std::unique_ptr<float[]> buffer_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::uint64_t frames_ = 0;
};

} // namespace rkv
