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

    // A timer tick: records its frame and restarts voice 400.
    static void onTick(void* self) {
        auto* t = static_cast<Bank*>(self);
        t->ticks.push_back(t->bank.frame);
        restartVoice(t->bank, 400);
    }

    // Creates a voice holding the given samples, padded with silence to the smallest voice size.
    void fill(int slot, std::vector<std::uint8_t> samples) {
        samples.resize(std::max<std::size_t>(samples.size(), MIN_VOICE_BYTES), 128);
        const auto n = static_cast<std::uint32_t>(samples.size());
        ASSERT_EQ(createVoice(bank, slot, VOICE_FORMAT, n), 1);
        ASSERT_EQ(writeVoice(bank, slot, samples.data(), n), 1);
    }
};

constexpr float EPS = 1e-6f;
float db(double hundredths) {
    return static_cast<float>(std::pow(10.0, hundredths / 2000.0));
}

} // namespace

TEST_F(Bank, VoicesPlayOnceFromTheStartAndRestartsCutReleasesSilence) {
    fill(400, {192, 64, 128, 255});
    EXPECT_EQ(mix(bank, 2)[0], 0.0f); // created stopped
    restartVoice(bank, 400);
    const auto out = mix(bank, 6);
    const float expected[] = {0.5f, -0.5f, 0.0f, 127.0f / 128, 0.0f, 0.0f};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(out[2 * i], expected[i], EPS) << i;
        EXPECT_NEAR(out[2 * i + 1], expected[i], EPS) << i;
    }
    restartVoice(bank, 400);
    mix(bank, 1);
    restartVoice(bank, 400);
    EXPECT_NEAR(mix(bank, 1)[0], 0.5f, EPS); // from sample 0 again, not on from sample 1
    releaseVoice(bank, 400);
    EXPECT_EQ(mix(bank, 1)[0], 0.0f);
    ASSERT_EQ(createVoice(bank, 400, VOICE_FORMAT, 50), 1);
    restartVoice(bank, 400);
    EXPECT_EQ(mix(bank, 1)[0], 0.0f); // silent until written
    // A short write leaves the rest of the voice silent.
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

TEST_F(Bank, VolumeAndPanGainsAndRefusedValues) {
    for (int slot : {400, 401, 402})
        fill(slot, {255});
    setVoiceVolume(bank, 400, 0);   // -2400
    setVoicePan(bank, 400, 96);     // -1600: right side quieter
    setVoiceVolume(bank, 401, 250); // -400
    setVoicePan(bank, 401, 420);    // +1640: left side quieter
    const float v = 127.0f / 128;
    for (const auto& [slot, left, right] : {std::tuple{400, db(-2400), db(-2400) * db(-1600)},
                                            std::tuple{401, db(-400) * db(-1640), db(-400)}}) {
        restartVoice(bank, slot);
        const auto out = mix(bank, 1);
        EXPECT_NEAR(out[0], v * left, EPS) << slot;
        EXPECT_NEAR(out[1], v * right, EPS) << slot;
    }
    // Levels and pan codes in turn, and the hundredths of a decibel each leaves the voice at.
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

TEST(Mixer, SixteenBitOutputClampsAndRounds) {
    const float in[] = {0.0f, 1.0f, -1.0f, 2.5f, -7.0f, 0.5f, -0.5f, 1.0f / 32767 * 0.49f};
    std::int16_t out[8];
    floatToPcm16(in, out, 8);
    const std::int16_t expected[] = {0, 32767, -32767, 32767, -32767, 16384, -16384, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i], expected[i]) << i;
}

TEST_F(Bank, FrameTimerTicksOnExactFramesBeforeTheirFrameIsMixed) {
    fill(400, {255, 192});
    mix(bank, 1000); // the timer counts from the frame it starts on
    startFrameTimer(bank, 125, onTick, this);
    const auto out = mix(bank, 20000);
    ASSERT_GE(ticks.size(), 7u);
    for (std::size_t k = 1; k <= ticks.size(); ++k)
        EXPECT_EQ(ticks[k - 1], 1000 + k * 125 * 441 / 20) << k; // 2756.25 frames apart
    // The voice sounds sample 0 on the tick's own frame.
    const std::size_t first = 2 * (ticks[0] - 1000);
    EXPECT_EQ(out[first - 2], 0.0f);
    EXPECT_NEAR(out[first], 127.0f / 128, EPS);
    EXPECT_NEAR(out[first + 2], 0.5f, EPS);

    ticks.clear();
    stopFrameTimer(bank);
    mix(bank, 10000);
    for (std::uint32_t never : {0u, MAX_STEP_TIME_MS + 1}) {
        startFrameTimer(bank, never, onTick, this);
        mix(bank, 30000);
    }
    EXPECT_TRUE(ticks.empty());
    startFrameTimer(bank, MAX_STEP_TIME_MS, onTick, this);
    EXPECT_TRUE(bank.timer.running);
}
