// The paced silent output: it keeps the frame clock in real time when no device opens.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "audio/paced_output.hpp"
#include "audio/sdl_output.hpp"
#include "audio_test_support.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void countTick(void* context) {
    static_cast<std::atomic<int>*>(context)->fetch_add(1);
}

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Pacing is checked for being right, not for being fast: the bounds are wide enough for a busy
// machine, narrow enough to catch mixing as fast as possible or at a wrong rate. Stop joins the
// thread: nothing runs afterwards, a second stop is harmless, and it starts again from frame 0.
TEST(PacedSilentOutput, TicksAndFramesFollowRealTimeUntilStopped) {
    rkv::VoiceBank bank;
    std::atomic<int> ticks{0};
    rkv::startFrameTimer(bank, 20, &countTick, &ticks);
    rkv::PacedSilentOutput paced;
    for (int round = 0; round < 2; ++round) {
        const int ticksBefore = ticks.load();
        const Clock::time_point started = Clock::now();
        ASSERT_TRUE(paced.start(bank));
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(100ms);
            // Never ahead of real time by more than the block mixed in advance.
            const double aheadLimit =
                secondsSince(started) * rkv::SAMPLE_RATE + 2 * rkv::PacedSilentOutput::BLOCK_FRAMES;
            EXPECT_LE(static_cast<double>(paced.framesMixed()), aheadLimit);
        }
        const double elapsed = secondsSince(started);
        const int counted = ticks.load() - ticksBefore;
        const double frames = static_cast<double>(paced.framesMixed());
        paced.stop();
        const double expectedTicks = elapsed / 0.020;
        EXPECT_GT(counted, expectedTicks * 0.8) << "elapsed " << elapsed << " s";
        EXPECT_LT(counted, expectedTicks * 1.05 + 2) << "elapsed " << elapsed << " s";
        EXPECT_GT(frames, elapsed * rkv::SAMPLE_RATE * 0.8);

        const int after = ticks.load();
        const std::uint64_t mixed = paced.framesMixed();
        std::this_thread::sleep_for(40ms);
        EXPECT_EQ(ticks.load(), after);
        EXPECT_EQ(paced.framesMixed(), mixed);
        paced.stop();
    }
}

// The player's fallback: the device fails, voices cannot be created, and the paced output keeps
// the clock ticking all the same.
TEST(PacedSilentOutput, KeepsTheClockGoingWhenNoDeviceOpens) {
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    rkv::VoiceBank bank;
    rkv::SdlOutput sdl;
    rkv::PacedSilentOutput paced;
    ASSERT_EQ(rkv::initSoundDevice(bank, &sdl), 0);
    ASSERT_TRUE(paced.start(bank));
    EXPECT_EQ(rkv::createVoice(bank, 400, rkv::VOICE_FORMAT, 1000), 0);
    std::atomic<int> ticks{0};
    rkv::startFrameTimer(bank, 10, &countTick, &ticks);
    const Clock::time_point started = Clock::now();
    while (ticks.load() < 5 && secondsSince(started) < 10)
        std::this_thread::sleep_for(5ms);
    rkv::stopFrameTimer(bank);
    paced.stop();
    EXPECT_GE(ticks.load(), 5);
    EXPECT_FALSE(bank.voices[400].exists);
}

} // namespace
