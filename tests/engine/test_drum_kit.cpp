// The key map and the drum mix levels are checked against the reference model with the real kit
// (tests/model corpus: drums_all_24_keys, drums_volume_*). Here: refused sounds and reloads.
#include <vector>

#include <gtest/gtest.h>

#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

TEST(DrumKit, AMissingSoundLeavesItsKeysSilentAndSongLoadsRecentreTheDrums) {
    OfflinePlayer player;
    const auto sound = drumResource(99, 200);
    std::vector<ResourceEntry> entries; // no HAT2
    for (const char* name : {"BASS1", "BASS2", "SNARE1", "HAT1", "SYMBAL1"})
        entries.push_back({name, "WAVE", sound.data(), sound.size()});
    player.resources = {entries.data(), entries.size()};
    player.state.playing = 1;
    EXPECT_EQ(loadDrumKit(player.bank, player.state, player.resources), 1);
    EXPECT_EQ(player.state.playing.load(), 0);    // the kit is loaded stopped
    EXPECT_FALSE(player.bank.voices[482].exists); // HAT2's first key
    EXPECT_TRUE(player.bank.voices[485].exists);  // SYMBAL1, loaded after it

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
