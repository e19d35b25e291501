#include "app/song_dialogs.hpp"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>
#include <sys/stat.h>

#include "sequencer/transport.hpp"
#include "song/song.hpp"

namespace rkv {

namespace {

// Off unless asked for (QT_LOGGING_RULES="rkv.player.info=true"): what the load button did, for
// a user's bug report and for the tests that drive the real dialog.
Q_LOGGING_CATEGORY(playerLog, "rkv.player", QtWarningMsg)

// The engine reads files through the C library, so test them the same way, with the same bytes
// for the name. Only a regular file counts as openable: a FIFO or a device could block the window
// for ever or never end.
std::FILE* openForReading(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return std::fopen(name.constData(), "rb");
}

} // namespace

std::unique_ptr<QFileDialog> makeSongFileDialog(QWidget* owner) {
    auto dialog = std::make_unique<QFileDialog>(owner);
    dialog->setWindowTitle(DIALOG_TITLE);
    // Our own widget dialog everywhere: a platform dialog might show the patterns after the
    // filter names or ignore the starting name.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setOption(QFileDialog::HideNameFilterDetails, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name of a missing file is returned too; the test open catches it.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters({SONG_FILTER, ALL_FILES_FILTER});
    dialog->selectNameFilter(SONG_FILTER);
    dialog->setDefaultSuffix(DEFAULT_SUFFIX);
    dialog->setDirectory(QDir::currentPath());
    dialog->selectFile(INITIAL_FILE_NAME);
    return dialog;
}

std::unique_ptr<QMessageBox> makeInvalidFileBox(QWidget* owner) {
    return std::make_unique<QMessageBox>(QMessageBox::NoIcon, INVALID_FILE_CAPTION,
                                         INVALID_FILE_TEXT, QMessageBox::Ok, owner);
}

bool QtSongDialogs::chooseSongFile(QString& path) {
    const std::unique_ptr<QFileDialog> dialog = makeSongFileDialog(owner_);
    if (dialog->exec() != QDialog::Accepted) return false;
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty()) return false;
    path = files.first();
    // The next dialog opens where this song came from: the dialog moves the current folder.
    QDir::setCurrent(QFileInfo(path).absolutePath());
    return true;
}

void QtSongDialogs::showInvalidFile() {
    makeInvalidFileBox(owner_)->exec();
}

int openSongDialog(SongDialogs& dialogs, QWidget* window, QString& path) {
    path = INITIAL_FILE_NAME;
    if (!dialogs.chooseSongFile(path)) return 0;
    if (window) window->update();
    std::FILE* file = openForReading(path);
    if (!file) return 2;
    std::fclose(file);
    return 1;
}

int checkSongMagic(SongDialogs& dialogs, const QString& path) {
    std::FILE* file = openForReading(path);
    if (!file) return 0;
    std::uint8_t head[4] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (hasSongMagic(std::span<const std::uint8_t>(head, got))) return 1;
    dialogs.showInvalidFile();
    return 0;
}

int loadSongInteractive(Player& player, SongDialogs& dialogs, QWidget* window) {
    QString path;
    const int chosen = openSongDialog(dialogs, window, path);
    if (chosen == 0) {
        qCInfo(playerLog) << "load: cancelled";
        return 0;
    }
    qCInfo(playerLog).noquote() << "load: chose" << path;
    if (chosen == 2) {
        qCInfo(playerLog).noquote() << "load: cannot open" << path;
        return 1;
    }
    if (!checkSongMagic(dialogs, path)) {
        qCInfo(playerLog).noquote() << "load: no magic" << path;
        return 0;
    }
    LoadOutcome outcome;
    transportCommand(player, TRANSPORT_LOAD, QFile::encodeName(path).constData(), &outcome);
    if (outcome.status == LoadStatus::Refused) {
        qCInfo(playerLog).noquote() << "load: refused" << path;
        dialogs.showInvalidFile();
        return 0;
    }
    qCInfo(playerLog).noquote() << (outcome.status == LoadStatus::Loaded ? "load: loaded"
                                                                         : "load: cannot open")
                                << path;
    return 1;
}

} // namespace rkv
