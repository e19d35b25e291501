// Helpers for the end-to-end scripts.
//   rkv_e2e_tool song OUT.rkv [busy|nomagic]           writes a test song
//   rkv_e2e_tool render SONG OUT.raw SECONDS           renders offline, 16-bit stereo raw
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/test_song.hpp"
#include "resources/builtin_resources.hpp"
#include "sequencer/player.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "sound/voice_bank.hpp"
#include "tests/common/offline_device.hpp"

namespace {

int writeSong(const std::string& out, const std::string& kind) {
    std::vector<std::uint8_t> bytes = rkvtest::songBytes(rkvtest::busySong());
    if (kind == "nomagic") {
        bytes[0] = 'r'; // everything else is a good song
    } else if (kind != "busy") {
        std::fprintf(stderr, "unknown song kind %s\n", kind.c_str());
        return 2;
    }
    return rkvtest::writeFile(out, bytes) ? 0 : 1;
}

// Start-up, load, play with step 0 on frame 0, then mix: the stream a device is sent.
int render(const char* song, const char* out, double seconds) {
    auto player = std::make_unique<rkv::Player>();
    player->resources = rkv::builtinResources();
    rkv::test::OfflineDevice device;
    rkv::initSoundDevice(player->bank, &device);
    rkv::loadDrumKit(player->bank, player->state, player->resources);
    rkv::LoadOutcome outcome;
    rkv::transportCommand(*player, rkv::TRANSPORT_LOAD, song, &outcome);
    if (outcome.status != rkv::LoadStatus::Loaded) {
        std::fprintf(stderr, "cannot load %s: %s\n", song, outcome.reason.c_str());
        return 1;
    }
    rkv::playFromNextFrame(*player);
    const auto frames = static_cast<std::size_t>(seconds * rkv::SAMPLE_RATE + 0.5);
    std::vector<float> mixed(2 * frames);
    rkv::mixFrames(player->bank, mixed.data(), frames);
    std::vector<std::int16_t> pcm(mixed.size());
    rkv::floatToPcm16(mixed.data(), pcm.data(), pcm.size());
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(pcm.data()),
               static_cast<std::streamsize>(pcm.size() * 2));
    return file ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "song" && (argc == 3 || argc == 4))
        return writeSong(argv[2], argc == 4 ? argv[3] : "busy");
    if (command == "render" && argc == 5) return render(argv[2], argv[3], std::atof(argv[4]));
    std::fprintf(stderr, "usage: %s song|render ...\n", argv[0]);
    return 2;
}
