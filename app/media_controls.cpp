#include "app/media_controls.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QWidget>

#include "sequencer/player.hpp"
#include "sequencer/transport.hpp"

namespace rkv {

namespace {

const QString OBJECT_PATH = QStringLiteral("/org/mpris/MediaPlayer2");
const QString SERVICE = QStringLiteral("org.mpris.MediaPlayer2.tuvimoplayer2");

// A bus we may use without starting one: libdbus would otherwise launch a daemon per display.
bool sessionBusExists() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

MediaControls::MediaControls(Player& player, QWidget* window) : player_(player), window_(window) {
    new MediaRootAdaptor(this);
    new MediaPlayerAdaptor(this);
}

MediaControls::~MediaControls() {
    if (service_.isEmpty()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(OBJECT_PATH);
    bus.unregisterService(service_);
}

bool MediaControls::attach() {
    if (!sessionBusExists()) return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    if (!bus.registerObject(OBJECT_PATH, this, QDBusConnection::ExportAdaptors)) return false;
    // A second copy of the player takes a name of its own.
    for (const QString& name :
         {SERVICE, SERVICE + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid())})
        if (bus.registerService(name)) {
            service_ = name;
            reported_ = playbackStatus();
            return true;
        }
    bus.unregisterObject(OBJECT_PATH);
    return false;
}

QString MediaControls::playbackStatus() const {
    return player_.state.playing.load() ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

void MediaControls::stateMaybeChanged() {
    const QString status = playbackStatus();
    if (service_.isEmpty() || status == reported_) return;
    reported_ = status;
    QDBusMessage changed =
        QDBusMessage::createSignal(OBJECT_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    changed << QStringLiteral("org.mpris.MediaPlayer2.Player")
            << QVariantMap{{QStringLiteral("PlaybackStatus"), status}} << QStringList();
    QDBusConnection::sessionBus().send(changed);
}

void MediaControls::play() {
    transportCommand(player_, TRANSPORT_PLAY);
    stateMaybeChanged();
}

void MediaControls::stop() {
    transportCommand(player_, TRANSPORT_STOP);
    stateMaybeChanged();
}

void MediaControls::rewind() {
    transportCommand(player_, TRANSPORT_REWIND);
}

void MediaControls::raise() {
    if (!window_) return;
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
}

void MediaControls::quit() {
    if (window_) window_->close();
}

} // namespace rkv
