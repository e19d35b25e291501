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
#include <functional>

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

void typeIntoNameBox(QFileDialog* dialog, const QString& text) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
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

QStringList comboItems(QFileDialog& dialog) {
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QStringList items;
    if (!combo) return items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

TEST_F(RealDialogs, SongFileDialogSettings) {
    const auto dialog = rkv::makeSongFileDialog(nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("ファイルの読み込み"));
    EXPECT_EQ(dialog->nameFilters(), QStringList({QStringLiteral("VantleMusicData[*.rkv] (*.rkv)"),
                                                  QStringLiteral("全ての形式 [*.*] (*)")}));
    // With the details hidden Qt reports the filter by its shown name.
    EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("VantleMusicData[*.rkv]"));
    EXPECT_TRUE(dialog->testOption(QFileDialog::HideNameFilterDetails));
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("rkv"));
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile);
    EXPECT_EQ(dialog->directory().absolutePath(), QDir(folder.path()).absolutePath());

    // What the user sees: the names alone, the first one chosen, the pattern in the name box.
    dialog->show();
    EXPECT_EQ(comboItems(*dialog), QStringList({QStringLiteral("VantleMusicData[*.rkv]"),
                                                QStringLiteral("全ての形式 [*.*]")}));
    auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->currentIndex(), 0);
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("*.rkv"));
    // The hidden pattern still filters the listing.
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->nameFilters(), QStringList(QStringLiteral("*.rkv")));
    dialog->selectNameFilter(rkv::ALL_FILES_FILTER);
    EXPECT_EQ(model->nameFilters(), QStringList(QStringLiteral("*")));
    dialog->hide();
}

TEST_F(RealDialogs, EveryDialogStartsAfreshInTheCurrentFolder) {
    {
        const auto first = rkv::makeSongFileDialog(nullptr);
        first->show();
        first->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("chosen.rkv");
        first->selectNameFilter(rkv::ALL_FILES_FILTER);
    }
    ASSERT_TRUE(QDir().mkpath(folder.filePath("elsewhere")));
    ASSERT_TRUE(QDir::setCurrent(folder.filePath("elsewhere")));
    const auto second = rkv::makeSongFileDialog(nullptr);
    second->show();
    EXPECT_EQ(second->directory().absolutePath(),
              QDir(folder.filePath("elsewhere")).absolutePath());
    EXPECT_EQ(second->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
              QStringLiteral("*.rkv"));
    EXPECT_EQ(second->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->currentIndex(), 0);
}

TEST_F(RealDialogs, TypedNameGetsTheDefaultSuffixAndCancelReturnsNothing) {
    rkv::QtSongDialogs real;
    QString seenTitle;
    whenModal<QFileDialog>([&seenTitle](QFileDialog* d) {
        seenTitle = d->windowTitle();
        typeIntoNameBox(d, QStringLiteral("tune"));
    });
    QString path;
    ASSERT_TRUE(real.chooseSongFile(path));
    EXPECT_EQ(seenTitle, rkv::DIALOG_TITLE);
    EXPECT_EQ(path, QDir(folder.path()).absoluteFilePath(QStringLiteral("tune.rkv")));
    whenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
    EXPECT_FALSE(real.chooseSongFile(path));
}

TEST_F(RealDialogs, NextDialogOpensInTheFolderOfTheLastSong) {
    ASSERT_TRUE(QDir(folder.path()).mkpath("songs"));
    const QString songs = QDir(folder.path()).absoluteFilePath("songs");
    rkv::QtSongDialogs real;
    whenModal<QFileDialog>([&](QFileDialog* d) { typeIntoNameBox(d, songs + "/a.rkv"); });
    QString path = rkv::INITIAL_FILE_NAME;
    EXPECT_TRUE(real.chooseSongFile(path));
    EXPECT_EQ(path, songs + "/a.rkv");
    QString opened, name;
    whenModal<QFileDialog>([&](QFileDialog* d) {
        opened = d->directory().absolutePath();
        name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        d->reject();
    });
    EXPECT_FALSE(real.chooseSongFile(path));
    EXPECT_EQ(opened, songs);
    EXPECT_EQ(name, rkv::INITIAL_FILE_NAME);
}

TEST_F(RealDialogs, MessageBoxSettings) {
    QWidget owner;
    const auto box = rkv::makeInvalidFileBox(&owner);
    EXPECT_EQ(box->text(), QStringLiteral("これは有効なRKVファイルではありません"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("File error!"));
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->parentWidget(), &owner);
}

// The whole load button with the real dialogs: a typed path is loaded; a bad magic shows the
// modal box, owned by the window, and OK dismisses it.
TEST_F(RealDialogs, LoadButtonWithTypedPaths) {
    const QString song = writeSong("typed.rkv", rkvtest::songBytes(rkvtest::busySong(240)));
    std::vector<std::uint8_t> bytes = rkvtest::songBytes(rkvtest::busySong(260));
    bytes[1] = 'X';
    const QString bad = writeSong("bad.rkv", bytes);
    rkv::QtSongDialogs real;
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

    QWidget* boxOwner = nullptr;
    QString caption, text;
    bool modal = false;
    whenModal<QFileDialog>([&bad](QFileDialog* d) { typeIntoNameBox(d, bad); });
    whenModal<QMessageBox>([&](QMessageBox* box) {
        boxOwner = box->parentWidget();
        caption = box->windowTitle();
        text = box->text();
        modal = box->isModal();
        box->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(caption, rkv::INVALID_FILE_CAPTION);
    EXPECT_EQ(text, rkv::INVALID_FILE_TEXT);
    EXPECT_TRUE(modal);
    EXPECT_EQ(boxOwner, &window);
    EXPECT_EQ(player->song.header.stepTime, 240u) << "the loaded song stays";
}

} // namespace
