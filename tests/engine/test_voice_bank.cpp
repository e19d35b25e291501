#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

namespace {

struct Bank : ::testing::Test {
    VoiceBank bank;
    OfflineDevice device;
    void SetUp() override { ASSERT_EQ(initSoundDevice(bank, &device), 1); }

    // Creates a voice holding the given samples, padded with silence to the smallest voice size.
    void fill(int slot, std::vector<std::uint8_t> samples) {
        samples.resize(std::max<std::size_t>(samples.size(), MIN_VOICE_BYTES), 128);
        ASSERT_EQ(createVoice(bank, slot, VOICE_FORMAT, static_cast<std::uint32_t>(samples.size())),
                  1);
        ASSERT_EQ(
            writeVoice(bank, slot, samples.data(), static_cast<std::uint32_t>(samples.size())), 1);
    }
    std::vector<float> mix(std::size_t frames) {
        std::vector<float> out(2 * frames);
        mixFrames(bank, out.data(), frames);
        return out;
    }
};

constexpr float EPS = 1e-6f;
float db(double hundredths) {
    return static_cast<float>(std::pow(10.0, hundredths / 2000.0));
}

} // namespace

TEST_F(Bank, VoicesPlayOnceFromTheFirstSampleWhenRestarted) {
    fill(400, {192, 64, 128, 255});
    EXPECT_EQ(mix(2)[0], 0.0f); // created stopped
    restartVoice(bank, 400);
    const auto out = mix(6);
    const float expected[] = {0.5f, -0.5f, 0.0f, 127.0f / 128, 0.0f, 0.0f};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(out[2 * i], expected[i], EPS) << i;
        EXPECT_NEAR(out[2 * i + 1], expected[i], EPS) << i;
    }
}

TEST_F(Bank, RestartCutsInsteadOfLayering) {
    fill(400, {255, 192, 160, 144});
    restartVoice(bank, 400);
    mix(2);
    restartVoice(bank, 400);
    const auto out = mix(2);
    EXPECT_NEAR(out[0], 127.0f / 128, EPS); // a second copy would add 32/128
    EXPECT_NEAR(out[2], 0.5f, EPS);
}

TEST_F(Bank, ReleaseSilencesAtOnceAndNewVoicesAreSilentUntilWritten) {
    fill(400, std::vector<std::uint8_t>(100, 255));
    restartVoice(bank, 400);
    mix(10);
    releaseVoice(bank, 400);
    EXPECT_EQ(mix(1)[0], 0.0f);
    ASSERT_EQ(createVoice(bank, 400, VOICE_FORMAT, 50), 1);
    restartVoice(bank, 400);
    EXPECT_EQ(mix(1)[0], 0.0f);
    // A short write leaves the rest of the voice silent.
    const std::uint8_t two[] = {255, 255};
    ASSERT_EQ(writeVoice(bank, 400, two, 2), 1);
    restartVoice(bank, 400);
    const auto out = mix(3);
    EXPECT_GT(out[2], 0.9f);
    EXPECT_EQ(out[4], 0.0f);
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
    EXPECT_EQ(mix(1)[0], 0.0f);
}

TEST_F(Bank, CreationLimits) {
    EXPECT_EQ(createVoice(bank, 1, VOICE_FORMAT, 3), 0);
    EXPECT_EQ(createVoice(bank, 1, VOICE_FORMAT, 0), 0);
    EXPECT_EQ(createVoice(bank, 1, VOICE_FORMAT, 4), 1);
    EXPECT_EQ(createVoice(bank, 1, VOICE_FORMAT, 4), 0); // occupied
    EXPECT_EQ(createVoice(bank, 2, VOICE_FORMAT, MAX_VOICE_BYTES + 1), 0);
    WaveFormat stereo = VOICE_FORMAT;
    stereo.channels = 2;
    EXPECT_EQ(createVoice(bank, 2, stereo, 100), 0);
    const std::uint8_t b[8] = {};
    EXPECT_EQ(writeVoice(bank, 1, b, 8), 0); // more than the voice holds

    // Together the voices may not pass 1 GiB (counted at creation; memory is taken on writing).
    EXPECT_EQ(createVoice(bank, 10, VOICE_FORMAT, MAX_VOICE_BYTES), 1);
    EXPECT_EQ(createVoice(bank, 11, VOICE_FORMAT, MAX_VOICE_BYTES), 1);
    EXPECT_EQ(createVoice(bank, 12, VOICE_FORMAT, MAX_VOICE_BYTES), 1);
    EXPECT_EQ(createVoice(bank, 13, VOICE_FORMAT, MAX_VOICE_BYTES), 1);
    EXPECT_EQ(createVoice(bank, 14, VOICE_FORMAT, 4), 0); // 4 + 4 * (2^28 - 1) + 4 > 2^30
    releaseVoice(bank, 13);
    EXPECT_EQ(createVoice(bank, 14, VOICE_FORMAT, 4), 1);
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
    std::vector<float> out(4);
    mixFrames(bank, out.data(), 2); // still mixes (silence) so the clock keeps running
    EXPECT_EQ(bank.frame, 2u);
}

TEST_F(Bank, VolumeAndPanGains) {
    fill(400, {255});
    fill(401, {255});
    fill(402, {255});
    setVoiceVolume(bank, 400, 300); // 0
    setVoiceVolume(bank, 401, 0);   // -2400
    setVoiceVolume(bank, 402, 250); // -400
    setVoicePan(bank, 401, 96);     // -1600: right side quieter
    setVoicePan(bank, 402, 420);    // +1640: left side quieter
    EXPECT_EQ(bank.voices[400].volume, 0);
    EXPECT_EQ(bank.voices[401].volume, -2400);
    EXPECT_EQ(bank.voices[401].pan, -1600);
    EXPECT_EQ(bank.voices[402].pan, 1640);
    restartVoice(bank, 401);
    auto out = mix(1);
    const float v = 127.0f / 128;
    EXPECT_NEAR(out[0], v * db(-2400), EPS);
    EXPECT_NEAR(out[1], v * db(-2400) * db(-1600), EPS);
    restartVoice(bank, 402);
    out = mix(1);
    EXPECT_NEAR(out[0], v * db(-400) * db(-1640), EPS);
    EXPECT_NEAR(out[1], v * db(-400), EPS);
}

TEST_F(Bank, RefusedVolumesAndPansKeepThePreviousValue) {
    fill(400, {255});
    // Levels and pan codes in turn, and the hundredths of a decibel each leaves the voice at.
    struct Case {
        bool pan;
        std::int32_t value, volume, panned;
    };
    for (const Case& c :
         {Case{false, 200, -800, 0}, Case{false, 301, -800, 0}, // +8: above full
          Case{false, -951, -800, 0},                           // -10008: below the quietest
          Case{false, -950, -10000, 0},                         // the quietest accepted
          Case{false, 0x20000000 + 300, 0, 0},                  // wraps to full in 32 bits
          Case{true, 1257, 0, 0},                               // +10010: refused
          Case{true, 1256, 0, 10000}, Case{true, -744, 0, -10000}, Case{true, -745, 0, -10000}}) {
        (c.pan ? setVoicePan : setVoiceVolume)(bank, 400, c.value);
        EXPECT_EQ(bank.voices[400].volume, c.volume) << c.value;
        EXPECT_EQ(bank.voices[400].pan, c.panned) << c.value;
    }
}

TEST_F(Bank, SixteenBitOutputClampsAndRounds) {
    const float in[] = {0.0f, 1.0f, -1.0f, 2.5f, -7.0f, 0.5f, -0.5f, 1.0f / 32767 * 0.49f};
    std::int16_t out[8];
    floatToPcm16(in, out, 8);
    const std::int16_t expected[] = {0, 32767, -32767, 32767, -32767, 16384, -16384, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i], expected[i]) << i;
}

TEST_F(Bank, FrameTimerTicksOnExactFrames) {
    std::vector<std::uint64_t> frames;
    struct Ctx {
        VoiceBank* bank;
        std::vector<std::uint64_t>* frames;
    } ctx{&bank, &frames};
    auto record = [](void* p) {
        auto* c = static_cast<Ctx*>(p);
        c->frames->push_back(c->bank->frame);
    };
    mix(1000); // the timer counts from the frame it starts on
    startFrameTimer(bank, 125, record, &ctx);
    mix(20000);
    ASSERT_GE(frames.size(), 7u);
    for (std::size_t k = 1; k <= frames.size(); ++k)
        EXPECT_EQ(frames[k - 1], 1000 + k * 125 * 441 / 20) << k; // 2756.25 frames apart

    frames.clear();
    stopFrameTimer(bank);
    mix(10000);
    EXPECT_TRUE(frames.empty());
    for (std::uint32_t never : {0u, MAX_STEP_TIME_MS + 1}) {
        startFrameTimer(bank, never, record, &ctx);
        mix(30000);
        EXPECT_TRUE(frames.empty()) << never;
    }
    startFrameTimer(bank, MAX_STEP_TIME_MS, record, &ctx);
    EXPECT_TRUE(bank.timer.running);
}

TEST_F(Bank, TickRunsBeforeItsFrameIsMixed) {
    fill(400, {255, 192});
    struct Ctx {
        VoiceBank* bank;
    } ctx{&bank};
    startFrameTimer(
        bank, 20, [](void* p) { restartVoice(*static_cast<Ctx*>(p)->bank, 400); }, &ctx);
    const auto out = mix(445); // 20 ms = 441 frames
    EXPECT_EQ(out[2 * 440], 0.0f);
    EXPECT_NEAR(out[2 * 441], 127.0f / 128, EPS); // sample 0 on the tick's own frame
    EXPECT_NEAR(out[2 * 442], 0.5f, EPS);
    EXPECT_EQ(out[2 * 443], 0.0f);
}
