#include "render/song_timing.hpp"

#include <algorithm>
#include <bit>
#include <limits>

#include "sound/voice_bank.hpp"

namespace rkv::render {

namespace {

constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > U64_MAX - b ? U64_MAX : a + b;
}

std::uint64_t saturatingMul(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > U64_MAX / b ? U64_MAX : a * b;
}

std::int32_t wrappedMinusOne(std::int32_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) - 1u);
}

} // namespace

SongTiming songTiming(const SongHeader& header) {
    SongTiming t;
    t.stepTime = header.stepTime;
    t.ticks = header.stepTime >= 1 && header.stepTime <= MAX_STEP_TIME_MS;
    t.loopStart = effectiveLoopStart(header);
    t.lastStep = std::min(wrappedMinusOne(header.loopEnd), wrappedMinusOne(header.stepCount));

    // From position -1 the first tick plays step 0, unless step 0 is already past the last step
    // (loop end 0 or below): then even the first tick wraps, and every tick plays the loop start.
    const bool reachesLoop = t.loopStart <= t.lastStep;
    if (t.lastStep >= 0) {
        t.firstPassSteps = static_cast<std::uint64_t>(t.lastStep) + 1;
        t.introSteps = reachesLoop ? static_cast<std::uint64_t>(t.loopStart) : t.firstPassSteps;
    } else {
        t.firstPassSteps = 1;
        t.introSteps = 0;
    }
    // A loop start past the last step wraps on every tick: the loop is that one step.
    t.loopPassSteps = reachesLoop ? static_cast<std::uint64_t>(t.lastStep) -
                                        static_cast<std::uint64_t>(t.loopStart) + 1
                                  : 1;
    return t;
}

std::uint64_t tickFrame(std::uint32_t stepTimeMs, std::uint64_t k) {
    const unsigned __int128 frame = static_cast<unsigned __int128>(k) * stepTimeMs * 441 / 20;
    return frame > U64_MAX ? U64_MAX : static_cast<std::uint64_t>(frame);
}

std::uint64_t tickAtFrame(const SongTiming& timing, std::uint64_t frame) {
    if (!timing.ticks) return 0;
    // tickFrame(k) <= frame exactly when k * d * 441 < (frame + 1) * 20.
    const unsigned __int128 k = (static_cast<unsigned __int128>(frame) * 20 + 19) /
                                (static_cast<unsigned __int128>(timing.stepTime) * 441);
    return k > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(k);
}

std::int32_t positionAtTick(const SongTiming& timing, std::uint64_t k) {
    if (k < timing.firstPassSteps)
        return timing.lastStep >= 0 ? static_cast<std::int32_t>(k) : timing.loopStart;
    const std::uint64_t into = (k - timing.firstPassSteps) % timing.loopPassSteps;
    return static_cast<std::int32_t>(static_cast<std::uint64_t>(timing.loopStart) + into);
}

std::uint64_t passAtTick(const SongTiming& timing, std::uint64_t k) {
    if (k < timing.firstPassSteps) return 0;
    return 1 + (k - timing.firstPassSteps) / timing.loopPassSteps;
}

std::uint64_t ticksForLoops(const SongTiming& timing, std::uint64_t loops) {
    if (!timing.ticks) return 1;
    return saturatingAdd(timing.firstPassSteps, saturatingMul(loops, timing.loopPassSteps));
}

std::uint64_t endFrameForTicks(const SongTiming& timing, std::uint64_t ticks) {
    if (!timing.ticks) return 0;
    return tickFrame(timing.stepTime, ticks);
}

std::array<InstrumentVoices, INSTRUMENT_COUNT> instrumentVoices(const SongHeader& header,
                                                                std::uint64_t drumBytes) {
    // Mirrors voice creation in a fresh player: instruments in order, 24 voices each, every
    // created voice keeping its share of the bank's memory even when a later one fails.
    std::array<InstrumentVoices, INSTRUMENT_COUNT> result{};
    std::uint64_t reserved = drumBytes;
    for (int k = 0; k < INSTRUMENT_COUNT; ++k) {
        const std::uint32_t n = header.instruments[k].noteLength;
        if (n < MIN_VOICE_BYTES || n > MAX_VOICE_BYTES) {
            result[k] = InstrumentVoices::LengthOutOfRange;
            continue;
        }
        result[k] = InstrumentVoices::Sounding;
        for (int j = 0; j < NOTES_PER_TRACK; ++j) {
            if (reserved + n > MAX_BANK_BYTES) {
                // The synthesizer gives up at the first voice it cannot create, before it fills
                // any: the voices made so far exist but play silence.
                result[k] = InstrumentVoices::PastBankLimit;
                break;
            }
            reserved += n;
        }
    }
    return result;
}

TrackVoiceLengths trackVoiceLengths(const SongHeader& header,
                                    const std::array<std::uint32_t, NOTES_PER_TRACK>& drumLengths,
                                    std::uint64_t drumBytes) {
    TrackVoiceLengths lengths{};
    const auto voices = instrumentVoices(header, drumBytes);
    for (int k = 0; k < INSTRUMENT_COUNT; ++k)
        if (voices[k] == InstrumentVoices::Sounding)
            for (int i = 0; i < NOTES_PER_TRACK; ++i)
                lengths[k * NOTES_PER_TRACK + i] = header.instruments[k].noteLength;
    for (int i = 0; i < NOTES_PER_TRACK; ++i)
        lengths[INSTRUMENT_COUNT * NOTES_PER_TRACK + i] = drumLengths[i];
    return lengths;
}

PlayLength playLength(const Song& song, const SongTiming& timing, std::uint64_t loops,
                      const TrackVoiceLengths& voices) {
    PlayLength result;
    result.ticks = ticksForLoops(timing, loops);
    result.endFrame = endFrameForTicks(timing, result.ticks);

    // Walk back from the last played tick: the latest restart of each voice decides whether it
    // still sounds at the end frame. Restarts older than the longest voice cannot matter.
    const std::uint64_t longest = *std::max_element(voices.begin(), voices.end());
    std::array<bool, TRACK_COUNT * NOTES_PER_TRACK> seen{};
    std::size_t unseen = static_cast<std::size_t>(
        std::count_if(voices.begin(), voices.end(), [](std::uint32_t n) { return n > 0; }));
    std::uint64_t ringOut = 0;
    for (std::uint64_t k = result.ticks; k-- > 0 && unseen > 0;) {
        const std::uint64_t frame = timing.ticks ? tickFrame(timing.stepTime, k) : 0;
        if (frame + longest <= result.endFrame) break;
        const std::int32_t position = positionAtTick(timing, k);
        for (int t = 0; t < TRACK_COUNT; ++t) {
            std::uint32_t notes = song.tracks[t].at(position) & 0xFFFFFFu;
            while (notes != 0) {
                const int i = std::countr_zero(notes);
                notes &= notes - 1;
                const std::size_t slot = static_cast<std::size_t>(t * NOTES_PER_TRACK + i);
                if (seen[slot] || voices[slot] == 0) continue;
                seen[slot] = true;
                --unseen;
                const std::uint64_t end = frame + voices[slot];
                if (end > result.endFrame) ringOut = std::max(ringOut, end - result.endFrame);
            }
        }
    }
    result.ringOutFrames = std::min(ringOut, MAX_RING_OUT_FRAMES);
    return result;
}

} // namespace rkv::render
