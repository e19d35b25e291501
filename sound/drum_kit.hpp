// The drum kit: six built-in drum sounds, each in a loud and a soft voice, on slots 472..495.
#pragma once

#include <cstdint>

#include "sound/play_state.hpp"
#include "sound/resources.hpp"
#include "sound/voice_bank.hpp"

namespace rkv {

constexpr int FIRST_DRUM_SLOT = 472;
// Offsets of the fixed drum resource layout.
constexpr std::size_t DRUM_FORMAT_OFFSET = 20;
constexpr std::size_t DRUM_SIZE_OFFSET = 54;
constexpr std::size_t DRUM_DATA_OFFSET = 58;

// Fills the drum slots from the table's "WAVE" resources and clears the playing flag. Always 1.
int loadDrumKit(VoiceBank& bank, PlayState& state, const ResourceTable& resources);

// Creates and writes one voice in the (empty) slot from the named "WAVE" resource.
int loadDrumSample(VoiceBank& bank, const ResourceTable& resources, const char* name, int slot);

// Centres all drum voices and sets loud keys to `drumVolume`, soft keys to 70 % of it.
void applyDrumMix(VoiceBank& bank, std::int32_t drumVolume);

} // namespace rkv
