// librkv's C API as a program embedding it drives it: open any bytes, then repeat counts, rates,
// reads and seeks in any order, checking that lengths, positions and frame counts agree.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "rkv/rkv.h"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

void checkPosition(const rkv_song* song, std::uint64_t frame) {
    rkv_position p;
    require(rkv_position_get(song, &p) == RKV_OK && p.frame == frame);
    require(p.step >= 0 && p.step < rkv_step_count(song));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rkv_song* song = nullptr;
    char why[64];
    if (rkv_open_memory(data, size, &song, why, sizeof why) != RKV_OK) {
        require(song == nullptr && why[0] != '\0');
        return 0;
    }
    for (std::size_t i = 0; i < rkv_warning_count(song); ++i)
        rkv::fuzz::keep(rkv_warning_text(song, i)[0]);
    static const std::int32_t RATES[] = {22050, 44100, 48000, 8000, 11025, 96000, 7999};
    std::vector<float> buffer(2 * 4096);
    std::uint64_t frame = 0;
    const auto commands = rkv::fuzz::tailCommands(data, size);
    for (std::size_t i = 0; i + 1 < commands.size(); i += 2) {
        const std::uint8_t arg = commands[i + 1];
        std::uint64_t length = rkv_length_frames(song);
        switch (commands[i] % 6) {
        case 0:
            require(rkv_set_repeat(song, arg % 4 - 1) == RKV_OK);
            frame = std::min(frame, rkv_length_frames(song));
            break;
        case 1: {
            const std::int32_t rate = RATES[arg % 7];
            const std::int32_t before = rkv_rate(song);
            const bool valid = rate >= RKV_MIN_RATE;
            require((rkv_set_rate(song, rate) == RKV_OK) == valid);
            if (valid && rate != before) {
                rkv_position p;
                rkv_position_get(song, &p);
                frame = p.frame;
            }
            break;
        }
        case 2:
        case 3: {
            const std::size_t n = arg * 16u;
            const std::size_t got =
                commands[i] % 2
                    ? rkv_read_f32(song, buffer.data(), n)
                    : rkv_read_s16(song, reinterpret_cast<std::int16_t*>(buffer.data()), n);
            // Short only at the end.
            require(got == n || frame + got == length);
            frame += got;
            break;
        }
        case 4:
            require(rkv_seek_frame(song, arg * 61u) == RKV_OK);
            frame = std::min<std::uint64_t>(arg * 61u, length);
            break;
        case 5:
            require(rkv_seek_seconds(song, arg / 64.0) == RKV_OK);
            frame = std::min<std::uint64_t>(
                static_cast<std::uint64_t>(std::llround(arg / 64.0 * rkv_rate(song))), length);
            break;
        }
        checkPosition(song, frame);
    }
    rkv_close(song);
    return 0;
}
