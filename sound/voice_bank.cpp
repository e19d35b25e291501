#include "sound/voice_bank.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "song/huge_pages.hpp"

namespace rkv {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

bool validSlot(int slot) {
    return slot >= 0 && slot < VOICE_SLOTS;
}

// Integer arithmetic of the level conversions wraps at 32 bits, as the file's values may be
// anything; computed unsigned because signed overflow is undefined.
std::int32_t wrapLinear(std::int32_t value, std::uint32_t scale, std::uint32_t offset) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) * scale - offset);
}

float decibelGain(std::int32_t hundredths) {
    // Songs use a handful of levels and change pans on every step: remember the last results
    // (the same values, as they come from the same call) instead of calling pow each time.
    struct Remembered {
        bool known = false;
        std::int32_t hundredths = 0;
        float gain = 0;
    };
    thread_local std::array<Remembered, 64> remembered;
    Remembered& r = remembered[(static_cast<std::uint32_t>(hundredths) * 2654435761u) >> 26];
    if (!r.known || r.hundredths != hundredths)
        r = {true, hundredths, static_cast<float>(std::pow(10.0, hundredths / 2000.0))};
    return r.gain;
}

void updateGains(Voice& v) {
    const double amp = decibelGain(v.volume);
    const double left = amp * (v.pan > 0 ? decibelGain(-v.pan) : 1.0);
    const double right = amp * (v.pan < 0 ? decibelGain(v.pan) : 1.0);
    // The mixer scales raw bytes, so fold in the 1/128 of the sample conversion here.
    v.gainLeft = static_cast<float>(left / 128.0);
    v.gainRight = static_cast<float>(right / 128.0);
}

} // namespace

int initSoundDevice(VoiceBank& bank, SoundDevice* device) {
    if (!device || !device->start(bank)) return 0;
    for (int slot = 0; slot < VOICE_SLOTS; ++slot)
        releaseVoice(bank, slot);
    const Guard guard(bank.lock);
    bank.deviceOpen = true;
    bank.device = device;
    return 1;
}

void wakeSoundDevice(VoiceBank& bank) {
    if (bank.device) bank.device->wake();
}

int createVoice(VoiceBank& bank, int slot, const WaveFormat& format, std::uint32_t n) {
    if (!validSlot(slot)) return 0;
    // The mixer plays one format only; anything else cannot be created, like on a device that
    // does not support it.
    if (format != VOICE_FORMAT) return 0;
    if (n < MIN_VOICE_BYTES || n > MAX_VOICE_BYTES) return 0;
    const Guard guard(bank.lock);
    Voice& v = bank.voices[slot];
    if (!bank.deviceOpen || v.exists) return 0;
    if (bank.reservedBytes + n > bank.byteLimit) return 0;
    bank.reservedBytes += n;
    v = Voice{};
    v.exists = true;
    v.length = n;
    updateGains(v);
    return 1;
}

std::unique_ptr<std::int8_t[]> newVoiceBuffer(const VoiceBank& bank, int slot,
                                              std::uint32_t& length) {
    length = 0;
    if (!validSlot(slot)) return nullptr;
    {
        const Guard guard(bank.lock);
        const Voice& v = bank.voices[slot];
        if (!v.exists) return nullptr;
        length = v.length;
    }
    std::unique_ptr<std::int8_t[]> buffer(new (std::nothrow) std::int8_t[length]);
    adviseHugePages(buffer.get(), length);
    return buffer;
}

int adoptVoiceBuffer(VoiceBank& bank, int slot, std::unique_ptr<std::int8_t[]>& buffer,
                     std::uint32_t length) {
    if (!validSlot(slot) || !buffer) return 0;
    const Guard guard(bank.lock);
    Voice& v = bank.voices[slot];
    if (!v.exists || v.length != length) return 0;
    v.data = buffer.get();
    bank.buffers[slot].swap(buffer);
    return 1;
}

int writeVoice(VoiceBank& bank, int slot, const std::uint8_t* bytes, std::uint32_t n) {
    // Fill a new buffer outside the lock, then swap it in: the audio thread never waits on a copy.
    std::uint32_t length = 0;
    std::unique_ptr<std::int8_t[]> fresh = newVoiceBuffer(bank, slot, length);
    if (!fresh || n > length) return 0;
    for (std::uint32_t i = 0; i < n; ++i)
        fresh[i] = static_cast<std::int8_t>(bytes[i] ^ 0x80);
    std::memset(fresh.get() + n, 0, length - n); // the midpoint: silence
    // `fresh` then holds the old buffer and frees it on return, on the caller's thread.
    return adoptVoiceBuffer(bank, slot, fresh, length);
}

void releaseVoice(VoiceBank& bank, int slot) {
    if (!validSlot(slot)) return;
    std::unique_ptr<std::int8_t[]> old;
    {
        const Guard guard(bank.lock);
        Voice& v = bank.voices[slot];
        if (!v.exists) return;
        bank.reservedBytes -= v.length;
        v = Voice{};
        old.swap(bank.buffers[slot]);
    }
}

void restartVoice(VoiceBank& bank, int slot) {
    if (!validSlot(slot)) return;
    const Guard guard(bank.lock);
    Voice& v = bank.voices[slot];
    if (!v.exists) return;
    v.index = 0;
    v.playing = true;
    bank.playingMask[static_cast<std::size_t>(slot) / 64] |= std::uint64_t{1} << (slot % 64);
    v.restartedAt = ++bank.changes;
}

bool setVoiceVolumeHundredths(VoiceBank& bank, int slot, std::int32_t hundredths) {
    if (!validSlot(slot) || hundredths > VOLUME_FULL || hundredths < VOLUME_MIN) return false;
    const Guard guard(bank.lock);
    Voice& v = bank.voices[slot];
    if (!v.exists) return false;
    v.volume = hundredths;
    updateGains(v);
    return true;
}

bool setVoicePanHundredths(VoiceBank& bank, int slot, std::int32_t hundredths) {
    if (!validSlot(slot) || hundredths > PAN_LIMIT || hundredths < -PAN_LIMIT) return false;
    const Guard guard(bank.lock);
    Voice& v = bank.voices[slot];
    if (!v.exists) return false;
    v.pan = hundredths;
    v.pannedAt = ++bank.changes;
    updateGains(v);
    return true;
}

void setVoiceVolume(VoiceBank& bank, int slot, std::int32_t level) {
    setVoiceVolumeHundredths(bank, slot, wrapLinear(level, 8, 2400));
}

void setVoicePan(VoiceBank& bank, int slot, std::int32_t value) {
    setVoicePanHundredths(bank, slot, wrapLinear(value, 10, 2560));
}

} // namespace rkv
