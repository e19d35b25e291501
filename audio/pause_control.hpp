// Lets an output stop pulling frames while nothing can be heard, and start again on play.
// Shared by the outputs of every platform: the audio thread reports, a control thread of the
// output acts (opens, closes, switches devices), so the audio thread never waits on slow work.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "sound/voice_bank.hpp"

namespace rkv {

// Playback stopped and no voice sounding: every frame mixed from here until play is silent,
// and a tick while stopped does nothing, so the frame clock may pause with the output.
bool outputIsIdle(const VoiceBank& bank, const std::atomic<std::uint8_t>& playing);

class PauseControl {
  public:
    struct Events {
        bool idle = false; // the output found itself idle (see outputIsIdle)
        bool lost = false; // the device went away
        bool wake = false; // play was issued after the last idle report
        bool stop = false; // the output is being shut down
        bool any() const { return idle || lost || wake || stop; }
    };

    explicit PauseControl(const std::atomic<std::uint8_t>& playing) : playing_(playing) {}

    // Audio thread, after each block: reports an idle output. Checked under the control's lock,
    // so a play issued meanwhile is either seen here or reported as a wake after it.
    void afterMix(const VoiceBank& bank);
    // Audio thread: the device stopped taking frames for good.
    void reportLost();
    // Any thread: playback is starting (the playing flag is already set).
    void wake();
    void requestStop();

    // Control thread: waits until something is reported or `deadline` passes, and takes the
    // reports made so far.
    Events wait(std::optional<std::chrono::steady_clock::time_point> deadline);

  private:
    void post(bool Events::*what);

    const std::atomic<std::uint8_t>& playing_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Events pending_;
    std::atomic<bool> idleReported_{false}; // spares the lock while an idle report is pending
};

} // namespace rkv
