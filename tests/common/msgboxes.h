#pragma once
// Message boxes recorded instead of shown, for tests of the program's windows.
#include "ui/windows/msgbox.h"

#include <QList>

#include <functional>

struct Box {
    QString text;
    int style;
    QString title;
};

// Every box from now on lands in `boxes` and is answered by `answer`.
inline void recordBoxes(QList<Box> &boxes, std::function<int()> answer = [] { return kIdOk; })
{
    setMsgBoxHook([&boxes, answer](const QString &text, int style, const QString &title) {
        boxes.append({text, style, title});
        return answer();
    });
}
