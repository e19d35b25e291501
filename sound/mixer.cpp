#include <algorithm>
#include <bit>
#include <cmath>

#include "sound/voice_bank.hpp"

namespace rkv {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Frames mixed per pass; the accumulators live on the stack and stay in the first-level cache.
constexpr std::size_t BLOCK = 1024;

// Tick k of a timer started at frame f0 falls on f0 + floor(k * d * 441 / 20): d ms at 22050 Hz.
std::uint64_t tickFrame(const FrameTimer& t, std::uint64_t k) {
    return t.startFrame + k * t.periodMs * 441 / 20;
}

// The hot loops of the whole player. Wider-vector clones are picked at load time where the CPU
// has them. Every frame is the sum of its voices' contributions added one by one in slot order,
// with no fused multiply-add (the engine is built with -ffp-contract=off): the result does not
// depend on the vector width, on how the frames are cut into blocks, or on the CPU.
#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer is not yet running when clone resolvers run at load time.
#define RKV_VECTOR_CLONES
#elif defined(_WIN32)
// Windows has no ifunc to pick a clone at load time, and GCC spills AVX registers to stack slots
// that 64-bit Windows does not align: one baseline build there, the same frames.
#define RKV_VECTOR_CLONES
#else
#define RKV_VECTOR_CLONES                                                                          \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif

// A sample's distance from the 8-bit midpoint. Subtracted as integers, it lets the compiler flip
// the bytes' top bit before widening them (one operation per 64 samples) instead of subtracting
// in floats after (one per 16); the value is the same exact integer either way.
inline float centred(std::uint8_t sample) {
    return static_cast<float>(sample - 128);
}

// Adds n samples of one voice into the accumulators.
RKV_VECTOR_CLONES void addVoice(const std::uint8_t* __restrict s, float gl, float gr,
                                float* __restrict left, float* __restrict right, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float x = centred(s[i]);
        left[i] += x * gl;
        right[i] += x * gr;
    }
}

// One voice's share of a block.
struct Share {
    const std::uint8_t* samples = nullptr;
    float gainLeft = 0, gainRight = 0;
};

// Four voices in one pass over the accumulators: a quarter of the loads and stores of single
// passes, and the same additions in the same order.
RKV_VECTOR_CLONES void addVoiceQuad(const Share* v, float* __restrict left, float* __restrict right,
                                    std::size_t n) {
    const std::uint8_t *a = v[0].samples, *b = v[1].samples, *c = v[2].samples, *d = v[3].samples;
    const float al = v[0].gainLeft, bl = v[1].gainLeft, cl = v[2].gainLeft, dl = v[3].gainLeft;
    const float ar = v[0].gainRight, br = v[1].gainRight, cr = v[2].gainRight, dr = v[3].gainRight;
    for (std::size_t i = 0; i < n; ++i) {
        const float w = centred(a[i]);
        const float x = centred(b[i]);
        const float y = centred(c[i]);
        const float z = centred(d[i]);
        float l = left[i] + w * al;
        float r = right[i] + w * ar;
        l = l + x * bl;
        r = r + x * br;
        l = l + y * cl;
        r = r + y * cr;
        left[i] = l + z * dl;
        right[i] = r + z * dr;
    }
}

RKV_VECTOR_CLONES void interleave(const float* __restrict left, const float* __restrict right,
                                  float* __restrict out, std::size_t frames) {
    for (std::size_t f = 0; f < frames; ++f) {
        out[2 * f] = left[f];
        out[2 * f + 1] = right[f];
    }
}

void mixBlock(VoiceBank& bank, float* out, std::size_t frames) {
    float left[BLOCK];
    float right[BLOCK];
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);

    // Voices are added in slot order. Neighbours in that order that sound for the whole block
    // are gathered and added four at a time; a voice that ends inside the block first flushes
    // the ones gathered before it.
    Share group[4];
    std::size_t grouped = 0;
    auto flush = [&] {
        for (std::size_t g = 0; g < grouped; ++g)
            addVoice(group[g].samples, group[g].gainLeft, group[g].gainRight, left, right, frames);
        grouped = 0;
    };
    // Only voices whose bit is set can be playing; walking the bits from the lowest keeps slot
    // order. A bit may outlive its voice (released, or stopped by other means): it is cleared here.
    for (std::size_t w = 0; w < bank.playingMask.size(); ++w) {
        for (std::uint64_t bits = bank.playingMask[w]; bits != 0; bits &= bits - 1) {
            const int b = std::countr_zero(bits);
            Voice& v = bank.voices[w * 64 + static_cast<std::size_t>(b)];
            if (!v.playing) {
                bank.playingMask[w] &= ~(std::uint64_t{1} << b);
                continue;
            }
            const std::size_t n = std::min<std::size_t>(frames, v.length - v.index);
            if (v.data) {
                const Share share{v.data + v.index, v.gainLeft, v.gainRight};
                if (n < frames) {
                    flush();
                    addVoice(share.samples, share.gainLeft, share.gainRight, left, right, n);
                } else {
                    group[grouped++] = share;
                    if (grouped == 4) {
                        addVoiceQuad(group, left, right, frames);
                        grouped = 0;
                    }
                }
            }
            v.index += static_cast<std::uint32_t>(n);
            if (v.index >= v.length) { // one shot
                v.playing = false;
                bank.playingMask[w] &= ~(std::uint64_t{1} << b);
            }
        }
    }
    flush();

    interleave(left, right, out, frames);
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

RKV_VECTOR_CLONES void floatToPcm16(const float* __restrict in, std::int16_t* __restrict out,
                                    std::size_t samples) {
    // Round half away from zero without a branch or a wider type: after the clamp |x| <= 32767,
    // so the truncation and the fraction x - t are exact, and the fraction decides the step.
    for (std::size_t i = 0; i < samples; ++i) {
        float x = in[i];
        x = x < -1.0f ? -1.0f : x;
        x = x > 1.0f ? 1.0f : x;
        x *= 32767.0f;
        const auto t = static_cast<std::int32_t>(x);
        const float fraction = x - static_cast<float>(t);
        const std::int32_t up = fraction >= 0.5f ? 1 : 0;
        const std::int32_t down = fraction <= -0.5f ? 1 : 0;
        out[i] = static_cast<std::int16_t>(t + up - down);
    }
}

} // namespace rkv
