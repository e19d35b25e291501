#include "song/song.hpp"

#include <algorithm>
#include <cstring>

namespace rkv {

namespace {

// Offsets within the header and within an instrument record.
constexpr std::size_t STEP_TIME_OFFSET = 8;
constexpr std::size_t LOOP_START_OFFSET = 12;
constexpr std::size_t LOOP_END_OFFSET = 16;
constexpr std::size_t STEP_COUNT_OFFSET = 20;
constexpr std::size_t FIRST_INSTRUMENT_OFFSET = 24;
constexpr std::size_t DRUM_VOLUME_OFFSET = 1044;
constexpr std::size_t NOTE_LENGTH_OFFSET = 4;
constexpr std::size_t VOLUME_OFFSET = 8;
constexpr std::size_t WAVE_OFFSET = 20;
constexpr std::size_t ENVELOPE_OFFSET = 276;

InstrumentRecord readInstrument(std::span<const std::uint8_t> header, std::size_t base) {
    InstrumentRecord r;
    r.octave = header[base];
    r.noteLength = readU32LE(header, base + NOTE_LENGTH_OFFSET);
    r.volume = static_cast<std::int32_t>(readU32LE(header, base + VOLUME_OFFSET));
    std::memcpy(r.wave.data(), header.data() + base + WAVE_OFFSET, r.wave.size());
    std::memcpy(r.envelope.data(), header.data() + base + ENVELOPE_OFFSET, r.envelope.size());
    return r;
}

} // namespace

std::uint32_t readU32LE(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint8_t b = offset + i < bytes.size() ? bytes[offset + i] : 0;
        v |= std::uint32_t{b} << (8 * i);
    }
    return v;
}

bool hasSongMagic(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 'R' && bytes[1] == 'K' && bytes[2] == 'V';
}

std::int32_t effectiveLoopStart(const SongHeader& header) {
    return std::clamp(header.loopStart, std::int32_t{0}, std::max(header.stepCount - 1, 0));
}

ParseResult parseSong(std::span<const std::uint8_t> bytes) {
    ParseResult result;
    // Missing header bytes read as zero, never as a previous song's values.
    std::array<std::uint8_t, SONG_HEADER_SIZE> raw{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), raw.size()), raw.begin());
    const std::span<const std::uint8_t> header(raw);

    SongHeader& h = result.song.header;
    std::memcpy(h.magic.data(), raw.data(), h.magic.size());
    h.stepTime = readU32LE(header, STEP_TIME_OFFSET);
    h.loopStart = static_cast<std::int32_t>(readU32LE(header, LOOP_START_OFFSET));
    h.loopEnd = static_cast<std::int32_t>(readU32LE(header, LOOP_END_OFFSET));
    h.stepCount = static_cast<std::int32_t>(readU32LE(header, STEP_COUNT_OFFSET));
    for (int k = 0; k < INSTRUMENT_COUNT; ++k)
        h.instruments[k] = readInstrument(
            header, FIRST_INSTRUMENT_OFFSET + static_cast<std::size_t>(k) * INSTRUMENT_RECORD_SIZE);
    h.drumVolume = static_cast<std::int32_t>(readU32LE(header, DRUM_VOLUME_OFFSET));

    if (h.stepCount < 1) {
        result.reason = "step count " + std::to_string(h.stepCount) + " is below 1";
        return result;
    }

    // Each track holds only the words the file has; a word cut short by the end of the file keeps
    // the bytes that are there.
    const std::uint64_t trackBytes = std::uint64_t{4} * static_cast<std::uint64_t>(h.stepCount);
    for (int t = 0; t < TRACK_COUNT; ++t) {
        const std::uint64_t begin = SONG_HEADER_SIZE + trackBytes * static_cast<std::uint64_t>(t);
        Track& track = result.song.tracks[t];
        if (begin >= bytes.size()) continue;
        const std::uint64_t present = std::min<std::uint64_t>(trackBytes, bytes.size() - begin);
        track.words.resize(static_cast<std::size_t>((present + 3) / 4));
        const auto first =
            bytes.subspan(static_cast<std::size_t>(begin), static_cast<std::size_t>(present));
        for (std::size_t i = 0; i < track.words.size(); ++i)
            track.words[i] = readU32LE(first, i * 4);
    }
    result.song.loaded = true;
    result.status = ParseStatus::Ok;
    return result;
}

} // namespace rkv
