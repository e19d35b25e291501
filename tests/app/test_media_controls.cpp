// The desktop's media controls, driven by playerctl over a private session bus (the test runs
// under dbus-run-session): play, stop and previous reach the transport, the state is reported.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QProcess>

#include "app/media_controls.hpp"
#include "app_test_support.hpp"

namespace {

// Runs `playerctl COMMAND` on our player while the event loop keeps answering the bus; its
// output, trimmed.
QString playerctl(const char* command) {
    QProcess process;
    process.start(QStringLiteral("playerctl"),
                  {QStringLiteral("--player=tuvimoplayer2"), QString::fromLatin1(command)});
    const QDeadlineTimer deadline(10000);
    while (!process.waitForFinished(5) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(process.state(), QProcess::NotRunning) << "playerctl hung";
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

class MediaControlsTest : public rkvtest::PlayerFixture {};

TEST_F(MediaControlsTest, PlayStopAndPreviousDriveTheTransport) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    loadDirectly(writeSong("song.rkv", rkvtest::songBytes(rkvtest::busySong(120))));
    rkv::MediaControls controls(*player, nullptr);
    ASSERT_TRUE(controls.attach());

    EXPECT_EQ(playerctl("status"), QStringLiteral("Stopped"));
    struct Step {
        const char* command;
        int playing, position;
    };
    for (const Step& step : {Step{"play", 1, 7}, Step{"previous", 1, -1}, Step{"stop", 0, 7},
                             Step{"play-pause", 1, 7}, Step{"pause", 0, 7}}) {
        SCOPED_TRACE(step.command);
        player->state.position.store(7);
        playerctl(step.command);
        EXPECT_EQ(player->state.playing.load(), step.playing);
        EXPECT_EQ(player->state.position.load(), step.position);
        EXPECT_EQ(playerctl("status"),
                  step.playing ? QStringLiteral("Playing") : QStringLiteral("Stopped"));
    }
}

} // namespace
