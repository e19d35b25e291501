// Sends the mixer's frames to the default Windows sound device through waveOut, from a thread of
// our own. With no device it keeps the frame clock going on the same thread, paced in real time.
// While playback is stopped and no voice sounds it feeds nothing and waits, so the idle player
// costs nothing; the frame clock pauses with it, which no one can hear.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "audio/frame_source.hpp"
#include "sound/play_state.hpp"
#include "sound/voice_bank.hpp"

struct wavehdr_tag;

namespace rkv {

class WaveOutOutput final : public SoundDevice {
  public:
    // Frames per mixer call, as the SDL output makes them; a buffer holds several calls, and
    // the queued buffers keep about 370 ms ahead of the speaker, which rides out a busy machine.
    static constexpr std::size_t BUFFER_FRAMES = 256;
    static constexpr std::size_t CALLS_PER_BUFFER = 4;
    static constexpr std::size_t BUFFERS = 8;

    // Started paused, it mixes nothing and runs no ticks until resume(). `state` tells when
    // playback is stopped; without it the output never pauses by itself.
    explicit WaveOutOutput(bool startPaused = false, const PlayState* state = nullptr);
    ~WaveOutOutput() override;
    WaveOutOutput(const WaveOutOutput&) = delete;
    WaveOutOutput& operator=(const WaveOutOutput&) = delete;

    // Opens the default device at 22050 Hz, stereo, 16-bit; false when no device opens.
    bool start(VoiceBank& bank) override;
    // The same, pulling the frames from `source` instead of a bank.
    bool start(FrameSource& source);
    // The source gave fewer frames than asked for: it has ended, and silence follows.
    bool ended() const { return ended_.load(); }
    // No device: mix in real time and discard the frames. Always succeeds.
    void startSilent(VoiceBank& bank);
    // Ends and joins the thread; when it returns no mixing runs or will start.
    void stop() override;
    // Call after a command that may start sound: an idle output resumes.
    void wake();
    // Unpauses an output started paused.
    void resume();
    // Frames mixed so far (the bank's count, like the SDL output's).
    std::uint64_t framesMixed() const { return framesMixed_.load(); }
    // waveOut reports no loss of a device once it is open.
    bool lost() const { return false; }
    // Why the last start failed; empty when it did not.
    std::string error() const { return error_; }

  private:
    bool open(VoiceBank* bank, FrameSource* source);
    void launch(VoiceBank* bank);
    void run();
    bool idle() const;
    bool allReturned() const;
    bool openDevice();
    void closeDevice();
    void fill(std::size_t index, bool silent = false);

    std::atomic<bool> paused_;
    const PlayState* state_;
    std::string error_;
    VoiceBank* bank_ = nullptr;
    FrameSource* source_ = nullptr; // pulled instead of the bank when set
    std::uint64_t sourceFrame_ = 0;
    std::atomic<bool> ended_{false};
    bool useDevice_ = false;
    void* device_ = nullptr; // HWAVEOUT; closed while idle
    void* done_ = nullptr;   // event: a buffer came back from the device
    void* wakeup_ = nullptr; // event: wake() or stop()
    std::unique_ptr<wavehdr_tag[]> headers_;
    std::unique_ptr<std::int16_t[]> pcm_;
    std::unique_ptr<float[]> mix_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> framesMixed_{0};
    std::thread thread_;
};

} // namespace rkv
