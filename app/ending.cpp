#include "app/ending.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
std::function<void()> &hook()
{
    static std::function<void()> h;
    return h;
}
bool g_ending = false;
bool g_extractionRunning = false;
bool g_endRequested = false;

// The signal handler may do next to nothing; it hands the signal to the
// event loop through this pipe.
int g_signalPipe[2] = {-1, -1};

void onEndingSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // The pipe is non-blocking: when it is full, a request is already there.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void endFromOutside()
{
    if (g_extractionRunning) {
        g_endRequested = true;
        QCoreApplication::exit(0);
        return;
    }
    endProgram();
}
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

void installEndingSignals()
{
    if (g_signalPipe[0] >= 0 || ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read,
                                         QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char bytes[64];
        while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        endFromOutside();
    });

    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa {};
        sa.sa_handler = onEndingSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(sig, &sa, nullptr);
    }
}

void setExtractionRunning(bool running) { g_extractionRunning = running; }

bool endRequested() { return g_endRequested; }
