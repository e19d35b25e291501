// A song file cut off inside its tracks: how many step words each track lacks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rkv::render {

// Words missing from each of the four tracks of a file of `fileSize` bytes whose header claims
// `stepCount` steps (a word cut in two counts as missing). All zero for a complete file.
std::array<std::uint64_t, 4> missingTrackWords(std::size_t fileSize, std::uint32_t stepCount);

// The warning for the report, or "" when nothing is missing.
std::string truncationWarning(std::size_t fileSize, std::uint32_t stepCount);

} // namespace rkv::render
