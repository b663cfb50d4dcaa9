#pragma once
// What the program start sets up around the application object.
#include <QByteArray>

// The platform plugin to ask Qt for, given the environment variables
// QT_QPA_PLATFORM, WAYLAND_DISPLAY and XDG_SESSION_TYPE; empty to leave
// Qt's own choice. A Wayland session gets XWayland, because Wayland lets no
// program place its windows, and the windows centre themselves; the user's
// own choice of platform stands.
QByteArray platformForSession(const QByteArray &qpaPlatform, const QByteArray &waylandDisplay,
                              const QByteArray &sessionType);

// Sets QT_QPA_PLATFORM by platformForSession(). Call before QApplication.
void choosePlatform();

// Qt's own texts (the context menu of a text box, standard buttons) in
// Japanese, whatever the user's language: the whole program speaks it.
// False when Qt's Japanese translations are not installed.
bool installQtJapanese();
