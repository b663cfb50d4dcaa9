// The library's progress window over the owner: when it appears, what it
// shows, Cancel, and the owner kept deaf meanwhile.
#include "ownerui_support.h"

#include "unlha32/ownerui.h"
#include "unlha32/progresswindow.h"

#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QWindow>

#include <stdexcept>

using unlha::Observer;

namespace {
enum Way { Button, Escape, CloseBox };
} // namespace

class TestProgressWindow : public QObject {
    Q_OBJECT
private slots:
    void refusesWithoutUsableOwner();
    void shortWorkShowsNothing();
    void longWorkShowsProgress();
    void cancelReachesWorker_data();
    void cancelReachesWorker();
    void ownerTakesNoInputMeanwhile();
    void formatsBytes_data();
    void formatsBytes();
};

void TestProgressWindow::refusesWithoutUsableOwner()
{
    Owner owner;
    std::atomic<int> calls{0};
    auto work = [&](Observer &) { ++calls; return 7; };

    QCOMPARE(unlha::runWithOwner(0, "a.lzh", work), -1);
    QCOMPARE(unlha::runWithOwner(uintptr_t(0x7ffffff0), "a.lzh", work), -1);
    int fromOtherThread = 0;
    const uintptr_t id = owner.id();
    std::thread t([&] { fromOtherThread = unlha::runWithOwner(id, "a.lzh", work); });
    t.join();
    QCOMPARE(fromOtherThread, -1);
    QCOMPARE(calls.load(), 0);

    QCOMPARE(unlha::runWithOwner(id, "a.lzh", work), 7);
    QCOMPARE(calls.load(), 1);
    // A native child's id names its window just as well.
    QCOMPARE(unlha::runWithOwner(uintptr_t(owner.edit->winId()), "a.lzh", work), 7);
    QCOMPARE(calls.load(), 2);

    // A failure inside the work reaches the caller, not the worker thread's end.
    QVERIFY_THROWS_EXCEPTION(std::runtime_error,
        unlha::runWithOwner(id, "a.lzh", [](Observer &) -> int { throw std::runtime_error("x"); }));
}

void TestProgressWindow::shortWorkShowsNothing()
{
    Owner owner;
    // Watch for the window being shown at all, however briefly.
    struct ShowSpy : QObject {
        int shows = 0;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (e->type() == QEvent::Show && o->objectName() == QLatin1String("unlhaProgress"))
                ++shows;
            return false;
        }
    } spy;
    qApp->installEventFilter(&spy);
    const int r = unlha::runWithOwner(owner.id(), "a.lzh", [](Observer &o) {
        o.begin(1000, 2);
        o.entry("x.txt");
        o.progress(1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return 3;
    });
    // Timers left behind would fire now.
    QTest::qWait(600);
    qApp->removeEventFilter(&spy);
    QCOMPARE(r, 3);
    QCOMPARE(spy.shows, 0);
    QVERIFY(!anyTop("unlhaProgress"));
}

void TestProgressWindow::longWorkShowsProgress()
{
    Owner owner;
    std::atomic<bool> step1{false}, step2{false};
    const std::string longName = "very/" + std::string(300, 'd') + "/end.txt";
    QString failure;
    bool hiddenEarly = false;
    qint64 shownAt = -1;
    int stage = 0;

    Driver driver([&](qint64 ms) {
        auto *win = visibleTop("unlhaProgress");
        if (stage == 0) {
            if (ms >= 150 && ms < 350 && !win)
                hiddenEarly = true;
            if (!win)
                return false;
            shownAt = ms;
            const auto *archive = win->findChild<QLabel *>("archiveName");
            const auto *file = win->findChild<QLabel *>("fileName");
            const auto *bytes = win->findChild<QLabel *>("bytes");
            const auto *bar = win->findChild<QProgressBar *>("bar");
            if (!archive || archive->text() != QStringLiteral("書庫.lzh"))
                failure = "archive name";
            else if (!file || file->text() != QStringLiteral("docs/読んでね.txt"))
                failure = "file name: " + (file ? file->text() : QString());
            else if (!bytes || !bytes->text().startsWith(QStringLiteral("1.2 MB / 34.5 MB")))
                failure = "bytes: " + (bytes ? bytes->text() : QString());
            else if (!bytes->text().contains(QStringLiteral("1 / 3")))
                failure = "count: " + bytes->text();
            else if (!bar || bar->value() < 30 || bar->value() > 40)
                failure = "bar";
            else if (win->windowTitle() != QStringLiteral("ほぐれん - 解凍中"))
                failure = "caption";
            else if ((win->frameGeometry().center() - owner.window.frameGeometry().center())
                         .manhattanLength() > 40)
                failure = "not centred over the owner";
            stage = 1;
            step1 = true;
            return false;
        }
        if (stage == 1) {
            const auto *file = win ? win->findChild<QLabel *>("fileName") : nullptr;
            if (!file || !file->text().startsWith(QStringLiteral("very/")))
                return false;
            // A long name is cut in the middle to the window, not widening it.
            if (!file->text().contains(QChar(0x2026)) || !file->text().endsWith("end.txt")
                || file->toolTip() != QString::fromStdString(longName) || win->width() != 440)
                failure = "long name not elided: " + file->text();
            step2 = true;
            return true;
        }
        return true;
    });

    const int r = unlha::runWithOwner(owner.id(), "書庫.lzh", [&](Observer &o) {
        o.begin(uint64_t(34.5 * 1024 * 1024), 3);
        o.entry("docs/読んでね.txt");
        o.filesDone(1); // the count follows files done, not files begun
        o.entry("docs/次.txt");
        o.entry("docs/読んでね.txt");
        o.progress(uint64_t(1.2 * 1024 * 1024));
        if (!waitFor(step1))
            return -2;
        o.entry(longName);
        o.progress(uint64_t(20 * 1024 * 1024));
        return waitFor(step2) ? 5 : -3;
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(r, 5);
    QVERIFY(hiddenEarly);
    QVERIFY2(shownAt >= 450, qPrintable(QString::number(shownAt)));
    QVERIFY(!visibleTop("unlhaProgress"));
}

void TestProgressWindow::cancelReachesWorker_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("Cancel button") << int(Button);
    QTest::newRow("Esc") << int(Escape);
    QTest::newRow("close box") << int(CloseBox);
}

void TestProgressWindow::cancelReachesWorker()
{
    QFETCH(int, way);
    Owner owner;
    QString failure;
    Driver driver([&](qint64) {
        auto *win = visibleTop("unlhaProgress");
        if (!win)
            return false;
        auto *button = win->findChild<QPushButton *>("cancel");
        if (way == Button)
            QTest::mouseClick(button, Qt::LeftButton);
        else if (way == Escape)
            QTest::keyClick(win, Qt::Key_Escape);
        else
            win->close();
        // The window stays, saying it stops, until the worker has.
        const auto *file = win->findChild<QLabel *>("fileName");
        if (!win->isVisible() || button->isEnabled() || file->text() != QStringLiteral("中止しています…"))
            failure = QStringLiteral("window not stopping");
        return true;
    });
    bool sawCancel = false;
    const int r = unlha::runWithOwner(owner.id(), "a.lzh", [&](Observer &o) {
        o.begin(100, 1);
        std::atomic<bool> never{false};
        waitFor(never, &o);
        sawCancel = o.cancelled();
        return sawCancel ? 0x8005 : -1;
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(sawCancel);
    QCOMPARE(r, 0x8005);
}

void TestProgressWindow::ownerTakesNoInputMeanwhile()
{
    Owner owner;
    QWidget other; // another window of the program
    auto *otherEdit = new QLineEdit(&other);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    QSignalSpy clicks(owner.button, &QPushButton::clicked);

    std::atomic<bool> release{false};
    QString failure;
    bool typedWhileShown = false;
    Driver driver([&](qint64) {
        QTest::keyClicks(owner.edit, "abc");
        QTest::keyClicks(otherEdit, "abc");
        QTest::mouseClick(owner.button, Qt::LeftButton);
        // The close box of the owner is input too.
        if (owner.window.windowHandle()->close() || !owner.window.isVisible())
            failure = "owner closed";
        if (!owner.window.isEnabled())
            failure = "owner greyed out";
        if (visibleTop("unlhaProgress"))
            typedWhileShown = true;
        if (!typedWhileShown)
            return false;
        release = true;
        return true;
    });
    const int r = unlha::runWithOwner(owner.id(), "a.lzh", [&](Observer &) {
        return waitFor(release) ? 0 : -1;
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(r, 0);
    QVERIFY(owner.edit->text().isEmpty());
    QVERIFY(otherEdit->text().isEmpty());
    QCOMPARE(clicks.count(), 0);
    QVERIFY(owner.window.isVisible());

    // Afterwards everything answers again, with its own cursor back.
    QCOMPARE(owner.window.cursor().shape(), Qt::ArrowCursor);
    QTest::keyClicks(owner.edit, "xyz");
    QTest::mouseClick(owner.button, Qt::LeftButton);
    QCOMPARE(owner.edit->text(), QStringLiteral("xyz"));
    QCOMPARE(clicks.count(), 1);

    // A cursor the owner had set is the one it gets back.
    owner.window.setCursor(Qt::CrossCursor);
    QCOMPARE(unlha::runWithOwner(owner.id(), "a.lzh", [](Observer &) { return 0; }), 0);
    QCOMPARE(owner.window.cursor().shape(), Qt::CrossCursor);
}

void TestProgressWindow::formatsBytes_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << quint64(0) << QStringLiteral("0 バイト");
    QTest::newRow("most in bytes") << quint64(1023) << QStringLiteral("1023 バイト");
    QTest::newRow("one KB") << quint64(1024) << QStringLiteral("1.0 KB");
    QTest::newRow("MB") << quint64(1.2 * 1024 * 1024) << QStringLiteral("1.2 MB");
    // Just below a unit: the next unit, never "1024.0 KB".
    QTest::newRow("just below a MB") << quint64(1024 * 1024 - 1) << QStringLiteral("1.0 MB");
    QTest::newRow("TB") << (quint64(5) << 40) << QStringLiteral("5.0 TB");
    QTest::newRow("past the largest unit") << (quint64(3) << 50) << QStringLiteral("3072.0 TB");
}

void TestProgressWindow::formatsBytes()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(unlha::formatBytes(bytes), text);
}

QTEST_MAIN(TestProgressWindow)
#include "tst_unlha32_progress_window.moc"
