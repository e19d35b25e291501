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
    s.instruments[1].octave = 3;
    s.instruments[1].noteLength = 4410;
    s.instruments[1].volume = 250;
    s.instruments[1].wave[5] = -7;
    s.instruments[1].envelope[63] = 99;
    s.drumVolume = 255;
    s.tracks[0] = {0x04000001, 2};
    s.tracks[3] = {7, 0xFF000000};
    return s;
}

// Records what the loader does with the clock.
struct ClockLog {
    int stops = 0;
    int starts = 0;
    std::uint32_t lastStepTime = 0;
    SongClock clock() {
        SongClock c;
        c.context = this;
        c.stop = [](void* p) { ++static_cast<ClockLog*>(p)->stops; };
        c.start = [](void* p, std::uint32_t t) {
            auto* log = static_cast<ClockLog*>(p);
            ++log->starts;
            log->lastStepTime = t;
        };
        return c;
    }
};

} // namespace

TEST(SongParse, ReadsEveryFieldAndTrack) {
    const ParseResult r = parseSong(songBytes(twoStepSong()));
    ASSERT_EQ(r.status, ParseStatus::Ok) << r.reason;
    const SongHeader& h = r.song.header;
    EXPECT_EQ(h.stepTime, 120u);
    EXPECT_EQ(h.loopStart, 1);
    EXPECT_EQ(h.loopEnd, 2);
    EXPECT_EQ(h.stepCount, 2);
    EXPECT_EQ(h.instruments[1].octave, 3);
    EXPECT_EQ(h.instruments[1].noteLength, 4410u);
    EXPECT_EQ(h.instruments[1].volume, 250);
    EXPECT_EQ(h.instruments[1].wave[5], -7);
    EXPECT_EQ(h.instruments[1].envelope[63], 99);
    EXPECT_EQ(h.drumVolume, 255);
    EXPECT_EQ(r.song.tracks[0].at(0), 0x04000001u);
    EXPECT_EQ(r.song.tracks[0].at(1), 2u);
    EXPECT_EQ(r.song.tracks[3].at(1), 0xFF000000u);
    EXPECT_EQ(r.song.tracks[1].at(0), 0u);
    EXPECT_TRUE(r.song.loaded);
}

TEST(SongParse, ShortFilesReadAsZeroAndKeepPartialWords) {
    auto bytes = songBytes(twoStepSong());
    // Cut inside track 2's second word: track 2 keeps one whole word and two bytes of the next.
    bytes.resize(SONG_HEADER_SIZE + 8 + 8 + 4 + 2);
    bytes[SONG_HEADER_SIZE + 16] = 0x11;
    bytes[SONG_HEADER_SIZE + 21] = 0x22;
    ParseResult r = parseSong(bytes);
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

TEST(SongParse, RefusesStepCountsBelowOne) {
    for (std::int32_t count : {0, -1, INT32_MIN}) {
        SongSpec s = twoStepSong();
        s.stepCount = count;
        const ParseResult r = parseSong(songBytes(s));
        EXPECT_EQ(r.status, ParseStatus::Refused) << count;
        EXPECT_NE(r.reason.find("step count"), std::string::npos);
    }
}

TEST(SongParse, HugeStepCountCostsOnlyTheBytesPresent) {
    auto bytes = songBytes(twoStepSong()); // eight words in all
    putU32(bytes, 20, INT32_MAX);
    const ParseResult r = parseSong(bytes);
    ASSERT_EQ(r.status, ParseStatus::Ok);
    EXPECT_EQ(r.song.tracks[0].words.size(), 8u); // all the file holds; the rest reads as zero
    EXPECT_TRUE(r.song.tracks[1].words.empty());
    EXPECT_EQ(r.song.tracks[0].at(INT32_MAX - 1), 0u);
    EXPECT_EQ(r.song.tracks[0].at(-1), 0u);
}

TEST(SongParse, MagicIsThreeUpperCaseBytes) {
    const std::uint8_t good[] = {'R', 'K', 'V', 'x'};
    const std::uint8_t lower[] = {'r', 'K', 'V'};
    EXPECT_TRUE(hasSongMagic(good));
    EXPECT_TRUE(hasSongMagic(std::span(good, 3)));
    EXPECT_FALSE(hasSongMagic(std::span(good, 2)));
    EXPECT_FALSE(hasSongMagic(lower));
}

TEST(SongLoad, ReplacesSongBetweenStoppingAndStartingTheClock) {
    TempFile file(songBytes(twoStepSong()));
    Song song;
    ClockLog log;
    LoadOutcome outcome;
    EXPECT_EQ(loadSongFile(song, file.path(), log.clock(), &outcome), 1);
    EXPECT_EQ(outcome.status, LoadStatus::Loaded);
    EXPECT_EQ(log.stops, 1);
    EXPECT_EQ(log.starts, 1);
    EXPECT_EQ(log.lastStepTime, 120u);
    EXPECT_EQ(song.tracks[0].at(0), 0x04000001u);
}

TEST(SongLoad, RefusedFileChangesNothing) {
    TempFile good(songBytes(twoStepSong()));
    SongSpec bad = twoStepSong();
    bad.stepCount = 0;
    bad.stepTime = 999;
    TempFile refused(songBytes(bad));
    Song song;
    ClockLog log;
    ASSERT_EQ(loadSongFile(song, good.path(), log.clock()), 1);
    LoadOutcome outcome;
    EXPECT_EQ(loadSongFile(song, refused.path(), log.clock(), &outcome), 0);
    EXPECT_EQ(outcome.status, LoadStatus::Refused);
    EXPECT_EQ(log.stops, 1); // the clock was not touched by the refused load
    EXPECT_EQ(log.starts, 1);
    EXPECT_EQ(song.header.stepTime, 120u);
    EXPECT_EQ(song.tracks[0].at(1), 2u);
}

TEST(SongLoad, MissingFileStopsTheClockAndKeepsTheSong) {
    TempFile good(songBytes(twoStepSong()));
    Song song;
    ClockLog log;
    ASSERT_EQ(loadSongFile(song, good.path(), log.clock()), 1);
    LoadOutcome outcome;
    EXPECT_EQ(loadSongFile(song, "/nonexistent/song.rkv", log.clock(), &outcome), 0);
    EXPECT_EQ(outcome.status, LoadStatus::CannotOpen);
    EXPECT_EQ(log.stops, 2);
    EXPECT_EQ(log.starts, 1);
    EXPECT_EQ(song.header.stepTime, 120u);

    EXPECT_EQ(loadSongFile(song, "/", log.clock(), &outcome), 0);
#ifdef _WIN32
    // Windows does not open a folder as a file: it is a file that cannot be opened.
    EXPECT_EQ(outcome.status, LoadStatus::CannotOpen);
    EXPECT_EQ(log.stops, 3);
#else
    // A folder opens but cannot be read: refused, nothing changes.
    EXPECT_EQ(outcome.status, LoadStatus::Refused);
    EXPECT_EQ(log.stops, 2);
#endif
    EXPECT_EQ(song.header.stepTime, 120u);
}
