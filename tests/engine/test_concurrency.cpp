// The audio thread mixes (and runs ticks) while the UI thread loads, plays, stops and rewinds.
// Run under ThreadSanitizer in CI.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sequencer/clock.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

TEST(Concurrency, LoadPlayStopRewindWhileTicksRun) {
    OfflinePlayer player;
    const auto drum = drumResource(300, 200);
    const ResourceEntry entries[] = {{"BASS1", "WAVE", drum.data(), drum.size()},
                                     {"HAT2", "WAVE", drum.data(), drum.size()}};
    player.resources = {entries, 2};
    loadDrumKit(player.bank, player.state, player.resources);

    SongSpec a;
    a.stepTime = 1;
    a.stepCount = 16;
    a.loopStart = 4;
    a.loopEnd = 12;
    for (auto& in : a.instruments) {
        in.noteLength = 500;
        in.wave[3] = 90;
        in.envelope[0] = 100;
    }
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 16; ++i)
            a.tracks[t].push_back(0x00FFFFFFu | (static_cast<std::uint32_t>(i % 9) << 24));
    SongSpec b = a;
    b.stepTime = 2;
    b.stepCount = 5;
    b.loopStart = 40; // clamped at the wrap
    TempFile fileA(songBytes(a));
    TempFile fileB(songBytes(b));

    std::atomic<bool> done{false};
    std::atomic<std::int32_t> worst{-1};
    std::thread audio([&] {
        std::vector<float> out(2 * 64);
        while (!done.load()) {
            mixFrames(player.bank, out.data(), 64);
            const std::int32_t p = player.state.position.load();
            if (p > worst.load()) worst.store(p);
        }
    });

    for (int round = 0; round < 60; ++round) {
        transportCommand(player, TRANSPORT_STOP);
        transportCommand(player, TRANSPORT_LOAD, round % 2 ? fileB.path() : fileA.path());
        transportCommand(player, TRANSPORT_PLAY);
        for (int i = 0; i < 20; ++i) {
            transportCommand(player, TRANSPORT_REWIND);
            std::this_thread::yield();
            if (i % 7 == 0) {
                transportCommand(player, TRANSPORT_STOP);
                transportCommand(player, TRANSPORT_PLAY);
            }
        }
    }
    stopClock(player);
    done.store(true);
    audio.join();
    EXPECT_LT(worst.load(), 16); // never past the longer song's last step
    EXPECT_GE(player.state.position.load(), -1);
    EXPECT_FALSE(player.bank.timer.running);
}
