#include "render/playback.hpp"

#include <mutex>

#include "resources/builtin_resources.hpp"
#include "sequencer/clock.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"

namespace rkv::render {

bool loadPlayer(Player& player, SoundDevice& device, Song&& song) {
    player.resources = builtinResources();
    if (!initSoundDevice(player.bank, &device)) return false;
    loadDrumKit(player.bank, player.state, player.resources);
    transportLoadSong(player, std::move(song));
    return true;
}

DrumKitVoices drumKitVoices(const VoiceBank& bank) {
    const std::lock_guard<std::recursive_mutex> guard(bank.lock);
    DrumKitVoices kit;
    for (int i = 0; i < NOTES_PER_TRACK; ++i) {
        const Voice& v = bank.voices[static_cast<std::size_t>(FIRST_DRUM_SLOT + i)];
        // A voice that exists but was never filled plays silence.
        kit.lengths[static_cast<std::size_t>(i)] = v.exists && v.data ? v.length : 0;
        if (v.exists) kit.bytes += v.length;
    }
    return kit;
}

DrumKitVoices builtinDrumKitVoices() {
    Player player;
    OfflineDevice device;
    initSoundDevice(player.bank, &device);
    loadDrumKit(player.bank, player.state, builtinResources());
    return drumKitVoices(player.bank);
}

TickLimit::TickLimit(Player& player, std::uint64_t ticks) : player_(player), limit_(ticks) {
    // The clock the load started calls the sequencer; route its ticks through the limit.
    const std::lock_guard<std::recursive_mutex> guard(player_.bank.lock);
    player_.bank.timer.callback = &TickLimit::onTick;
    player_.bank.timer.context = this;
}

TickLimit::~TickLimit() {
    const std::lock_guard<std::recursive_mutex> guard(player_.bank.lock);
    if (player_.bank.timer.context == this) {
        player_.bank.timer.callback = &clockCallback;
        player_.bank.timer.context = &player_;
    }
}

void TickLimit::start() {
    const std::lock_guard<std::recursive_mutex> guard(player_.bank.lock);
    if (limit_ == 0) return;
    playFromNextFrame(player_);
    played_.store(1);
}

void TickLimit::onTick(void* self) {
    auto* limit = static_cast<TickLimit*>(self);
    if (limit->played_.load() >= limit->limit_) {
        // The first tick past the limit: no step is played from here on; voices ring out.
        transportCommand(limit->player_, TRANSPORT_STOP);
        return;
    }
    clockCallback(&limit->player_);
    limit->played_.fetch_add(1);
}

} // namespace rkv::render
