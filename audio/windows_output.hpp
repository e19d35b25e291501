// Sends the mixer's frames to the default Windows sound device from a thread of our own: through
// the shared mixer's audio client when it opens, else through waveOut. With no device it keeps the
// frame clock going on the same thread, paced in real time. While playback is stopped and no
// voice sounds it feeds nothing, closes the device and waits, so the idle player costs nothing;
// the frame clock pauses with it, which no one can hear.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "audio/frame_source.hpp"
#include "audio/windows_sink.hpp"
#include "sound/play_state.hpp"
#include "sound/voice_bank.hpp"

namespace rkv {

class WindowsOutput final : public SoundDevice {
  public:
    // Frames per mixer call, as the SDL output makes them.
    static constexpr std::size_t BUFFER_FRAMES = 256;
    // How far ahead of the speaker the audio client is kept: 70 ms, so that a frame reaches the
    // speaker within 100 ms, as on Linux. Under Wine the sound server holds only 25 ms of it
    // (three of Wine's 10 ms periods, less the server's own share); the rest waits in Wine.
    static constexpr std::size_t CLIENT_FRAMES = SAMPLE_RATE * 70 / 1000;
    // waveOut: buffers of several mixer calls; the queued ones keep about 370 ms ahead.
    static constexpr std::size_t CALLS_PER_BUFFER = 4;
    static constexpr std::size_t BUFFERS = 8;

    // Started paused, it mixes nothing and runs no ticks until resume(). `state` tells when
    // playback is stopped; without it the output never pauses by itself.
    explicit WindowsOutput(bool startPaused = false, const PlayState* state = nullptr);
    ~WindowsOutput() override;
    WindowsOutput(const WindowsOutput&) = delete;
    WindowsOutput& operator=(const WindowsOutput&) = delete;

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
    // Neither device reports its loss once open.
    bool lost() const { return false; }
    // Why the last start failed; empty when it did not.
    std::string error() const { return error_; }

  private:
    bool open(VoiceBank* bank, FrameSource* source);
    void launch(VoiceBank* bank);
    void run();
    void playThroughDevice();
    void keepTimeSilently();
    bool idle() const;
    bool openSink();
    unsigned long waitMs() const;
    void mix(float* stereo, std::size_t frames);

    std::atomic<bool> paused_;
    const PlayState* state_;
    std::string error_;
    VoiceBank* bank_ = nullptr;
    FrameSource* source_ = nullptr; // pulled instead of the bank when set
    std::uint64_t sourceFrame_ = 0;
    std::atomic<bool> ended_{false};
    bool useDevice_ = false;
    std::unique_ptr<WindowsSink> sink_; // the device in use; none while idle
    std::promise<bool> opened_;         // the first open, reported to start()
    void* ready_ = nullptr;             // event: the device has room
    void* wakeup_ = nullptr;            // event: wake() or stop()
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> framesMixed_{0};
    std::thread thread_;
};

} // namespace rkv
