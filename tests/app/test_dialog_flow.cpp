// The load button's flow through dialogs the test answers: cancel, a file that cannot be opened,
// a bad magic, a file the loader refuses, and good files.
#include <sys/stat.h>

#include "app_test_support.hpp"

namespace {

class DialogFlow : public rkvtest::PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        rkvtest::SongPlan old = rkvtest::busySong(100);
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
        EXPECT_TRUE(clockRunning());
        EXPECT_EQ(clockPeriod(), 100u);
    }

    QString oldSong;
};

TEST_F(DialogFlow, CancelKeepsTheOldSongAndStaysStopped) {
    EXPECT_EQ(pressLoad(), 0);
    EXPECT_EQ(dialogs.asked, 1);
    EXPECT_EQ(dialogs.warned, 0);
    expectOldSongKept();
    // Play afterwards goes on with the old song.
    rkv::transportCommand(*player, rkv::TRANSPORT_PLAY);
    EXPECT_EQ(player->state.playing.load(), 1);
}

TEST_F(DialogFlow, NameBoxStartsWithThePatternEveryTime) {
    dialogs.answer = writeSong("a.rkv", rkvtest::songBytes(rkvtest::busySong()));
    EXPECT_EQ(pressLoad(), 1);
    EXPECT_EQ(dialogs.offered, QStringLiteral("*.rkv"));
    dialogs.answer.reset();
    EXPECT_EQ(pressLoad(), 0);
    EXPECT_EQ(dialogs.offered, QStringLiteral("*.rkv"));
}

TEST_F(DialogFlow, FileThatCannotBeOpenedShowsNothingAndLoadsNothing) {
    // Nor can anything but a regular file: a FIFO would block the window, a device never end.
    const QString fifo = folder.filePath("song.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {folder.filePath("missing.rkv"), fifo, QString("/dev/zero")}) {
        dialogs.answer = path;
        EXPECT_EQ(pressLoad(), 1) << path.toStdString();
        EXPECT_EQ(dialogs.warned, 0) << path.toStdString();
        expectOldSongKept();
    }

    QString path;
    EXPECT_EQ(rkv::openSongDialog(dialogs, nullptr, path), 2);
    EXPECT_EQ(path, *dialogs.answer);
}

TEST_F(DialogFlow, BadMagicShowsTheMessageAndLoadsNothing) {
    std::vector<std::uint8_t> bytes = rkvtest::songBytes(rkvtest::busySong(200));
    bytes[0] = 'r';
    dialogs.answer = writeSong("lower.rkv", bytes);
    EXPECT_EQ(pressLoad(), 0);
    EXPECT_EQ(dialogs.warned, 1);
    expectOldSongKept();
}

TEST_F(DialogFlow, ShortFilesFailTheMagicTest) {
    const std::vector<std::vector<std::uint8_t>> shortFiles = {
        {}, {'R'}, {'R', 'K'}, {'R', 'K', 'v'}, {'X', 'R', 'K', 'V'}};
    int n = 0;
    for (const auto& bytes : shortFiles) {
        const QString path = writeSong(QStringLiteral("short%1.rkv").arg(n++), bytes);
        const int warned = dialogs.warned;
        EXPECT_EQ(rkv::checkSongMagic(dialogs, path), 0) << bytes.size() << " bytes";
        EXPECT_EQ(dialogs.warned, warned + 1);
    }
    // A file that cannot be opened fails quietly.
    const int warned = dialogs.warned;
    EXPECT_EQ(rkv::checkSongMagic(dialogs, folder.filePath("nowhere.rkv")), 0);
    EXPECT_EQ(dialogs.warned, warned);
}

TEST_F(DialogFlow, MagicIsTheFirstThreeBytesOnly) {
    EXPECT_EQ(rkv::checkSongMagic(dialogs, writeSong("three.rkv", {'R', 'K', 'V'})), 1);
    for (std::uint8_t fourth : {0x00, 0x20, 0x58, 0xFF}) {
        const QString path =
            writeSong(QStringLiteral("four%1.rkv").arg(fourth), {'R', 'K', 'V', fourth, 1, 2});
        EXPECT_EQ(rkv::checkSongMagic(dialogs, path), 1);
    }
    EXPECT_EQ(dialogs.warned, 0);
}

// The loader refuses what passes the magic test but cannot be played (no steps here); the user
// gets the same message and everything stays as it was.
TEST_F(DialogFlow, RefusedFileShowsTheMessageAndChangesNothing) {
    rkvtest::SongPlan none = rkvtest::busySong(300);
    none.stepCount = 0;
    dialogs.answer = writeSong("empty.rkv", rkvtest::songBytes(none));
    EXPECT_EQ(pressLoad(), 0);
    EXPECT_EQ(dialogs.warned, 1);
    expectOldSongKept();

    // Three bytes of magic and nothing else: the same.
    dialogs.answer = writeSong("bare.rkv", {'R', 'K', 'V'});
    EXPECT_EQ(pressLoad(), 0);
    EXPECT_EQ(dialogs.warned, 2);
    expectOldSongKept();
}

TEST_F(DialogFlow, GoodFileIsLoadedStoppedAndRewound) {
    rkvtest::SongPlan next = rkvtest::busySong(140);
    next.stepCount = 9;
    dialogs.answer = writeSong("next.rkv", rkvtest::songBytes(next));
    EXPECT_EQ(pressLoad(), 1);
    EXPECT_EQ(dialogs.warned, 0);
    EXPECT_TRUE(player->song.loaded);
    EXPECT_EQ(player->song.header.stepTime, 140u);
    EXPECT_EQ(player->song.header.stepCount, 9);
    EXPECT_EQ(player->state.playing.load(), 0);
    EXPECT_EQ(player->state.position.load(), -1);
    EXPECT_TRUE(clockRunning());
    EXPECT_EQ(clockPeriod(), 140u);
    // The instruments were rendered into their voices.
    EXPECT_TRUE(player->bank.voices[400].exists);
    EXPECT_TRUE(player->bank.voices[471].exists);
}

TEST_F(DialogFlow, AnyNameThatBeginsWithTheMagicLoads) {
    dialogs.answer = writeSong("song.dat", rkvtest::songBytes(rkvtest::busySong(160)));
    EXPECT_EQ(pressLoad(), 1);
    EXPECT_EQ(player->song.header.stepTime, 160u);
}

// Paths are not limited to 260 bytes and may hold any characters the file system takes.
TEST_F(DialogFlow, LongAndNonAsciiPathsLoad) {
    QString dir = folder.path();
    for (int i = 0; i < 6; ++i) {
        dir += QStringLiteral("/フォルダ名がとても長い曲の置き場所%1").arg(i);
        ASSERT_TRUE(QDir().mkpath(dir));
    }
    const QString path = dir + QStringLiteral("/曲 (テスト).rkv");
    ASSERT_GT(QFile::encodeName(path).size(), 260);
    ASSERT_TRUE(rkvtest::writeFile(QFile::encodeName(path).toStdString(),
                                   rkvtest::songBytes(rkvtest::busySong(180))));
    dialogs.answer = path;
    EXPECT_EQ(pressLoad(), 1);
    EXPECT_EQ(dialogs.warned, 0);
    EXPECT_EQ(player->song.header.stepTime, 180u);
}

} // namespace
