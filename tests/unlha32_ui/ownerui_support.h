#pragma once
// For tests of the library's windows over an owner: an owner window, the
// library's windows found by name, and steps driven on the owner's thread
// while the work runs on the worker's.
#include "unlha32/observer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

inline QWidget *visibleTop(const char *objectName)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(objectName) && w->isVisible())
            return w;
    return nullptr;
}

inline bool anyTop(const char *objectName)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(objectName))
            return true;
    return false;
}

// The worker's side of a step the test releases; gives up after 10 s so a
// broken window cannot hang the run.
inline bool waitFor(const std::atomic<bool> &flag, const unlha::Observer *obs = nullptr)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!flag.load()) {
        if (obs && obs->cancelled())
            return false;
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Runs `step` every 20 ms on this thread while runWithOwner's loop spins,
// until it returns true; checks made inside record failures in `failure`.
class Driver {
public:
    explicit Driver(std::function<bool(qint64 elapsedMs)> step) : step_(std::move(step))
    {
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (done_)
                return;
            if (step_(clock_.elapsed()) || clock_.elapsed() > 10000) {
                done_ = true;
                timer_.stop();
            }
        });
        timer_.start(20);
    }
    bool done() const { return done_; }

private:
    std::function<bool(qint64)> step_;
    QElapsedTimer clock_;
    QTimer timer_;
    bool done_ = false;
};

struct Owner {
    QWidget window;
    QLineEdit *edit;
    QPushButton *button;
    Owner()
    {
        window.setObjectName(QStringLiteral("owner"));
        edit = new QLineEdit(&window);
        button = new QPushButton(QStringLiteral("押す"), &window);
        button->move(0, 40);
        window.resize(500, 400);
        window.move(200, 150);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    uintptr_t id() { return uintptr_t(window.winId()); }
};
