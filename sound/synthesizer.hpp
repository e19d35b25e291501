// Renders a song's melodic instruments into pitched one-shot voices.
#pragma once

#include <array>
#include <cstdint>

#include "song/song.hpp"
#include "sound/voice_bank.hpp"

namespace rkv {

// Phase steps of the lower octave's twelve pitches, in 1/256 of a wave-table entry per sample.
constexpr std::array<std::int32_t, 12> NOTE_STEP_TABLE = {1551, 1652, 1747, 1848, 1955, 2074,
                                                          2205, 2324, 2461, 2616, 2770, 2938};

// Phase step of pitch 0..23 for the octave multiplier, with 32-bit wrap-around of the product.
std::int32_t noteStep(std::uint32_t multiplier, int pitch);

// Fills `out[0..length)` with one rendered note (the inner loop of synthesizeInstrument), its
// samples as the voice bank stores them: distances from the 8-bit midpoint.
void renderNote(const std::int8_t* wave, const std::int8_t* envelope, std::int32_t step,
                std::uint32_t length, std::int8_t* out);

// Creates slots firstSlot..firstSlot+23 (which must be empty) and writes the 24 pitches into them.
// Returns 1, or 0 when a voice cannot be created or written.
int synthesizeInstrument(VoiceBank& bank, const std::int8_t* wave, const std::int8_t* envelope,
                         std::uint32_t multiplier, std::uint32_t length, int firstSlot);

// Renders the song's three instruments into slots 400..471 with their volumes and centred pans,
// then applies the drum mix.
void prepareSongVoices(VoiceBank& bank, const Song& song);

} // namespace rkv
