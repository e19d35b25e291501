// Starting a player the same way for every face, and ending its song on the exact frame: what a
// render, the library and a sound device share.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "sequencer/player.hpp"
#include "song/song.hpp"
#include "sound/voice_bank.hpp"

namespace rkv::render {

// The sound device of an offline render: the caller's own loop pulls the frames.
class OfflineDevice final : public SoundDevice {
  public:
    bool start(VoiceBank&) override { return true; }
    void stop() override {}
};

// Opens the device, loads the built-in drum kit and the song (which must have parsed). False when
// the device does not start; nothing is loaded then.
bool loadPlayer(Player& player, SoundDevice& device, Song&& song);

struct DrumKitVoices {
    std::array<std::uint32_t, NOTES_PER_TRACK> lengths{}; // per drum key; 0 = no sound
    std::uint64_t bytes = 0;                              // what the kit reserved in the bank
};
// The drum voices of a bank right after the kit was loaded.
DrumKitVoices drumKitVoices(const VoiceBank& bank);
// The same for the built-in kit, loaded into a scratch bank.
DrumKitVoices builtinDrumKitVoices();

// Lets the sequencer play a given number of ticks and then stops it, on the exact frame of the
// next tick, from inside the mixer's clock: a render and a device stop on the same frame. Install
// after the song is loaded; then start() plays step 0 on the next frame mixed.
class TickLimit {
  public:
    static constexpr std::uint64_t UNLIMITED = UINT64_MAX;

    TickLimit(Player& player, std::uint64_t ticks);
    ~TickLimit();
    TickLimit(const TickLimit&) = delete;
    TickLimit& operator=(const TickLimit&) = delete;

    void start();
    std::uint64_t ticksPlayed() const { return played_.load(); }

  private:
    static void onTick(void* self);

    Player& player_;
    std::uint64_t limit_;
    std::atomic<std::uint64_t> played_{0};
};

} // namespace rkv::render
