#include "sound/synthesizer.hpp"

#include <memory>
#include <new>

#include "sound/drum_kit.hpp"

namespace rkv {

std::int32_t noteStep(std::uint32_t multiplier, int pitch) {
    // The product wraps at 32 bits and is read as signed (high octaves rely on this); the
    // division truncates toward zero. The upper octave is computed directly, not doubled.
    const std::uint32_t product =
        multiplier *
        static_cast<std::uint32_t>(NOTE_STEP_TABLE[static_cast<std::size_t>(pitch % 12)]);
    const auto signedProduct = static_cast<std::int32_t>(product);
    return pitch < 12 ? signedProduct / 16 : signedProduct / 8;
}

void renderNote(const std::int8_t* wave, const std::int8_t* envelope, std::int32_t step,
                std::uint32_t length, std::uint8_t* out) {
    std::uint32_t phase = 0;
    auto sample = [&](std::int32_t e) {
        const std::int32_t index = (static_cast<std::int32_t>(phase) / 256) & 0xFF;
        const std::int32_t w = wave[index];
        phase += static_cast<std::uint32_t>(step);
        return static_cast<std::uint8_t>((w * e) / 128 + 128);
    };
    // Envelope entry (i * 64) / length, with i * 64 wrapping at 32 bits. Below 2^26 samples the
    // product never wraps, so the entries can be walked span by span without a division each.
    constexpr std::uint32_t NO_WRAP_LIMIT = std::uint32_t{1} << 26;
    if (length <= NO_WRAP_LIMIT) {
        std::uint32_t i = 0;
        for (std::uint32_t entry = 0; entry < 64; ++entry) {
            // The first sample of the next entry: the smallest i with i * 64 >= (entry+1) * length.
            const auto end =
                static_cast<std::uint32_t>((std::uint64_t{entry + 1} * length + 63) / 64);
            const std::int32_t e = envelope[entry];
            for (; i < end; ++i)
                out[i] = sample(e);
        }
        return;
    }
    for (std::uint32_t i = 0; i < length; ++i)
        out[i] = sample(envelope[(i * 64u) / length]);
}

int synthesizeInstrument(VoiceBank& bank, const std::int8_t* wave, const std::int8_t* envelope,
                         std::uint32_t multiplier, std::uint32_t length, int firstSlot) {
    for (int j = 0; j < NOTES_PER_TRACK; ++j)
        if (!createVoice(bank, firstSlot + j, VOICE_FORMAT, length)) return 0;
    // Allocated only once all 24 voices exist, and reused for every pitch.
    std::unique_ptr<std::uint8_t[]> scratch(new (std::nothrow) std::uint8_t[length]);
    if (!scratch) return 0;
    for (int j = 0; j < NOTES_PER_TRACK; ++j) {
        renderNote(wave, envelope, noteStep(multiplier, j), length, scratch.get());
        if (!writeVoice(bank, firstSlot + j, scratch.get(), length)) return 0;
    }
    return 1;
}

void prepareSongVoices(VoiceBank& bank, const Song& song) {
    for (int k = 0; k < INSTRUMENT_COUNT; ++k) {
        const InstrumentRecord& instrument = song.header.instruments[k];
        const int base = FIRST_TRACK_SLOT + NOTES_PER_TRACK * k;
        for (int slot = base; slot < base + NOTES_PER_TRACK; ++slot)
            releaseVoice(bank, slot);
        const std::uint32_t multiplier = std::uint32_t{1} << (instrument.octave % 32);
        synthesizeInstrument(bank, instrument.wave.data(), instrument.envelope.data(), multiplier,
                             instrument.noteLength, base);
        for (int slot = base; slot < base + NOTES_PER_TRACK; ++slot) {
            setVoiceVolume(bank, slot, instrument.volume);
            setVoicePan(bank, slot, PAN_CENTRE);
        }
    }
    applyDrumMix(bank, song.header.drumVolume);
}

} // namespace rkv
