// Which steps play with which pans, and where loops wrap, are checked against the reference model
// (tests/model); that the mix does not depend on how it is cut into calls, by librkv's uneven
// reads compared with `rkv render` (tests/librkv). Here: the transport, and the order of the
// work within one tick, which no mix shows.
#include <memory>

#include <gtest/gtest.h>

#include "sequencer/sequencer.hpp"
#include "sequencer/transport.hpp"
#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

namespace {

// Track 0 plays pitch i at step i, so the restarted voice names the step played.
SongSpec countingSong(std::int32_t steps) {
    SongSpec s;
    s.stepCount = steps;
    s.loopEnd = steps;
    for (std::int32_t i = 0; i < steps && i < 24; ++i)
        s.tracks[0].push_back(1u << i);
    return s;
}

struct Seq : ::testing::Test {
    OfflinePlayer player;
    std::unique_ptr<TempFile> file;
    void load(const SongSpec& s) {
        file = std::make_unique<TempFile>(songBytes(s));
        LoadOutcome outcome;
        transportCommand(player, TRANSPORT_LOAD, file->path(), &outcome);
        ASSERT_EQ(outcome.status, LoadStatus::Loaded) << outcome.reason;
    }
    // Runs one tick and returns the step it played on track 0 (-1 for none).
    int tick() {
        for (auto& v : player.bank.voices)
            v.playing = false;
        sequencerTick(player);
        int played = -1;
        for (int i = 0; i < 24; ++i)
            if (player.bank.voices[400 + i].playing) played = i;
        return played;
    }
};

} // namespace

TEST_F(Seq, TransportPlayStopRewindAndLoads) {
    tick();
    transportCommand(player, TRANSPORT_PLAY); // no song yet: refused
    EXPECT_EQ(player.state.playing.load(), 0);
    SongSpec looped = countingSong(8);
    looped.loopStart = 2;
    looped.loopEnd = 4;
    load(looped);
    EXPECT_EQ(tick(), -1); // stopped ticks do nothing and leave the position
    EXPECT_EQ(player.state.position.load(), -1);
    transportCommand(player, TRANSPORT_PLAY);
    for (int step : {0, 1, 2})
        EXPECT_EQ(tick(), step);
    transportCommand(player, TRANSPORT_STOP);
    EXPECT_EQ(tick(), -1);
    transportCommand(player, TRANSPORT_PLAY); // continues after the last step played
    EXPECT_EQ(tick(), 3);
    EXPECT_EQ(tick(), 2); // back to the loop start

    // A refused file changes nothing; one that cannot be opened keeps the song, renders it
    // again, rewinds and stops the clock.
    setVoicePan(player.bank, 400, 96);
    SongSpec bad = countingSong(8);
    bad.stepCount = -4;
    TempFile refused(songBytes(bad));
    LoadOutcome outcome;
    transportCommand(player, TRANSPORT_LOAD, refused.path(), &outcome);
    EXPECT_EQ(outcome.status, LoadStatus::Refused);
    EXPECT_EQ(player.state.position.load(), 2);
    EXPECT_EQ(player.bank.voices[400].pan, -1600);
    EXPECT_TRUE(player.bank.timer.running);
    transportCommand(player, TRANSPORT_LOAD, "/nonexistent.rkv", &outcome);
    EXPECT_EQ(outcome.status, LoadStatus::CannotOpen);
    EXPECT_EQ(player.state.position.load(), -1);
    EXPECT_EQ(player.bank.voices[400].pan, 0);
    EXPECT_FALSE(player.bank.timer.running);
    EXPECT_TRUE(player.song.loaded);

    EXPECT_EQ(tick(), 0);
    transportCommand(player, TRANSPORT_REWIND); // while playing
    EXPECT_EQ(player.state.playing.load(), 1);
    EXPECT_EQ(tick(), 0);
    tick();
    transportCommand(player, 256); // low 8 bits 0: rewind
    EXPECT_EQ(tick(), 0);
    for (std::int32_t nothing : {2, 5, -1, 0x7F, 0x102}) {
        EXPECT_EQ(transportCommand(player, nothing), 1);
        EXPECT_EQ(player.state.playing.load(), 1) << nothing;
    }
    EXPECT_EQ(transportCommand(player, 0x103), 1); // 3: stop
    EXPECT_EQ(player.state.playing.load(), 0);
    // Load while stopped: stays stopped, rewound.
    load(countingSong(8));
    EXPECT_EQ(player.state.playing.load(), 0);
    EXPECT_EQ(player.state.position.load(), -1);
}

TEST_F(Seq, PanCodesApplyToTheWholeTrackBeforeItsNotes) {
    SongSpec s = countingSong(4);
    s.tracks[1] = {0x01000000 | 1 | (1 << 12)};
    load(s);
    transportCommand(player, TRANSPORT_PLAY);
    tick();
    const Voice* voices = player.bank.voices.data();
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(voices[424 + i].pan, -1600);
        EXPECT_EQ(voices[400 + i].pan, 0);
        // The mix shows no order within a tick: the bank counts restarts and pans. Track 0 is
        // done before track 1 begins, and track 1 is panned before its first note starts.
        EXPECT_LT(voices[400].restartedAt, voices[424 + i].pannedAt);
        EXPECT_LT(voices[424 + i].pannedAt, voices[424].restartedAt);
    }
    EXPECT_TRUE(voices[424].playing); // bits 0 and 12 of track 1
    EXPECT_TRUE(voices[436].playing);
}
