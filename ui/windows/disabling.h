#pragma once
// Disabling a window, as the program's windows do to each other. A disabled
// window takes no input (mouse, wheel, keys, drops; its close box is left to
// its own close handling, which asks isWindowEnabled()), keeps its look:
// nothing in it is greyed, and whenever the window manager brings it to the
// front (a click on it, its taskbar button, Alt+Tab) the window in charge
// comes back in front of it and takes the focus, an open message box above
// all. Every window stays a top-level window without owner.
class QWidget;

// `window` takes no input until enableWindow(); `inCharge` is the window that
// disabled it. Disabling it again hands it to the new window in charge.
void disableWindow(QWidget &window, QWidget &inCharge);
void enableWindow(QWidget &window);
bool isWindowEnabled(const QWidget &window);

// Starts the watch that disableWindow() starts, without disabling anything:
// a message box calls it, so that it too comes back in front of the windows
// it blocks whenever one of them is brought forward.
void watchWindowOrder();
