// Song timing as the sequencer plays it: which step each tick plays, where the passes begin and
// end, and on which frame each tick falls. Shared by `rkv info`, `rkv render` and `rkv play`, so
// that the lengths one reports are the lengths the others produce, to the frame.
#pragma once

#include <array>
#include <cstdint>

#include "song/song.hpp"

namespace rkv::render {

// Ring-out after the last step is cut after this many frames (3 s).
constexpr std::uint64_t MAX_RING_OUT_FRAMES = 3 * 22050;

struct SongTiming {
    std::uint32_t stepTime = 0; // ms
    bool ticks = false;         // the clock runs; otherwise only the first step ever plays
    std::int32_t loopStart = 0; // where the sequencer wraps to (clamped into the song)
    // The last step before a wrap: min(loop end - 1, step count - 1), each wrapped at 32 bits as
    // the sequencer computes it. Negative when the loop end is 0 or below.
    std::int32_t lastStep = 0;
    std::uint64_t firstPassSteps = 0; // ticks 0 .. firstPassSteps-1; the next one wraps
    std::uint64_t loopPassSteps = 0;  // ticks between two wraps
    std::uint64_t introSteps = 0;     // ticks before the loop region first sounds
};

// Needs a step count of at least 1 (the parser refuses anything else).
SongTiming songTiming(const SongHeader& header);

// Frame on which tick k falls; tick 0 is step 0 at frame 0.
std::uint64_t tickFrame(std::uint32_t stepTimeMs, std::uint64_t k);

// The last tick on or before `frame`; 0 when the clock never runs.
std::uint64_t tickAtFrame(const SongTiming& timing, std::uint64_t frame);

// Step the sequencer plays on tick k.
std::int32_t positionAtTick(const SongTiming& timing, std::uint64_t k);

// 0 during the first pass, n during the n-th repeat of the loop region.
std::uint64_t passAtTick(const SongTiming& timing, std::uint64_t k);

// Ticks played by "the first pass and `loops` repeats": the tick with this index is the first
// one not played. A song whose clock never runs plays tick 0 only.
std::uint64_t ticksForLoops(const SongTiming& timing, std::uint64_t loops);

// First frame after the played ticks: where the sequencer stops and the ring-out begins. A song
// whose clock never runs ends at frame 0 (its only step rings out from there).
std::uint64_t endFrameForTicks(const SongTiming& timing, std::uint64_t ticks);

// Lengths of the sounding voices of the four tracks' slots (track t, note i at t*24+i); 0 where a
// slot has no voice or plays silence.
using TrackVoiceLengths = std::array<std::uint32_t, TRACK_COUNT * NOTES_PER_TRACK>;

// The voices a fresh player gets for this song: the drum kit's lengths as loaded, and each
// instrument's note length when the mixer can create and fill all 24 of its voices. `drumBytes`
// is what the drum kit reserved before the song was loaded.
TrackVoiceLengths trackVoiceLengths(const SongHeader& header,
                                    const std::array<std::uint32_t, NOTES_PER_TRACK>& drumLengths,
                                    std::uint64_t drumBytes);

// Why an instrument plays silence, or Sounding.
enum class InstrumentVoices { Sounding, LengthOutOfRange, PastBankLimit };
std::array<InstrumentVoices, INSTRUMENT_COUNT> instrumentVoices(const SongHeader& header,
                                                                std::uint64_t drumBytes);

struct PlayLength {
    std::uint64_t ticks = 0;         // ticks played
    std::uint64_t endFrame = 0;      // the sequencer stops here
    std::uint64_t ringOutFrames = 0; // voices still sounding at endFrame, capped
    std::uint64_t frames() const { return endFrame + ringOutFrames; }
};

// The whole length of "play the first pass and `loops` repeats, then let the voices ring out".
PlayLength playLength(const Song& song, const SongTiming& timing, std::uint64_t loops,
                      const TrackVoiceLengths& voices);

} // namespace rkv::render
