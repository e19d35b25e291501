// What the mixer makes of voices, gains and ticks is checked sample by sample against the
// reference model (tests/model). Here: the bank's limits, refusals and states, which rendering
// a song never reaches.
#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

namespace {

struct Bank : ::testing::Test {
    OfflinePlayer player;
    VoiceBank& bank = player.bank;
    std::vector<std::uint64_t> ticks; // the frames the timer ticked on

    static void onTick(void* self) {
        auto* t = static_cast<Bank*>(self);
        t->ticks.push_back(t->bank.frame);
    }

    // Creates a voice holding the given samples, padded with silence to the smallest voice size.
    void fill(int slot, std::vector<std::uint8_t> samples) {
        samples.resize(std::max<std::size_t>(samples.size(), MIN_VOICE_BYTES), 128);
        const auto n = static_cast<std::uint32_t>(samples.size());
        ASSERT_EQ(createVoice(bank, slot, VOICE_FORMAT, n), 1);
        ASSERT_EQ(writeVoice(bank, slot, samples.data(), n), 1);
    }
};

} // namespace

TEST_F(Bank, RestartsStartOverAndReleasedUnwrittenAndShortWrittenVoicesAreSilent) {
    fill(400, {192, 64});
    setVoiceVolume(bank, 400, 250); // -400 hundredths of a decibel
    const float first = 0.5f * std::pow(10.0f, -400.0f / 2000);
    restartVoice(bank, 400);
    EXPECT_NEAR(mix(bank, 1)[0], first, 1e-6f);
    restartVoice(bank, 400);
    EXPECT_NEAR(mix(bank, 1)[1], first, 1e-6f); // from sample 0 again, not on from sample 1
    releaseVoice(bank, 400);
    EXPECT_EQ(mix(bank, 1)[0], 0.0f);
    ASSERT_EQ(createVoice(bank, 400, VOICE_FORMAT, 50), 1);
    restartVoice(bank, 400);
    EXPECT_EQ(mix(bank, 1)[0], 0.0f);
    const std::uint8_t two[] = {255, 255};
    ASSERT_EQ(writeVoice(bank, 400, two, 2), 1);
    restartVoice(bank, 400);
    const auto shortWrite = mix(bank, 3);
    EXPECT_GT(shortWrite[2], 0.9f);
    EXPECT_EQ(shortWrite[4], 0.0f);
}

TEST_F(Bank, EmptySlotsAndBadSlotsIgnoreEveryOperation) {
    for (int slot : {0, -1, 512}) {
        restartVoice(bank, slot);
        setVoiceVolume(bank, slot, 300);
        setVoicePan(bank, slot, 96);
        releaseVoice(bank, slot);
        const std::uint8_t b[4] = {};
        EXPECT_EQ(writeVoice(bank, slot, b, 4), 0);
    }
    EXPECT_EQ(createVoice(bank, 512, VOICE_FORMAT, 4), 0);
    EXPECT_EQ(mix(bank, 1)[0], 0.0f);
}

TEST_F(Bank, CreationLimits) {
    WaveFormat stereo = VOICE_FORMAT;
    stereo.channels = 2;
    EXPECT_EQ(createVoice(bank, 1, VOICE_FORMAT, 3), 0);
    EXPECT_EQ(createVoice(bank, 1, VOICE_FORMAT, 0), 0);
    EXPECT_EQ(createVoice(bank, 2, VOICE_FORMAT, MAX_VOICE_BYTES + 1), 0);
    EXPECT_EQ(createVoice(bank, 2, stereo, 100), 0);
    EXPECT_EQ(createVoice(bank, 1, VOICE_FORMAT, 4), 1);
    EXPECT_EQ(createVoice(bank, 1, VOICE_FORMAT, 4), 0); // occupied
    const std::uint8_t b[8] = {};
    EXPECT_EQ(writeVoice(bank, 1, b, 8), 0); // more than the voice holds

    // Together the voices may not pass 1 GiB (counted at creation; memory is taken on writing).
    for (int slot = 10; slot < 14; ++slot)
        EXPECT_EQ(createVoice(bank, slot, VOICE_FORMAT, MAX_VOICE_BYTES), 1);
    EXPECT_EQ(createVoice(bank, 14, VOICE_FORMAT, 4), 0); // 4 + 4 * (2^28 - 1) + 4 > 2^30
    releaseVoice(bank, 13);
    EXPECT_EQ(createVoice(bank, 14, VOICE_FORMAT, 4), 1);
    // The first and the last slot are slots like any other.
    EXPECT_EQ(createVoice(bank, 0, VOICE_FORMAT, 4), 1);
    EXPECT_EQ(createVoice(bank, VOICE_SLOTS - 1, VOICE_FORMAT, 4), 1);
}

TEST(BankWithoutDevice, VoicesCannotBeCreated) {
    struct FailingDevice final : SoundDevice {
        bool start(VoiceBank&) override { return false; }
        void stop() override {}
    } failing;
    VoiceBank bank;
    EXPECT_EQ(initSoundDevice(bank, &failing), 0);
    EXPECT_EQ(initSoundDevice(bank, nullptr), 0);
    EXPECT_EQ(createVoice(bank, 400, VOICE_FORMAT, 100), 0);
    mix(bank, 2); // still mixes (silence) so the clock keeps running
    EXPECT_EQ(bank.frame, 2u);
}

// Levels and pan codes in turn, and the hundredths of a decibel each leaves the voice at: songs
// only hold in-range pan codes, so the refused values show here alone.
TEST_F(Bank, VolumeAndPanRefusedValues) {
    fill(402, {255});
    struct Case {
        bool pan;
        std::int32_t value, volume, panned;
    };
    for (const Case& c :
         {Case{false, 300, 0, 0}, Case{true, 256, 0, 0},        // full, centre
          Case{false, 200, -800, 0}, Case{false, 301, -800, 0}, // +8: above full
          Case{false, -951, -800, 0},                           // -10008: below the quietest
          Case{false, -950, -10000, 0},                         // the quietest accepted
          Case{false, 0x20000000 + 300, 0, 0},                  // wraps to full in 32 bits
          Case{true, 1257, 0, 0},                               // +10010: refused
          Case{true, 1256, 0, 10000}, Case{true, -744, 0, -10000}, Case{true, -745, 0, -10000}}) {
        (c.pan ? setVoicePan : setVoiceVolume)(bank, 402, c.value);
        EXPECT_EQ(bank.voices[402].volume, c.volume) << c.value;
        EXPECT_EQ(bank.voices[402].pan, c.panned) << c.value;
    }
}

// A render starts its timer on frame 0; the player starts it wherever the stream is.
TEST_F(Bank, FrameTimerCountsFromTheFrameItStartsOnUntilStopped) {
    mix(bank, 1000);
    startFrameTimer(bank, 125, onTick, this);
    mix(bank, 20000);
    ASSERT_GE(ticks.size(), 7u);
    for (std::size_t k = 1; k <= ticks.size(); ++k)
        EXPECT_EQ(ticks[k - 1], 1000 + k * 125 * 441 / 20) << k; // 2756.25 frames apart
    ticks.clear();
    stopFrameTimer(bank);
    mix(bank, 10000);
    EXPECT_TRUE(ticks.empty());
}
