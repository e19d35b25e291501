// The two ways Windows takes our 16-bit frames: the audio client of the shared mixer, with a
// buffer as large as we ask for, and waveOut, whose buffering the system fixes (about 100 ms
// under Wine, which a loaded machine overruns). WindowsOutput drives either from its own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rkv {

class WindowsSink {
  public:
    virtual ~WindowsSink() = default;
    // Opens the default device at 22050 Hz, stereo, 16-bit, held until play(); unless pollMs()
    // says otherwise, `ready` (an auto-reset event) is signalled when room frees up. False, with
    // the reason, when it fails.
    virtual bool open(void* ready, std::string& error) = 0;
    // How often to look for room, in milliseconds, when the device signals nothing; 0 when it
    // signals `ready`.
    virtual unsigned pollMs() const = 0;
    virtual void close() = 0;
    // Frames write() takes now without waiting.
    virtual std::size_t room() = 0;
    virtual void write(const std::int16_t* frames, std::size_t count) = 0;
    // Frames written that the device has not played yet.
    virtual std::size_t queued() = 0;
    virtual void play() = 0;
    // Everything written has been played.
    virtual bool drained() = 0;
};

// The audio client, refilled up to `bufferFrames` ahead of the speaker. Needs COM on the
// calling thread; every call must come from that thread.
std::unique_ptr<WindowsSink> makeAudioClientSink(std::size_t bufferFrames);
// waveOut in `buffers` buffers of `bufferFrames` frames each.
std::unique_ptr<WindowsSink> makeWaveOutSink(std::size_t bufferFrames, std::size_t buffers);

} // namespace rkv
