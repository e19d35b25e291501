// Synthesis with the notes as long as the song says, under a small bank: every voice is made or
// refused by the limit, and the result is played for 100 ticks.
#include <cstdint>
#include <vector>

#include "sequencer/clock.hpp"
#include "sequencer/sequencer.hpp"
#include "sound/synthesizer.hpp"
#include "tests/fuzz/fuzz_support.hpp"

using namespace rkv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ParseResult parsed = parseSong({data, size});
    if (parsed.status != ParseStatus::Ok) return 0;
    Player player;
    player.bank.byteLimit = 1 << 14;
    fuzz::OfflineDevice device;
    initSoundDevice(player.bank, &device);
    player.song = std::move(parsed.song);
    prepareSongVoices(player.bank, player.song);
    if (player.bank.reservedBytes > player.bank.byteLimit) __builtin_trap();
    player.state.position = -1;
    player.state.playing = 1;
    std::vector<float> out(2 * 8);
    for (int tick = 0; tick < 100; ++tick) {
        sequencerTick(player);
        mixFrames(player.bank, out.data(), 8);
    }
    fuzz::keep(out[0]);
    return 0;
}
