// The input that a window ignores while another one is in charge: a window
// of the program disabled by another, and the owner window while the archive
// library runs. Both swallow the same events and let the same others pass;
// the two lists used to differ (Enter, hover and tooltips in one, touch in
// the other).
#include "tests/unlha32_ui/ownerui_support.h"
#include "ui/windows/disabling.h"
#include "unlha32/ownerui.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTouchEvent>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

namespace {

// Records which events reach it.
class Recorder : public QWidget {
public:
    using QWidget::QWidget;
    QList<QEvent::Type> seen;

protected:
    bool event(QEvent *e) override
    {
        seen.append(e->type());
        return QWidget::event(e);
    }
};

std::unique_ptr<QEvent> makeEvent(QEvent::Type type)
{
    const QPointF at(5, 5);
    switch (type) {
    case QEvent::MouseButtonPress:
        return std::make_unique<QMouseEvent>(type, at, at, Qt::LeftButton, Qt::LeftButton,
                                             Qt::NoModifier);
    case QEvent::KeyPress:
        return std::make_unique<QKeyEvent>(type, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    case QEvent::Wheel:
        return std::make_unique<QWheelEvent>(at, at, QPoint(), QPoint(0, 120), Qt::NoButton,
                                             Qt::NoModifier, Qt::NoScrollPhase, false);
    case QEvent::Enter:
        return std::make_unique<QEnterEvent>(at, at, at);
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        return std::make_unique<QHoverEvent>(type, at, at, at);
    case QEvent::ToolTip:
    case QEvent::WhatsThis:
        return std::make_unique<QHelpEvent>(type, at.toPoint(), at.toPoint());
    case QEvent::TouchBegin:
    case QEvent::TouchCancel:
        return std::make_unique<QTouchEvent>(type);
    default:
        return std::make_unique<QEvent>(type);
    }
}

// Sends one event of `type` to `target`; whether it arrived.
bool arrives(Recorder &target, QEvent::Type type)
{
    target.seen.clear();
    const std::unique_ptr<QEvent> e = makeEvent(type);
    QCoreApplication::sendEvent(&target, e.get());
    return target.seen.contains(type);
}

} // namespace

class TstIgnoredInput : public QObject {
    Q_OBJECT
private slots:
    void disabledWindow_data() { rows(); }
    void disabledWindow();
    void ownerDuringTheLibrarysRun_data() { rows(); }
    void ownerDuringTheLibrarysRun();

private:
    static void rows()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("ignored");
        QTest::newRow("mouse press") << int(QEvent::MouseButtonPress) << true;
        QTest::newRow("key press") << int(QEvent::KeyPress) << true;
        QTest::newRow("wheel") << int(QEvent::Wheel) << true;
        QTest::newRow("enter") << int(QEvent::Enter) << true;
        QTest::newRow("hover enter") << int(QEvent::HoverEnter) << true;
        QTest::newRow("hover move") << int(QEvent::HoverMove) << true;
        QTest::newRow("tooltip") << int(QEvent::ToolTip) << true;
        QTest::newRow("what's this") << int(QEvent::WhatsThis) << true;
        QTest::newRow("touch begin") << int(QEvent::TouchBegin) << true;
        QTest::newRow("touch cancel") << int(QEvent::TouchCancel) << true;
        // A highlight from before must be able to go away.
        QTest::newRow("leave") << int(QEvent::Leave) << false;
        QTest::newRow("hover leave") << int(QEvent::HoverLeave) << false;
    }
};

void TstIgnoredInput::disabledWindow()
{
    QFETCH(int, type);
    QFETCH(bool, ignored);
    QWidget window, inCharge;
    auto *target = new Recorder(&window);
    target->setAttribute(Qt::WA_AcceptTouchEvents);
    window.show();
    inCharge.show();
    QVERIFY(arrives(*target, QEvent::Type(type)));

    disableWindow(window, inCharge);
    QCOMPARE(arrives(*target, QEvent::Type(type)), !ignored);
    // The window in charge itself takes everything.
    auto *own = new Recorder(&inCharge);
    own->setAttribute(Qt::WA_AcceptTouchEvents);
    QVERIFY(arrives(*own, QEvent::Type(type)));

    enableWindow(window);
    QVERIFY(arrives(*target, QEvent::Type(type)));
}

void TstIgnoredInput::ownerDuringTheLibrarysRun()
{
    QFETCH(int, type);
    QFETCH(bool, ignored);
    Owner owner;
    auto *target = new Recorder(&owner.window);
    target->setAttribute(Qt::WA_AcceptTouchEvents);
    target->show();
    QVERIFY(arrives(*target, QEvent::Type(type)));

    std::atomic<bool> release{false};
    bool arrived = false;
    Driver driver([&](qint64) {
        arrived = arrives(*target, QEvent::Type(type));
        release = true;
        return true;
    });
    const int r = unlha::runWithOwner(owner.id(), "a.lzh", [&](unlha::Observer &) {
        return waitFor(release) ? 0 : -1;
    });
    QCOMPARE(r, 0);
    QCOMPARE(arrived, !ignored);
    QVERIFY(arrives(*target, QEvent::Type(type)));
}

QTEST_MAIN(TstIgnoredInput)
#include "tst_ignored_input.moc"
