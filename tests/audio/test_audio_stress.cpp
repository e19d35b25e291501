// Loads, plays, stops and rewinds on this thread while SDL's own thread mixes and ticks (the
// engine's concurrency test does the same with a plain mixing thread). Meant for
// ThreadSanitizer as much as for the checks it makes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/test_song.hpp"
#include "audio/sdl_output.hpp"
#include "audio_test_support.hpp"
#include "resources/builtin_resources.hpp"
#include "sequencer/clock.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"

namespace {

using namespace std::chrono_literals;

void hammer(rkv::Player& player, const std::string& song, const std::string& other) {
    for (int i = 0; i < 40; ++i) {
        rkv::transportCommand(player, rkv::TRANSPORT_STOP);
        rkv::LoadOutcome outcome;
        rkv::transportCommand(player, rkv::TRANSPORT_LOAD, (i % 2 ? song : other).c_str(),
                              &outcome);
        ASSERT_EQ(outcome.status, rkv::LoadStatus::Loaded) << outcome.reason;
        rkv::transportCommand(player, rkv::TRANSPORT_PLAY);
        std::this_thread::sleep_for(1ms);
        rkv::transportCommand(player, rkv::TRANSPORT_REWIND);
        std::this_thread::sleep_for(1ms);
    }
    rkv::transportCommand(player, rkv::TRANSPORT_STOP);
    rkv::stopClock(player);
    // With the clock stopped nothing moves the position any more.
    const std::int32_t position = player.state.position.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(player.state.position.load(), position);
}

class AudioConcurrency : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rkvtest::writeFile(song_, rkvtest::songBytes(rkvtest::busySong(1))));
        ASSERT_TRUE(rkvtest::writeFile(other_, rkvtest::songBytes(rkvtest::busySong(3))));
        player_ = std::make_unique<rkv::Player>();
        player_->resources = rkv::builtinResources();
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& p : {song_, other_, capture_})
            std::filesystem::remove(p, ignored);
    }
    std::string song_ = rkvtest::tempPath("stress_a.rkv");
    std::string other_ = rkvtest::tempPath("stress_b.rkv");
    std::string capture_ = rkvtest::tempPath("stress.raw");
    std::unique_ptr<rkv::Player> player_;
};

TEST_F(AudioConcurrency, TransportWhileSdlCallbackMixesFlatOut) {
    rkvtest::useDiskDriver(capture_);
    rkv::SdlOutput sdl;
    ASSERT_EQ(rkv::initSoundDevice(player_->bank, &sdl), 1) << sdl.error();
    rkv::loadDrumKit(player_->bank, player_->state, player_->resources);
    hammer(*player_, song_, other_);
    sdl.stop();
}

} // namespace
