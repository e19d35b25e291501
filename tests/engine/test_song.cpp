// What a song file holds is checked end to end by the reference model's corpus (tests/model):
// every field, short files, odd step counts and loops. Here: what rendering cannot show.
#include <gtest/gtest.h>

#include "sequencer/clock.hpp"
#include "song/song_file.hpp"
#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

namespace {

// Records what the loader does with the clock.
struct ClockLog {
    int stops = 0, starts = 0;
    std::uint32_t lastStepTime = 0;
    SongClock clock() {
        return {[](void* p) { ++static_cast<ClockLog*>(p)->stops; },
                [](void* p, std::uint32_t t) {
                    ++static_cast<ClockLog*>(p)->starts;
                    static_cast<ClockLog*>(p)->lastStepTime = t;
                },
                this};
    }
};

} // namespace

TEST(SongParse, MagicIsThreeUpperCaseBytes) {
    const std::uint8_t good[] = {'R', 'K', 'V', 'x'}, lower[] = {'r', 'K', 'V'},
                       third[] = {'R', 'K', 'X'};
    EXPECT_FALSE(hasSongMagic(third));
    EXPECT_TRUE(hasSongMagic(std::span(good, 3)));
    EXPECT_FALSE(hasSongMagic(std::span(good, 2)));
    EXPECT_FALSE(hasSongMagic(lower));
}

TEST(SongLoad, ReplacesTheSongBetweenClockStopAndStartAndKeepsItOnFailure) {
    SongSpec s;
    s.stepTime = 120;
    s.stepCount = 2;
    s.tracks[0] = {1, 2};
    TempFile good(songBytes(s));
    s.stepCount = 0;
    s.stepTime = 999;
    TempFile refused(songBytes(s));
    Song song;
    ClockLog log;
    LoadOutcome out;
    EXPECT_EQ(loadSongFile(song, good.path(), log.clock(), &out), 1);
    EXPECT_EQ(out.status, LoadStatus::Loaded);
    EXPECT_EQ(song.tracks[0].at(0), 1u);
    EXPECT_EQ(log.stops, 1);
    EXPECT_EQ(log.starts, 1);
    EXPECT_EQ(log.lastStepTime, 120u);
    // A refused file (or a folder, which opens but cannot be read) changes nothing, not even the
    // clock; one that cannot be opened (on Windows a folder too) stops the clock and keeps the
    // song.
#ifdef _WIN32
    constexpr auto folderCase = std::tuple{"/", LoadStatus::CannotOpen, 1};
#else
    constexpr auto folderCase = std::tuple{"/", LoadStatus::Refused, 0};
#endif
    for (const auto& [path, status, stops] :
         {std::tuple{refused.path(), LoadStatus::Refused, 0}, folderCase,
          std::tuple{"/nonexistent/song.rkv", LoadStatus::CannotOpen, 1}}) {
        log = {};
        EXPECT_EQ(loadSongFile(song, path, log.clock(), &out), 0) << path;
        EXPECT_EQ(out.status, status) << path;
        EXPECT_EQ(log.stops, stops) << path;
        EXPECT_EQ(log.starts, 0) << path;
        EXPECT_EQ(song.header.stepTime, 120u);
        EXPECT_EQ(song.tracks[0].at(1), 2u);
    }
}
