#include "sequencer/player.hpp"

#include "sequencer/clock.hpp"
#include "sequencer/transport.hpp"

namespace rkv {

void playFromNextFrame(Player& player) {
    transportCommand(player, TRANSPORT_PLAY);
    // The clock's own ticks follow at one step time, two step times, ... after its start. A step
    // time that never ticks plays nothing at all, not even step 0.
    const std::lock_guard<std::recursive_mutex> guard(player.bank.lock);
    if (player.bank.timer.running) clockCallback(&player);
}

} // namespace rkv
