#include "unlha32/ownerui.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "unlha32/overwritedialog.h"
#include "unlha32/progresswindow.h"
#include "unlha32/threads.h"
#include "unlha32/windowmanners.h"

namespace unlha {

namespace {

// Quick work shows no window at all; only work the user waits for does.
constexpr int kShowDelayMs = 500;
// The worker reports as often as it likes; the window reads the figures at
// this pace, so reporting costs the worker an atomic store and no more.
constexpr int kRefreshMs = 80;

// Everything the worker and the window thread both touch.
struct Shared {
    std::atomic<uint64_t> total{0};
    std::atomic<uint64_t> done{0};
    std::atomic<std::size_t> fileCount{0};
    std::atomic<std::size_t> filesDoneCount{0};
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};

    std::mutex nameMutex;
    std::string name;
    std::atomic<unsigned> nameSerial{0};

    std::mutex askMutex;
    std::condition_variable askCv;
    bool answered = false;
    bool abandoned = false; // no answer will come
    OverwriteAnswer answer = OverwriteAnswer::Cancel;
};

class Session;

class WorkerObserver : public Observer {
public:
    WorkerObserver(Shared &shared, Session *session) : s_(shared), session_(session) {}

    void begin(uint64_t totalBytes, std::size_t fileCount) override
    {
        s_.total.store(totalBytes, std::memory_order_relaxed);
        s_.fileCount.store(fileCount, std::memory_order_relaxed);
    }
    void entry(const std::string &utf8Name) override
    {
        {
            std::lock_guard<std::mutex> lock(s_.nameMutex);
            s_.name = utf8Name;
        }
        s_.nameSerial.fetch_add(1, std::memory_order_release);
    }
    void filesDone(std::size_t count) override { s_.filesDoneCount.store(count, std::memory_order_relaxed); }
    void progress(uint64_t bytesDone) override
    {
        s_.done.store(bytesDone, std::memory_order_relaxed);
    }
    OverwriteAnswer askOverwrite(const std::string &utf8Path) override;
    bool cancelled() const override { return s_.cancel.load(std::memory_order_relaxed); }
    bool asksUser() const override { return true; }

private:
    Shared &s_;
    Session *session_;
};

// Lives on the window thread for one call of runWithOwner.
class Session : public QObject {
public:
    Session(QWidget *owner, const QString &archiveName, const std::function<int(Observer &)> &work)
        : owner_(owner), archiveName_(archiveName), work_(work)
    {
    }

    int run();
    // Called on the window thread, with the worker waiting for the answer.
    void ask(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showProgress();
    void refresh();
    void requestCancel();
    void deliver(OverwriteAnswer answer);
    bool isOurs(QWidget *w) const;
    void restoreOwner();

    QPointer<QWidget> owner_;
    QString archiveName_;
    const std::function<int(Observer &)> &work_;
    Shared shared_;
    QEventLoop loop_;
    QTimer showTimer_;
    QTimer refreshTimer_;
    QPointer<ProgressWindow> progress_;
    QPointer<OverwriteDialog> question_;
    bool showWhenAnswered_ = false;
    unsigned shownSerial_ = 0;
    bool ownerHadCursor_ = false;
    QCursor ownerCursor_;
};

OverwriteAnswer WorkerObserver::askOverwrite(const std::string &utf8Path)
{
    if (cancelled())
        return OverwriteAnswer::Cancel;
    std::unique_lock<std::mutex> lock(s_.askMutex);
    if (s_.abandoned)
        return OverwriteAnswer::Cancel;
    s_.answered = false;
    const QString path = QString::fromUtf8(utf8Path.data(), qsizetype(utf8Path.size()));
    Session *session = session_;
    QMetaObject::invokeMethod(session, [session, path] { session->ask(path); },
                              Qt::QueuedConnection);
    s_.askCv.wait(lock, [this] { return s_.answered || s_.abandoned; });
    return s_.answered ? s_.answer : OverwriteAnswer::Cancel;
}

int Session::run()
{
    // Input to any window but ours is swallowed from here on; the filter
    // also covers the time before the progress window appears.
    qApp->installEventFilter(this);
    ownerHadCursor_ = owner_->testAttribute(Qt::WA_SetCursor);
    ownerCursor_ = owner_->cursor();
    owner_->setCursor(Qt::BusyCursor);
    const bool ownerWasActive = owner_->isActiveWindow();

    showTimer_.setSingleShot(true);
    showTimer_.setTimerType(Qt::PreciseTimer);
    connect(&showTimer_, &QTimer::timeout, this, &Session::showProgress);
    connect(&refreshTimer_, &QTimer::timeout, this, &Session::refresh);
    showTimer_.start(kShowDelayMs);
    refreshTimer_.start(kRefreshMs);

    WorkerObserver observer(shared_, this);
    int result = -1;
    std::exception_ptr error;
    std::thread worker;
    const bool started = startThread(worker, [&] {
        try {
            result = work_(observer);
        } catch (...) {
            error = std::current_exception();
        }
        shared_.finished.store(true);
        QMetaObject::invokeMethod(this, [this] { loop_.quit(); }, Qt::QueuedConnection);
    });
    if (!started) {
        // No thread for the work: nothing is run here, where the question
        // could never be answered, and the owner is left as it was; the
        // caller then works without windows on its own thread.
        showTimer_.stop();
        refreshTimer_.stop();
        qApp->removeEventFilter(this);
        restoreOwner();
        return -1;
    }

    // Ends when the worker is done: its queued quit arrives even if it
    // finished before the loop started.
    loop_.exec();
    // Read while our windows still stand: once they go, the window manager
    // hands the focus on, and the program seems nowhere for a moment.
    const bool userHere = !manners::userIsElsewhere();
    if (!shared_.finished.load()) {
        // The program ended every event loop (it is quitting): stop the work
        // rather than leave it waiting on a question nobody will answer.
        requestCancel();
        {
            std::lock_guard<std::mutex> lock(shared_.askMutex);
            shared_.abandoned = true;
        }
        shared_.askCv.notify_one();
    }
    worker.join();

    showTimer_.stop();
    refreshTimer_.stop();
    qApp->removeEventFilter(this);
    delete question_.data();
    if (progress_) {
        progress_->hide();
        delete progress_.data();
    }
    if (owner_) {
        restoreOwner();
        // Back to where the user started the work, unless the user has gone
        // to another program meanwhile: that one keeps the front.
        if (ownerWasActive && userHere)
            owner_->activateWindow();
    }
    if (error)
        std::rethrow_exception(error);
    return result;
}

void Session::restoreOwner()
{
    if (ownerHadCursor_)
        owner_->setCursor(ownerCursor_);
    else
        owner_->unsetCursor();
}

void Session::showProgress()
{
    if (shared_.finished.load() || progress_)
        return;
    if (question_) {
        // Not over an open question: it would hide it.
        showWhenAnswered_ = true;
        return;
    }
    progress_ = new ProgressWindow(owner_, archiveName_);
    connect(progress_, &ProgressWindow::cancelRequested, this, &Session::requestCancel);
    refresh();
    if (shared_.cancel.load())
        progress_->showStopping();
    manners::showForUser(*progress_);
}

void Session::refresh()
{
    if (shared_.finished.load()) {
        loop_.quit();
        return;
    }
    if (!progress_)
        return;
    const unsigned serial = shared_.nameSerial.load(std::memory_order_acquire);
    if (serial != shownSerial_) {
        shownSerial_ = serial;
        std::string name;
        {
            std::lock_guard<std::mutex> lock(shared_.nameMutex);
            name = shared_.name;
        }
        progress_->setCurrentFile(QString::fromUtf8(name.data(), qsizetype(name.size())));
    }
    progress_->setBytes(shared_.done.load(std::memory_order_relaxed),
                        shared_.total.load(std::memory_order_relaxed));
    progress_->setCount(shared_.filesDoneCount.load(std::memory_order_relaxed),
                        shared_.fileCount.load(std::memory_order_relaxed));
    if (shared_.cancel.load())
        progress_->showStopping();
}

void Session::requestCancel()
{
    shared_.cancel.store(true);
    if (progress_)
        progress_->showStopping();
}

void Session::ask(const QString &path)
{
    QWidget *parent = progress_ && progress_->isVisible() ? static_cast<QWidget *>(progress_.data())
                                                          : owner_.data();
    if (shared_.cancel.load() || !parent) {
        deliver(OverwriteAnswer::Cancel);
        return;
    }
    auto *dialog = new OverwriteDialog(parent, path);
    question_ = dialog;
    connect(dialog, &OverwriteDialog::answered, this, &Session::deliver);
    manners::showForUser(*dialog);
}

void Session::deliver(OverwriteAnswer answer)
{
    if (answer == OverwriteAnswer::Cancel)
        requestCancel();
    {
        std::lock_guard<std::mutex> lock(shared_.askMutex);
        shared_.answer = answer;
        shared_.answered = true;
    }
    shared_.askCv.notify_one();
    question_.clear();
    if (showWhenAnswered_) {
        showWhenAnswered_ = false;
        showProgress();
    }
}

bool Session::isOurs(QWidget *w) const
{
    QWidget *top = w->window();
    // An open question is answered before anything else, Cancel included.
    if (question_)
        return top == question_.data();
    return progress_ && top == progress_.data();
}

bool Session::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowActivate: {
        // A click on the owner makes the window manager activate it; the
        // question or the progress window takes the front and focus back.
        auto *w = qobject_cast<QWidget *>(watched);
        if (w && w->isWindow() && !isOurs(w)) {
            QTimer::singleShot(0, this, [this] {
                QWidget *front = question_ ? static_cast<QWidget *>(question_.data())
                                           : static_cast<QWidget *>(progress_.data());
                QWidget *active = QApplication::activeWindow();
                if (front && front->isVisible() && active && !isOurs(active)) {
                    front->raise();
                    front->activateWindow();
                }
            });
        }
        return false;
    }
    default: {
        // The window system's close box on the owner counts as input; the
        // program's own close() calls are not input and pass.
        const bool closeBox = event->type() == QEvent::Close && event->spontaneous();
        if (!closeBox && !manners::isUserInput(event->type()))
            return false;
        auto *w = qobject_cast<QWidget *>(watched);
        if (!w && event->type() == QEvent::Close && watched->isWindowType()) {
            // The close request reaches the native window first; refusing
            // it there makes the window system's close fail, not just the
            // widget's.
            for (QWidget *top : QApplication::topLevelWidgets())
                if (top->windowHandle() == watched)
                    w = top;
            if (!w)
                return false;
        }
        if (!w) {
            // Native windows pass events on to their widgets, where they
            // are judged; shortcuts go to actions and are judged here.
            if (event->type() != QEvent::Shortcut)
                return false;
            QWidget *active = QApplication::activeWindow();
            if (active && isOurs(active))
                return false;
        } else if (isOurs(w)) {
            return false;
        }
        event->ignore();
        return true;
    }
    }
}

} // namespace

int runWithOwner(uintptr_t ownerWindow, const std::string &archiveDisplayName,
                 const std::function<int(Observer &)> &work)
{
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread() || ownerWindow == 0)
        return -1;
    QWidget *found = QWidget::find(WId(ownerWindow));
    if (!found)
        return -1;
    Session session(found->window(),
                    QString::fromUtf8(archiveDisplayName.data(), qsizetype(archiveDisplayName.size())),
                    work);
    return session.run();
}

} // namespace unlha
