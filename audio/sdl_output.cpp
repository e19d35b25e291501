#include "audio/sdl_output.hpp"

#include <SDL.h>
#include <algorithm>

namespace rkv {

SdlOutput::SdlOutput(bool startPaused) : startPaused_(startPaused) {}

SdlOutput::~SdlOutput() {
    stop();
}

bool SdlOutput::start(VoiceBank& bank) {
    stop();
    error_.clear();
    // Keep SIGINT and SIGTERM for the host program: SDL would otherwise swallow them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        error_ = SDL_GetError();
        return false;
    }
    subsystemUp_ = true;

    // Sized before the device exists so the callback never allocates; SDL may still hand it a
    // longer stream, which it then fills in several passes.
    mixFrames_ = BUFFER_FRAMES;
    mixBuffer_ = std::make_unique<float[]>(2 * mixFrames_);
    bank_ = &bank;

    SDL_AudioSpec want{};
    want.freq = SAMPLE_RATE;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = BUFFER_FRAMES;
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No allowed changes: SDL converts our stream to whatever the device really plays.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        error_ = SDL_GetError();
        stop();
        return false;
    }
    if (!startPaused_) SDL_PauseAudioDevice(device_, 0);
    return true;
}

void SdlOutput::resume() {
    if (device_ != 0) SDL_PauseAudioDevice(device_, 0);
}

void SdlOutput::stop() {
    if (device_ != 0) {
        // Waits for a running callback to return; none starts afterwards.
        SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    if (subsystemUp_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemUp_ = false;
    }
    bank_ = nullptr;
}

void SdlOutput::callback(void* self, std::uint8_t* stream, int bytes) {
    auto* out = static_cast<SdlOutput*>(self);
    auto* pcm = reinterpret_cast<std::int16_t*>(stream);
    std::size_t frames = static_cast<std::size_t>(bytes) / (2 * sizeof(std::int16_t));
    while (frames > 0) {
        const std::size_t n = std::min(frames, out->mixFrames_);
        mixFrames(*out->bank_, out->mixBuffer_.get(), n);
        floatToPcm16(out->mixBuffer_.get(), pcm, 2 * n);
        pcm += 2 * n;
        frames -= n;
    }
}

} // namespace rkv
