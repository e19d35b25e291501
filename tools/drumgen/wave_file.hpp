// The one RIFF layout every drum resource uses: fmt (18 bytes), fact, data, optional pad byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace drumgen {

constexpr std::size_t kWaveHeaderSize = 58;

// A complete 22050 Hz, 8-bit, mono wave file holding `samples`.
std::vector<std::uint8_t> encodeDrumWave(std::span<const std::uint8_t> samples);

} // namespace drumgen
