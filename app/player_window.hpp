// The player's one window: the title picture with its strip of four buttons.
#pragma once

#include <QImage>
#include <QWidget>

namespace rkv {

struct Player;
class SongDialogs;

// Client size: the 192x80 picture with a 2-pixel margin on its left and top.
constexpr int CLIENT_WIDTH = 194;
constexpr int CLIENT_HEIGHT = 82;
constexpr int PICTURE_X = 2;
constexpr int PICTURE_Y = 2;
// The light-grey background around the picture.
constexpr unsigned BACKGROUND_RGB = 0xC0C0C0;

// Device pixels per panel pixel: the whole factor at or below the screen's device pixel ratio.
int panelScale(qreal devicePixelRatio);

enum class PanelButton { None, Rewind, Play, Stop, Load };

// Which button a left press at client (x, y) hits. Bounds are strict on both sides, so the
// light left edge of each face and the strip's top row belong to no button.
PanelButton buttonAt(int x, int y);

class PlayerWindow final : public QWidget {
    Q_OBJECT
  public:
    PlayerWindow(Player& player, SongDialogs& dialogs, QImage picture, QWidget* parent = nullptr);

    // Runs the button's transport command (the load button's whole flow for Load).
    void press(PanelButton button);

  signals:
    // The user closed the window; the clock is stopped by then.
    void closed();
    // A button ran its command: the play state may have changed.
    void pressed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    Player& player_;
    SongDialogs& dialogs_;
    QImage picture_;
};

} // namespace rkv
