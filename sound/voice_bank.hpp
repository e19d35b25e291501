// The voice bank: 512 one-shot voices over our own mixer, which stands in for the sound device,
// and the mixer's frame timer that drives the sequencer clock sample-accurately.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace rkv {

constexpr int SAMPLE_RATE = 22050;
constexpr int VOICE_SLOTS = 512;
constexpr int FIRST_TRACK_SLOT = 400;
constexpr std::uint32_t MIN_VOICE_BYTES = 4;
constexpr std::uint32_t MAX_VOICE_BYTES = 0x0FFFFFFF;
constexpr std::uint64_t MAX_BANK_BYTES = std::uint64_t{1} << 30;
constexpr std::int32_t VOLUME_FULL = 0;     // hundredths of a decibel
constexpr std::int32_t VOLUME_MIN = -10000; // the quietest volume the mixer accepts
constexpr std::int32_t PAN_LIMIT = 10000;   // pans beyond +-100 dB are refused
constexpr std::uint32_t MAX_STEP_TIME_MS = 1000000;

// The format record a voice is created with. The mixer plays unsigned 8-bit mono at 22050 Hz only.
struct WaveFormat {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSecond = SAMPLE_RATE;
    std::uint32_t averageBytesPerSecond = SAMPLE_RATE;
    std::uint16_t blockAlign = 1;
    std::uint16_t bitsPerSample = 8;
    std::uint16_t extraSize = 0;
    bool operator==(const WaveFormat&) const = default;
};
constexpr WaveFormat VOICE_FORMAT{};

// What the audio thread reads while mixing; changed only under the bank's lock.
struct Voice {
    bool exists = false;
    bool playing = false;
    // Each sample's distance from the 8-bit midpoint: the format's unsigned byte with its top bit
    // flipped, which the mixer widens without a step of its own. Null until written: silence.
    const std::int8_t* data = nullptr;
    std::uint32_t length = 0;
    std::uint32_t index = 0;
    std::int32_t volume = 0; // hundredths of a decibel
    std::int32_t pan = 0;
    float gainLeft = 1.0f; // per 8-bit step, i.e. linear gain / 128
    float gainRight = 1.0f;
    // When the voice was last restarted and last panned, in the bank's count of voice changes:
    // the order of calls within one tick leaves no other trace in the mixed frames.
    std::uint64_t restartedAt = 0;
    std::uint64_t pannedAt = 0;
};

using FrameTimerCallback = void (*)(void* context);

// A periodic timer counted in output frames: tick k falls on frame
// startFrame + floor(k * periodMs * 441 / 20), k = 1, 2, ...
struct FrameTimer {
    bool running = false;
    std::uint64_t startFrame = 0;
    std::uint32_t periodMs = 0;
    std::uint64_t count = 0; // ticks run so far
    std::uint64_t nextFrame = 0;
    FrameTimerCallback callback = nullptr;
    void* context = nullptr;
};

class SoundDevice;

struct VoiceBank {
    // Held by the audio thread while it mixes a block (ticks run inside it, so it is recursive)
    // and by the UI thread for O(1) updates of a slot. Never held across allocation or I/O.
    mutable std::recursive_mutex lock;
    bool deviceOpen = false;
    std::array<Voice, VOICE_SLOTS> voices{};
    // One bit per slot, set when the voice is restarted: the mixer visits only these slots.
    std::array<std::uint64_t, VOICE_SLOTS / 64> playingMask{};
    std::array<std::unique_ptr<std::int8_t[]>, VOICE_SLOTS> buffers; // owned by the UI thread
    std::uint64_t reservedBytes = 0; // all voices together, against byteLimit
    // MAX_BANK_BYTES for every player; a fuzzer lowers it to reach the limit cheaply.
    std::uint64_t byteLimit = MAX_BANK_BYTES;
    std::uint64_t frame = 0;   // frames mixed so far
    std::uint64_t changes = 0; // restarts and pan changes so far
    FrameTimer timer;
    SoundDevice* device = nullptr; // the started device, woken by play
};

// Where mixed frames go: a real device, a paced silent thread, or the caller's own loop.
class SoundDevice {
  public:
    virtual ~SoundDevice() = default;
    // Begins pulling frames from the bank; false when the device cannot be opened.
    virtual bool start(VoiceBank& bank) = 0;
    virtual void stop() = 0;
    // Playback is starting: an output that paused while all was silent pulls frames again.
    // Returns at once; called by the play command on whatever thread issues it.
    virtual void wake() {}
};

// Empties every slot and, when the device starts, lets voices be created. Returns 1, or 0 when
// there is no device (voices then fail to create and their slots stay empty).
int initSoundDevice(VoiceBank& bank, SoundDevice* device);
// Tells the started device, if any, that playback is starting.
void wakeSoundDevice(VoiceBank& bank);

int createVoice(VoiceBank& bank, int slot, const WaveFormat& format, std::uint32_t n);
int writeVoice(VoiceBank& bank, int slot, const std::uint8_t* bytes, std::uint32_t n);
// A buffer for the whole of a created voice, to be filled by the caller with samples as the bank
// stores them (Voice::data) and handed over with adoptVoiceBuffer, and its length; null when the
// slot holds no voice or memory is short. Its pages are untouched.
std::unique_ptr<std::int8_t[]> newVoiceBuffer(const VoiceBank& bank, int slot,
                                              std::uint32_t& length);
// Swaps a filled buffer from newVoiceBuffer into the slot in O(1) under the lock, without a copy;
// `buffer` then holds the old one. Returns 0 when the voice was released or recreated meanwhile.
int adoptVoiceBuffer(VoiceBank& bank, int slot, std::unique_ptr<std::int8_t[]>& buffer,
                     std::uint32_t length);
void releaseVoice(VoiceBank& bank, int slot);
void restartVoice(VoiceBank& bank, int slot);
// Volume level: 300 = full, each unit 0.08 dB.
void setVoiceVolume(VoiceBank& bank, int slot, std::int32_t level);
// Pan value: 256 = centre, each unit 0.1 dB.
void setVoicePan(VoiceBank& bank, int slot, std::int32_t value);

// Mixer-level controls in hundredths of a decibel; out-of-range values are refused.
bool setVoiceVolumeHundredths(VoiceBank& bank, int slot, std::int32_t hundredths);
bool setVoicePanHundredths(VoiceBank& bank, int slot, std::int32_t hundredths);

// Timer in frames; a period of 0 or above MAX_STEP_TIME_MS never ticks. Starting replaces any
// running timer. After stopFrameTimer returns no callback runs or will start.
void startFrameTimer(VoiceBank& bank, std::uint32_t periodMs, FrameTimerCallback callback,
                     void* context);
void stopFrameTimer(VoiceBank& bank);

// Renders `frames` interleaved stereo float frames, running timer ticks on the frames they fall
// on. Called by the audio thread (or the offline renderer). Never allocates.
void mixFrames(VoiceBank& bank, float* stereoOut, std::size_t frames);

// The vectors the mixer adds voices in: "AVX-512", "AVX2" or "baseline", the widest the CPU has
// unless RKV_MIXER_VECTORS=avx2 or =baseline asks for a narrower one. The frames are the same.
const char* mixerVectors();

// Float to 16-bit: clamp to [-1, 1], then round(x * 32767).
void floatToPcm16(const float* in, std::int16_t* out, std::size_t samples);

} // namespace rkv
