// Engine benchmarks: mixer throughput, synthesis cost per sample, and an in-process render of a
// busy song. `bench/render_speed.sh` measures the whole `rkv render` process.
#include <benchmark/benchmark.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "resources/builtin_resources.hpp"
#include "sequencer/player.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "sound/synthesizer.hpp"
#include "tests/engine/test_support.hpp"

#include "bench/load_voice_checksums.hpp"

using namespace rkv;

namespace {

// A song that keeps every voice busy: long notes with changing pans, all 24 notes on each
// melodic track every other step, and drums.
test::SongSpec busySong() {
    test::SongSpec s;
    s.stepTime = 120;
    s.stepCount = 32;
    s.loopStart = 8;
    s.loopEnd = 32;
    for (int k = 0; k < 3; ++k) {
        auto& in = s.instruments[k];
        in.octave = static_cast<std::uint8_t>(2 + k);
        in.noteLength = 11025;
        in.volume = 260;
        for (int i = 0; i < 256; ++i)
            in.wave[i] = static_cast<std::int8_t>((i * 7) % 256 - 128);
        for (int i = 0; i < 64; ++i)
            in.envelope[i] = static_cast<std::int8_t>(127 - i);
    }
    for (int t = 0; t < 3; ++t)
        for (int i = 0; i < 32; ++i)
            s.tracks[t].push_back((i % 2 ? 0x00FFFFFFu : 0x00000111u << t) |
                                  (static_cast<std::uint32_t>(i % 8) << 24));
    for (int i = 0; i < 32; ++i)
        s.tracks[3].push_back(i % 4 == 0 ? 0x5015u : 0x0C00u);
    return s;
}

void BM_MixerNinetySixVoices(benchmark::State& state) {
    VoiceBank bank;
    test::OfflineDevice device;
    initSoundDevice(bank, &device);
    constexpr std::uint32_t LENGTH = 1 << 22;
    std::vector<std::uint8_t> samples(LENGTH);
    for (std::uint32_t i = 0; i < LENGTH; ++i)
        samples[i] = static_cast<std::uint8_t>(i * 37);
    for (int slot = 400; slot < 496; ++slot) {
        createVoice(bank, slot, VOICE_FORMAT, LENGTH);
        writeVoice(bank, slot, samples.data(), LENGTH);
        setVoicePan(bank, slot, 96 + slot % 300);
        restartVoice(bank, slot);
    }
    std::vector<float> out(2 * 256);
    for (auto _ : state) {
        mixFrames(bank, out.data(), 256);
        benchmark::DoNotOptimize(out.data());
        if (bank.voices[400].index > LENGTH - 512)
            for (int slot = 400; slot < 496; ++slot)
                restartVoice(bank, slot);
    }
    state.SetItemsProcessed(state.iterations() * 256 * 96);
    state.counters["voice_samples_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 256 * 96, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MixerNinetySixVoices);

// The floor beside the mixer: the same additions in the same order (each voice added to the
// running sums in slot order), eight voices a pass, a vector of frames at a time, on voices in
// cache, their samples signed as the bank stores them. One kernel per vector width; the widest the
// CPU has is the floor.
#if defined(__x86_64__)
using ExactKernel = void (*)(const std::int8_t* const*, const float*, float*, float*, std::size_t);

__attribute__((target("avx2"))) void exactKernelAvx2(const std::int8_t* const* voices,
                                                     const float* gains, float* left, float* right,
                                                     std::size_t frames) {
    for (std::size_t i = 0; i < frames; i += 8) {
        __m256 l = _mm256_loadu_ps(left + i), r = _mm256_loadu_ps(right + i);
        for (int k = 0; k < 8; ++k) {
            const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(voices[k] + i));
            const __m256 x = _mm256_cvtepi32_ps(_mm256_cvtepi8_epi32(bytes));
            l = _mm256_add_ps(l, _mm256_mul_ps(x, _mm256_set1_ps(gains[2 * k])));
            r = _mm256_add_ps(r, _mm256_mul_ps(x, _mm256_set1_ps(gains[2 * k + 1])));
        }
        _mm256_storeu_ps(left + i, l);
        _mm256_storeu_ps(right + i, r);
    }
}

__attribute__((target("avx512f"))) void exactKernelAvx512(const std::int8_t* const* voices,
                                                          const float* gains, float* left,
                                                          float* right, std::size_t frames) {
    for (std::size_t i = 0; i < frames; i += 16) {
        __m512 l = _mm512_loadu_ps(left + i), r = _mm512_loadu_ps(right + i);
        for (int k = 0; k < 8; ++k) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(voices[k] + i));
            // Zero-masked forms: the plain ones start from an undefined register, which GCC 12
            // reports as maybe used uninitialised.
            const __m512 x =
                _mm512_maskz_cvtepi32_ps(0xFFFF, _mm512_maskz_cvtepi8_epi32(0xFFFF, bytes));
            l = _mm512_add_ps(l, _mm512_mul_ps(x, _mm512_set1_ps(gains[2 * k])));
            r = _mm512_add_ps(r, _mm512_mul_ps(x, _mm512_set1_ps(gains[2 * k + 1])));
        }
        _mm512_storeu_ps(left + i, l);
        _mm512_storeu_ps(right + i, r);
    }
}

// The widest kernel this CPU runs, named in the benchmark's label; null, with the benchmark
// skipped, when it has none.
ExactKernel widestExactKernel(benchmark::State& state) {
    if (__builtin_cpu_supports("avx512f")) return state.SetLabel("AVX-512"), exactKernelAvx512;
    if (__builtin_cpu_supports("avx2")) return state.SetLabel("AVX2"), exactKernelAvx2;
    state.SkipWithError("no AVX2 on this CPU");
    return nullptr;
}

// Runs the kernel over `blocks` blocks of 256 frames of 96 voices in cache; voice-samples done.
double runExactKernel(ExactKernel kernel, std::uint64_t blocks) {
    constexpr int VOICES = 96;
    constexpr std::size_t LENGTH = 1 << 14; // all voices together stay in the caches
    static const std::vector<std::int8_t> samples = [] {
        std::vector<std::int8_t> s(VOICES * LENGTH);
        for (std::size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<std::int8_t>(i * 37);
        return s;
    }();
    static const std::vector<float> gains(2 * VOICES, 0.001f);
    float left[256], right[256];
    std::size_t at = 0;
    for (std::uint64_t b = 0; b < blocks; ++b) {
        std::fill_n(left, 256, 0.0f);
        std::fill_n(right, 256, 0.0f);
        for (int v = 0; v < VOICES; v += 8) {
            const std::int8_t* group[8];
            for (int k = 0; k < 8; ++k)
                group[k] = samples.data() + static_cast<std::size_t>(v + k) * LENGTH + at;
            kernel(group, gains.data() + 2 * v, left, right, 256);
        }
        at = (at + 256) % LENGTH;
        benchmark::DoNotOptimize(left);
        benchmark::DoNotOptimize(right);
    }
    return static_cast<double>(blocks) * 256 * VOICES;
}

void BM_FloorExactKernel(benchmark::State& state) {
    const ExactKernel kernel = widestExactKernel(state);
    if (!kernel) return;
    double done = 0;
    for (auto _ : state)
        done += runExactKernel(kernel, 1);
    state.counters["voice_samples_per_s"] = benchmark::Counter(done, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FloorExactKernel);
#endif

// The other floor: how fast this machine writes and reads memory (256 MiB, past every cache).
void BM_FloorMemoryBandwidth(benchmark::State& state) {
    std::vector<std::uint8_t> block(256u << 20, 1);
    std::uint64_t sum = 0;
    for (auto _ : state) {
        std::memset(block.data(), static_cast<int>(sum & 0x7F), block.size());
        for (std::size_t i = 0; i < block.size(); i += 64)
            sum += block[i];
        benchmark::DoNotOptimize(sum);
    }
    state.counters["bytes_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()) *
                                                           2.0 * static_cast<double>(block.size()),
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FloorMemoryBandwidth)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SynthesisPerSample(benchmark::State& state) {
    const test::SongSpec s = busySong();
    const auto& in = s.instruments[0];
    std::vector<std::int8_t> out(100000);
    for (auto _ : state) {
        renderNote(in.wave, in.envelope, noteStep(8, 7), static_cast<std::uint32_t>(out.size()),
                   out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_SynthesisPerSample);

void BM_RenderBusySongTenSeconds(benchmark::State& state) {
    test::TempFile file(test::songBytes(busySong()));
    constexpr std::size_t FRAMES = 10 * SAMPLE_RATE;
    std::vector<float> out(2 * 1024);
    std::vector<std::int16_t> pcm(2 * 1024);
    for (auto _ : state) {
        Player player;
        test::OfflineDevice device;
        initSoundDevice(player.bank, &device);
        transportCommand(player, TRANSPORT_LOAD, file.path());
        playFromNextFrame(player);
        for (std::size_t done = 0; done < FRAMES; done += 1024) {
            mixFrames(player.bank, out.data(), 1024);
            floatToPcm16(out.data(), pcm.data(), pcm.size());
        }
        benchmark::DoNotOptimize(pcm.data());
    }
    state.counters["x_real_time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 10.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderBusySongTenSeconds)->Unit(benchmark::kMillisecond);

// How many voice-samples `rkv render` of the busy song mixes in `seconds`: the mixer's work, of
// which the floor is this many at the exact kernel's rate. Counted from the voices' positions,
// mixing up to each tick, so that a restart can only come at the start of a call.
std::uint64_t busySongVoiceSamples(double seconds) {
    test::TempFile file(test::songBytes(busySong()));
    Player player;
    test::OfflineDevice device;
    initSoundDevice(player.bank, &device);
    loadDrumKit(player.bank, player.state, builtinResources()); // rkv plays the drums too
    transportCommand(player, TRANSPORT_LOAD, file.path());
    playFromNextFrame(player);
    VoiceBank& bank = player.bank;
    const auto frames = static_cast<std::uint64_t>(seconds * SAMPLE_RATE);
    std::vector<float> out(2 * 4096);
    std::vector<std::uint32_t> index(VOICE_SLOTS);
    std::vector<std::uint64_t> restarted(VOICE_SLOTS);
    std::uint64_t total = 0;
    while (bank.frame < frames) {
        for (int slot = 0; slot < VOICE_SLOTS; ++slot) {
            index[slot] = bank.voices[slot].index;
            restarted[slot] = bank.voices[slot].restartedAt;
        }
        std::uint64_t n = std::min<std::uint64_t>(4096, frames - bank.frame);
        // A tick due now runs first in the call: one frame then, so the next one is known.
        if (bank.timer.running)
            n = bank.timer.nextFrame > bank.frame ? std::min(n, bank.timer.nextFrame - bank.frame)
                                                  : 1;
        mixFrames(bank, out.data(), static_cast<std::size_t>(n));
        for (int slot = 0; slot < VOICE_SLOTS; ++slot) {
            const Voice& v = bank.voices[slot];
            total += v.restartedAt != restarted[slot] ? v.index : v.index - index[slot];
        }
    }
    return total;
}

#if defined(__x86_64__)
// The floor of the mixing in a 600 s render of the busy song: its voice-samples through the
// exact kernel. The rest of the floor is the conversion, the writes and the process start.
void BM_FloorBusySongMixing(benchmark::State& state) {
    const ExactKernel kernel = widestExactKernel(state);
    if (!kernel) return;
    const std::uint64_t samples = busySongVoiceSamples(600);
    for (auto _ : state)
        runExactKernel(kernel, samples / (256 * 96));
    state.counters["voice_samples"] = static_cast<double>(samples);
}
BENCHMARK(BM_FloorBusySongMixing)->Unit(benchmark::kMillisecond);
#endif

// The mixer's side of the same comparison: `rkv render`'s 600 s of the busy song mixed in-process
// in its 32768-frame requests and converted to 16 bits, the load left out of the time.
void BM_MixBusySongSixHundredSeconds(benchmark::State& state) {
    test::TempFile file(test::songBytes(busySong()));
    constexpr std::size_t FRAMES = 600 * SAMPLE_RATE, REQUEST = 32768;
    std::vector<float> out(2 * REQUEST);
    std::vector<std::int16_t> pcm(2 * REQUEST);
    for (auto _ : state) {
        state.PauseTiming();
        auto player = std::make_unique<Player>();
        test::OfflineDevice device;
        initSoundDevice(player->bank, &device);
        loadDrumKit(player->bank, player->state, builtinResources());
        transportCommand(*player, TRANSPORT_LOAD, file.path());
        playFromNextFrame(*player);
        state.ResumeTiming();
        for (std::size_t done = 0; done < FRAMES; done += REQUEST) {
            const std::size_t n = std::min(REQUEST, FRAMES - done);
            mixFrames(player->bank, out.data(), n);
            floatToPcm16(out.data(), pcm.data(), 2 * n);
        }
        benchmark::DoNotOptimize(pcm.data());
    }
}
BENCHMARK(BM_MixBusySongSixHundredSeconds)->Unit(benchmark::kMillisecond);

// Three instruments whose 72 voices take all but 77824 bytes of the 1 GiB bank (loaded here with
// no drums; bench/big_songs.py writes a slightly shorter one for `rkv`, which loads the drums).
test::SongSpec oneGiBSong() {
    test::SongSpec s = busySong();
    for (int k = 0; k < 3; ++k) {
        auto& in = s.instruments[k];
        in.noteLength = LOAD_NOTE_LENGTH;
        for (int i = 0; i < 256; ++i)
            in.wave[i] = static_cast<std::int8_t>((i * (5 + 2 * k)) % 256 - 128);
        for (int i = 0; i < 64; ++i)
            in.envelope[i] = static_cast<std::int8_t>((i * (k + 1) * 3) % 200 - 100);
    }
    return s;
}

// A 64-bit hash of a voice's bytes in the format's unsigned form (as recorded before the bank
// stored them signed), eight at a time.
std::uint64_t voiceHash(const std::int8_t* p, std::uint32_t n) {
    std::uint64_t h = 0x9E3779B97F4A7C15u ^ n;
    std::uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w ^ 0x8080808080808080u) * 0x100000001B3u;
        h ^= h >> 29;
    }
    for (; i < n; ++i)
        h = (h ^ (static_cast<std::uint8_t>(p[i]) ^ 0x80u)) * 0x100000001B3u;
    return h;
}

void BM_LoadOneGiBSong(benchmark::State& state) {
    test::TempFile file(test::songBytes(oneGiBSong()));
    for (auto _ : state) {
        state.PauseTiming();
        auto player = std::make_unique<Player>();
        test::OfflineDevice device;
        initSoundDevice(player->bank, &device);
        state.ResumeTiming();
        transportCommand(*player, TRANSPORT_LOAD, file.path());
        state.PauseTiming();
        // The voices must really hold today's notes: a hash of every one against the record.
        const bool print = std::getenv("RKV_PRINT_VOICE_CHECKSUMS") != nullptr;
        int wrong = -1;
        for (int j = 0; j < LOAD_VOICES; ++j) {
            const Voice& v = player->bank.voices[FIRST_TRACK_SLOT + j];
            const std::uint64_t h = v.data ? voiceHash(v.data, v.length) : 0;
            if (print) std::printf("    0x%016llxu,\n", static_cast<unsigned long long>(h));
            if (h != LOAD_VOICE_CHECKSUMS[j] && wrong < 0) wrong = j;
        }
        std::fflush(stdout);
        player.reset();
        if (wrong >= 0) {
            state.SkipWithError(
                ("voice " + std::to_string(wrong) + " differs from the record").c_str());
            break;
        }
        state.ResumeTiming();
    }
}
// Repeated: the first load after the machine has been idle also pays for the host backing fresh
// memory.
BENCHMARK(BM_LoadOneGiBSong)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);

} // namespace

BENCHMARK_MAIN();
