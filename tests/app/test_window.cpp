// The window as the user sees it: size, title, flags, the picture's pixels and the background.
#include <QTest>
#include <QWindow>
#include <cmath>

#include "app/artwork.hpp"
#include "app/player_window.hpp"
#include "app_test_support.hpp"

namespace {

QImage builtinTitle() {
    return rkv::titlePicture(rkv::builtinResources());
}

TEST(Artwork, TitleAndIconDecodeAndMissingResourcesGiveEmptyPictures) {
    EXPECT_EQ(builtinTitle().size(), QSize(192, 80));
    EXPECT_TRUE(rkv::windowIcon(rkv::builtinResources()).availableSizes().contains(QSize(32, 32)));
    const rkv::ResourceTable empty;
    EXPECT_TRUE(rkv::titlePicture(empty).isNull());
    EXPECT_TRUE(rkv::windowIcon(empty).isNull());
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    rkv::Player player;
    rkvtest::FakeDialogs dialogs;
    rkv::PlayerWindow window{player, dialogs, builtinTitle()};
};

TEST_F(WindowTest, FixedClientSizeTitleAndFlags) {
    EXPECT_EQ(window.minimumSize(), QSize(194, 82));
    EXPECT_EQ(window.maximumSize(), QSize(194, 82));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("TuvimoPlayer2"));
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(window.isWindow());
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    for (Qt::WindowType hint :
         {Qt::WindowMinimizeButtonHint, Qt::WindowCloseButtonHint, Qt::WindowTitleHint})
        EXPECT_TRUE(flags.testFlag(hint)) << hint;
    window.resize(400, 300); // a resize request is held at the fixed size
    EXPECT_EQ(window.size(), QSize(194, 82));
}

// Run by CTest again on offscreen screens of 144 and 288 dpi (Qt rounds their ratios to 2 and
// 3) and at a ratio of 1.5: every picture pixel becomes a whole block of identical device pixels
// (the whole factor below the ratio), with no smoothing at the edges, at (2, 2) on light grey;
// presses land on the buttons drawn, and the picture does not change with the play state.
TEST_F(WindowTest, ScalesByAWholeFactorWithoutSmoothing) {
    const QPixmap grabbed = window.grab();
    const qreal ratio = grabbed.devicePixelRatio();
    const QByteArray expected = qgetenv("RKV_EXPECT_RATIO");
    ASSERT_EQ(ratio, expected.isEmpty() ? 1.0 : expected.toDouble());
    const int f = rkv::panelScale(ratio);
    EXPECT_EQ(f, static_cast<int>(std::max(1.0, std::floor(ratio))));
    const QImage shot = grabbed.toImage().convertToFormat(QImage::Format_RGB32);
    const QImage title = builtinTitle().convertToFormat(QImage::Format_RGB32);
    int wrong = 0;
    for (int y = 0; y < 82 * f; ++y)
        for (int x = 0; x < 194 * f; ++x) {
            const bool inPicture = x >= 2 * f && y >= 2 * f;
            const QRgb want =
                inPicture ? title.pixel(x / f - 2, y / f - 2) : qRgb(0xC0, 0xC0, 0xC0);
            if ((shot.pixel(x, y) & 0xFFFFFF) != (want & 0xFFFFFF) && wrong++ < 5)
                ADD_FAILURE() << "device pixel " << x << "," << y;
        }
    EXPECT_EQ(wrong, 0);
    player.state.position.store(3);
    QTest::mouseClick(&window, Qt::LeftButton, {}, (QPointF(20, 66) * f / ratio).toPoint());
    EXPECT_EQ(player.state.position.load(), -1) << "a press on the rewind button as drawn";
    player.state.playing.store(1);
    QTest::mouseClick(&window, Qt::LeftButton, {}, (QPointF(120, 66) * f / ratio).toPoint());
    EXPECT_EQ(player.state.playing.load(), 0) << "a press on the stop button as drawn";
    EXPECT_EQ(window.grab().toImage(), grabbed.toImage());
}

} // namespace
