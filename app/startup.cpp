#include "app/startup.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWindow>
#include <memory>

#include "app/artwork.hpp"
#include "app/media_controls.hpp"
#include "app/player_window.hpp"
#include "app/song_dialogs.hpp"
#include "audio/live_output.hpp"
#include "resources/builtin_resources.hpp"
#include "sequencer/player.hpp"
#include "sound/drum_kit.hpp"

namespace rkv {

void prepareQtApplication() {
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::Round);
}

void showAndPaint(QWidget& window) {
    window.show();
    // The window system maps the window asynchronously; a paint before that reaches no screen.
    // Clicks wait for the event loop: a song loaded before the sound set-up would get no voices.
    constexpr auto noInput = QEventLoop::ExcludeUserInputEvents;
    QElapsedTimer waited;
    waited.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) &&
           waited.elapsed() < 2000) {
        QCoreApplication::processEvents(noInput, 10);
        QThread::msleep(2);
    }
    window.repaint();
    QCoreApplication::processEvents(noInput);
}

int runPlayer() {
    const ResourceTable& resources = builtinResources();
    const QImage picture = titlePicture(resources);

    auto player = std::make_unique<Player>();
    player->resources = resources;

    QtSongDialogs dialogs;
    PlayerWindow window(*player, dialogs, picture);
    dialogs.setOwner(&window);
    window.setWindowIcon(windowIcon(resources));
    window.move(32, 32);
    QObject::connect(&window, &PlayerWindow::closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    showAndPaint(window);
    MediaControls controls(*player, &window);
    if (controls.attach())
        QObject::connect(&window, &PlayerWindow::pressed, &controls,
                         &MediaControls::stateMaybeChanged);

    // Without a device the voices cannot be created and the player stays silent, but a paced
    // thread of our own still keeps the clock, so play and stop behave the same. The output
    // pauses while the player is idle and stands in for a device that goes away.
    LiveOutput output(player->state.playing);
    initSoundDevice(player->bank, &output);
    loadDrumKit(player->bank, player->state, player->resources);

    const int code = QApplication::exec();

    // The output threads read the bank: end them before the player goes away.
    output.stop();
    return code;
}

} // namespace rkv
