// librkv's C API driven as a program embedding it might: open any bytes, then repeat counts, rates,
// reads and seeks from the input's tail, checking that reads are short only at the end and that
// the position follows.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "rkv/rkv.h"
#include "song/song.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The API cannot shrink the voice bank as the engine's harnesses do, and a song may fill it
    // (1 GiB), and synthesis would take most of each run: songs whose 72 notes take more than
    // 64 KB are left to those harnesses.
    // The lengths are taken from the parser itself: a header cut inside a length field still
    // has its length (the missing bytes read as 0).
    std::uint64_t noteBytes = 0;
    for (const rkv::InstrumentRecord& in : rkv::parseSong({data, size}).song.header.instruments)
        noteBytes += std::uint64_t{rkv::NOTES_PER_TRACK} * in.noteLength;
    if (noteBytes > (64u << 10)) return 0;
    rkv_song* song = nullptr;
    char why[64];
    if (rkv_open_memory(data, size, &song, why, sizeof why) != RKV_OK) {
        if (song || why[0] == '\0') std::abort();
        return 0;
    }
    static const std::int32_t RATES[] = {22050, 44100, 48000, 8000, 11025, 96000, 7999};
    std::vector<float> buffer(2 * 4096);
    std::uint64_t frame = 0;
    // A seek back, a new rate or a new repeat count mixes again from the start: 16 commands per
    // run reach every path at a tenth of the cost of the longest tails.
    const auto tail = rkv::fuzz::tailCommands(data, size);
    const auto commands = tail.first(std::min<std::size_t>(tail.size(), 32));
    for (std::size_t i = 0; i + 1 < commands.size(); i += 2) {
        const std::uint8_t arg = commands[i + 1];
        const std::uint64_t length = rkv_length_frames(song);
        rkv_position p;
        bool ok = true;
        switch (commands[i] % 6) {
        case 0:
            ok = rkv_set_repeat(song, arg % 4 - 1) == RKV_OK;
            frame = std::min(frame, rkv_length_frames(song));
            break;
        case 1: // the position keeps its time, to the nearest frame at the new rate
            ok = (rkv_set_rate(song, RATES[arg % 7]) == RKV_OK) == (RATES[arg % 7] >= RKV_MIN_RATE);
            rkv_position_get(song, &p);
            frame = p.frame;
            break;
        case 2:
        case 3: {
            const std::size_t n = arg * 16u;
            const std::size_t got =
                commands[i] % 2
                    ? rkv_read_f32(song, buffer.data(), n)
                    : rkv_read_s16(song, reinterpret_cast<std::int16_t*>(buffer.data()), n);
            ok = got == n || frame + got == length;
            frame += got;
            break;
        }
        case 4:
            ok = rkv_seek_frame(song, arg * 61u) == RKV_OK;
            frame = std::min<std::uint64_t>(arg * 61u, length);
            break;
        case 5:
            ok = rkv_seek_seconds(song, arg / 256.0) == RKV_OK;
            frame = std::min(static_cast<std::uint64_t>(std::llround(arg / 256.0 * rkv_rate(song))),
                             length);
            break;
        }
        if (!ok || rkv_position_get(song, &p) != RKV_OK || p.frame != frame || p.step < 0 ||
            p.step >= rkv_step_count(song))
            std::abort();
    }
    for (std::size_t i = 0; i < rkv_warning_count(song); ++i)
        rkv::fuzz::keep(rkv_warning_text(song, i)[0]);
    rkv_close(song);
    return 0;
}
