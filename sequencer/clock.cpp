#include "sequencer/clock.hpp"

#include "sequencer/sequencer.hpp"

namespace rkv {

void clockCallback(void* context) {
    sequencerTick(*static_cast<Player*>(context));
}

int startClock(Player& player, std::uint32_t delay) {
    // The frame timer is a single slot: starting replaces any running timer, so at most one
    // periodic timer ever exists.
    startFrameTimer(player.bank, delay, clockCallback, &player);
    return 1;
}

int stopClock(Player& player) {
    stopFrameTimer(player.bank);
    return 1;
}

SongClock songClockOf(Player& player) {
    SongClock clock;
    clock.context = &player;
    clock.stop = [](void* p) { stopClock(*static_cast<Player*>(p)); };
    clock.start = [](void* p, std::uint32_t stepTime) {
        startClock(*static_cast<Player*>(p), stepTime);
    };
    return clock;
}

} // namespace rkv
