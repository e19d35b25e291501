// Start-up of the desktop player, in the order the user sees it: picture, window, sound, drums.
#pragma once

class QWidget;

namespace rkv {

// Settings that must be made before the QApplication exists: whole-number HiDPI scale factors,
// so the picture grows by 2, 3, ... and stays sharp.
void prepareQtApplication();

// Shows the window and waits (briefly) until it is on screen, then paints it at once, so the
// picture is there before the slower sound set-up begins.
void showAndPaint(QWidget& window);

// The whole program: returns the exit code of the event loop.
int runPlayer();

} // namespace rkv
