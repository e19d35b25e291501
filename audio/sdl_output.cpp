#include "audio/sdl_output.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "audio/pause_control.hpp"
#include "audio/sdl_library.hpp"

namespace rkv {

SdlOutput::SdlOutput(bool startPaused, PauseControl* control)
    : startPaused_(startPaused), control_(control) {}

SdlOutput::~SdlOutput() {
    stop();
}

bool SdlOutput::start(VoiceBank& bank) {
    return open(&bank, nullptr);
}

bool SdlOutput::start(FrameSource& source) {
    return open(nullptr, &source);
}

bool SdlOutput::open(VoiceBank* bank, FrameSource* source) {
    stop();
    error_.clear();
    if (!sdl_ && !(sdl_ = sdlLibrary(error_))) return false;
    // Keep SIGINT and SIGTERM for the host program: SDL would otherwise swallow them.
    sdl_->setHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // SDL asks a PulseAudio server (or PipeWire's layer for it) for a queue of one callback
    // buffer only, and calls back only once that buffer has drained: under load the queue then
    // runs dry. A longer queue than the buffer leaves the callback that much slack; the user's
    // own setting wins.
    ::setenv("PULSE_LATENCY_MSEC", std::to_string(SERVER_LATENCY_MS).c_str(), 0);
    if (sdl_->initSubSystem(SDL_INIT_AUDIO) != 0) {
        error_ = sdl_->getError();
        return false;
    }
    subsystemUp_ = true;

    // Sized before the device exists so the callback never allocates; SDL may still hand it a
    // longer stream, which it then fills in several passes.
    mixFrames_ = BUFFER_FRAMES;
    mixBuffer_ = std::make_unique<float[]>(2 * mixFrames_);
    bank_ = bank;
    source_ = source;
    sourceFrame_ = 0;
    ended_ = false;

    SDL_AudioSpec want{};
    want.freq = SAMPLE_RATE;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = BUFFER_FRAMES;
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No allowed changes: SDL converts our stream to whatever the device really plays.
    device_ = sdl_->openAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        error_ = sdl_->getError();
        stop();
        return false;
    }
    if (!startPaused_) sdl_->pauseAudioDevice(device_, 0);
    return true;
}

void SdlOutput::resume() {
    if (device_ != 0) sdl_->pauseAudioDevice(device_, 0);
}

void SdlOutput::pause() {
    if (device_ != 0) sdl_->pauseAudioDevice(device_, 1);
}

void SdlOutput::attach(FrameSource& source, std::uint64_t frame) {
    const std::uint32_t id = device_;
    // Held, the callback is not running and does not start until it is released.
    if (id != 0) sdl_->lockAudioDevice(id);
    source_ = &source;
    sourceFrame_ = frame;
    framesMixed_.store(frame);
    ended_ = false;
    if (id != 0) sdl_->unlockAudioDevice(id);
}

bool SdlOutput::lost() const {
    // A device that lost its server stays open, but is no longer enabled: SDL then calls the
    // callback from a timer of its own and throws the frames away.
    const std::uint32_t id = device_;
    return id != 0 && sdl_->getAudioDeviceStatus(id) == SDL_AUDIO_STOPPED;
}

void SdlOutput::stop() {
    if (const std::uint32_t id = device_.exchange(0); id != 0) {
        // Waits for a running callback to return; none starts afterwards.
        sdl_->closeAudioDevice(id);
    }
    if (subsystemUp_) {
        sdl_->quitSubSystem(SDL_INIT_AUDIO);
        subsystemUp_ = false;
    }
    bank_ = nullptr;
    source_ = nullptr;
}

void SdlOutput::callback(void* self, std::uint8_t* stream, int bytes) {
    auto* out = static_cast<SdlOutput*>(self);
    auto* pcm = reinterpret_cast<std::int16_t*>(stream);
    std::size_t frames = static_cast<std::size_t>(bytes) / (2 * sizeof(std::int16_t));
    const float gain = out->gain_.load();
    while (frames > 0) {
        const std::size_t n = std::min(frames, out->mixFrames_);
        float* mix = out->mixBuffer_.get();
        if (FrameSource* source = out->source_) {
            const std::size_t got = source->read(mix, n);
            std::fill(mix + 2 * got, mix + 2 * n, 0.0f);
            if (got < n) out->ended_.store(true);
            out->sourceFrame_ += got;
        } else {
            mixFrames(*out->bank_, mix, n);
        }
        if (gain != 1.0f)
            for (std::size_t i = 0; i < 2 * n; ++i)
                mix[i] *= gain;
        floatToPcm16(out->mixBuffer_.get(), pcm, 2 * n);
        pcm += 2 * n;
        frames -= n;
    }
    // Only this thread changes the count, so it may read it without the lock.
    out->framesMixed_.store(out->source_ ? out->sourceFrame_ : out->bank_->frame);
    if (out->control_ && out->bank_) {
        if (out->lost()) out->control_->reportLost();
        out->control_->afterMix(*out->bank_);
    }
}

} // namespace rkv
