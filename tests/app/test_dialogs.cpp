// The load button's dialogs. The flow through dialogs the test answers: cancel, a file that
// cannot be opened, a bad magic, a file the loader refuses. Then the real open-song dialog and
// message box, with the user's part played by timers while they run modally (a good file and a
// bad one), and their Japanese texts drawn as glyphs.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRawFont>
#include <QTest>
#include <QTimer>
#include <optional>
#include <sys/stat.h>

#include "app/player_window.hpp"
#include "app_test_support.hpp"

namespace {

class DialogFlow : public rkvtest::PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        rkvtest::SongSpec old = rkvtest::busySong(100);
        old.stepCount = 12;
        loadDirectly(writeSong("old.rkv", rkvtest::songBytes(old)));
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
};

// Cancel, a file that cannot be opened, a bad magic, and a file the loader refuses (three bytes
// of magic and nothing else) keep the old song, stopped; the last two say so.
TEST_F(DialogFlow, FailedLoadsKeepTheOldSongStopped) {
    std::vector<std::uint8_t> lower = rkvtest::songBytes(rkvtest::busySong(200));
    lower[0] = 'r';
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
          Case{writeSong("bare.rkv", {'R', 'K', 'V'}), 0, 1}}) {
        dialogs.answer = c.answer;
        dialogs.warned = 0;
        SCOPED_TRACE(c.answer.value_or("cancel").toStdString());
        EXPECT_EQ(pressLoad(), c.result);
        EXPECT_EQ(dialogs.warned, c.warned);
        EXPECT_EQ(dialogs.offered, QStringLiteral("*.rkv")); // the name box starts afresh
        expectOldSongKept();
    }
    // Play afterwards goes on with the old song.
    rkv::transportCommand(*player, rkv::TRANSPORT_PLAY);
    EXPECT_EQ(player->state.playing.load(), 1);
}

// The magic is the first three bytes only; short files fail it, with the message, and a file
// that cannot be opened fails quietly.
TEST_F(DialogFlow, MagicTest) {
    const std::pair<std::string, int> files[] = {
        {"", 0},           {"R", 0},   {"RK", 0},           {"RKv", 0},
        {"XRKV", 0},       {"RKV", 1}, {{"RKV\0\1", 5}, 1}, {"RKVX", 1},
        {"RKV\xFF\x02", 1}};
    for (const auto& [bytes, result] : files) {
        const int warned = dialogs.warned;
        const QString path = writeSong("magic", {bytes.begin(), bytes.end()});
        EXPECT_EQ(rkv::checkSongMagic(dialogs, path), result) << bytes;
        EXPECT_EQ(dialogs.warned, warned + 1 - result) << bytes;
    }
    const int warned = dialogs.warned;
    EXPECT_EQ(rkv::checkSongMagic(dialogs, folder.filePath("nowhere.rkv")), 0);
    EXPECT_EQ(dialogs.warned, warned);
}

// Calls `act` on the first modal widget of type T, from inside that widget's exec(). If none
// shows up within a few seconds every open dialog is rejected, so a failing test ends instead of
// hanging (CTest's timeout is the last resort).
template <class T> void whenModal(std::function<void(T*)> act) {
    auto* timer = new QTimer(qApp);
    auto polls = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act, polls] {
        if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        } else if (++*polls > 500) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " appeared";
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
                    dialog->reject();
        }
    });
    timer->start(10);
}

QLineEdit* nameBox(QFileDialog* dialog) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}
QComboBox* filterBox(QFileDialog* dialog) {
    return dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
}

void typeIntoNameBox(QFileDialog* dialog, const QString& text) {
    ASSERT_NE(nameBox(dialog), nullptr);
    nameBox(dialog)->setText(text);
    QTest::keyClick(nameBox(dialog), Qt::Key_Return);
}

// Runs in a folder of its own, as the player runs in whatever folder it was started from.
class RealDialogs : public rkvtest::PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(folder.path()));
    }
    void TearDown() override { QDir::setCurrent(previous); }

    // Runs the real dialog once: notes the title, folder, name box and filter it opened with,
    // then plays the user's part with `act`.
    bool choose(QString& path, const std::function<void(QFileDialog*)>& act) {
        whenModal<QFileDialog>([this, act](QFileDialog* d) {
            shown = QStringList{d->windowTitle(), d->directory().absolutePath(), nameBox(d)->text(),
                                QString::number(filterBox(d)->currentIndex())};
            act(d);
        });
        return real.chooseSongFile(path);
    }
    QStringList opened(const QString& dir) const {
        return {QStringLiteral("ファイルの読み込み"), QDir(dir).absolutePath(),
                QStringLiteral("*.rkv"), QStringLiteral("0")};
    }

    QString previous;
    rkv::QtSongDialogs real;
    QStringList shown;
};

// Our own widget dialog everywhere, an open dialog (the rest of its settings show in what the
// tests below see it do). The filters show their names alone; the hidden patterns still filter.
TEST_F(RealDialogs, SongFileDialogSettings) {
    const auto dialog = rkv::makeSongFileDialog(nullptr);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    // A typed name of a missing file is returned (or the dialog below would not close).
    EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile);
    dialog->show();
    QComboBox* combo = filterBox(dialog.get());
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("VantleMusicData[*.rkv]"));
    EXPECT_EQ(combo->itemText(1), QStringLiteral("全ての形式 [*.*]"));
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->nameFilters(), QStringList(QStringLiteral("*.rkv")));
    dialog->selectNameFilter(rkv::ALL_FILES_FILTER);
    EXPECT_EQ(model->nameFilters(), QStringList(QStringLiteral("*")));
    dialog->hide();
}

// Every dialog opens afresh in the current folder, which a chosen song moves to its own: "*.rkv"
// in the name box and the first filter, whatever the last dialog was left with. A typed name of
// a file that does not exist yet is returned, with the default suffix.
TEST_F(RealDialogs, EachDialogStartsAfreshInTheFolderOfTheLastSong) {
    const QString songs = folder.filePath("songs");
    const QString elsewhere = folder.filePath("elsewhere");
    ASSERT_TRUE(QDir().mkpath(songs) && QDir().mkpath(elsewhere));
    QString path;
    ASSERT_TRUE(choose(path, [](QFileDialog* d) { typeIntoNameBox(d, QStringLiteral("tune")); }));
    EXPECT_EQ(shown, opened(folder.path()));
    EXPECT_EQ(path, QDir(folder.path()).absoluteFilePath(QStringLiteral("tune.rkv")));
    ASSERT_TRUE(choose(path, [&songs](QFileDialog* d) {
        d->selectNameFilter(rkv::ALL_FILES_FILTER);
        typeIntoNameBox(d, songs + "/a.rkv");
    }));
    EXPECT_EQ(path, songs + "/a.rkv");
    // Cancel returns nothing.
    EXPECT_FALSE(choose(path, [](QFileDialog* d) { d->reject(); }));
    EXPECT_EQ(shown, opened(songs));
    // The folder Qt itself remembers is not the one used.
    ASSERT_TRUE(QDir::setCurrent(elsewhere));
    EXPECT_FALSE(choose(path, [](QFileDialog* d) { d->reject(); }));
    EXPECT_EQ(shown, opened(elsewhere));
}

// The whole load button with the real dialogs. A typed path is loaded whatever its name, past
// 260 bytes and with any characters the file system takes: stopped, rewound, its instruments
// rendered. A bad magic shows the message box, modal, owned by the window; OK dismisses it.
TEST_F(RealDialogs, LoadButtonWithTypedPaths) {
    QString dir = folder.path();
    for (int i = 0; i < 6; ++i) {
        dir += QStringLiteral("/フォルダ名がとても長い曲の置き場所%1").arg(i);
        ASSERT_TRUE(QDir().mkpath(dir));
    }
    const QString song = dir + QStringLiteral("/曲 (テスト).dat");
    ASSERT_GT(QFile::encodeName(song).size(), 260);
    ASSERT_TRUE(rkvtest::writeFile(QFile::encodeName(song).toStdString(),
                                   rkvtest::songBytes(rkvtest::busySong(240))));
    std::vector<std::uint8_t> bytes = rkvtest::songBytes(rkvtest::busySong(260));
    bytes[1] = 'X';
    const QString bad = writeSong("bad.rkv", bytes);
    rkv::PlayerWindow window(*player, real, QImage());
    real.setOwner(&window);
    window.show();
    QWidget* dialogOwner = nullptr;
    whenModal<QFileDialog>([&](QFileDialog* d) {
        dialogOwner = d->parentWidget();
        typeIntoNameBox(d, song);
    });
    player->state.playing.store(1);
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(dialogOwner, &window);
    EXPECT_TRUE(player->song.loaded);
    EXPECT_EQ(player->song.header.stepTime, 240u);
    EXPECT_EQ(player->state.playing.load(), 0);
    EXPECT_EQ(player->state.position.load(), -1);
    EXPECT_EQ(runningClock(), 240u);
    EXPECT_TRUE(player->bank.voices[400].exists);
    EXPECT_TRUE(player->bank.voices[471].exists);

    QStringList box;
    whenModal<QFileDialog>([&bad](QFileDialog* d) { typeIntoNameBox(d, bad); });
    whenModal<QMessageBox>([&](QMessageBox* b) {
        box = QStringList{b->windowTitle(), b->text()};
        EXPECT_EQ(b->parentWidget(), &window);
        EXPECT_TRUE(b->isModal());
        EXPECT_EQ(b->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(b->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        EXPECT_EQ(b->buttons().size(), 1);
        b->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(box, QStringList({QStringLiteral("File error!"),
                                QStringLiteral("これは有効なRKVファイルではありません")}));
    EXPECT_EQ(player->song.header.stepTime, 240u) << "the loaded song stays";
}

QImage drawn(const QFont& font, const QString& text) {
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 0, 64, 64), Qt::AlignCenter, text);
    return image;
}

// Every character of the dialog title and of the message is in the font Qt picks for Japanese
// text in the widget's font, and each draws as itself, not as the box of a missing glyph.
TEST(DialogTexts, JapaneseTextsHaveGlyphs) {
    const auto dialog = rkv::makeSongFileDialog(nullptr);
    const auto box = rkv::makeInvalidFileBox(nullptr);
    const std::pair<QFont, QString> texts[] = {{dialog->font(), dialog->windowTitle()},
                                               {box->font(), box->text()}};
    for (const auto& [font, text] : texts) {
        const QRawFont raw = QRawFont::fromFont(font, QFontDatabase::Japanese);
        ASSERT_TRUE(raw.isValid()) << "no font for Japanese text: install fonts-vlgothic";
        // A private-use character no font draws: Qt shows its missing-glyph box.
        const QImage missing = drawn(font, QString(QChar(0xE83A)));
        for (const QChar c : text) {
            if (c.unicode() < 0x80) continue;
            EXPECT_TRUE(raw.supportsCharacter(c))
                << raw.familyName().toStdString() << " lacks U+" << std::hex << int(c.unicode());
            EXPECT_NE(drawn(font, QString(c)), missing) << "U+" << std::hex << int(c.unicode());
        }
    }
}

} // namespace
