// The desktop's media controls (media keys, panel widgets, playerctl) over D-Bus, as the
// MediaPlayer2 interfaces: play, pause and stop run the stop/play transport commands, previous
// rewinds, and the play state is reported. The window itself still ignores keys.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QWidget;

namespace rkv {

struct Player;

class MediaControls final : public QObject {
    Q_OBJECT
  public:
    MediaControls(Player& player, QWidget* window);
    ~MediaControls() override;

    // Offers the controls on the session bus; false (and nothing offered) without one. Never
    // starts a bus of its own.
    bool attach();
    // Tells listeners when the play state changed behind the controls' back (the buttons).
    void stateMaybeChanged();

    QString playbackStatus() const;
    void play();
    void stop();
    void rewind();
    void raise();
    void quit();

  private:
    Player& player_;
    QWidget* window_;
    QString service_;
    QString reported_;
};

class MediaRootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)
  public:
    explicit MediaRootAdaptor(MediaControls* controls)
        : QDBusAbstractAdaptor(controls), controls_(controls) {}
    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QStringLiteral("TuvimoPlayer2"); }
    QString desktopEntry() const { return QStringLiteral("tuvimoplayer2"); }
    QStringList none() const { return {}; }
  public slots:
    void Raise() { controls_->raise(); }
    void Quit() { controls_->quit(); }

  private:
    MediaControls* controls_;
};

class MediaPlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ one)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(double Volume READ one)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ yes)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)
  public:
    explicit MediaPlayerAdaptor(MediaControls* controls)
        : QDBusAbstractAdaptor(controls), controls_(controls) {}
    QString playbackStatus() const { return controls_->playbackStatus(); }
    double one() const { return 1.0; }
    QVariantMap metadata() const { return {}; }
    qlonglong position() const { return 0; }
    bool yes() const { return true; }
    bool no() const { return false; }
  public slots:
    void Play() { controls_->play(); }
    // Stopping keeps the position, so play goes on from there: the player's stop is a pause.
    void Pause() { controls_->stop(); }
    void PlayPause() {
        if (controls_->playbackStatus() == QLatin1String("Playing"))
            controls_->stop();
        else
            controls_->play();
    }
    void Stop() { controls_->stop(); }
    void Previous() { controls_->rewind(); }
    void Next() {}
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}
  signals:
    void Seeked(qlonglong position);

  private:
    MediaControls* controls_;
};

} // namespace rkv
