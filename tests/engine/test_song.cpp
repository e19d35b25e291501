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

// Refused files and files that cannot be opened, through the transport: the sequencer's tests.
TEST(SongLoad, ReplacesTheSongBetweenClockStopAndStartAndAFolderChangesNothing) {
    SongSpec s;
    s.stepTime = 120;
    s.stepCount = 2;
    s.tracks[0] = {1, 2};
    TempFile good(songBytes(s));
    Song song;
    ClockLog log;
    LoadOutcome out;
    EXPECT_EQ(loadSongFile(song, good.path(), log.clock(), &out), 1);
    EXPECT_EQ(out.status, LoadStatus::Loaded);
    EXPECT_EQ(song.tracks[0].at(1), 2u);
    EXPECT_EQ(log.stops, 1);
    EXPECT_EQ(log.starts, 1);
    EXPECT_EQ(log.lastStepTime, 120u);
    // A folder opens but cannot be read: refused, the clock left alone. On Windows it cannot be
    // opened, which stops the clock as for any load.
#ifdef _WIN32
    constexpr auto folder = std::pair{LoadStatus::CannotOpen, 1};
#else
    constexpr auto folder = std::pair{LoadStatus::Refused, 0};
#endif
    log = {};
    EXPECT_EQ(loadSongFile(song, "/", log.clock(), &out), 0);
    EXPECT_EQ(out.status, folder.first);
    EXPECT_EQ(log.stops, folder.second);
    EXPECT_EQ(log.starts, 0);
    EXPECT_EQ(song.header.stepTime, 120u);
}
