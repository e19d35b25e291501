// The player panel: which presses act, on what, and what never acts.
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include "app/artwork.hpp"
#include "app/player_window.hpp"
#include "app_test_support.hpp"

namespace {

using rkv::PanelButton;

// The buttons as inclusive client ranges, written independently of the click test.
PanelButton expectedButton(int x, int y) {
    if (y < 51 || y > 81) return PanelButton::None;
    if (x >= 3 && x <= 49) return PanelButton::Rewind;
    if (x >= 51 && x <= 97) return PanelButton::Play;
    if (x >= 99 && x <= 145) return PanelButton::Stop;
    if (x >= 147 && x <= 193) return PanelButton::Load;
    return PanelButton::None;
}

TEST(ClickTest, WholeClientArea) {
    for (int x = -5; x < 200; ++x)
        for (int y = -5; y < 90; ++y)
            ASSERT_EQ(rkv::buttonAt(x, y), expectedButton(x, y)) << "at " << x << "," << y;
}

class PanelTest : public rkvtest::PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        loadDirectly(writeSong("tune.rkv", rkvtest::songBytes(rkvtest::busySong())));
        window = std::make_unique<rkv::PlayerWindow>(*player, dialogs,
                                                     rkv::titlePicture(rkv::builtinResources()));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override { window.reset(); }

    void setState(bool playing, std::int32_t position) {
        player->state.playing.store(playing ? 1 : 0);
        player->state.position.store(position);
    }

    // Which button a press at (x, y) worked, seen only through the player and the dialogs.
    PanelButton observed(int x, int y, Qt::KeyboardModifiers modifiers = {}) {
        setState(false, 5);
        const int asked = dialogs.asked;
        QTest::mouseClick(window.get(), Qt::LeftButton, modifiers, QPoint(x, y));
        if (dialogs.asked != asked) return PanelButton::Load;
        if (player->state.playing.load() == 1) return PanelButton::Play;
        if (player->state.position.load() == -1) return PanelButton::Rewind;
        setState(true, 5);
        QTest::mouseClick(window.get(), Qt::LeftButton, modifiers, QPoint(x, y));
        if (player->state.playing.load() == 0) return PanelButton::Stop;
        return PanelButton::None;
    }

    std::unique_ptr<rkv::PlayerWindow> window;
};

TEST_F(PanelTest, ClicksOnEveryEdgeActOnThePlayer) {
    // 194 and 82 lie just outside the client area; a press reported there must not act either.
    for (int x : {2, 3, 49, 50, 51, 97, 98, 99, 145, 146, 147, 193, 194})
        for (int y : {50, 51, 66, 81, 82})
            EXPECT_EQ(observed(x, y), expectedButton(x, y)) << "at " << x << "," << y;
}

// On HiDPI a press can fall between logical pixels; it belongs to the pixel it lies in.
TEST_F(PanelTest, FractionalPositionsBelongToThePixelTheyLieIn) {
    const auto pressAt = [this](QPointF at) {
        QMouseEvent press(QEvent::MouseButtonPress, at, window->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, window->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &release);
    };
    setState(false, 5);
    pressAt(QPointF(49.75, 66.5)); // in pixel 49: rewind
    EXPECT_EQ(player->state.position.load(), -1);
    EXPECT_EQ(player->state.playing.load(), 0);
    setState(false, 5);
    pressAt(QPointF(50.5, 66.0));  // in pixel 50, the play face's edge: nothing
    pressAt(QPointF(120.0, 50.9)); // in row 50: nothing
    EXPECT_EQ(player->state.playing.load(), 0);
    EXPECT_EQ(player->state.position.load(), 5);
    pressAt(QPointF(120.0, 81.9)); // in row 81, with play stopped: stop acts, nothing to see
    pressAt(QPointF(97.9, 81.9));  // play
    EXPECT_EQ(player->state.playing.load(), 1);
}

TEST_F(PanelTest, LoadStopsBeforeTheDialogOpens) {
    setState(true, 4);
    int playingWhenAsked = -1;
    struct Probe final : rkv::SongDialogs {
        rkv::Player* player = nullptr;
        int* seen = nullptr;
        bool chooseSongFile(QString&) override {
            *seen = player->state.playing.load();
            return false;
        }
        void showInvalidFile() override {}
    } probe;
    probe.player = player.get();
    probe.seen = &playingWhenAsked;
    rkv::PlayerWindow probing(*player, probe, QImage());
    QTest::mouseClick(&probing, Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(playingWhenAsked, 0);
    EXPECT_EQ(player->state.position.load(), 4);
}

TEST_F(PanelTest, ModifiersDoNotMatterOtherButtonsAndKeysDoNothing) {
    for (Qt::KeyboardModifiers m :
         {Qt::KeyboardModifiers(Qt::ShiftModifier), Qt::KeyboardModifiers(Qt::ControlModifier),
          Qt::KeyboardModifiers(Qt::AltModifier), Qt::KeyboardModifiers(Qt::MetaModifier),
          Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::ControlModifier)})
        for (auto [x, button] : {std::pair{20, PanelButton::Rewind},
                                 {70, PanelButton::Play},
                                 {120, PanelButton::Stop},
                                 {170, PanelButton::Load}})
            EXPECT_EQ(observed(x, 66, m), button);
    const int asked = dialogs.asked;
    for (Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton}) {
        for (int x : {20, 70, 120, 170}) {
            setState(false, 5);
            QTest::mouseClick(window.get(), b, {}, QPoint(x, 66));
            setState(true, 5);
            QTest::mouseClick(window.get(), b, {}, QPoint(x, 66));
            EXPECT_EQ(player->state.playing.load(), 1);
            EXPECT_EQ(player->state.position.load(), 5);
        }
    }
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_P,
                        Qt::Key_S, Qt::Key_Left, Qt::Key_Home, Qt::Key_F4, Qt::Key_Delete}) {
        QTest::keyClick(window.get(), key);
        QTest::keyClick(window.get(), key, Qt::ControlModifier);
    }
    EXPECT_EQ(player->state.playing.load(), 1);
    EXPECT_EQ(player->state.position.load(), 5);
    EXPECT_EQ(dialogs.asked, asked);
    EXPECT_TRUE(window->isVisible());
}

// Through the window system, as a real double click arrives: press, release, double click,
// release. The second press must not open a second dialog.
TEST_F(PanelTest, DoubleClickActsOnce) {
    QWindow* handle = window->windowHandle();
    ASSERT_NE(handle, nullptr);
    QTest::mouseDClick(handle, Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(dialogs.asked, 1);
    // A later single click still acts.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(handle, Qt::LeftButton, {}, QPoint(170, 66));
    EXPECT_EQ(dialogs.asked, 2);
}

TEST_F(PanelTest, ClosingStopsTheClockAndSignals) {
    ASSERT_TRUE(clockRunning());
    QSignalSpy closed(window.get(), &rkv::PlayerWindow::closed);
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(clockRunning());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(window->isVisible());
}

} // namespace
