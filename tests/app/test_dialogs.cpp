// The load button with the real open-song dialog and message box, the user's part played by
// timers while they run modally, and their Japanese texts drawn as glyphs.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

#include "app/player_window.hpp"
#include "app_test_support.hpp"

namespace {

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
// The patterns the listing filters by (the filter box shows the filters' names alone).
QStringList listingFilters(QFileDialog* dialog) {
    auto* model = dialog->findChild<QFileSystemModel*>();
    return model ? model->nameFilters() : QStringList();
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

    QString previous;
};

// The whole load button with the real dialogs. Each dialog, owned by the window, opens afresh in
// the current folder, which a chosen file moves to its own: "*.rkv" in the name box and the first
// filter, whatever the last dialog was left with. A typed name is taken as it is: with the default
// suffix, past 260 bytes and with any characters the file system takes, or of a file that does
// not exist. A song loads stopped, rewound, its instruments rendered.
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
    writeSong("tune.rkv", rkvtest::songBytes(rkvtest::busySong(200)));
    std::vector<std::uint8_t> bytes = rkvtest::songBytes(rkvtest::busySong(260));
    bytes[1] = 'X';
    const QString bad = writeSong("bad.rkv", bytes);
    const QString elsewhere = folder.filePath("elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    rkv::QtSongDialogs real;
    rkv::PlayerWindow window(*player, real, QImage());
    real.setOwner(&window);
    window.show();

    // Presses load; once the dialog is up, checks how it opened, then plays the user's part.
    const auto load = [&window](const QString& in, std::function<void(QFileDialog*)> act) {
        whenModal<QFileDialog>([&window, in, act](QFileDialog* d) {
            EXPECT_EQ(d->parentWidget(), &window);
            EXPECT_EQ(
                QStringList({d->windowTitle(), d->directory().absolutePath(), nameBox(d)->text(),
                             filterBox(d)->currentText()}),
                QStringList({QStringLiteral("ファイルの読み込み"), QDir(in).absolutePath(),
                             QStringLiteral("*.rkv"), QStringLiteral("VantleMusicData[*.rkv]")}));
            act(d);
        });
        QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(170, 66));
    };

    load(folder.path(), [](QFileDialog* d) {
        // Our own widget dialog everywhere.
        EXPECT_TRUE(d->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(listingFilters(d), QStringList(QStringLiteral("*.rkv")));
        typeIntoNameBox(d, QStringLiteral("tune"));
    });
    EXPECT_EQ(player->song.header.stepTime, 200u) << "tune.rkv";

    player->state.playing.store(1);
    load(folder.path(), [&song](QFileDialog* d) {
        d->selectNameFilter(rkv::ALL_FILES_FILTER);
        EXPECT_EQ(filterBox(d)->currentText(), QStringLiteral("全ての形式 [*.*]"));
        EXPECT_EQ(listingFilters(d), QStringList(QStringLiteral("*")));
        typeIntoNameBox(d, song);
    });
    EXPECT_EQ(player->song.header.stepTime, 240u);
    EXPECT_EQ(player->state.playing.load(), 0);
    EXPECT_EQ(player->state.position.load(), -1);
    EXPECT_EQ(runningClock(), 240u);
    EXPECT_TRUE(player->bank.voices[400].exists);
    EXPECT_TRUE(player->bank.voices[471].exists);

    // Playing, somewhere in the song, when the user presses load: a bad magic, a file the loader
    // refuses (three bytes of magic and nothing else), anything but a regular file (a FIFO would
    // block the window), a missing file (returned too: the dialog would stay open otherwise) and
    // cancel keep the song, stopped; the first two show the message box.
    player->state.playing.store(1);
    player->state.position.store(6);
    const QString fifo = folder.filePath("song.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString bare = writeSong("bare.rkv", {'R', 'K', 'V'});
    QStringList boxes;
    struct Press {
        QString in, typed; // typed empty: cancel
        bool box;
    };
    for (const Press& p :
         {Press{dir, bad, true}, Press{folder.path(), bare, true},
          Press{folder.path(), fifo, false}, Press{folder.path(), "/dev/zero", false},
          Press{"/dev", elsewhere + "/new", false}, Press{elsewhere, "", false}}) {
        SCOPED_TRACE(p.typed.toStdString());
        if (p.box)
            whenModal<QMessageBox>([&](QMessageBox* b) {
                boxes += QStringList{b->windowTitle(), b->text()};
                EXPECT_EQ(b->parentWidget(), &window);
                EXPECT_EQ(b->icon(), QMessageBox::NoIcon);
                EXPECT_EQ(b->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
                b->button(QMessageBox::Ok)->click();
            });
        load(p.in, [&p](QFileDialog* d) {
            if (p.typed.isEmpty())
                d->reject();
            else
                typeIntoNameBox(d, p.typed);
        });
    }
    // The folder Qt itself remembers is not the one used.
    ASSERT_TRUE(QDir::setCurrent(dir));
    load(dir, [](QFileDialog* d) { d->reject(); });
    const QStringList box = {QStringLiteral("File error!"),
                             QStringLiteral("これは有効なRKVファイルではありません")};
    EXPECT_EQ(boxes, box + box);
    EXPECT_EQ(player->song.header.stepTime, 240u);
    EXPECT_EQ(player->state.playing.load(), 0);
    EXPECT_EQ(player->state.position.load(), 6); // stop does not move the position
    EXPECT_EQ(runningClock(), 240u);
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

// Every character of the dialog title and of the message draws in the widget's font as itself,
// not as the box of a missing glyph.
TEST(DialogTexts, JapaneseTextsHaveGlyphs) {
    const auto dialog = rkv::makeSongFileDialog(nullptr);
    const auto box = rkv::makeInvalidFileBox(nullptr);
    const std::pair<QFont, QString> texts[] = {{dialog->font(), dialog->windowTitle()},
                                               {box->font(), box->text()}};
    for (const auto& [font, text] : texts) {
        // A private-use character no font draws: Qt shows its missing-glyph box.
        const QImage missing = drawn(font, QString(QChar(0xE83A)));
        for (const QChar c : text)
            EXPECT_TRUE(c.unicode() < 0x80 || drawn(font, QString(c)) != missing)
                << "no glyph for U+" << std::hex << int(c.unicode()) << ": install fonts-vlgothic";
    }
}

} // namespace
