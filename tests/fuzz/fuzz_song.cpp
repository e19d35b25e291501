// libFuzzer harness: any bytes as a song file, loaded, rendered into voices and played for a few
// hundred ticks. See CMakeLists.txt beside it for how to build and run it.
#include <cstdint>
#include <vector>

#include "sequencer/clock.hpp"
#include "sequencer/sequencer.hpp"
#include "sound/synthesizer.hpp"

namespace {

class NullDevice final : public rkv::SoundDevice {
  public:
    bool start(rkv::VoiceBank&) override { return true; }
    void stop() override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rkv::ParseResult parsed = rkv::parseSong({data, size});
    if (parsed.status != rkv::ParseStatus::Ok) return 0;
    // Keep synthesis cheap: the fuzzer is after the parser and the sequencer, not long notes.
    for (auto& in : parsed.song.header.instruments)
        in.noteLength %= 5000;
    rkv::Player player;
    NullDevice device;
    rkv::initSoundDevice(player.bank, &device);
    player.song = std::move(parsed.song);
    rkv::prepareSongVoices(player.bank, player.song);
    player.state.position = -1;
    player.state.playing = 1;
    std::vector<float> out(2 * 64);
    for (int tick = 0; tick < 300; ++tick) {
        rkv::sequencerTick(player);
        rkv::mixFrames(player.bank, out.data(), 64);
    }
    // Use the result so the optimiser keeps every read.
    static volatile float sink;
    sink = out[0];
    (void)sink;
    return 0;
}
