#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

// The hot loops of the whole player. Wider-vector versions are used where the CPU has them: clones
// picked at load time, and the voice adders below picked as the program starts. Every frame is the
// sum of its voices' contributions added one by one in slot order, with no fused multiply-add (the
// engine is built with -ffp-contract=off): the result does not depend on the vector width, on how
// the frames are cut into blocks, or on the CPU.
#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer is not yet running when clone resolvers run at load time.
#define RKV_VECTOR_CLONES
#elif defined(_WIN32)
// Windows has no ifunc to pick a clone at load time, and GCC spills AVX registers to stack slots
// that 64-bit Windows does not align: one baseline build there, the same frames.
#define RKV_VECTOR_CLONES
#else
#define RKV_WIDE_VECTORS
#define RKV_VECTOR_CLONES                                                                          \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif

// One voice's share of a block.
struct Share {
    const std::int8_t* samples = nullptr;
    float gainLeft = 0, gainRight = 0;
};

// L samples at a time in the compiler's generic vectors, L chosen per instruction set so that the
// bytes widen to 32-bit lanes in one step; the compiler's own vectorised loop widened through 16
// bits with twice the shuffles.
template <std::size_t L> struct Lanes;
#define RKV_LANES(L)                                                                               \
    template <> struct Lanes<L> {                                                                  \
        using Bytes = std::int8_t __attribute__((vector_size(L)));                                 \
        using Ints = std::int32_t __attribute__((vector_size(4 * L)));                             \
        using Floats = float __attribute__((vector_size(4 * L)));                                  \
    };
RKV_LANES(8)
RKV_LANES(16)
#undef RKV_LANES

// L samples widened to floats straight from memory: the bank stores them as distances from the
// 8-bit midpoint, so a flip per vector is not needed here. The vectors come back through a
// reference: one returned by value is passed differently with and without wide registers, which
// the compiler warns about.
template <std::size_t L>
[[gnu::always_inline]] inline void widened(const std::int8_t* p, typename Lanes<L>::Floats& out) {
    typename Lanes<L>::Bytes v;
    std::memcpy(&v, p, sizeof v);
#if !defined(__clang__)
    asm("" : "+x"(v)); // else GCC 12 widens a loaded vector's bytes one at a time
#endif
    out = __builtin_convertvector(__builtin_convertvector(v, typename Lanes<L>::Ints),
                                  typename Lanes<L>::Floats);
}

// Adds K voices into the accumulators in one pass: for every frame the same additions in the same
// order as K passes of one voice each, with one load and store of the sums instead of K. With L = 0
// the loop is left to the compiler's vectoriser.
template <std::size_t K, std::size_t L>
[[gnu::always_inline]] inline void addVoices(const Share* shares, float* __restrict left,
                                             float* __restrict right, std::size_t n) {
    Share v[K];
    std::copy_n(shares, K, v);
    std::size_t i = 0;
    if constexpr (L > 0) {
        using Floats = typename Lanes<L>::Floats;
        for (; i + L <= n; i += L) {
            Floats l, r, x;
            std::memcpy(&l, left + i, sizeof l);
            std::memcpy(&r, right + i, sizeof r);
            // Unrolled at -O2 too: the voices' pointers and gains then stay in registers.
#pragma GCC unroll 4
            for (std::size_t k = 0; k < K; ++k) {
                widened<L>(v[k].samples + i, x);
                l = l + x * v[k].gainLeft;
                r = r + x * v[k].gainRight;
            }
            std::memcpy(left + i, &l, sizeof l);
            std::memcpy(right + i, &r, sizeof r);
        }
    }
    for (; i < n; ++i) {
        float l = left[i], r = right[i];
#pragma GCC unroll 4
        for (std::size_t k = 0; k < K; ++k) {
            const auto x = static_cast<float>(v[k].samples[i]);
            l = l + x * v[k].gainLeft;
            r = r + x * v[k].gainRight;
        }
        left[i] = l;
        right[i] = r;
    }
}

// One voice, or four neighbours at once (a quarter of the loads and stores of the sums), in the
// widest vectors the CPU has, picked once at start-up.
using AddVoices = void (*)(const Share*, float* __restrict, float* __restrict, std::size_t);
struct VoiceAdders {
    AddVoices one, four;
    const char* name;
};

template <std::size_t K> void addVoicesBaseline(const Share* v, float* l, float* r, std::size_t n) {
    addVoices<K, 0>(v, l, r, n);
}

#if defined(RKV_WIDE_VECTORS)
template <std::size_t K>
[[gnu::target("avx2")]] void addVoicesAvx2(const Share* v, float* l, float* r, std::size_t n) {
    addVoices<K, 8>(v, l, r, n);
}

template <std::size_t K>
[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl")]] void
addVoicesAvx512(const Share* v, float* l, float* r, std::size_t n) {
    addVoices<K, 16>(v, l, r, n);
}
#endif

const VoiceAdders& voiceAdders() {
    static const VoiceAdders adders = [] {
#if defined(RKV_WIDE_VECTORS)
        // A narrower path can be asked for, so that each one can be checked and timed on one
        // machine; a wider one than the CPU has cannot.
        const char* asked = std::getenv("RKV_MIXER_VECTORS");
        const std::string_view narrower = asked ? asked : "";
        __builtin_cpu_init(); // in case we are called before the runtime has done it
        if (narrower != "avx2" && narrower != "baseline" && __builtin_cpu_supports("avx512f") &&
            __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
            __builtin_cpu_supports("avx512vl"))
            return VoiceAdders{addVoicesAvx512<1>, addVoicesAvx512<4>, "AVX-512"};
        if (narrower != "baseline" && __builtin_cpu_supports("avx2"))
            return VoiceAdders{addVoicesAvx2<1>, addVoicesAvx2<4>, "AVX2"};
#endif
        return VoiceAdders{addVoicesBaseline<1>, addVoicesBaseline<4>, "baseline"};
    }();
    return adders;
}

// Picked while the program starts, so that the audio thread's first block does not read the
// environment or take the initialisation's lock.
[[maybe_unused]] const VoiceAdders& PICKED_AT_START = voiceAdders();

RKV_VECTOR_CLONES void interleave(const float* __restrict left, const float* __restrict right,
                                  float* __restrict out, std::size_t frames) {
    for (std::size_t f = 0; f < frames; ++f) {
        out[2 * f] = left[f];
        out[2 * f + 1] = right[f];
    }
}

void mixBlock(VoiceBank& bank, float* out, std::size_t frames) {
    alignas(64) float left[BLOCK];
    alignas(64) float right[BLOCK];
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);

    // Voices are added in slot order. Neighbours in that order that sound for the whole block
    // are gathered and added four at a time; a voice that ends inside the block first flushes
    // the ones gathered before it.
    const VoiceAdders& add = voiceAdders();
    Share group[4];
    std::size_t grouped = 0;
    auto flush = [&] {
        for (std::size_t g = 0; g < grouped; ++g)
            add.one(&group[g], left, right, frames);
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
                // Written in place: a copy of a share just written stalls on the stores.
                Share& share = group[grouped];
                share.samples = v.data + v.index;
                share.gainLeft = v.gainLeft;
                share.gainRight = v.gainRight;
                if (n < frames) {
                    flush(); // leaves the shares in place
                    add.one(&share, left, right, n);
                } else if (++grouped == 4) {
                    add.four(group, left, right, frames);
                    grouped = 0;
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

const char* mixerVectors() {
    return voiceAdders().name;
}

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
    // Round half away from zero without a branch or a wider type. After the clamp |y| <= 32767,
    // so the truncation t, the fraction y - t and its double are exact, and the double truncates
    // to the step: -1, 0 or 1 as the fraction reaches -0.5 or 0.5. Fewer instructions than
    // comparing the fraction with both halves.
    for (std::size_t i = 0; i < samples; ++i) {
        const float y = std::min(std::max(in[i], -1.0f), 1.0f) * 32767.0f;
        const auto t = static_cast<std::int32_t>(y);
        const float fraction = y - static_cast<float>(t);
        out[i] = static_cast<std::int16_t>(t + static_cast<std::int32_t>(fraction + fraction));
    }
}

} // namespace rkv
