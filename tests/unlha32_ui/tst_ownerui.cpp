// The library's windows over the owner: when the progress window appears,
// what it shows, Cancel, the overwrite question, and the owner kept deaf.
#include <QApplication>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "unlha32/ownerui.h"
#include "unlha32/progresswindow.h"
#include "unlha32/unlha32.h"

#include <dlfcn.h>

using unlha::Observer;
using unlha::OverwriteAnswer;

namespace {

QWidget *visibleTop(const char *objectName)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(objectName) && w->isVisible())
            return w;
    return nullptr;
}

bool anyTop(const char *objectName)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(objectName))
            return true;
    return false;
}

// The worker's side of a step the test releases; gives up after 10 s so a
// broken window cannot hang the run.
bool waitFor(const std::atomic<bool> &flag, const Observer *obs = nullptr)
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

} // namespace

class TestOwnerUi : public QObject {
    Q_OBJECT
private slots:
    void refusesWithoutUsableOwner();
    void shortWorkShowsNothing();
    void longWorkShowsProgress();
    void cancelReachesWorker();
    void overwriteAnswersReachWorker();
    void ownerTakesNoInputMeanwhile();
    void formatsBytes();
    void libraryAsksThroughOwner();
    void programQuittingDuringQuestion(); // last: it ends the event loops
};

void TestOwnerUi::refusesWithoutUsableOwner()
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

void TestOwnerUi::shortWorkShowsNothing()
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

void TestOwnerUi::longWorkShowsProgress()
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

void TestOwnerUi::cancelReachesWorker()
{
    enum Way { Button, Escape, CloseBox };
    for (Way way : {Button, Escape, CloseBox}) {
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
            if (!win->isVisible() || button->isEnabled()
                || file->text() != QStringLiteral("中止しています…"))
                failure = QStringLiteral("window not stopping, way %1").arg(way);
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
}

void TestOwnerUi::overwriteAnswersReachWorker()
{
    struct Case {
        const char *button; // nullptr: Esc on the question
        OverwriteAnswer expected;
        bool afterProgressShown;
    };
    const Case cases[] = {
        {"replace", OverwriteAnswer::Replace, false},
        {"skip", OverwriteAnswer::Skip, false},
        {"replaceAll", OverwriteAnswer::ReplaceAll, false},
        {"skipAll", OverwriteAnswer::SkipAll, true},
        {"cancel", OverwriteAnswer::Cancel, false},
        {nullptr, OverwriteAnswer::Cancel, false},
    };
    const QStringList order = {QStringLiteral("上書き"), QStringLiteral("スキップ"),
                               QStringLiteral("すべて上書き"), QStringLiteral("すべてスキップ"),
                               QStringLiteral("中止")};
    for (const Case &c : cases) {
        Owner owner;
        std::atomic<bool> progressSeen{false};
        QString failure;
        Driver driver([&](qint64) {
            if (visibleTop("unlhaProgress"))
                progressSeen = true;
            auto *dialog = visibleTop("unlhaOverwrite");
            if (!dialog)
                return false;
            const auto *path = dialog->findChild<QLabel *>("path");
            const auto *question = dialog->findChild<QLabel *>("question");
            QStringList texts;
            for (auto *b : dialog->findChildren<QPushButton *>())
                texts << b->text();
            QWidget *expectedParent = c.afterProgressShown ? visibleTop("unlhaProgress")
                                                           : &owner.window;
            if (!path || path->text() != QStringLiteral("サブ/a.txt"))
                failure = "path";
            else if (!question || question->text() != QStringLiteral("上書きしますか？"))
                failure = "question";
            else if (texts != order)
                failure = "buttons: " + texts.join(',');
            else if (dialog->parentWidget() != expectedParent)
                failure = "question not over the window in front";
            // While the question is open the window behind it takes no input.
            if (auto *progress = visibleTop("unlhaProgress"))
                QTest::mouseClick(progress->findChild<QPushButton *>("cancel"), Qt::LeftButton);
            if (c.button)
                QTest::mouseClick(dialog->findChild<QPushButton *>(c.button), Qt::LeftButton);
            else
                QTest::keyClick(dialog, Qt::Key_Escape);
            return true;
        });
        OverwriteAnswer got = OverwriteAnswer::Skip;
        bool cancelledAfter = false;
        const int r = unlha::runWithOwner(owner.id(), "a.lzh", [&](Observer &o) {
            if (c.afterProgressShown && !waitFor(progressSeen))
                return -1;
            got = o.askOverwrite("サブ/a.txt");
            cancelledAfter = o.cancelled();
            return 1;
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(r, 1);
        QCOMPARE(int(got), int(c.expected));
        // 中止 stops the whole run, as Cancel in the progress window does.
        QCOMPARE(cancelledAfter, c.expected == OverwriteAnswer::Cancel);
        QVERIFY(!visibleTop("unlhaOverwrite"));
    }
}

void TestOwnerUi::ownerTakesNoInputMeanwhile()
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

void TestOwnerUi::formatsBytes()
{
    QCOMPARE(unlha::formatBytes(0), QStringLiteral("0 バイト"));
    QCOMPARE(unlha::formatBytes(1023), QStringLiteral("1023 バイト"));
    QCOMPARE(unlha::formatBytes(1024), QStringLiteral("1.0 KB"));
    QCOMPARE(unlha::formatBytes(uint64_t(1.2 * 1024 * 1024)), QStringLiteral("1.2 MB"));
    // Just below a unit: the next unit, never "1024.0 KB".
    QCOMPARE(unlha::formatBytes(1024 * 1024 - 1), QStringLiteral("1.0 MB"));
    QCOMPARE(unlha::formatBytes(uint64_t(5) << 40), QStringLiteral("5.0 TB"));
    QCOMPARE(unlha::formatBytes(uint64_t(3) << 50), QStringLiteral("3072.0 TB"));
}

// The whole chain through the shared library's entry point, as the program
// calls it: the question comes from the real extraction on its worker thread.
void TestOwnerUi::libraryAsksThroughOwner()
{
    const QString libPath = QCoreApplication::applicationDirPath() + "/libunlha32.so";
    void *lib = dlopen(libPath.toUtf8().constData(), RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(lib, dlerror());
    auto unlhaFn = reinterpret_cast<UnlhaFn>(dlsym(lib, "Unlha"));
    QVERIFY(unlhaFn);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString command = QStringLiteral("e \"%1\" \"%2/\"")
                                .arg(QStringLiteral(HOGUREN_SOURCE_DIR "/examples/サンプル.LZH"), dir.path());
    const QByteArray cmd = command.toUtf8();
    auto unlha = [&](uintptr_t owner) { return unlhaFn(owner, cmd.constData(), nullptr, 0); };

    QCOMPARE(unlha(0), UNLHA_OK);
    QStringList files;
    QDirIterator it(dir.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    QVERIFY(!files.isEmpty());
    auto contents = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QString changed = files.first();
    const QByteArray original = contents(changed);
    auto spoil = [&] {
        QFile f(changed);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("changed");
    };
    spoil();

    // Without an owner nothing is replaced.
    QCOMPARE(unlha(0), UNLHA_ERR_SKIPPED);
    QCOMPARE(contents(changed), QByteArray("changed"));

    Owner owner;
    struct Run { const char *button; int expected; int questions; QByteArray after; };
    const Run runs[] = {
        {"cancel", UNLHA_ERR_CANCELLED, 1, "changed"},
        {"replaceAll", UNLHA_OK, 1, original},  // "all" is not asked again
        {"skip", UNLHA_OK, int(files.size()), "changed"}, // the user's choice is no failure
    };
    for (const Run &run : runs) {
        spoil();
        int questions = 0;
        Driver driver([&](qint64) {
            if (auto *dialog = visibleTop("unlhaOverwrite")) {
                ++questions;
                QTest::mouseClick(dialog->findChild<QPushButton *>(run.button), Qt::LeftButton);
            }
            return false;
        });
        QCOMPARE(unlha(uintptr_t(owner.window.winId())), run.expected);
        QCOMPARE(questions, run.questions);
        QCOMPARE(contents(changed), run.after);
    }
    dlclose(lib);
}

void TestOwnerUi::programQuittingDuringQuestion()
{
    Owner owner;
    Driver driver([&](qint64) {
        if (!visibleTop("unlhaOverwrite"))
            return false;
        QCoreApplication::exit(0);
        return true;
    });
    OverwriteAnswer got = OverwriteAnswer::Skip;
    bool cancelled = false;
    // Must return, not wait forever on the question.
    const int r = unlha::runWithOwner(owner.id(), "a.lzh", [&](Observer &o) {
        got = o.askOverwrite("a.txt");
        cancelled = o.cancelled();
        return 9;
    });
    QCOMPARE(r, 9);
    QCOMPARE(int(got), int(OverwriteAnswer::Cancel));
    QVERIFY(cancelled);
    QVERIFY(!visibleTop("unlhaOverwrite"));
}

QTEST_MAIN(TestOwnerUi)
#include "tst_ownerui.moc"
