#include "cli/wav_header.hpp"

#include <algorithm>

namespace rkv::cli {

std::vector<std::uint8_t> wavHeader(bool floatSamples, int rate, std::uint64_t frames) {
    std::vector<std::uint8_t> h(88); // the float header is the longer: 88 bytes
    std::size_t at = 0;
    const auto putLE = [&](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            h.at(at++) = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const auto put = [&](const char* id) {
        for (int i = 0; i < 4; ++i)
            h.at(at++) = static_cast<std::uint8_t>(id[i]);
    };
    const auto put16 = [&](std::uint16_t v) { putLE(v, 2); };
    const auto put32 = [&](std::uint64_t v) { putLE(std::min<std::uint64_t>(v, UINT32_MAX), 4); };
    const std::uint32_t sampleBytes = floatSamples ? 4 : 2;
    const std::uint64_t data = frames * 2 * sampleBytes;
    constexpr std::uint32_t PAD_BYTES = 24;
    const std::uint32_t extra = floatSamples ? 12 + 8 + PAD_BYTES : 0;
    put("RIFF");
    put32(4 + 8 + 16 + extra + 8 + data);
    put("WAVE");
    put("fmt ");
    put32(16);
    put16(floatSamples ? 3 : 1);
    put16(2);
    put32(static_cast<std::uint32_t>(rate));
    put32(static_cast<std::uint32_t>(rate) * 2 * sampleBytes);
    put16(static_cast<std::uint16_t>(2 * sampleBytes));
    put16(static_cast<std::uint16_t>(8 * sampleBytes));
    if (floatSamples) {
        put("fact");
        put32(4);
        put32(frames);
        put("PAD ");
        put32(PAD_BYTES);
        at += PAD_BYTES; // zeros
    }
    put("data");
    put32(data);
    h.resize(at);
    return h;
}

} // namespace rkv::cli
