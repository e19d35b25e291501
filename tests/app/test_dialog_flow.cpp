// The load button's flow through dialogs the test answers: cancel, a file that cannot be opened,
// a bad magic, a file the loader refuses, and good files.
#include <sys/stat.h>

#include <optional>

#include "app_test_support.hpp"

namespace {

class DialogFlow : public rkvtest::PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        rkvtest::SongSpec old = rkvtest::busySong(100);
        old.stepCount = 12;
        oldSong = writeSong("old.rkv", rkvtest::songBytes(old));
        loadDirectly(oldSong);
        // Playing, somewhere in the song, when the user presses load.
        player->state.playing.store(1);
        player->state.position.store(6);
    }

    // What the load button does after its stop: the stop first, then the flow.
    int pressLoad() {
        rkv::transportCommand(*player, rkv::TRANSPORT_STOP);
        return rkv::loadSongInteractive(*player, dialogs, nullptr);
    }

    void expectOldSongKept() {
        EXPECT_TRUE(player->song.loaded);
        EXPECT_EQ(player->song.header.stepTime, 100u);
        EXPECT_EQ(player->song.header.stepCount, 12);
        EXPECT_EQ(player->state.playing.load(), 0);
        EXPECT_EQ(player->state.position.load(), 6); // stop does not move the position
        EXPECT_EQ(runningClock(), 100u);
    }

    QString oldSong;
};

// Cancel, a file that cannot be opened, a bad magic, and a file the loader refuses (no steps;
// or three bytes of magic and nothing else) keep the old song, stopped; the last two say so.
TEST_F(DialogFlow, FailedLoadsKeepTheOldSongStopped) {
    std::vector<std::uint8_t> lower = rkvtest::songBytes(rkvtest::busySong(200));
    lower[0] = 'r';
    rkvtest::SongSpec none = rkvtest::busySong(300);
    none.stepCount = 0;
    // Nor can anything but a regular file be opened: a FIFO would block the window.
    const QString fifo = folder.filePath("song.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    struct Case {
        std::optional<QString> answer;
        int result, warned;
    };
    for (const Case& c :
         {Case{std::nullopt, 0, 0}, Case{folder.filePath("missing.rkv"), 1, 0}, Case{fifo, 1, 0},
          Case{QString("/dev/zero"), 1, 0}, Case{writeSong("lower.rkv", lower), 0, 1},
          Case{writeSong("empty.rkv", rkvtest::songBytes(none)), 0, 1},
          Case{writeSong("bare.rkv", {'R', 'K', 'V'}), 0, 1}}) {
        dialogs.answer = c.answer;
        dialogs.warned = 0;
        SCOPED_TRACE(c.answer.value_or("cancel").toStdString());
        EXPECT_EQ(pressLoad(), c.result);
        EXPECT_EQ(dialogs.warned, c.warned);
        EXPECT_EQ(dialogs.offered, QStringLiteral("*.rkv")); // the name box starts afresh
        expectOldSongKept();
    }
    dialogs.answer = folder.filePath("missing.rkv");
    QString path;
    EXPECT_EQ(rkv::openSongDialog(dialogs, nullptr, path), 2);
    EXPECT_EQ(path, folder.filePath("missing.rkv"));
    // Play afterwards goes on with the old song.
    rkv::transportCommand(*player, rkv::TRANSPORT_PLAY);
    EXPECT_EQ(player->state.playing.load(), 1);
}

// The magic is the first three bytes only; short files fail it, with the message, and a file
// that cannot be opened fails quietly.
TEST_F(DialogFlow, MagicTest) {
    const std::vector<std::pair<std::vector<std::uint8_t>, int>> files = {
        {{}, 0},
        {{'R'}, 0},
        {{'R', 'K'}, 0},
        {{'R', 'K', 'v'}, 0},
        {{'X', 'R', 'K', 'V'}, 0},
        {{'R', 'K', 'V'}, 1},
        {{'R', 'K', 'V', 0, 1}, 1},
        {{'R', 'K', 'V', 0x58}, 1},
        {{'R', 'K', 'V', 0xFF, 2}, 1}};
    int n = 0;
    for (const auto& [bytes, result] : files) {
        const int warned = dialogs.warned;
        EXPECT_EQ(rkv::checkSongMagic(dialogs, writeSong(QString::number(n++), bytes)), result);
        EXPECT_EQ(dialogs.warned, warned + 1 - result) << n;
    }
    const int warned = dialogs.warned;
    EXPECT_EQ(rkv::checkSongMagic(dialogs, folder.filePath("nowhere.rkv")), 0);
    EXPECT_EQ(dialogs.warned, warned);
}

// Any name that begins with the magic loads, also past 260 bytes and with any characters the
// file system takes; the song is loaded stopped and rewound, its instruments rendered.
TEST_F(DialogFlow, GoodFilesAreLoadedStoppedAndRewound) {
    QString dir = folder.path();
    for (int i = 0; i < 6; ++i) {
        dir += QStringLiteral("/フォルダ名がとても長い曲の置き場所%1").arg(i);
        ASSERT_TRUE(QDir().mkpath(dir));
    }
    const QString longPath = dir + QStringLiteral("/曲 (テスト).rkv");
    ASSERT_GT(QFile::encodeName(longPath).size(), 260);
    std::uint32_t stepTime = 140;
    for (const QString& path :
         {folder.filePath("next.rkv"), folder.filePath("song.dat"), longPath}) {
        SCOPED_TRACE(path.toStdString());
        rkvtest::SongSpec next = rkvtest::busySong(++stepTime);
        next.stepCount = 9;
        ASSERT_TRUE(
            rkvtest::writeFile(QFile::encodeName(path).toStdString(), rkvtest::songBytes(next)));
        player->state.playing.store(1);
        dialogs.answer = path;
        EXPECT_EQ(pressLoad(), 1);
        EXPECT_EQ(dialogs.warned, 0);
        EXPECT_TRUE(player->song.loaded);
        EXPECT_EQ(player->song.header.stepTime, stepTime);
        EXPECT_EQ(player->song.header.stepCount, 9);
        EXPECT_EQ(player->state.playing.load(), 0);
        EXPECT_EQ(player->state.position.load(), -1);
        EXPECT_EQ(runningClock(), stepTime);
        EXPECT_TRUE(player->bank.voices[400].exists);
        EXPECT_TRUE(player->bank.voices[471].exists);
    }
}

} // namespace
