// The open-song dialog, the magic test and the one error message, behind an interface so tests
// can drive the flow without modal dialogs.
#pragma once

#include <QString>
#include <memory>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace rkv {

struct Player;

// The texts the user sees; Japanese as the player has always shown them.
inline const QString DIALOG_TITLE = QStringLiteral("ファイルの読み込み");
inline const QString SONG_FILTER = QStringLiteral("VantleMusicData[*.rkv] (*.rkv)");
inline const QString ALL_FILES_FILTER = QStringLiteral("全ての形式 [*.*] (*)");
inline const QString INITIAL_FILE_NAME = QStringLiteral("*.rkv");
inline const QString DEFAULT_SUFFIX = QStringLiteral("rkv");
inline const QString INVALID_FILE_TEXT = QStringLiteral("これは有効なRKVファイルではありません");
inline const QString INVALID_FILE_CAPTION = QStringLiteral("File error!");

class SongDialogs {
  public:
    virtual ~SongDialogs() = default;
    // Asks the user for a song file. False when the dialog was cancelled or closed.
    virtual bool chooseSongFile(QString& path) = 0;
    // Shows the invalid-file message; returns once the user has dismissed it.
    virtual void showInvalidFile() = 0;
};

// The real dialogs, owned by the main window.
class QtSongDialogs final : public SongDialogs {
  public:
    explicit QtSongDialogs(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }
    bool chooseSongFile(QString& path) override;
    void showInvalidFile() override;

  private:
    QWidget* owner_;
};

// Built fresh for every press of the load button, so it always starts in the current folder
// with "*.rkv" in its name box.
std::unique_ptr<QFileDialog> makeSongFileDialog(QWidget* owner);
std::unique_ptr<QMessageBox> makeInvalidFileBox(QWidget* owner);

// Runs the dialog, then redraws `window` where the dialog covered it and tries to open the
// chosen file. 0: cancelled; 1: chosen and it opens; 2: chosen but it cannot be opened.
int openSongDialog(SongDialogs& dialogs, QWidget* window, QString& path);

// 1 when the file begins with "RKV". Otherwise 0, after the invalid-file message when the file
// could be opened (a file that cannot be opened shows nothing).
int checkSongMagic(SongDialogs& dialogs, const QString& path);

// The load button's flow after its stop command: dialog, test open, magic test, load. A file
// the loader refuses gets the same message as a bad magic and changes nothing. 0 when the
// dialog was cancelled or the file was refused, else 1.
int loadSongInteractive(Player& player, SongDialogs& dialogs, QWidget* window);

} // namespace rkv
