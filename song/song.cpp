#include "song/song.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "song/huge_pages.hpp"

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

namespace {

// Fills `into` with up to `n` bytes; fewer only at the end of the source. False on a read error.
bool readUpTo(const ReadFunction& read, std::uint8_t* into, std::size_t n, std::size_t& got,
              SongRead& out) {
    got = 0;
    while (got < n) {
        const std::ptrdiff_t r = read(into + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            out.readFailed = true;
            out.error = std::strerror(errno);
            return false;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
        out.bytesRead += static_cast<std::uint64_t>(r);
    }
    return true;
}

void parseHeader(const std::array<std::uint8_t, SONG_HEADER_SIZE>& raw, SongHeader& h) {
    const std::span<const std::uint8_t> header(raw);
    std::memcpy(h.magic.data(), raw.data(), h.magic.size());
    h.stepTime = readU32LE(header, STEP_TIME_OFFSET);
    h.loopStart = static_cast<std::int32_t>(readU32LE(header, LOOP_START_OFFSET));
    h.loopEnd = static_cast<std::int32_t>(readU32LE(header, LOOP_END_OFFSET));
    h.stepCount = static_cast<std::int32_t>(readU32LE(header, STEP_COUNT_OFFSET));
    for (int k = 0; k < INSTRUMENT_COUNT; ++k)
        h.instruments[k] = readInstrument(
            header, FIRST_INSTRUMENT_OFFSET + static_cast<std::size_t>(k) * INSTRUMENT_RECORD_SIZE);
    h.drumVolume = static_cast<std::int32_t>(readU32LE(header, DRUM_VOLUME_OFFSET));
}

// Reads up to `claimed` bytes of one track into its words. False at the end of the source.
bool readTrack(const ReadFunction& read, std::uint64_t claimed, std::uint64_t sizeLeft,
               Track& track, SongRead& out) {
    constexpr std::uint64_t CHUNK = 1 << 16;
    // A known size reserves exactly what the source holds; otherwise the words grow as they come.
    track.words.reserve(static_cast<std::size_t>((std::min(claimed, sizeLeft) + 3) / 4));
    adviseHugePages(track.words.data(), track.words.capacity() * sizeof(StepWord));
    std::uint64_t filled = 0;
    bool more = true;
    while (filled < claimed && more) {
        std::uint64_t want = std::min(CHUNK, claimed - filled);
        const std::uint64_t room = std::uint64_t{track.words.capacity()} * 4 - filled;
        std::size_t got = 0;
        if (room > 0) {
            // Fill what was reserved exactly: a source that ends there never grows the words.
            want = std::min(want, room);
            track.words.resize(static_cast<std::size_t>((filled + want + 3) / 4));
            auto* bytes = reinterpret_cast<std::uint8_t*>(track.words.data());
            if (!readUpTo(read, bytes + filled, static_cast<std::size_t>(want), got, out))
                return false;
        } else {
            // Past the reservation, the words grow only for bytes that really came.
            std::array<std::uint8_t, 4096> probe;
            want = std::min<std::uint64_t>(want, probe.size());
            if (!readUpTo(read, probe.data(), static_cast<std::size_t>(want), got, out))
                return false;
            track.words.resize(static_cast<std::size_t>((filled + got + 3) / 4));
            if (got)
                std::memcpy(reinterpret_cast<std::uint8_t*>(track.words.data()) + filled,
                            probe.data(), got);
        }
        filled += got;
        more = got == want;
    }
    // A word cut short by the end of the source keeps the bytes that are there.
    track.words.resize(static_cast<std::size_t>((filled + 3) / 4));
    if constexpr (std::endian::native == std::endian::big) {
        for (StepWord& w : track.words) {
            const auto* b = reinterpret_cast<const std::uint8_t*>(&w);
            w = readU32LE(std::span<const std::uint8_t>(b, 4), 0);
        }
    }
    return more;
}

} // namespace

SongRead readSong(const ReadFunction& read, std::uint64_t sizeHint, bool stopWithoutMagic) {
    SongRead out;
    // Missing header bytes read as zero, never as a previous song's values.
    std::array<std::uint8_t, SONG_HEADER_SIZE> raw{};
    // The magic first: a source that is not a song costs no more than its first bytes.
    std::size_t got = 0;
    if (!readUpTo(read, raw.data(), 3, got, out)) return out;
    out.hasMagic = hasSongMagic(std::span<const std::uint8_t>(raw.data(), got));
    if (stopWithoutMagic && !out.hasMagic) return out;
    std::size_t rest = 0;
    if (got == 3 && !readUpTo(read, raw.data() + 3, raw.size() - 3, rest, out)) return out;
    got += rest;

    ParseResult& result = out.parsed;
    SongHeader& h = result.song.header;
    parseHeader(raw, h);
    if (h.stepCount < 1) {
        result.reason = "step count " + std::to_string(h.stepCount) + " is below 1";
        return out;
    }
    // Each track holds only the words the source has.
    const std::uint64_t trackBytes = std::uint64_t{4} * static_cast<std::uint64_t>(h.stepCount);
    std::uint64_t consumed = got;
    bool more = got == raw.size();
    for (int t = 0; t < TRACK_COUNT && more; ++t) {
        const std::uint64_t sizeLeft = sizeHint > consumed ? sizeHint - consumed : 0; // 0: unknown
        more = readTrack(read, trackBytes, sizeLeft, result.song.tracks[t], out);
        if (out.readFailed) return out;
        consumed += trackBytes;
    }
    result.song.loaded = true;
    result.status = ParseStatus::Ok;
    return out;
}

ParseResult parseSong(std::span<const std::uint8_t> bytes) {
    std::size_t at = 0;
    const auto fromMemory = [&](std::uint8_t* into, std::size_t max) -> std::ptrdiff_t {
        const std::size_t n = std::min(max, bytes.size() - at);
        if (n) std::memcpy(into, bytes.data() + at, n);
        at += n;
        return static_cast<std::ptrdiff_t>(n);
    };
    return std::move(readSong(fromMemory, bytes.size(), false).parsed);
}

} // namespace rkv
