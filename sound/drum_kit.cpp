#include "sound/drum_kit.hpp"

#include <cstring>

#include "song/song.hpp"

namespace rkv {

namespace {

// The order in which the kit fills its slots; 478 and 479 (keys 6 and 7) have no sound.
struct DrumLoad {
    const char* name;
    int slot;
};
constexpr DrumLoad DRUM_LOADS[] = {
    {"BASS1", 472},   {"BASS1", 473},   {"BASS2", 474}, {"BASS2", 475}, {"SNARE1", 476},
    {"SNARE1", 477},  {"HAT1", 480},    {"HAT1", 481},  {"HAT2", 482},  {"HAT2", 483},
    {"SYMBAL1", 484}, {"SYMBAL1", 485}, {"HAT2", 486},  {"HAT2", 487},  {"HAT2", 488},
    {"HAT2", 489},    {"HAT2", 490},    {"HAT2", 491},  {"HAT2", 492},  {"HAT2", 493},
    {"HAT2", 494},    {"HAT2", 495},
};

std::uint16_t readU16LE(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

} // namespace

int loadDrumSample(VoiceBank& bank, const ResourceTable& resources, const char* name, int slot) {
    const std::span<const std::uint8_t> res = findResource(resources, name, "WAVE");
    // The layout is fixed; a resource too short to hold its own header is treated as missing
    // rather than read past its end.
    if (res.size() < DRUM_DATA_OFFSET) return 0;
    WaveFormat format;
    format.formatTag = readU16LE(res, DRUM_FORMAT_OFFSET);
    format.channels = readU16LE(res, DRUM_FORMAT_OFFSET + 2);
    format.samplesPerSecond = readU32LE(res, DRUM_FORMAT_OFFSET + 4);
    format.averageBytesPerSecond = readU32LE(res, DRUM_FORMAT_OFFSET + 8);
    format.blockAlign = readU16LE(res, DRUM_FORMAT_OFFSET + 12);
    format.bitsPerSample = readU16LE(res, DRUM_FORMAT_OFFSET + 14);
    format.extraSize = readU16LE(res, DRUM_FORMAT_OFFSET + 16);
    const std::uint32_t n = readU32LE(res, DRUM_SIZE_OFFSET);
    if (n > res.size() - DRUM_DATA_OFFSET) return 0;
    if (!createVoice(bank, slot, format, n)) return 0;
    if (!writeVoice(bank, slot, res.data() + DRUM_DATA_OFFSET, n)) return 0;
    return 1;
}

int loadDrumKit(VoiceBank& bank, PlayState& state, const ResourceTable& resources) {
    state.playing.store(0);
    for (const DrumLoad& load : DRUM_LOADS)
        loadDrumSample(bank, resources, load.name, load.slot);
    return 1;
}

void applyDrumMix(VoiceBank& bank, std::int32_t drumVolume) {
    // The soft form of each pair is 70 % of the loud level, truncated toward zero, in 32-bit
    // arithmetic that wraps (computed unsigned: signed overflow is undefined).
    const std::int32_t soft =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(drumVolume) * 70u) / 100;
    for (int k = 0; k < NOTES_PER_TRACK / 2; ++k) {
        const int loud = FIRST_DRUM_SLOT + 2 * k;
        setVoicePan(bank, loud, PAN_CENTRE);
        setVoicePan(bank, loud + 1, PAN_CENTRE);
        setVoiceVolume(bank, loud, drumVolume);
        setVoiceVolume(bank, loud + 1, soft);
    }
}

} // namespace rkv
