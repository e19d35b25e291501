// The parser and the stream reader: any bytes, read whole and in pieces of every size, must give
// the same song, and a source without the magic must be left after its first bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "song/song.hpp"
#include "tests/fuzz/fuzz_support.hpp"

using namespace rkv;

namespace {

bool sameSong(const ParseResult& a, const ParseResult& b) {
    if (a.status != b.status || a.reason != b.reason) return false;
    if (a.status != ParseStatus::Ok) return true;
    const SongHeader& x = a.song.header;
    const SongHeader& y = b.song.header;
    if (x.stepCount != y.stepCount || x.stepTime != y.stepTime || x.loopStart != y.loopStart ||
        x.loopEnd != y.loopEnd || x.drumVolume != y.drumVolume)
        return false;
    for (int k = 0; k < INSTRUMENT_COUNT; ++k)
        if (x.instruments[k].noteLength != y.instruments[k].noteLength ||
            x.instruments[k].wave != y.instruments[k].wave)
            return false;
    for (int t = 0; t < TRACK_COUNT; ++t)
        if (a.song.tracks[t].words != b.song.tracks[t].words) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ParseResult whole = parseSong({data, size});
    // Every track word comes from the bytes present: never more words than bytes.
    std::size_t words = 0;
    for (const Track& t : whole.song.tracks)
        words += t.words.size();
    if (words * 4 > size + 3 * TRACK_COUNT) __builtin_trap();

    // The same bytes through a source that gives them in pieces of 1..N bytes and hides its size.
    const std::size_t piece = size ? data[0] % 97 + 1 : 1;
    std::size_t at = 0;
    std::size_t reads = 0;
    const auto pieces = [&](std::uint8_t* into, std::size_t max) -> std::ptrdiff_t {
        ++reads;
        const std::size_t n = std::min({max, piece, size - at});
        if (n) std::memcpy(into, data + at, n);
        at += n;
        return static_cast<std::ptrdiff_t>(n);
    };
    const SongRead streamed = readSong(pieces, 0, true);
    if (streamed.hasMagic != hasSongMagic({data, size})) __builtin_trap();
    if (!streamed.hasMagic) {
        if (at > 3) __builtin_trap(); // read past the magic of a file that is not a song
        return 0;
    }
    if (!sameSong(whole, streamed.parsed)) __builtin_trap();
    fuzz::keep(reads);
    return 0;
}
