// The header of a stereo WAV file, byte for byte as the sound-file library writes it: 16-bit PCM,
// or 32-bit float with a fact chunk and a padding chunk.
#pragma once

#include <cstdint>
#include <vector>

namespace rkv::cli {

// Sizes a header cannot hold (past 4 GiB) are written as the largest it can: a stream's reader
// then reads to the end.
std::vector<std::uint8_t> wavHeader(bool floatSamples, int rate, std::uint64_t frames);

} // namespace rkv::cli
