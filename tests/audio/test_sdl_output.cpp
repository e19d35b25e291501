// The SDL device: what reaches the device is exactly what the mixer produced, paused start and
// resume, and a driver that cannot open leaves the bank without voices.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "audio/sdl_output.hpp"
#include "audio_test_support.hpp"

namespace {

using namespace std::chrono_literals;
using rkvtest::OfflineDevice;
using rkvtest::TickContext;

std::uint64_t framesMixed(const rkv::VoiceBank& bank) {
    const std::lock_guard<std::recursive_mutex> guard(bank.lock);
    return bank.frame;
}

bool waitForFrames(const rkv::VoiceBank& bank, std::uint64_t frames) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (framesMixed(bank) < frames) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::vector<std::int16_t> readPcm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> pcm(raw.size() / 2);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(raw[2 * i]) |
                                           (static_cast<std::uint8_t>(raw[2 * i + 1]) << 8));
    return pcm;
}

// The same bank set-up mixed by the test itself: what the device must have been sent.
std::vector<std::int16_t> referenceStream(std::size_t frames, std::uint32_t stepMs) {
    rkv::VoiceBank bank;
    OfflineDevice device;
    EXPECT_EQ(rkv::initSoundDevice(bank, &device), 1);
    TickContext context;
    EXPECT_TRUE(rkvtest::prepareRampVoice(bank, context, stepMs));
    std::vector<float> mixed(2 * frames);
    rkv::mixFrames(bank, mixed.data(), frames);
    std::vector<std::int16_t> pcm(2 * frames);
    rkv::floatToPcm16(mixed.data(), pcm.data(), pcm.size());
    return pcm;
}

class SdlOutputTest : public ::testing::Test {
  protected:
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(capture_, ignored);
    }
    std::string capture_ = rkvtest::tempPath("capture.raw");
};

TEST_F(SdlOutputTest, DiskDriverCapturesExactlyTheMixedStream) {
    rkvtest::useDiskDriver(capture_);
    rkv::VoiceBank bank;
    // Paused, so the voice and the timer are in place before the first frame is mixed.
    rkv::SdlOutput sdl(true);
    ASSERT_EQ(rkv::initSoundDevice(bank, &sdl), 1) << sdl.error();
    EXPECT_TRUE(sdl.error().empty());
    TickContext context;
    ASSERT_TRUE(rkvtest::prepareRampVoice(bank, context, 50));
    std::this_thread::sleep_for(100ms); // a paused device must not call back meanwhile
    EXPECT_EQ(framesMixed(bank), 0u);
    EXPECT_EQ(context.ticks, 0);
    sdl.resume();
    ASSERT_TRUE(waitForFrames(bank, 3 * rkv::SAMPLE_RATE));
    sdl.stop();
    const std::uint64_t mixed = framesMixed(bank);
    std::this_thread::sleep_for(50ms); // nor a stopped one
    EXPECT_EQ(framesMixed(bank), mixed);

    const std::vector<std::int16_t> captured = readPcm(capture_);
    ASSERT_EQ(captured.size() % 2, 0u);
    // The driver writes silence while paused; the stream proper begins with a sounding frame.
    std::size_t lead = 0;
    while (lead < captured.size() && captured[lead] == 0 && captured[lead + 1] == 0)
        lead += 2;
    const std::size_t frames = (captured.size() - lead) / 2;
    ASSERT_GE(frames, std::size_t{2} * rkv::SAMPLE_RATE);
    // Every callback's frames were written, except at most the last buffers in flight at close.
    EXPECT_LE(frames, mixed);
    EXPECT_GE(frames + 4 * rkv::SdlOutput::BUFFER_FRAMES, mixed);

    const std::vector<std::int16_t> expected = referenceStream(frames, 50);
    std::size_t firstDifference = frames;
    for (std::size_t i = 0; i < 2 * frames; ++i)
        if (captured[lead + i] != expected[i]) {
            firstDifference = i / 2;
            break;
        }
    EXPECT_EQ(firstDifference, frames) << "of " << frames << " frames";
    EXPECT_GE(context.ticks, 50); // 3 s at one tick per 50 ms
}

TEST_F(SdlOutputTest, StopsTwiceAndStartsAgain) {
    rkvtest::useDiskDriver(capture_);
    rkv::VoiceBank bank;
    rkv::SdlOutput sdl;
    for (int round = 0; round < 3; ++round) {
        const std::uint64_t before = framesMixed(bank);
        ASSERT_TRUE(sdl.start(bank)) << sdl.error();
        ASSERT_TRUE(waitForFrames(bank, before + 4096));
        sdl.stop();
        sdl.stop();
    }
}

// A driver that does not exist, and ALSA on a machine without a sound card.
TEST_F(SdlOutputTest, DriverThatCannotOpenLeavesTheBankWithoutVoices) {
    for (const char* driver : {"no-such-driver", "alsa"}) {
        if (driver == std::string("alsa") && std::filesystem::exists("/dev/snd")) continue;
        SCOPED_TRACE(driver);
        ::setenv("SDL_AUDIODRIVER", driver, 1);
        rkv::VoiceBank bank;
        rkv::SdlOutput sdl;
        EXPECT_EQ(rkv::initSoundDevice(bank, &sdl), 0);
        EXPECT_FALSE(sdl.error().empty());
        EXPECT_FALSE(bank.deviceOpen);
        EXPECT_EQ(rkv::createVoice(bank, 5, rkv::VOICE_FORMAT, 100), 0);
        EXPECT_FALSE(bank.voices[5].exists);
        EXPECT_EQ(framesMixed(bank), 0u);
        sdl.stop(); // harmless after a failed start
    }
}

} // namespace
