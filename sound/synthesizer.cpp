#include "sound/synthesizer.hpp"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

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

namespace {

// Below 2^26 samples i * 64 never wraps at 32 bits, so the envelope can be walked span by span.
constexpr std::uint32_t NO_WRAP_LIMIT = std::uint32_t{1} << 26;
// The wave entry of sample i is (phase / 256) & 0xFF with phase = i * step read as signed: it
// depends only on the phase's low 16 bits and its sign, so over samples of one sign it repeats
// every 65536 samples.
constexpr std::uint32_t PERIOD = 65536;

// out[k] = (w[k] * e) / 128 for one envelope entry: no table lookup, so it vectorises. The format's
// byte is that plus 128, wrapping at 8 bits, so the one value 128 reads as -128.
void scaleWave(const std::int8_t* __restrict w, std::int32_t e, std::uint32_t n,
               std::int8_t* __restrict out) {
    for (std::uint32_t k = 0; k < n; ++k)
        out[k] = static_cast<std::int8_t>((w[k] * e) / 128);
}

// Samples from i on whose phase keeps the sign it has at i.
std::uint64_t sameSignRun(std::uint32_t i, std::int32_t step) {
    const std::uint32_t phase = i * static_cast<std::uint32_t>(step);
    const std::uint64_t half = phase >> 31;
    if (step > 0) {
        const std::uint64_t room = ((half + 1) << 31) - phase;
        return (room + static_cast<std::uint64_t>(step) - 1) / static_cast<std::uint64_t>(step);
    }
    if (step < 0) {
        const auto down = static_cast<std::uint64_t>(-static_cast<std::int64_t>(step));
        return (phase - (half << 31) + down) / down;
    }
    return std::uint64_t{1} << 32; // never changes: past any note
}

} // namespace

void renderNote(const std::int8_t* wave, const std::int8_t* envelope, std::int32_t step,
                std::uint32_t length, std::int8_t* out) {
    if (length > NO_WRAP_LIMIT) {
        // Longer than any voice the bank can hold: the plain form, envelope entry (i * 64) / length
        // with i * 64 wrapping at 32 bits.
        std::uint32_t phase = 0;
        for (std::uint32_t i = 0; i < length; ++i) {
            const std::int32_t w = wave[(static_cast<std::int32_t>(phase) / 256) & 0xFF];
            out[i] = static_cast<std::int8_t>((w * envelope[(i * 64u) / length]) / 128);
            phase += static_cast<std::uint32_t>(step);
        }
        return;
    }
    // One period of wave values for each sign of the phase; a negative phase divides toward zero,
    // (p / 256) = (p + 255) >> 8, hence the 255.
    const std::uint32_t period = std::min(length, PERIOD);
    std::int8_t positive[PERIOD];
    std::int8_t negative[PERIOD];
    std::uint32_t phase = 0;
    for (std::uint32_t j = 0; j < period; ++j, phase += static_cast<std::uint32_t>(step)) {
        positive[j] = wave[(phase >> 8) & 0xFF];
        negative[j] = wave[((phase + 255) >> 8) & 0xFF];
    }
    std::uint32_t i = 0;
    for (std::uint32_t entry = 0; entry < 64; ++entry) {
        // The first sample of the next entry: the smallest i with i * 64 >= (entry+1) * length.
        const auto end = static_cast<std::uint32_t>((std::uint64_t{entry + 1} * length + 63) / 64);
        while (i < end) {
            const bool below = static_cast<std::int32_t>(i * static_cast<std::uint32_t>(step)) < 0;
            const auto runEnd =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(end, i + sameSignRun(i, step)));
            while (i < runEnd) {
                const std::uint32_t at = i % PERIOD;
                const std::uint32_t n = std::min(runEnd - i, PERIOD - at);
                scaleWave((below ? negative : positive) + at, envelope[entry], n, out + i);
                i += n;
            }
        }
    }
}

namespace {

// Creates the 24 voices of an instrument in order; false at the first that cannot be created.
bool createNotes(VoiceBank& bank, std::uint32_t length, int firstSlot) {
    for (int j = 0; j < NOTES_PER_TRACK; ++j)
        if (!createVoice(bank, firstSlot + j, VOICE_FORMAT, length)) return false;
    return true;
}

// One note to render into its voice's own buffer, which is then handed to the slot.
struct Note {
    const std::int8_t* wave;
    const std::int8_t* envelope;
    std::int32_t step;
    std::uint32_t length;
    int slot;
    std::unique_ptr<std::int8_t[]> buffer;
};

// Buffers for an instrument's 24 notes; false, with none added, when memory is short.
bool addNotes(const VoiceBank& bank, const std::int8_t* wave, const std::int8_t* envelope,
              std::uint32_t multiplier, int firstSlot, std::vector<Note>& notes) {
    const std::size_t first = notes.size();
    for (int j = 0; j < NOTES_PER_TRACK; ++j) {
        std::uint32_t length = 0;
        std::unique_ptr<std::int8_t[]> buffer = newVoiceBuffer(bank, firstSlot + j, length);
        if (!buffer) {
            notes.resize(first);
            return false;
        }
        notes.push_back(
            {wave, envelope, noteStep(multiplier, j), length, firstSlot + j, std::move(buffer)});
    }
    return true;
}

// Samples a helper thread must have to render before starting one pays (about a millisecond).
constexpr std::uint64_t SAMPLES_PER_HELPER = 1 << 20;

// Renders every note, on this thread and as many helpers as there are other cores and work for
// them; all are joined before it returns. A helper that cannot be started leaves its share to
// the others.
void renderNotes(std::vector<Note>& notes) {
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t k; (k = next.fetch_add(1)) < notes.size();)
            renderNote(notes[k].wave, notes[k].envelope, notes[k].step, notes[k].length,
                       notes[k].buffer.get());
    };
    std::uint64_t samples = 0;
    for (const Note& note : notes)
        samples += note.length;
    const std::size_t threads =
        std::min<std::uint64_t>({std::max(1u, std::thread::hardware_concurrency()), notes.size(),
                                 1 + samples / SAMPLES_PER_HELPER});
    std::vector<std::thread> helpers;
    for (std::size_t h = 1; h < threads; ++h) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& t : helpers)
        t.join();
}

int installNotes(VoiceBank& bank, std::vector<Note>& notes) {
    int ok = 1;
    for (Note& note : notes)
        if (!adoptVoiceBuffer(bank, note.slot, note.buffer, note.length)) ok = 0;
    notes.clear(); // frees the buffers they replaced, here on the caller's thread
    return ok;
}

} // namespace

int synthesizeInstrument(VoiceBank& bank, const std::int8_t* wave, const std::int8_t* envelope,
                         std::uint32_t multiplier, std::uint32_t length, int firstSlot) {
    if (!createNotes(bank, length, firstSlot)) return 0;
    std::vector<Note> notes;
    if (!addNotes(bank, wave, envelope, multiplier, firstSlot, notes)) return 0;
    renderNotes(notes);
    return installNotes(bank, notes);
}

void prepareSongVoices(VoiceBank& bank, const Song& song) {
    // All voices are created first, instrument by instrument as the bank limit counts them; then
    // every note is rendered at once over the cores straight into its voice's buffer.
    std::vector<Note> notes;
    notes.reserve(INSTRUMENT_COUNT * NOTES_PER_TRACK);
    for (int k = 0; k < INSTRUMENT_COUNT; ++k) {
        const InstrumentRecord& instrument = song.header.instruments[k];
        const int base = FIRST_TRACK_SLOT + NOTES_PER_TRACK * k;
        for (int slot = base; slot < base + NOTES_PER_TRACK; ++slot)
            releaseVoice(bank, slot);
        // An instrument whose voices cannot all be created, or not all be given memory, stays
        // silent.
        const std::uint32_t multiplier = std::uint32_t{1} << (instrument.octave % 32);
        if (createNotes(bank, instrument.noteLength, base))
            addNotes(bank, instrument.wave.data(), instrument.envelope.data(), multiplier, base,
                     notes);
    }
    renderNotes(notes);
    installNotes(bank, notes);
    for (int k = 0; k < INSTRUMENT_COUNT; ++k) {
        const int base = FIRST_TRACK_SLOT + NOTES_PER_TRACK * k;
        for (int slot = base; slot < base + NOTES_PER_TRACK; ++slot) {
            setVoiceVolume(bank, slot, song.header.instruments[k].volume);
            setVoicePan(bank, slot, PAN_CENTRE);
        }
    }
    applyDrumMix(bank, song.header.drumVolume);
}

} // namespace rkv
