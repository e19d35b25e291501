// Loading and the transport: a song loaded into a player with the built-in drum kit, then a tape of
// transport commands, reloads and clock ticks, mixed as a device would.
#include <cstdint>
#include <vector>

#include "resources/builtin_resources.hpp"
#include "sequencer/clock.hpp"
#include "sequencer/sequencer.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "sound/synthesizer.hpp"
#include "tests/fuzz/fuzz_support.hpp"

using namespace rkv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ParseResult parsed = parseSong({data, size});
    Player player;
    // Real note lengths, but a bank small enough that a run stays cheap: the limit itself is what
    // gets exercised.
    player.bank.byteLimit = 1 << 15;
    fuzz::OfflineDevice device;
    initSoundDevice(player.bank, &device);
    player.resources = builtinResources();
    loadDrumKit(player.bank, player.state, player.resources);
    if (parsed.status == ParseStatus::Ok) transportLoadSong(player, Song(parsed.song));
    std::vector<float> out(2 * 64);
    for (const std::uint8_t c : fuzz::tailCommands(data, size)) {
        switch (c & 7) {
        case 0:
            transportCommand(player, static_cast<std::int8_t>(c >> 3) - 8);
            break;
        case 1:
            if (parsed.status == ParseStatus::Ok) transportLoadSong(player, Song(parsed.song));
            break;
        case 2:
            transportCommand(player, TRANSPORT_LOAD, "/nonexistent/song.rkv");
            break;
        case 3:
            playFromNextFrame(player);
            break;
        case 4:
            for (int i = 0; i <= c >> 3; ++i)
                sequencerTick(player);
            break;
        default:
            mixFrames(player.bank, out.data(), static_cast<std::size_t>(c >> 3) + 1);
            break;
        }
    }
    mixFrames(player.bank, out.data(), 64);
    fuzz::keep(out[0] + out[127]);
    return 0;
}
