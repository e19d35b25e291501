#include <algorithm>
#include <cmath>

#include "sound/voice_bank.hpp"

namespace rkv {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Frames mixed per pass; the accumulators live on the stack.
constexpr std::size_t BLOCK = 256;

// Tick k of a timer started at frame f0 falls on f0 + floor(k * d * 441 / 20): d ms at 22050 Hz.
std::uint64_t tickFrame(const FrameTimer& t, std::uint64_t k) {
    return t.startFrame + k * t.periodMs * 441 / 20;
}

// Adds one voice's next `frames` samples into the accumulators and advances it.
void mixVoice(Voice& v, float* left, float* right, std::size_t frames) {
    const std::size_t n = std::min<std::size_t>(frames, v.length - v.index);
    if (v.data) {
        const std::uint8_t* s = v.data + v.index;
        const float gl = v.gainLeft;
        const float gr = v.gainRight;
        for (std::size_t i = 0; i < n; ++i) {
            const float x = static_cast<float>(s[i]) - 128.0f;
            left[i] += x * gl;
            right[i] += x * gr;
        }
    }
    v.index += static_cast<std::uint32_t>(n);
    if (v.index >= v.length) v.playing = false; // one shot
}

void mixBlock(VoiceBank& bank, float* out, std::size_t frames) {
    float left[BLOCK];
    float right[BLOCK];
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
    for (Voice& v : bank.voices)
        if (v.playing) mixVoice(v, left, right, frames);
    for (std::size_t i = 0; i < frames; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
    bank.frame += frames;
}

} // namespace

void startFrameTimer(VoiceBank& bank, std::uint32_t periodMs, FrameTimerCallback callback,
                     void* context) {
    const Guard guard(bank.lock);
    FrameTimer& t = bank.timer;
    t = FrameTimer{};
    // A step time of 0 would tick without pause, one above the limit is not accepted: no ticks.
    if (periodMs == 0 || periodMs > MAX_STEP_TIME_MS) return;
    t.running = true;
    t.startFrame = bank.frame;
    t.periodMs = periodMs;
    t.count = 1;
    t.nextFrame = tickFrame(t, 1);
    t.callback = callback;
    t.context = context;
}

void stopFrameTimer(VoiceBank& bank) {
    // Ticks run with the lock held, so once we hold it none is running, and none will start.
    const Guard guard(bank.lock);
    bank.timer = FrameTimer{};
}

void mixFrames(VoiceBank& bank, float* stereoOut, std::size_t frames) {
    const Guard guard(bank.lock);
    while (frames > 0) {
        FrameTimer& t = bank.timer;
        // A tick on frame f runs before frame f is mixed.
        while (t.running && t.nextFrame <= bank.frame) {
            ++t.count;
            t.nextFrame = tickFrame(t, t.count);
            t.callback(t.context);
        }
        std::size_t n = std::min(frames, BLOCK);
        if (t.running)
            n = static_cast<std::size_t>(std::min<std::uint64_t>(n, t.nextFrame - bank.frame));
        mixBlock(bank, stereoOut, n);
        stereoOut += 2 * n;
        frames -= n;
    }
}

void floatToPcm16(const float* in, std::int16_t* out, std::size_t samples) {
    for (std::size_t i = 0; i < samples; ++i) {
        const float x = std::clamp(in[i], -1.0f, 1.0f);
        out[i] = static_cast<std::int16_t>(std::lround(x * 32767.0f));
    }
}

} // namespace rkv
