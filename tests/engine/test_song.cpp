#include <gtest/gtest.h>

#include "sequencer/clock.hpp"
#include "song/song_file.hpp"
#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

namespace {

SongSpec twoStepSong() {
    SongSpec s;
    s.stepTime = 120;
    s.loopStart = 1;
    s.loopEnd = 2;
    s.stepCount = 2;
    s.instruments[1] = {3, 4410, 250, {}, {}};
    s.instruments[1].wave[5] = -7;
    s.instruments[1].envelope[63] = 99;
    s.drumVolume = 255;
    s.tracks[0] = {0x04000001, 2};
    s.tracks[3] = {7, 0xFF000000};
    return s;
}

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

TEST(SongParse, ReadsEveryFieldAndTrackAndShortFilesReadAsZero) {
    auto bytes = songBytes(twoStepSong());
    ParseResult r = parseSong(bytes);
    ASSERT_EQ(r.status, ParseStatus::Ok) << r.reason;
    const SongHeader& h = r.song.header;
    const InstrumentRecord& in = h.instruments[1];
    EXPECT_EQ(
        (std::vector<std::int64_t>{h.stepTime, h.loopStart, h.loopEnd, h.stepCount, in.octave,
                                   in.noteLength, in.volume, in.wave[5], in.envelope[63],
                                   h.drumVolume, r.song.tracks[0].at(0), r.song.tracks[0].at(1),
                                   r.song.tracks[3].at(1), r.song.tracks[1].at(0), r.song.loaded}),
        (std::vector<std::int64_t>{120, 1, 2, 2, 3, 4410, 250, -7, 99, 255, 0x04000001, 2,
                                   0xFF000000, 0, 1}));

    // Cut inside track 2's second word: track 2 keeps one whole word and two bytes of the next.
    bytes.resize(SONG_HEADER_SIZE + 8 + 8 + 4 + 2);
    bytes[SONG_HEADER_SIZE + 16] = 0x11;
    bytes[SONG_HEADER_SIZE + 21] = 0x22;
    r = parseSong(bytes);
    ASSERT_EQ(r.status, ParseStatus::Ok);
    EXPECT_EQ(r.song.tracks[2].at(0), 0x11u);
    EXPECT_EQ(r.song.tracks[2].at(1), 0x2200u);
    EXPECT_EQ(r.song.tracks[3].at(0), 0u);

    // A header cut short: the missing bytes are zero, so this step count of 0 is refused.
    bytes.resize(20);
    r = parseSong(bytes);
    EXPECT_EQ(r.status, ParseStatus::Refused);
    EXPECT_EQ(r.song.header.stepTime, 120u);
    EXPECT_EQ(r.song.header.drumVolume, 0);
}

TEST(SongParse, RefusesStepCountsBelowOneAndHugeCountsCostOnlyTheBytesPresent) {
    for (std::int32_t count : {0, -1, INT32_MIN}) {
        SongSpec s = twoStepSong();
        s.stepCount = count;
        const ParseResult r = parseSong(songBytes(s));
        EXPECT_EQ(r.status, ParseStatus::Refused) << count;
        EXPECT_NE(r.reason.find("step count"), std::string::npos);
    }
    auto bytes = songBytes(twoStepSong()); // eight words in all
    putU32(bytes, 20, INT32_MAX);
    const ParseResult r = parseSong(bytes);
    ASSERT_EQ(r.status, ParseStatus::Ok);
    EXPECT_EQ(r.song.tracks[0].words.size(), 8u); // all the file holds; the rest reads as zero
    EXPECT_TRUE(r.song.tracks[1].words.empty());
    EXPECT_EQ(r.song.tracks[0].at(INT32_MAX - 1), 0u);
    EXPECT_EQ(r.song.tracks[0].at(-1), 0u);

    const std::uint8_t good[] = {'R', 'K', 'V', 'x'}, lower[] = {'r', 'K', 'V'},
                       third[] = {'R', 'K', 'X'};
    EXPECT_FALSE(hasSongMagic(third));
    EXPECT_TRUE(hasSongMagic(std::span(good, 3)));
    EXPECT_FALSE(hasSongMagic(std::span(good, 2)));
    EXPECT_FALSE(hasSongMagic(lower));
}

TEST(SongLoad, ReplacesTheSongBetweenClockStopAndStartAndKeepsItOnFailure) {
    TempFile good(songBytes(twoStepSong()));
    SongSpec bad = twoStepSong();
    bad.stepCount = 0;
    bad.stepTime = 999;
    TempFile refused(songBytes(bad));
    Song song;
    ClockLog log;
    LoadOutcome out;
    EXPECT_EQ(loadSongFile(song, good.path(), log.clock(), &out), 1);
    EXPECT_EQ(out.status, LoadStatus::Loaded);
    EXPECT_EQ(song.tracks[0].at(0), 0x04000001u);
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
        ASSERT_EQ(loadSongFile(song, good.path(), log.clock()), 1);
        log = {};
        EXPECT_EQ(loadSongFile(song, path, log.clock(), &out), 0) << path;
        EXPECT_EQ(out.status, status) << path;
        EXPECT_EQ(log.stops, stops) << path;
        EXPECT_EQ(log.starts, 0) << path;
        EXPECT_EQ(song.header.stepTime, 120u);
        EXPECT_EQ(song.tracks[0].at(1), 2u);
    }
}
