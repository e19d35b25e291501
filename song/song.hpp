// Song records: the fixed header, the three instruments and the four tracks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace rkv {

constexpr std::size_t SONG_HEADER_SIZE = 1048;
constexpr std::size_t INSTRUMENT_RECORD_SIZE = 340;
constexpr int TRACK_COUNT = 4;
constexpr int INSTRUMENT_COUNT = 3;
constexpr int NOTES_PER_TRACK = 24;

using StepWord = std::uint32_t;

struct InstrumentRecord {
    std::uint8_t octave = 0;
    std::uint32_t noteLength = 0; // samples, equal to bytes
    std::int32_t volume = 0;      // volume level, 300 = full
    std::array<std::int8_t, 256> wave{};
    std::array<std::int8_t, 64> envelope{};
};

struct SongHeader {
    std::array<char, 3> magic{};
    std::uint32_t stepTime = 0; // milliseconds between steps
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 0;
    std::int32_t stepCount = 0;
    std::array<InstrumentRecord, INSTRUMENT_COUNT> instruments{};
    std::int32_t drumVolume = 0;
};

// A track claims `stepCount` words but holds only those the file really had; the rest read as 0.
// This keeps memory proportional to the file, whatever step count it claims.
struct Track {
    std::vector<StepWord> words;
    StepWord at(std::int32_t position) const {
        return position >= 0 && static_cast<std::size_t>(position) < words.size()
                   ? words[static_cast<std::size_t>(position)]
                   : 0;
    }
};

struct Song {
    SongHeader header;
    std::array<Track, TRACK_COUNT> tracks;
    bool loaded = false; // a song counts as loaded once its tracks exist
};

// Pan values by pan code; code 0 means "leave the pan as it is" and is never applied.
constexpr std::array<std::int32_t, 8> PAN_TABLE = {0, 96, 180, 224, 256, 288, 332, 420};
constexpr std::int32_t PAN_CENTRE = 256;

inline std::uint32_t panCode(StepWord w) {
    return w >> 24;
}
inline bool noteBit(StepWord w, int i) {
    return ((w >> i) & 1u) != 0;
}

// True when the bytes begin with the song magic "RKV" (upper case; the fourth byte is free).
bool hasSongMagic(std::span<const std::uint8_t> bytes);

// The step the sequencer wraps to: loop start, kept inside the song so a tick never reads
// outside a track.
std::int32_t effectiveLoopStart(const SongHeader& header);

enum class ParseStatus { Ok, Refused };

struct ParseResult {
    ParseStatus status = ParseStatus::Refused;
    Song song;
    std::string reason; // why the file was refused; empty when Ok
};

// Pure parser over the bytes of a file. Missing header bytes read as zero; missing track words
// read as zero. A step count below 1 is refused.
ParseResult parseSong(std::span<const std::uint8_t> bytes);

// Reads like read(2): bytes placed in `into` (at most `max`), 0 at the end, -1 with errno set.
using ReadFunction = std::function<std::ptrdiff_t(std::uint8_t* into, std::size_t max)>;

struct SongRead {
    bool readFailed = false; // the source failed; `error` says why
    std::string error;
    bool hasMagic = false;
    std::uint64_t bytesRead = 0; // what was taken from the source (a cut-off file's size)
    ParseResult parsed;
};

// parseSong over a stream, reading each byte once and holding it once: the track bytes go straight
// into the track words, and no more of them are read than the step count claims. `sizeHint`, the
// source's size when known (else 0), sizes the tracks exactly. With `stopWithoutMagic`, a source
// whose first bytes are not the magic is left after them (the parse is then not done).
SongRead readSong(const ReadFunction& read, std::uint64_t sizeHint, bool stopWithoutMagic);

// Little-endian field readers shared by the parser and the tools.
std::uint32_t readU32LE(std::span<const std::uint8_t> bytes, std::size_t offset);

} // namespace rkv
