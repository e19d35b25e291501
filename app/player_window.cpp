#include "app/player_window.hpp"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "app/song_dialogs.hpp"
#include "sequencer/clock.hpp"
#include "sequencer/transport.hpp"

namespace rkv {

PanelButton buttonAt(int x, int y) {
    if (y <= 50 || y >= 82) return PanelButton::None;
    if (x > 2 && x < 50) return PanelButton::Rewind;
    if (x > 50 && x < 98) return PanelButton::Play;
    if (x > 98 && x < 146) return PanelButton::Stop;
    if (x > 146 && x < 194) return PanelButton::Load;
    return PanelButton::None;
}

PlayerWindow::PlayerWindow(Player& player, SongDialogs& dialogs, QImage picture, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      player_(player), dialogs_(dialogs), picture_(std::move(picture)) {
    setWindowTitle(QStringLiteral("TuvimoPlayer2"));
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);
    // Every pixel is painted in paintEvent; nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int panelScale(qreal devicePixelRatio) {
    return std::max(1, static_cast<int>(std::floor(devicePixelRatio)));
}

void PlayerWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgb(BACKGROUND_RGB));
    // Whole device pixels per picture pixel, never smoothed: the artwork stays crisp on HiDPI.
    // At a fractional ratio (1.5) the panel is drawn at the whole factor below it.
    const qreal ratio = devicePixelRatioF();
    const qreal scale = panelScale(ratio) / ratio;
    painter.scale(scale, scale);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(PICTURE_X, PICTURE_Y, picture_.width(), picture_.height()), picture_);
}

void PlayerWindow::press(PanelButton button) {
    switch (button) {
    case PanelButton::Rewind:
        transportCommand(player_, TRANSPORT_REWIND);
        break;
    case PanelButton::Play:
        transportCommand(player_, TRANSPORT_PLAY);
        break;
    case PanelButton::Stop:
        transportCommand(player_, TRANSPORT_STOP);
        break;
    case PanelButton::Load:
        // Stopped before the dialog, so ticks play nothing while the song is replaced.
        transportCommand(player_, TRANSPORT_STOP);
        loadSongInteractive(player_, dialogs_, this);
        break;
    case PanelButton::None:
        return;
    }
    emit pressed();
}

void PlayerWindow::mousePressEvent(QMouseEvent* event) {
    // Buttons act on the press; modifiers held with it do not matter.
    if (event->button() != Qt::LeftButton) return;
    // Into panel pixels, each a whole number of device pixels: a panel pixel is hit wherever
    // inside it the press falls.
    const QPointF at = event->position() * devicePixelRatioF() / panelScale(devicePixelRatioF());
    press(buttonAt(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y()))));
}

// The second press of a double click arrives here; it must not act a second time. (The default
// would treat it as another press.)
void PlayerWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
    event->ignore();
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
    stopClock(player_);
    event->accept();
    emit closed();
}

} // namespace rkv
