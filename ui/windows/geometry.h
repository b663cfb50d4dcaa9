#pragma once
// Window layouts are designed in twips (15 per pixel at 96 dpi); Qt scales
// logical pixels on dense screens, so twips / 15 is the right conversion.
#include <QMargins>
#include <QPointF>
#include <QRect>

class QWidget;

constexpr int kTwipsPerPixel = 15;
constexpr int tw(int twips) { return twips / kTwipsPerPixel; }

// The centring rule, in single-precision twips: (screen - window) / 2 on each
// axis, neither rounded nor clamped, so negative when the window is larger.
QPointF centredTwips(float screenW, float screenH, float winW, float winH);

// Twips position -> pixel position. Rounds down, so a window that does not
// divide evenly sits half a pixel left/up rather than jumping at zero.
int twipsToPixels(float twips);

// Where the client area of a window goes when its outer size (the client
// `client` with the window manager's `frame` around it) is centred on
// `screen` by the rule above.
QPoint centredClientPosition(const QRect &screen, const QSize &client, const QMargins &frame);

// Centres a top-level window, not yet shown, on the primary screen by its
// outer size, frame and title bar included, as the window manager says it
// will be before the window is shown.
void centreOnScreen(QWidget &w);
