// The sound outputs. SDL's disk driver receives exactly what the mixer produced, from a paused
// start on; a driver that cannot open leaves the bank without voices, and the paced silent
// output then keeps the frame clock in real time. Last, the transport used while SDL's own
// thread mixes flat out (meant for ThreadSanitizer as much as for its checks).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/test_song.hpp"
#include "audio/paced_output.hpp"
#include "audio/sdl_output.hpp"
#include "resources/builtin_resources.hpp"
#include "sequencer/clock.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "tests/common/offline_device.hpp"
#include "tests/common/song_writer.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Polls `done` until it holds or 20 s have passed.
bool waitFor(const std::function<bool()>& done) {
    const Clock::time_point started = Clock::now();
    while (!done()) {
        if (secondsSince(started) > 20) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::uint64_t framesMixed(const rkv::VoiceBank& bank) {
    const std::lock_guard<std::recursive_mutex> guard(bank.lock);
    return bank.frame;
}

void countTick(void* context) {
    static_cast<std::atomic<int>*>(context)->fetch_add(1);
}

// A voice in slot 0 whose bytes ramp so every frame differs from its neighbours, and a timer
// that restarts it and moves its pan: the mixed stream depends on frame-exact ticks.
struct RampVoice {
    rkv::VoiceBank* bank = nullptr;
    std::int32_t ticks = 0;

    static void tick(void* context) {
        auto* self = static_cast<RampVoice*>(context);
        ++self->ticks;
        rkv::setVoicePanHundredths(*self->bank, 0, (self->ticks % 5 - 2) * 300);
        rkv::restartVoice(*self->bank, 0);
    }
    bool prepare(rkv::VoiceBank& into) {
        std::vector<std::uint8_t> bytes(1500);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(20 + (i * 37) % 216); // never 128 at i == 0
        const auto n = static_cast<std::uint32_t>(bytes.size());
        if (!rkv::createVoice(into, 0, rkv::VOICE_FORMAT, n)) return false;
        if (!rkv::writeVoice(into, 0, bytes.data(), n)) return false;
        rkv::setVoiceVolumeHundredths(into, 0, -300);
        bank = &into;
        rkv::restartVoice(into, 0);
        rkv::startFrameTimer(into, 50, &RampVoice::tick, this);
        return true;
    }
};

// The same set-up mixed by the test itself: what the device must have been sent.
std::vector<std::int16_t> referenceStream(std::size_t frames) {
    rkv::VoiceBank bank;
    rkv::test::OfflineDevice device;
    EXPECT_EQ(rkv::initSoundDevice(bank, &device), 1);
    RampVoice voice;
    EXPECT_TRUE(voice.prepare(bank));
    std::vector<float> mixed(2 * frames);
    rkv::mixFrames(bank, mixed.data(), frames);
    std::vector<std::int16_t> pcm(2 * frames);
    rkv::floatToPcm16(mixed.data(), pcm.data(), pcm.size());
    return pcm;
}

// Points SDL at its disk driver, writing to `capture` as fast as it can.
void useDiskDriver(const rkv::test::TempFile& capture) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", capture.path(), 1);
    ::setenv("SDL_DISKAUDIODELAY", "0", 1);
}

TEST(Audio, DiskDriverCapturesExactlyTheMixedStream) {
    const rkv::test::TempFile capture({});
    useDiskDriver(capture);
    rkv::VoiceBank bank;
    // Paused, so the voice and the timer are in place before the first frame is mixed.
    rkv::SdlOutput sdl(true);
    ASSERT_EQ(rkv::initSoundDevice(bank, &sdl), 1) << sdl.error();
    EXPECT_TRUE(sdl.error().empty());
    RampVoice voice;
    ASSERT_TRUE(voice.prepare(bank));
    std::this_thread::sleep_for(100ms); // a paused device must not call back meanwhile
    EXPECT_EQ(framesMixed(bank), 0u);
    EXPECT_EQ(voice.ticks, 0);
    sdl.resume();
    ASSERT_TRUE(waitFor([&] { return framesMixed(bank) >= 3 * rkv::SAMPLE_RATE; }));
    sdl.stop();
    const std::uint64_t mixed = framesMixed(bank);
    std::this_thread::sleep_for(50ms); // nor a stopped one
    EXPECT_EQ(framesMixed(bank), mixed);

    const std::vector<std::uint8_t> bytes = rkv::test::readFile(capture.path());
    ASSERT_EQ(bytes.size() % 4, 0u);
    std::vector<std::int16_t> captured(bytes.size() / 2);
    std::memcpy(captured.data(), bytes.data(), bytes.size()); // little-endian, as SDL wrote it
    // The driver writes silence while paused; the stream proper begins with a sounding frame.
    std::size_t lead = 0;
    while (lead < captured.size() && captured[lead] == 0 && captured[lead + 1] == 0)
        lead += 2;
    const std::size_t frames = (captured.size() - lead) / 2;
    ASSERT_GE(frames, std::size_t{2} * rkv::SAMPLE_RATE);
    // Every callback's frames were written, except at most the last buffers in flight at close.
    EXPECT_LE(frames, mixed);
    EXPECT_GE(frames + 4 * rkv::SdlOutput::BUFFER_FRAMES, mixed);

    const std::vector<std::int16_t> expected = referenceStream(frames);
    const auto difference =
        std::mismatch(expected.begin(), expected.end(), captured.begin() + lead);
    EXPECT_EQ(static_cast<std::size_t>(difference.first - expected.begin()) / 2, frames)
        << "of " << frames << " frames";
    EXPECT_GE(voice.ticks, 50); // 3 s at one tick per 50 ms
}

// A driver that does not exist, and ALSA on a machine without a sound card: no voices can be
// created, and the paced output (the player's fallback) keeps the clock ticking all the same.
TEST(NoDevice, NoVoicesButThePacedOutputKeepsTheClockGoing) {
    for (const char* driver : {"no-such-driver", "alsa"}) {
        if (driver == std::string("alsa") && std::filesystem::exists("/dev/snd")) continue;
        SCOPED_TRACE(driver);
        ::setenv("SDL_AUDIODRIVER", driver, 1);
        rkv::VoiceBank bank;
        rkv::SdlOutput sdl;
        EXPECT_EQ(rkv::initSoundDevice(bank, &sdl), 0);
        EXPECT_FALSE(sdl.error().empty());
        EXPECT_FALSE(bank.deviceOpen);
        EXPECT_EQ(framesMixed(bank), 0u);
        sdl.stop(); // harmless after a failed start
        rkv::PacedSilentOutput paced;
        ASSERT_TRUE(paced.start(bank));
        EXPECT_EQ(rkv::createVoice(bank, 400, rkv::VOICE_FORMAT, 1000), 0);
        EXPECT_FALSE(bank.voices[400].exists);
        std::atomic<int> ticks{0};
        rkv::startFrameTimer(bank, 10, &countTick, &ticks);
        EXPECT_TRUE(waitFor([&] { return ticks.load() >= 5; }));
        rkv::stopFrameTimer(bank);
        paced.stop();
    }
}

// Pacing is checked for being right, not for being fast: the bounds are wide enough for a busy
// machine, narrow enough to catch mixing as fast as possible or at a wrong rate. Stop joins the
// thread: nothing is mixed afterwards, a second stop is harmless, and it starts again from frame
// 0.
TEST(PacedSilentOutput, MixesInRealTimeUntilStopped) {
    rkv::VoiceBank bank;
    rkv::PacedSilentOutput paced;
    for (int round = 0; round < 2; ++round) {
        const std::uint64_t bankBefore = framesMixed(bank);
        const Clock::time_point started = Clock::now();
        ASSERT_TRUE(paced.start(bank));
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(100ms);
            // Never ahead of real time by more than the block mixed in advance.
            EXPECT_LE(static_cast<double>(paced.framesMixed()),
                      secondsSince(started) * rkv::SAMPLE_RATE +
                          2 * rkv::PacedSilentOutput::BLOCK_FRAMES);
        }
        const double elapsed = secondsSince(started);
        paced.stop();
        const std::uint64_t frames = paced.framesMixed();
        EXPECT_GT(static_cast<double>(frames), elapsed * rkv::SAMPLE_RATE * 0.8) << elapsed << " s";
        EXPECT_LT(static_cast<double>(frames),
                  elapsed * rkv::SAMPLE_RATE * 1.05 + 2 * rkv::PacedSilentOutput::BLOCK_FRAMES);
        // Each frame it counts went through the bank's mixer.
        EXPECT_EQ(framesMixed(bank) - bankBefore, frames);
        std::this_thread::sleep_for(40ms);
        EXPECT_EQ(paced.framesMixed(), frames);
        EXPECT_EQ(framesMixed(bank) - bankBefore, frames);
        paced.stop();
    }
}

// Loads, plays, stops and rewinds on this thread while SDL's own thread mixes and ticks (the
// engine's concurrency test does the same with a plain mixing thread); then the device is
// stopped twice and started again, twice. The ThreadSanitizer build runs the tests named
// "Concurrency".
TEST(AudioConcurrency, TransportWhileSdlCallbackMixesFlatOut) {
    const rkv::test::TempFile songs[] = {
        rkv::test::TempFile(rkvtest::songBytes(rkvtest::busySong(1))),
        rkv::test::TempFile(rkvtest::songBytes(rkvtest::busySong(3)))};
    const rkv::test::TempFile capture({});
    useDiskDriver(capture);
    auto player = std::make_unique<rkv::Player>();
    player->resources = rkv::builtinResources();
    rkv::SdlOutput sdl;
    ASSERT_EQ(rkv::initSoundDevice(player->bank, &sdl), 1) << sdl.error();
    rkv::loadDrumKit(player->bank, player->state, player->resources);
    for (int i = 0; i < 40; ++i) {
        rkv::transportCommand(*player, rkv::TRANSPORT_STOP);
        rkv::LoadOutcome outcome;
        rkv::transportCommand(*player, rkv::TRANSPORT_LOAD, songs[i % 2].path(), &outcome);
        ASSERT_EQ(outcome.status, rkv::LoadStatus::Loaded) << outcome.reason;
        rkv::transportCommand(*player, rkv::TRANSPORT_PLAY);
        std::this_thread::sleep_for(1ms);
        rkv::transportCommand(*player, rkv::TRANSPORT_REWIND);
        std::this_thread::sleep_for(1ms);
    }
    rkv::transportCommand(*player, rkv::TRANSPORT_STOP);
    rkv::stopClock(*player);
    // With the clock stopped nothing moves the position any more.
    const std::int32_t position = player->state.position.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(player->state.position.load(), position);
    for (int round = 0; round < 2; ++round) {
        sdl.stop();
        sdl.stop();
        const std::uint64_t before = framesMixed(player->bank);
        ASSERT_TRUE(sdl.start(player->bank)) << sdl.error();
        ASSERT_TRUE(waitFor([&] { return framesMixed(player->bank) >= before + 4096; }));
    }
    sdl.stop();
}

} // namespace
