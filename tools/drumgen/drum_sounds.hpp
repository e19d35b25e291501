// The six built-in drum sounds: their names, exact lengths, and how they are synthesized.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace drumgen {

constexpr double kSampleRate = 22050.0;

struct DrumSound {
    const char* name;   // resource name; the file is NAME.wav
    std::size_t length; // samples
};

// The players' drum loader relies on these exact lengths.
inline constexpr std::array<DrumSound, 6> kDrumSounds{{
    {"BASS1", 2016},
    {"BASS2", 1897},
    {"SNARE1", 3234},
    {"HAT1", 15076},
    {"HAT2", 738},
    {"SYMBAL1", 15567},
}};

// The raw signal of the named sound in [-1, 1], `length` samples; empty for an unknown name.
std::vector<double> synthesizeDrum(std::string_view name, std::size_t length);

// Shapes a raw signal into finished 8-bit samples: fades in over `fadeIn` and out over
// `fadeOut` samples, removes any DC offset, scales the peak to `peak` and quantizes around 128.
std::vector<std::uint8_t> finishDrum(std::vector<double> signal, std::size_t fadeIn,
                                     std::size_t fadeOut, double peak);

// The finished 8-bit samples of one sound.
std::vector<std::uint8_t> renderDrum(const DrumSound& sound);

} // namespace drumgen
