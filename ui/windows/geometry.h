#pragma once
// Window layouts are designed in twips (15 per pixel at 96 dpi); Qt scales
// logical pixels on dense screens, so twips / 15 is the right conversion.
#include <QPointF>

class QWidget;

constexpr int kTwipsPerPixel = 15;
constexpr int tw(int twips) { return twips / kTwipsPerPixel; }

// The centring rule, in single-precision twips: (screen - window) / 2 on each
// axis, neither rounded nor clamped, so negative when the window is larger.
QPointF centredTwips(float screenW, float screenH, float winW, float winH);

// Twips position -> pixel position. Rounds down, so a window that does not
// divide evenly sits half a pixel left/up rather than jumping at zero.
int twipsToPixels(float twips);

// Centres a top-level window on the primary screen using its outer size
// (frame and title bar included, as far as the window system reports it
// before the window is shown; see geometry.cpp).
void centreOnScreen(QWidget &w);
