// Sends the mixer's frames to the default sound device through SDL's audio subsystem.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/frame_source.hpp"
#include "sound/voice_bank.hpp"

namespace rkv {

class PauseControl;
struct SdlLibrary;

class SdlOutput final : public SoundDevice {
  public:
    // Frames the device asks for per callback, and how much sound a sound server is asked to
    // hold: chosen from recordings of a loaded machine (see the README, "Live sound").
    static constexpr int BUFFER_FRAMES = 512;
    static constexpr int SERVER_LATENCY_MS = 50;

    // A device started paused writes silence and runs no ticks until resume(). With a control,
    // the audio thread reports to it when the player is idle and when the device is lost.
    explicit SdlOutput(bool startPaused = false, PauseControl* control = nullptr);
    ~SdlOutput() override;
    SdlOutput(const SdlOutput&) = delete;
    SdlOutput& operator=(const SdlOutput&) = delete;

    // Opens the default device at 22050 Hz, stereo, 16-bit; false when no device opens.
    bool start(VoiceBank& bank) override;
    // The same, pulling the frames from `source` instead of a bank.
    bool start(FrameSource& source);
    // Closes the device; when it returns the callback is not running and will not run again.
    void stop() override;
    // Unpauses a device started paused, or paused since.
    void resume();
    // Holds the stream where it is: the device gets silence, no frame is mixed, no tick runs.
    void pause();
    // Pulls from another source from the next callback on (the next song, or a seek), without
    // closing the device; `frame` is where that source stands.
    void attach(FrameSource& source, std::uint64_t frame);
    // The source gave fewer frames than asked for: it has ended, and silence follows.
    bool ended() const { return ended_.load(); }
    // Scales what goes to the device; at 1 the frames are the mixer's, untouched.
    void setGain(float gain) { gain_.store(gain); }
    // Why the last start failed; empty when it did not.
    std::string error() const { return error_; }
    // The open device went away (its server ended, its card was unplugged).
    bool lost() const;
    // The bank's frame count (or the source's position) after the last callback: read without
    // the bank's lock, so a watcher never holds up the audio thread.
    std::uint64_t framesMixed() const { return framesMixed_.load(); }

  private:
    bool open(VoiceBank* bank, FrameSource* source);
    static void callback(void* self, std::uint8_t* stream, int bytes);

    bool startPaused_;
    PauseControl* control_;
    const SdlLibrary* sdl_ = nullptr; // set by the first open
    bool subsystemUp_ = false;
    std::atomic<std::uint32_t> device_{0}; // SDL_AudioDeviceID; 0 = none
    std::atomic<std::uint64_t> framesMixed_{0};
    std::atomic<float> gain_{1.0f};
    VoiceBank* bank_ = nullptr;
    FrameSource* source_ = nullptr; // pulled instead of the bank when set
    std::uint64_t sourceFrame_ = 0; // audio thread, or under the device's lock
    std::atomic<bool> ended_{false};
    std::unique_ptr<float[]>
        mixBuffer_;             // stereo floats, owned here so the callback never allocates
    std::size_t mixFrames_ = 0; // capacity of mixBuffer_ in frames
    std::string error_;
};

} // namespace rkv
