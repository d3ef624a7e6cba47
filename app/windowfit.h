#pragma once

// The window's size and place on the screen it opens on. The window wants
// 1400 x 900; a bench PC's laptop screen (1366 x 768) or a scaled one
// (1920 x 1080 at 150 % is 1280 x 720) has less room than that, and a window
// bigger than the room is cut off. There it takes the room there is, and its
// content scrolls.

#include <QMargins>
#include <QRect>
#include <QSize>

class QMainWindow;
class QWidget;

constexpr QSize kWindowSize(1400, 900);

// What the window system adds around a window that has not been shown yet
// and so has no frame to measure: a title bar and thin borders.
constexpr QMargins kFrameAllowance(8, 32, 8, 8);

// The window's geometry (inside its frame) for a screen's available area:
// the preferred size where the area holds it with the frame, otherwise as
// much as the area holds; the frame is centred on the area.
QRect fittedWindowGeometry(const QRect &available, const QSize &preferred, const QMargins &frame);

// Places the window on its screen by fittedWindowGeometry and lowers its
// minimum size to what fits there. The frame is measured when the window is
// shown, else kFrameAllowance is assumed.
void fitWindowToScreen(QWidget *window, const QSize &preferred = kWindowSize);

// Puts the window's content into a scroll area, so that every control stays
// reachable when the window is smaller than the content's own minimum.
void letContentScroll(QMainWindow *window);
