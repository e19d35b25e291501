#include <cmath>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

namespace {

// A kit whose sounds are constant levels, so each one can be told apart in the mix.
struct FakeKit {
    std::map<std::string, std::vector<std::uint8_t>> blobs;
    std::vector<ResourceEntry> entries;
    explicit FakeKit(bool withHat2 = true) {
        const std::pair<const char*, std::uint8_t> sounds[] = {{"BASS1", 140},  {"BASS2", 150},
                                                               {"SNARE1", 160}, {"HAT1", 170},
                                                               {"HAT2", 180},   {"SYMBAL1", 190}};
        for (auto [name, level] : sounds)
            if (withHat2 || std::string(name) != "HAT2") blobs[name] = drumResource(99, level);
        for (auto& [name, bytes] : blobs)
            entries.push_back({name.c_str(), "WAVE", bytes.data(), bytes.size()});
        entries.push_back({"TITLE", "BITMAP", blobs.begin()->second.data(), 10});
    }
    ResourceTable table() const { return {entries.data(), entries.size()}; }
};

// A player with the kit loaded, which stops it.
struct KitPlayer : OfflinePlayer {
    FakeKit kit;
    explicit KitPlayer(bool withHat2 = true) : kit(withHat2) {
        resources = kit.table();
        state.playing = 1;
        EXPECT_EQ(loadDrumKit(bank, state, resources), 1);
        EXPECT_EQ(state.playing.load(), 0);
    }
    // The first sample a drum key plays, alone, at full volume.
    float keyLevel(int key) {
        setVoiceVolume(bank, FIRST_DRUM_SLOT + key, 300);
        restartVoice(bank, FIRST_DRUM_SLOT + key);
        const float level = mix(bank, 1)[0] * 128;
        bank.voices[FIRST_DRUM_SLOT + key].playing = false;
        return level;
    }
};

} // namespace

TEST(DrumKit, KeysPlayTheirSoundsSixAndSevenAndMissingSoundsAreSilent) {
    const int sound[24] = {140, 140, 150, 150, 160, 160, 0,   0,   170, 170, 180, 180,
                           190, 190, 180, 180, 180, 180, 180, 180, 180, 180, 180, 180};
    for (bool withHat2 : {true, false}) {
        KitPlayer player(withHat2);
        for (int key = 0; key < 24; ++key) {
            const int level = sound[key] == 180 && !withHat2 ? 0 : sound[key];
            EXPECT_EQ(player.bank.voices[FIRST_DRUM_SLOT + key].exists, level != 0) << key;
            EXPECT_NEAR(player.keyLevel(key), level ? level - 128 : 0, 1e-4) << key;
        }
    }
}

TEST(DrumKit, DrumMixLevelsAndLoudAndSoftCopiesSoundIndependently) {
    KitPlayer player;
    VoiceBank& bank = player.bank;
    struct Case {
        std::int32_t drumVolume, loud, soft;
    };
    // Loud level V, soft level (V * 70) / 100 truncated toward zero; hundredths = level*8 - 2400.
    const Case cases[] = {{300, 0, -720},    {255, -360, 178 * 8 - 2400}, {1, -2392, -2400},
                          {0, -2400, -2400}, {-5, -2440, -2424},          {200, -800, -1280}};
    for (const Case& c : cases) {
        applyDrumMix(bank, c.drumVolume);
        for (int k = 0; k < 24; k += 2) {
            if (k == 6) continue;
            EXPECT_EQ(bank.voices[472 + k].volume, c.loud) << c.drumVolume << " key " << k;
            EXPECT_EQ(bank.voices[473 + k].volume, c.soft) << c.drumVolume << " key " << k;
        }
    }
    // 400 puts the loud forms above full volume: refused, they keep their previous level.
    applyDrumMix(bank, 400);
    EXPECT_EQ(bank.voices[472].volume, -800);
    EXPECT_EQ(bank.voices[473].volume, -160);

    applyDrumMix(bank, 300);
    restartVoice(bank, 472);
    restartVoice(bank, 473);
    const float soft = std::pow(10.0f, -720.0f / 2000);
    EXPECT_NEAR(mix(bank, 1)[0] * 128, 12 * (1 + soft), 1e-4);
    restartVoice(bank, 473); // restarting the soft copy leaves the loud one where it is
    EXPECT_EQ(bank.voices[472].index, 1u);
    EXPECT_EQ(bank.voices[473].index, 0u);
}

TEST(DrumKit, SongLoadsRecentreTheDrums) {
    KitPlayer player;
    SongSpec s;
    s.stepCount = 1;
    s.tracks[3] = {0x01000001}; // pan code 1 on the drum track
    TempFile file(songBytes(s));
    transportCommand(player, TRANSPORT_LOAD, file.path());
    transportCommand(player, TRANSPORT_PLAY);
    mix(player.bank, 3000); // one tick at frame 2205
    for (int slot = 472; slot < 496; ++slot)
        if (player.bank.voices[slot].exists) {
            ASSERT_EQ(player.bank.voices[slot].pan, -1600) << slot;
        }
    transportCommand(player, TRANSPORT_STOP);
    transportCommand(player, TRANSPORT_LOAD, file.path());
    for (int slot = 472; slot < 496; ++slot)
        EXPECT_EQ(player.bank.voices[slot].pan, 0) << slot;
}

TEST(DrumKit, TruncatedResourceIsTreatedAsMissing) {
    auto blob = drumResource(100, 200);
    putU32(blob, 54, 101); // claims one sample more than it holds
    const ResourceEntry entries[] = {{"BASS1", "WAVE", blob.data(), blob.size()},
                                     {"BASS2", "WAVE", blob.data(), 30}};
    OfflinePlayer player;
    for (const auto& [name, slot] : {std::pair{"BASS1", 472}, {"BASS2", 474}, {"HAT1", 480}}) {
        EXPECT_EQ(loadDrumSample(player.bank, {entries, 2}, name, slot), 0) << name;
        EXPECT_FALSE(player.bank.voices[slot].exists) << name;
    }
    // A whole sound into a slot whose voice cannot be made (it exists already) fails too.
    const auto whole = drumResource(100, 200);
    const ResourceEntry kick[] = {{"BASS1", "WAVE", whole.data(), whole.size()}};
    EXPECT_EQ(loadDrumSample(player.bank, {kick, 1}, "BASS1", 476), 1);
    EXPECT_EQ(loadDrumSample(player.bank, {kick, 1}, "BASS1", 476), 0);
}
