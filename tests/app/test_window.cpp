// The player window as the user sees it and uses it: the picture's pixels, on HiDPI screens too,
// which presses act, on what, and what never acts. Its size, title and the actions a window
// manager offers are checked on the real program (e2e.sh).
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <algorithm>

#include "app/artwork.hpp"
#include "app/player_window.hpp"
#include "app_test_support.hpp"

namespace {

using rkv::PanelButton;

QImage builtinTitle() {
    return rkv::titlePicture(rkv::builtinResources());
}

TEST(Artwork, WindowIconHasA32By32Picture) {
    EXPECT_TRUE(rkv::windowIcon(rkv::builtinResources()).availableSizes().contains(QSize(32, 32)));
}

// The buttons as inclusive client ranges, written independently of the click test.
PanelButton expectedButton(int x, int y) {
    if (y < 51 || y > 81) return PanelButton::None;
    if (x >= 3 && x <= 49) return PanelButton::Rewind;
    if (x >= 51 && x <= 97) return PanelButton::Play;
    if (x >= 99 && x <= 145) return PanelButton::Stop;
    if (x >= 147 && x <= 193) return PanelButton::Load;
    return PanelButton::None;
}

class WindowTest : public rkvtest::PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        loadDirectly(writeSong("tune.rkv", rkvtest::songBytes(rkvtest::busySong())));
        window = std::make_unique<rkv::PlayerWindow>(*player, dialogs, builtinTitle());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override { window.reset(); }

    void setState(bool playing, std::int32_t position) {
        player->state.playing.store(playing ? 1 : 0);
        player->state.position.store(position);
    }

    // A press and release at `at` (in logical pixels; on HiDPI a press can fall between them).
    void click(QPointF at, Qt::KeyboardModifiers modifiers, Qt::MouseButton button) {
        QMouseEvent press(QEvent::MouseButtonPress, at, window->mapToGlobal(at), button, button,
                          modifiers);
        QApplication::sendEvent(window.get(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, window->mapToGlobal(at), button,
                            Qt::NoButton, modifiers);
        QApplication::sendEvent(window.get(), &release);
    }

    // Which button a press at `at` worked, seen only through the player and the dialogs.
    PanelButton observed(QPointF at, Qt::KeyboardModifiers modifiers = {},
                         Qt::MouseButton button = Qt::LeftButton) {
        setState(false, 5);
        const int asked = dialogs.asked;
        click(at, modifiers, button);
        if (dialogs.asked != asked) return PanelButton::Load;
        if (player->state.playing.load() == 1) return PanelButton::Play;
        if (player->state.position.load() == -1) return PanelButton::Rewind;
        setState(true, 5);
        click(at, modifiers, button);
        if (player->state.playing.load() == 0) return PanelButton::Stop;
        return PanelButton::None;
    }

    std::unique_ptr<rkv::PlayerWindow> window;
};

// Run by CTest again on offscreen screens of 144 and 288 dpi (Qt rounds their ratios to 2 and
// 3) and at a ratio of 1.5: every picture pixel becomes a whole block of identical device pixels
// (the whole factor below the ratio), with no smoothing at the edges, at (2, 2) on light grey;
// presses land on the buttons drawn, and the picture does not change with the play state.
TEST_F(WindowTest, ScalesByAWholeFactorWithoutSmoothing) {
    const QPixmap grabbed = window->grab();
    const qreal ratio = grabbed.devicePixelRatio();
    const QByteArray expected = qgetenv("RKV_EXPECT_RATIO");
    ASSERT_EQ(ratio, expected.isEmpty() ? 1.0 : expected.toDouble());
    const int f = std::max(1, static_cast<int>(ratio));
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
    EXPECT_EQ(observed(QPointF(20, 66) * f / ratio), PanelButton::Rewind);
    EXPECT_EQ(observed(QPointF(120, 66) * f / ratio), PanelButton::Stop);
    EXPECT_EQ(window->grab().toImage(), grabbed.toImage());
}

// A press belongs to the pixel it lies in, whatever modifiers are held. 194 and 82 lie just
// outside the client area; a press reported there must not act either. The right and middle
// buttons act nowhere.
TEST_F(WindowTest, ClicksOnEveryEdgeActOnThePlayer) {
    const Qt::KeyboardModifiers modifiers[] = {
        Qt::NoModifier,  Qt::ShiftModifier, Qt::ControlModifier,
        Qt::AltModifier, Qt::MetaModifier,  Qt::ShiftModifier | Qt::ControlModifier};
    int n = 0;
    for (double x : {2.0, 3.0, 49.0, 49.75, 50.0, 50.5, 51.0, 97.0, 97.9, 98.0, 99.0, 145.0, 146.0,
                     147.0, 193.0, 193.9, 194.0})
        for (double y : {50.0, 50.9, 51.0, 66.0, 81.0, 81.9, 82.0}) {
            const Qt::KeyboardModifiers m = modifiers[n++ % std::size(modifiers)];
            SCOPED_TRACE(testing::Message() << "at " << x << "," << y << " with " << m.toInt());
            EXPECT_EQ(observed(QPointF(x, y), m),
                      expectedButton(static_cast<int>(x), static_cast<int>(y)));
            for (Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton})
                EXPECT_EQ(observed(QPointF(x, y), m, b), PanelButton::None) << b;
        }
}

TEST_F(WindowTest, LoadStopsBeforeTheDialogOpens) {
    setState(true, 4);
    int playingWhenAsked = -1;
    dialogs.onOpen = [&] { playingWhenAsked = player->state.playing.load(); };
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(playingWhenAsked, 0);
    EXPECT_EQ(player->state.position.load(), 4);
}

// Keys act on nothing, whether playing or not.
TEST_F(WindowTest, KeysDoNothing) {
    for (bool playing : {false, true}) {
        setState(playing, 5);
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_P,
                            Qt::Key_S, Qt::Key_Left, Qt::Key_Home, Qt::Key_F4, Qt::Key_Delete}) {
            QTest::keyClick(window.get(), key);
            QTest::keyClick(window.get(), key, Qt::ControlModifier);
        }
        EXPECT_EQ(player->state.playing.load(), playing ? 1 : 0);
        EXPECT_EQ(player->state.position.load(), 5);
    }
    EXPECT_EQ(dialogs.asked, 0);
    EXPECT_TRUE(window->isVisible());
}

// Through the window system, as a real double click arrives: press, release, double click,
// release. The second press must not open a second dialog.
TEST_F(WindowTest, DoubleClickActsOnce) {
    QWindow* handle = window->windowHandle();
    ASSERT_NE(handle, nullptr);
    QTest::mouseDClick(handle, Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(dialogs.asked, 1);
    // A later single click still acts.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(handle, Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(dialogs.asked, 2);
}

TEST_F(WindowTest, ClosingStopsTheClockAndSignals) {
    ASSERT_EQ(runningClock(), 120u);
    QSignalSpy closed(window.get(), &rkv::PlayerWindow::closed);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(runningClock(), 0u);
    EXPECT_EQ(closed.count(), 1);
}

} // namespace
