#include "sequencer/player.hpp"

#include "sequencer/clock.hpp"
#include "sequencer/transport.hpp"

namespace rkv {

void playFromNextFrame(Player& player) {
    transportCommand(player, TRANSPORT_PLAY);
    // The clock's own ticks follow at one step time, two step times, ... after its start.
    const std::lock_guard<std::recursive_mutex> guard(player.bank.lock);
    clockCallback(&player);
}

} // namespace rkv
