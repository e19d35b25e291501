// The timing `rkv info`, `render --loops` and `play --loops` share, checked against the engine
// itself: which step each tick plays, where passes wrap, and when the last voice falls silent.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

#include "engine_player.hpp"
#include "render/song_timing.hpp"

namespace {

using namespace rkv;
using namespace rkv::cli;
using namespace rkv::render;

// The song written to a file of this process's own (other checkouts on the machine run these
// tests at the same time), loaded, and the file removed.
std::unique_ptr<Player> loadedSong(const rkv::test::SongSpec& fields, const std::string& name) {
    const std::string path =
        testing::TempDir() + "rkv_timing_" + std::to_string(::getpid()) + "_" + name + ".rkv";
    rkvtest::writeFile(path, rkvtest::songBytes(fields));
    auto player = rkvtest::loadedPlayer(path);
    std::remove(path.c_str());
    return player;
}

void mixTo(Player& player, std::uint64_t frame) {
    float buffer[2 * 512];
    while (player.bank.frame < frame) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(512, frame - player.bank.frame));
        mixFrames(player.bank, buffer, n);
    }
}

bool anyVoiceSounding(const Player& player) {
    for (const Voice& v : player.bank.voices)
        if (v.playing && v.data) return true;
    return false;
}

TEST(SongTiming, PredictsEveryStepAndWrapTheSequencerPlays) {
    // (step count, loop start, loop end): ends past the song, at 0, below it, starts before and
    // past the song and after the end, one-step loops and songs.
    const std::int32_t cases[][3] = {{8, 2, 8},         {8, 2, 100}, {8, 3, 0},  {8, 3, -5},
                                     {8, 2, INT32_MIN}, {8, -4, 8},  {8, 50, 8}, {8, 6, 4},
                                     {1, 0, 1},         {8, 0, 1},   {5, 0, 5}};
    for (const auto& c : cases) {
        const std::string name =
            std::to_string(c[0]) + "_" + std::to_string(c[1]) + "_" + std::to_string(c[2]);
        SCOPED_TRACE(name);
        rkv::test::SongSpec fields = rkvtest::audibleSong();
        fields.stepCount = c[0];
        fields.loopStart = c[1];
        fields.loopEnd = c[2];
        const auto player = loadedSong(fields, name);
        const SongTiming timing = songTiming(player->song.header);
        ASSERT_TRUE(timing.ticks);
        ASSERT_GE(timing.firstPassSteps, 1u);
        ASSERT_GE(timing.loopPassSteps, 1u);

        playFromNextFrame(*player);
        std::int32_t previous = -1;
        std::uint64_t wraps = 0;
        for (std::uint64_t k = 0; k < 40; ++k) {
            mixTo(*player, tickFrame(fields.stepTime, k) + 1); // tick k has run
            const std::int32_t position = player->state.position.load();
            ASSERT_EQ(positionAtTick(timing, k), position) << "tick " << k;
            // A wrap is any step that is not the one after the previous; tick 0 starts, not wraps.
            if (k > 0 && position != previous + 1) {
                EXPECT_EQ(k, timing.firstPassSteps + wraps * timing.loopPassSteps) << "tick " << k;
                ++wraps;
            }
            EXPECT_EQ(passAtTick(timing, k), k < timing.firstPassSteps ? 0 : wraps) << "tick " << k;
            previous = position;
        }
        EXPECT_GT(wraps, 0u);
    }
}

TEST(SongTiming, CountsTheIntroAndKnowsWhenTheClockRuns) {
    SongHeader h;
    h.stepCount = 96;
    h.loopStart = 50; // past the last step: the first pass is all intro, the loop one step
    h.loopEnd = 40;
    h.stepTime = 120;
    SongTiming t = songTiming(h);
    EXPECT_EQ(t.introSteps, 40u);
    EXPECT_EQ(t.loopPassSteps, 1u);
    h.stepTime = 0; // no clock: step 0 alone, ending where it starts
    t = songTiming(h);
    EXPECT_FALSE(t.ticks);
    EXPECT_EQ(ticksForLoops(t, 5), 1u);
    EXPECT_EQ(endFrameForTicks(t, 1), 0u);
    h.stepTime = MAX_STEP_TIME_MS + 1;
    EXPECT_FALSE(songTiming(h).ticks);
    h.stepTime = MAX_STEP_TIME_MS;
    EXPECT_TRUE(songTiming(h).ticks);
}

TEST(SongTiming, TickFramesRoundDownAndNeverOverflow) {
    EXPECT_EQ(tickFrame(20, 1), 441u);
    EXPECT_EQ(tickFrame(1, 1), 22u); // 22.05 frames
    EXPECT_EQ(tickFrame(1, 20), 441u);
    EXPECT_EQ(tickFrame(7, 3), 463u); // 463.05
    EXPECT_EQ(tickFrame(MAX_STEP_TIME_MS, UINT64_MAX), UINT64_MAX);
}

TEST(RingOut, LastsUntilTheLastVoiceStopsOrTheCap) {
    // (note length, loops): short and long notes, looped, and one still sounding at the cap.
    const std::uint32_t cases[][2] = {{300, 0}, {5000, 0}, {5000, 3}, {200000, 1}};
    for (const auto& [noteLength, loops] : cases) {
        const std::string name = std::to_string(noteLength) + "_" + std::to_string(loops);
        SCOPED_TRACE(name);
        rkv::test::SongSpec fields = rkvtest::audibleSong();
        fields.stepCount = 6;
        fields.loopStart = 2;
        fields.loopEnd = 6;
        fields.instruments[0].noteLength = noteLength;
        fields.tracks[0] = {1, 0, 0, 2, 0, 0};        // a note in the intro and one in the loop
        fields.tracks[3] = {0, 1u << 12, 0, 0, 0, 1}; // cymbal in the intro, kick on the last step
        const auto player = loadedSong(fields, name);
        const SongTiming timing = songTiming(player->song.header);
        const DrumKitVoices kit = drumKitVoices(player->bank);
        const PlayLength length =
            playLength(player->song, timing, loops,
                       trackVoiceLengths(player->song.header, kit.lengths, kit.bytes));
        ASSERT_EQ(length.ticks, 6 + 4 * loops);
        ASSERT_EQ(length.endFrame, tickFrame(fields.stepTime, length.ticks));

        playFromNextFrame(*player);
        mixTo(*player, length.endFrame);
        transportCommand(*player, TRANSPORT_STOP);
        if (length.ringOutFrames < MAX_RING_OUT_FRAMES) {
            ASSERT_GT(length.ringOutFrames, 0u);
            mixTo(*player, length.frames() - 1);
            EXPECT_TRUE(anyVoiceSounding(*player)) << "one frame before the end";
            mixTo(*player, length.frames());
            EXPECT_FALSE(anyVoiceSounding(*player)) << "at the end";
        } else {
            mixTo(*player, length.frames());
            EXPECT_TRUE(anyVoiceSounding(*player)) << "cut while still sounding";
        }
    }
}

TEST(TrackVoiceLengths, MatchTheVoicesTheEngineMakes) {
    rkv::test::SongSpec fields = rkvtest::audibleSong();
    fields.instruments[0].noteLength = 3;          // too short: cannot be made
    fields.instruments[1].noteLength = 0x0FFFFFFF; // the fourth voice passes 1 GiB: silent
    fields.instruments[2].noteLength = 1234;       // fine
    const auto player = loadedSong(fields, "lengths");
    const DrumKitVoices kit = drumKitVoices(player->bank);
    const TrackVoiceLengths lengths =
        trackVoiceLengths(player->song.header, kit.lengths, kit.bytes);
    for (int slot = 0; slot < TRACK_COUNT * NOTES_PER_TRACK; ++slot) {
        const Voice& v = player->bank.voices[static_cast<std::size_t>(FIRST_TRACK_SLOT + slot)];
        EXPECT_EQ(lengths[static_cast<std::size_t>(slot)], v.exists && v.data ? v.length : 0u)
            << "slot " << FIRST_TRACK_SLOT + slot;
    }
    const auto voices = instrumentVoices(player->song.header, kit.bytes);
    EXPECT_EQ(voices[0], InstrumentVoices::LengthOutOfRange);
    EXPECT_EQ(voices[1], InstrumentVoices::PastBankLimit);
    EXPECT_EQ(voices[2], InstrumentVoices::Sounding);
    EXPECT_GT(kit.lengths[0], 0u);
    EXPECT_EQ(kit.lengths[6], 0u) << "drum key 6 has no sound";
    // A drum voice made but never filled (its memory ran out) plays silence.
    ASSERT_EQ(createVoice(player->bank, FIRST_DRUM_SLOT + 6, VOICE_FORMAT, 100), 1);
    EXPECT_EQ(drumKitVoices(player->bank).lengths[6], 0u);
}

// As the model corpus's two boundary songs: voices ending exactly at 1 GiB are all made; one
// byte more and the last instrument's last voice is not, which silences that instrument.
TEST(TrackVoiceLengths, TheBankLimitIsExact) {
    const DrumKitVoices kit = builtinDrumKitVoices();
    for (std::uint32_t extra : {0u, 1u}) {
        SongHeader h;
        h.instruments[0].noteLength = MAX_VOICE_BYTES; // three voices fit beside the drums
        h.instruments[1].noteLength = static_cast<std::uint32_t>( // one voice fits
            MAX_BANK_BYTES - kit.bytes - 3 * std::uint64_t{MAX_VOICE_BYTES} - 24 * 2000 + extra);
        h.instruments[2].noteLength = 2000;
        const auto voices = instrumentVoices(h, kit.bytes);
        EXPECT_EQ(voices[1], InstrumentVoices::PastBankLimit) << extra;
        EXPECT_EQ(voices[2], extra ? InstrumentVoices::PastBankLimit : InstrumentVoices::Sounding)
            << extra;
    }
}

TEST(TickLimit, StopsTheSequencerOnTheFrameOfTheFirstTickPastIt) {
    rkv::test::SongSpec fields = rkvtest::audibleSong();
    fields.tracks[2] = {1, 1, 1, 1, 1, 1, 1, 1};
    const auto player = loadedSong(fields, "limit");
    {
        TickLimit limit(*player, 5);
        limit.start();
        mixTo(*player, tickFrame(fields.stepTime, 5));
        EXPECT_EQ(limit.ticksPlayed(), 5u);
        EXPECT_EQ(player->state.playing.load(), 1);
        mixTo(*player, tickFrame(fields.stepTime, 5) + 1);
        EXPECT_EQ(player->state.playing.load(), 0) << "stopped by the sixth tick";
        EXPECT_EQ(player->state.position.load(), 4);
        mixTo(*player, tickFrame(fields.stepTime, 9) + 1);
        EXPECT_EQ(limit.ticksPlayed(), 5u);
    }
    // Gone, it hands the clock back to the sequencer.
    transportCommand(*player, TRANSPORT_PLAY);
    mixTo(*player, tickFrame(fields.stepTime, 10) + 1);
    EXPECT_EQ(player->state.position.load(), 5);
}

} // namespace
