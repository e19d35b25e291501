// The real open-song dialog and message box: their settings, and the flow with the user's part
// played by timers while the dialogs run modally.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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

// The whole load button with the real dialogs: a typed path is loaded; a bad magic shows the
// message box, modal, owned by the window, and OK dismisses it.
TEST_F(RealDialogs, LoadButtonWithTypedPaths) {
    const QString song = writeSong("typed.rkv", rkvtest::songBytes(rkvtest::busySong(240)));
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
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(dialogOwner, &window);
    EXPECT_EQ(player->song.header.stepTime, 240u);
    EXPECT_EQ(player->state.position.load(), -1);

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

} // namespace
