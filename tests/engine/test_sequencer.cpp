#include <vector>

#include <gtest/gtest.h>

#include "sequencer/clock.hpp"
#include "sequencer/sequencer.hpp"
#include "sequencer/transport.hpp"
#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

namespace {

// Track 0 plays pitch i at step i, so the restarted voice names the step played.
SongSpec countingSong(std::int32_t steps, std::int32_t loopStart, std::int32_t loopEnd) {
    SongSpec s;
    s.stepCount = steps;
    s.loopStart = loopStart;
    s.loopEnd = loopEnd;
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
    std::vector<int> ticks(int n) {
        std::vector<int> steps;
        for (int i = 0; i < n; ++i)
            steps.push_back(tick());
        return steps;
    }
};

using V = std::vector<int>;

} // namespace

TEST_F(Seq, LoopRegionsWrapToTheClampedLoopStart) {
    struct Case {
        std::int32_t steps, loopStart, loopEnd;
        V played;
    };
    for (const Case& c : {Case{8, 2, 4, {0, 1, 2, 3, 2, 3, 2, 3}},
                          Case{4, 1, 100, {0, 1, 2, 3, 1, 2, 3}}, // wraps at the last step
                          Case{4, 2, 0, {2, 2, 2}},               // an end at or below zero
                          Case{4, 2, -5, {2, 2, 2}},              // repeats the loop start
                          // The smallest loop end wraps to the largest when one is subtracted:
                          // only the song bound holds.
                          Case{3, 1, INT32_MIN, {0, 1, 2, 1, 2}},
                          Case{4, 9, 100, {0, 1, 2, 3, 3, 3}}, Case{4, -3, 2, {0, 1, 0, 1}}}) {
        load(countingSong(c.steps, c.loopStart, c.loopEnd));
        transportCommand(player, TRANSPORT_PLAY);
        EXPECT_EQ(ticks(static_cast<int>(c.played.size())), c.played)
            << c.steps << " " << c.loopStart << " " << c.loopEnd;
        transportCommand(player, TRANSPORT_STOP);
    }
    EXPECT_EQ(player.state.position.load(), 1);
}

TEST_F(Seq, TransportPlayStopRewindAndLoads) {
    tick();
    transportCommand(player, TRANSPORT_PLAY); // no song yet: refused
    EXPECT_EQ(player.state.playing.load(), 0);
    load(countingSong(8, 0, 8));
    EXPECT_EQ(tick(), -1); // stopped ticks do nothing and leave the position
    EXPECT_EQ(player.state.position.load(), -1);
    transportCommand(player, TRANSPORT_PLAY);
    EXPECT_EQ(ticks(3), (V{0, 1, 2}));
    transportCommand(player, TRANSPORT_STOP);
    EXPECT_EQ(tick(), -1);
    transportCommand(player, TRANSPORT_PLAY); // continues after the last step played
    EXPECT_EQ(tick(), 3);

    // A refused file changes nothing; one that cannot be opened keeps the song, renders it
    // again, rewinds and stops the clock.
    setVoicePan(player.bank, 400, 96);
    SongSpec bad = countingSong(8, 0, 8);
    bad.stepCount = -4;
    TempFile refused(songBytes(bad));
    LoadOutcome outcome;
    transportCommand(player, TRANSPORT_LOAD, refused.path(), &outcome);
    EXPECT_EQ(outcome.status, LoadStatus::Refused);
    EXPECT_EQ(player.state.position.load(), 3);
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
    load(countingSong(8, 0, 8));
    EXPECT_EQ(player.state.playing.load(), 0);
    EXPECT_EQ(player.state.position.load(), -1);
}

TEST_F(Seq, PanCodesApplyToTheWholeTrackBeforeItsNotesAndPersist) {
    SongSpec s = countingSong(4, 0, 4);
    s.tracks[1] = {0x01000000 | 1 | (1 << 12), 0, 0x09000002, 0x04000000};
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
    tick();
    EXPECT_EQ(voices[430].pan, -1600); // no code: the pan stays
    tick();
    EXPECT_EQ(voices[430].pan, -1600); // code 9 is ignored...
    EXPECT_TRUE(voices[425].playing);  // ...but its notes play
    tick();
    EXPECT_EQ(voices[430].pan, 0); // code 4: centre
}

TEST_F(Seq, PlayFromNextFrameSoundsStepZeroAtOnceWhenTheClockTicks) {
    SongSpec s = countingSong(4, 0, 4);
    s.stepTime = 20;
    load(s);
    playFromNextFrame(player);
    EXPECT_EQ(player.state.position.load(), 0);
    EXPECT_TRUE(player.bank.voices[400].playing);

    // A step time that never ticks plays nothing, not even step 0.
    transportCommand(player, TRANSPORT_STOP);
    s.stepTime = 0;
    load(s);
    player.bank.voices[400].playing = false;
    playFromNextFrame(player);
    EXPECT_EQ(player.state.position.load(), -1);
    EXPECT_FALSE(player.bank.voices[400].playing);
}

TEST(MixerDeterminism, OutputDoesNotDependOnHowFramesAreRequested) {
    SongSpec s = countingSong(16, 4, 16);
    s.stepTime = 37; // ticks fall between block boundaries
    for (int k = 0; k < 3; ++k) {
        s.instruments[k].noteLength = 900 + 311 * static_cast<std::uint32_t>(k);
        s.instruments[k].volume = 230 + 20 * k;
        for (int i = 0; i < 256; ++i)
            s.instruments[k].wave[i] = static_cast<std::int8_t>(i * (3 + k));
        for (int i = 0; i < 64; ++i)
            s.instruments[k].envelope[i] = static_cast<std::int8_t>(120 - i);
    }
    for (int t = 0; t < 3; ++t)
        for (std::uint32_t i = 0; i < 16; ++i)
            s.tracks[t].push_back((0x00A5A5A5u >> (i % 5)) | ((i % 8) << 24));
    TempFile file(songBytes(s));
    auto render = [&](std::size_t chunk) {
        OfflinePlayer player;
        transportCommand(player, TRANSPORT_LOAD, file.path());
        playFromNextFrame(player);
        std::vector<float> out(2 * 20000);
        for (std::size_t done = 0; done < 20000; done += chunk)
            mixFrames(player.bank, out.data() + 2 * done, std::min(chunk, 20000 - done));
        return out;
    };
    const auto reference = render(256);
    for (std::size_t chunk : {1u, 7u, 100u, 4096u, 20000u})
        EXPECT_EQ(render(chunk), reference) << chunk; // bit for bit
}
