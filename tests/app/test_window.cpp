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

TEST(Artwork, TitleAndIconDecode) {
    const QImage title = builtinTitle();
    ASSERT_FALSE(title.isNull());
    EXPECT_EQ(title.size(), QSize(192, 80));
    const QIcon icon = rkv::windowIcon(rkv::builtinResources());
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
}

TEST(Artwork, MissingResourcesGiveEmptyPictures) {
    const rkv::ResourceTable empty;
    EXPECT_TRUE(rkv::titlePicture(empty).isNull());
    EXPECT_TRUE(rkv::windowIcon(empty).isNull());
}

class WindowTest : public ::testing::Test {
  protected:
    rkv::Player player;
    rkvtest::FakeDialogs dialogs;
    rkv::PlayerWindow window{player, dialogs, builtinTitle()};
};

TEST_F(WindowTest, FixedClientSizeTitleAndFlags) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.size(), QSize(194, 82));
    EXPECT_EQ(window.minimumSize(), QSize(194, 82));
    EXPECT_EQ(window.maximumSize(), QSize(194, 82));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("TuvimoPlayer2"));
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(window.isWindow());
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    // A resize request is held at the fixed size.
    window.resize(400, 300);
    EXPECT_EQ(window.size(), QSize(194, 82));
}

TEST_F(WindowTest, PaintsThePictureAtTwoTwoOnLightGrey) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(194, 82)) << "this test expects a scale factor of 1";
    const QImage title = builtinTitle().convertToFormat(QImage::Format_RGB32);
    int wrong = 0;
    for (int y = 0; y < 82; ++y)
        for (int x = 0; x < 194; ++x) {
            const bool inPicture = x >= 2 && y >= 2;
            const QRgb want = inPicture ? title.pixel(x - 2, y - 2) : qRgb(0xC0, 0xC0, 0xC0);
            if ((shot.pixel(x, y) & 0xFFFFFF) != (want & 0xFFFFFF) && wrong++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << shot.pixel(x, y)
                              << " not " << want;
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(WindowTest, PictureDoesNotChangeWithPlayState) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QImage before = window.grab().toImage();
    player.state.playing.store(1);
    player.state.position.store(3);
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(20, 66));
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(120, 66));
    EXPECT_EQ(window.grab().toImage(), before);
}

// Run by CTest again on offscreen screens of 144 and 288 dpi: every picture pixel becomes a whole
// block of identical device pixels, with no smoothing at the edges.
TEST_F(WindowTest, HiDpiScalesByAWholeFactorWithoutSmoothing) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPixmap grabbed = window.grab();
    const qreal ratio = grabbed.devicePixelRatio();
    const QByteArray expected = qgetenv("RKV_EXPECT_SCALE");
    if (expected.isEmpty()) {
        if (ratio == 1.0) GTEST_SKIP() << "scale factor 1: CTest runs this on HiDPI screens";
    } else {
        ASSERT_EQ(ratio, expected.toDouble()) << "fractional scale factors are rounded";
    }
    ASSERT_EQ(ratio, std::round(ratio));
    const int f = static_cast<int>(ratio);
    const QImage shot = grabbed.toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(194 * f, 82 * f));
    const QImage title = builtinTitle().convertToFormat(QImage::Format_RGB32);
    int wrong = 0;
    for (int y = 0; y < 80 * f; ++y)
        for (int x = 0; x < 192 * f; ++x)
            if ((shot.pixel(2 * f + x, 2 * f + y) & 0xFFFFFF) !=
                    (title.pixel(x / f, y / f) & 0xFFFFFF) &&
                wrong++ < 5)
                ADD_FAILURE() << "device pixel " << x << "," << y;
    EXPECT_EQ(wrong, 0);
}

} // namespace
