#include "app/ending.h"

#include <QApplication>
#include <QWidget>

namespace {
std::function<void()> &hook()
{
    static std::function<void()> h;
    return h;
}
bool g_ending = false;
} // namespace

void setEndProgramHook(std::function<void()> h) { hook() = std::move(h); }

void endProgram()
{
    if (hook()) {
        hook()();
        return;
    }
    if (g_ending)
        return;
    g_ending = true;
    // hide() rather than close(): closing would run the windows' own close
    // handling, and some of those end the program themselves.
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows)
        w->hide();
    // exit() leaves every running event loop, nested ones included, so a
    // message box or a blocked dialog cannot keep the process alive.
    QCoreApplication::exit(0);
}
