// Helpers for the end-to-end scripts.
//   rkv_e2e_tool song OUT.rkv [busy|nomagic]           writes a test song
//   rkv_e2e_tool render SONG OUT.raw SECONDS           renders offline, 16-bit stereo raw
//   rkv_e2e_tool compare CAPTURE.raw RENDER.raw FRAMES compares from the first sounding frame
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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

std::vector<std::int16_t> readRaw(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

std::size_t firstSoundingFrame(const std::vector<std::int16_t>& s) {
    std::size_t frame = 0;
    while (2 * frame + 1 < s.size() && s[2 * frame] == 0 && s[2 * frame + 1] == 0)
        ++frame;
    return frame;
}

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

int compare(const char* capturePath, const char* renderPath, std::size_t frames) {
    const std::vector<std::int16_t> capture = readRaw(capturePath);
    const std::vector<std::int16_t> reference = readRaw(renderPath);
    const std::size_t c0 = firstSoundingFrame(capture);
    const std::size_t r0 = firstSoundingFrame(reference);
    std::printf("capture: %zu frames, sound from frame %zu; render: %zu frames, sound from %zu\n",
                capture.size() / 2, c0, reference.size() / 2, r0);
    if (capture.size() / 2 < c0 + frames || reference.size() / 2 < r0 + frames) {
        std::printf("FAIL: fewer than %zu sounding frames to compare\n", frames);
        return 1;
    }
    std::size_t differing = 0;
    std::size_t first = 0;
    int largest = 0;
    for (std::size_t i = 0; i < 2 * frames; ++i) {
        const int d = std::abs(capture[2 * c0 + i] - reference[2 * r0 + i]);
        if (d == 0) continue;
        if (differing++ == 0) first = i;
        largest = std::max(largest, d);
    }
    if (differing > 0) {
        std::printf("FAIL: %zu of %zu samples differ, by up to %d; the first at frame %zu "
                    "(%d vs %d)\n",
                    differing, 2 * frames, largest, first / 2, capture[2 * c0 + first],
                    reference[2 * r0 + first]);
        return 1;
    }
    std::printf("OK: %zu frames equal sample for sample\n", frames);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "song" && (argc == 3 || argc == 4))
        return writeSong(argv[2], argc == 4 ? argv[3] : "busy");
    if (command == "render" && argc == 5) return render(argv[2], argv[3], std::atof(argv[4]));
    if (command == "compare" && argc == 5)
        return compare(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
    std::fprintf(stderr, "usage: %s song|render|compare ...\n", argv[0]);
    return 2;
}
