#pragma once
// The program's message box: a warning box with "OK" (style 48) or "OK" and
// "キャンセル" (style 49). OK is the default button, Esc and the close box
// mean Cancel. Modal to the whole application.
#include <QString>
#include <functional>

constexpr int kMbOk = 48;
constexpr int kMbOkCancel = 49;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// Returns kIdOk or kIdCancel. A carriage return in `text` is shown as a line
// break; the caller's text itself is not changed.
int msgBox(const QString &text, int style, const QString &title);

using MsgBoxHook = std::function<int(const QString &text, int style, const QString &title)>;
// When set, called instead of showing a box (tests record texts and answer).
// Pass an empty function to show real boxes again.
void setMsgBoxHook(MsgBoxHook hook);

// The text as the box displays it: each CR, CR LF or LF becomes one line break.
QString msgBoxDisplayText(const QString &text);
