#include "wave_file.hpp"

#include <string_view>

namespace drumgen {
namespace {

void putTag(std::vector<std::uint8_t>& out, std::string_view tag) {
    out.insert(out.end(), tag.begin(), tag.end());
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

} // namespace

std::vector<std::uint8_t> encodeDrumWave(std::span<const std::uint8_t> samples) {
    const auto n = static_cast<std::uint32_t>(samples.size());
    const std::uint32_t pad = n % 2;
    std::vector<std::uint8_t> out;
    out.reserve(kWaveHeaderSize + n + pad);

    putTag(out, "RIFF");
    put32(out, static_cast<std::uint32_t>(kWaveHeaderSize) + n + pad - 8);
    putTag(out, "WAVE");

    putTag(out, "fmt ");
    put32(out, 18);
    put16(out, 1);     // PCM
    put16(out, 1);     // mono
    put32(out, 22050); // samples per second
    put32(out, 22050); // bytes per second
    put16(out, 1);     // block align
    put16(out, 8);     // bits per sample
    put16(out, 0);     // no extra format bytes

    putTag(out, "fact");
    put32(out, 4);
    put32(out, n);

    putTag(out, "data");
    put32(out, n);
    out.insert(out.end(), samples.begin(), samples.end());
    if (pad) out.push_back(0); // chunks are word-aligned
    return out;
}

} // namespace drumgen
