// At any device pixel ratio, also a fractional one (CTest runs this at 1.5), every picture pixel
// covers the same whole number of device pixels, and presses land on the buttons drawn.
#include <QTest>
#include <cmath>

#include "app/artwork.hpp"
#include "app/player_window.hpp"
#include "app_test_support.hpp"

class Scaling : public rkvtest::PlayerFixture {};

TEST_F(Scaling, PictureAndButtonsAtAWholeFactor) {
    rkvtest::FakeDialogs dialogs;
    const QImage title = rkv::titlePicture(rkv::builtinResources());
    rkv::PlayerWindow window(*player, dialogs, title);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPixmap grabbed = window.grab();
    const qreal ratio = grabbed.devicePixelRatio();
    if (!qEnvironmentVariableIsEmpty("RKV_EXPECT_RATIO")) {
        ASSERT_EQ(ratio, qEnvironmentVariable("RKV_EXPECT_RATIO").toDouble());
    }
    const int f = rkv::panelScale(ratio);
    EXPECT_EQ(f, static_cast<int>(std::max(1.0, std::floor(ratio))));
    const QImage shot = grabbed.toImage().convertToFormat(QImage::Format_RGB32);
    const QImage picture = title.convertToFormat(QImage::Format_RGB32);
    int wrong = 0;
    for (int y = 0; y < 80 * f; ++y)
        for (int x = 0; x < 192 * f; ++x)
            wrong += shot.pixel(2 * f + x, 2 * f + y) != picture.pixel(x / f, y / f);
    EXPECT_EQ(wrong, 0);

    loadDirectly(writeSong("song.rkv", rkvtest::songBytes(rkvtest::busySong(120))));
    const QPointF play = QPointF(74, 66) * f / ratio; // the play button as drawn
    QTest::mouseClick(&window, Qt::LeftButton, {}, play.toPoint());
    EXPECT_EQ(player->state.playing.load(), 1) << "press at " << play.x() << "," << play.y();
}
