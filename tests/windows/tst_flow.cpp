// How the windows hand over to each other: the start-up decision on real
// windows, the title card's tick, who disables whom, where the program ends,
// the drag gesture and the message box.
#include "app/ending.h"
#include "app/intake.h"
#include "tests/common/msgboxes.h"
#include "ui/main/dirlistbox.h"
#include "ui/main/form2.h"
#include "ui/windows/disabling.h"
#include "ui/windows/form10.h"
#include "ui/windows/form3.h"
#include "ui/windows/form5.h"
#include "ui/windows/geometry.h"
#include "ui/windows/title1.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

namespace {
int g_ends = 0;

// Runs `act` and reports whether it reached the end operation.
template <typename F> bool ends(F act)
{
    const int before = g_ends;
    act();
    return g_ends == before + 1;
}

void hideAll()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        w->hide();
}

class CloseCounter : public QWidget {
public:
    int closes = 0;
protected:
    void closeEvent(QCloseEvent *e) override { ++closes; QWidget::closeEvent(e); }
};
} // namespace

class TstFlow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void startUpShowsOneWindow();
    void titleCardHandsOver();
    void versionWindowDisablesItsOpeners();
    void endOperationReachedFromEachPlace();
    void dragStartsAtPressAndOnlyDropsOnDrive();
    void messageBox();
    void messageBoxAnswers_data();
    void messageBoxAnswers();
    void messageBoxKeepsTheFront();
    void realEndLeavesEveryLoopWithoutCloseHandlers(); // last: ends the loop
};

void TstFlow::initTestCase()
{
    setEndProgramHook([] { ++g_ends; });
}

void TstFlow::startUpShowsOneWindow()
{
    // The archive case first: the only one that creates the title card, and
    // one that must leave the main window enabled for the card to show.
    setCommandLine(QStringLiteral("/a/x.txt /b/y.LZH"));
    form2().Form_Load();
    QCOMPARE(form2().Label1->text(), QStringLiteral("/a/x.txt /b/y.LZH"));
    QCOMPARE(form2().Text2->text(), QStringLiteral("LZH"));
    QVERIFY(!form2().isVisible());
    QVERIFY(title1Window().isVisible());
    QVERIFY(!form5Exists());
    QVERIFY(isWindowEnabled(form2()));

    // Centred with its outer size before it was hidden.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QSize outer = form2().frameGeometry().size();
    const QPointF t = centredTwips(screen.width() * 15.f, screen.height() * 15.f,
                                   outer.width() * 15.f, outer.height() * 15.f);
    QCOMPARE(form2().pos(), QPoint(twipsToPixels(float(t.x())), twipsToPixels(float(t.y()))));
    // Whatever changes its recorded place before it first shows (Openbox's
    // answer to the frame request does), it shows where it was centred.
    const QPoint centred = form2().pos();
    form2().move(1, 20);
    form2().show();
    QCOMPARE(form2().pos(), centred);
    hideAll();

    // Small letters are an archive too; Text2 keeps them as they came.
    setCommandLine(QStringLiteral("/b/y.lzh"));
    form2().Form_Load();
    QCOMPARE(form2().Text2->text(), QStringLiteral("lzh"));
    QVERIFY(title1Window().isVisible());
    hideAll();

    setCommandLine(QStringLiteral("/b/y.lzs"));
    form2().Form_Load();
    QCOMPARE(form2().Text2->text(), QStringLiteral("lzs"));
    QVERIFY(form10().isVisible());
    QVERIFY(!form2().isVisible());
    QVERIFY(isWindowEnabled(form2())); // Form10 leaves the main window alone
    hideAll();

    setCommandLine(QString());
    form2().Form_Load();
    QCOMPARE(form2().Label1->text(), QString());
    QCOMPARE(form2().Text2->text(), QString());
    QVERIFY(form3().isVisible());
    QVERIFY(!form2().isVisible());
    QVERIFY(!isWindowEnabled(form2())); // the notice disables the hidden main window
    hideAll();
    enableWindow(form2());
}

void TstFlow::titleCardHandsOver()
{
    title1 &t = title1Window();
    t.Timer1->start(); // as at creation
    t.show();
    QVERIFY(!form2().isVisible());

    // Clicks and keys neither end nor restart the display.
    const int before = t.Timer1->remainingTime();
    QTest::mouseClick(t.lblProductName, Qt::LeftButton);
    QTest::keyClick(&t, Qt::Key_Escape);
    QTest::keyClick(&t, Qt::Key_Return);
    QVERIFY(t.isVisible());
    QVERIFY(t.Timer1->isActive());
    QVERIFY(t.Timer1->remainingTime() <= before);
    QCOMPARE(t.Timer1->interval(), 2000);

    // Drive the real timer: shorten it rather than wait two seconds.
    t.Timer1->setInterval(1);
    QTRY_VERIFY(form2().isVisible());
    QVERIFY(!t.isVisible());
    QVERIFY(!t.Timer1->isActive());
    // Stopped, so it never comes back.
    QTest::qWait(20);
    QVERIFY(form2().isVisible());
    QVERIFY(!t.isVisible());
    t.Timer1->setInterval(2000);
    hideAll();
}

void TstFlow::versionWindowDisablesItsOpeners()
{
    form2().show();
    form2().Command3->click();
    Form5 &v = form5();
    QVERIFY(v.isVisible());
    QVERIFY(!isWindowEnabled(form2()));
    QVERIFY(!isWindowEnabled(form3()));
    QVERIFY(!form3().isVisible()); // disabled, never shown
    QVERIFY(isWindowEnabled(v));

    // A disabled main window ignores its close box instead of ending, and
    // every other input: キャンセル clicked or pressed with the keyboard.
    QVERIFY(!ends([] { form2().close(); }));
    QVERIFY(!ends([] {
        QTest::mouseClick(form2().Command2, Qt::LeftButton);
        QTest::keyClick(form2().Command2, Qt::Key_Space);
    }));
    // It looks as it does enabled: nothing in it is greyed.
    const QImage disabledLook = form2().grab().toImage();
    enableWindow(form2());
    const QImage enabledLook = form2().grab().toImage();
    disableWindow(form2(), v);
    QVERIFY(disabledLook == enabledLook);
    // Brought to the front (the window manager activates a window that is
    // clicked), it hands the focus back to the version window.
    QTRY_COMPARE(QApplication::activeWindow(), &v);
    QSignalSpy focus(qApp, &QGuiApplication::focusWindowChanged);
    form2().activateWindow();
    QTRY_COMPARE(focus.size(), 2);
    QCOMPARE(focus[0][0].value<QWindow *>(), form2().windowHandle());
    QCOMPARE(focus[1][0].value<QWindow *>(), v.windowHandle());

    v.move(17, 23);
    v.Command1->click();
    QVERIFY(!v.isVisible());
    QVERIFY(isWindowEnabled(form2()));
    QVERIFY(isWindowEnabled(form3()));
    QVERIFY(form2().isVisible());
    QVERIFY(!form3().isVisible());

    // Again from the notice: same window, last position kept.
    form2().hide();
    form3().show();
    form3().Command2->click();
    QVERIFY(v.isVisible());
    QCOMPARE(&form5(), &v);
    QCOMPARE(v.pos(), QPoint(17, 23));
    QVERIFY(!isWindowEnabled(form3()));
    QVERIFY(!isWindowEnabled(form2()));
    QVERIFY(!ends([] { form3().close(); }));

    // Closing from the frame behaves like OK.
    QVERIFY(!ends([&] { v.close(); }));
    QVERIFY(!v.isVisible());
    QVERIFY(isWindowEnabled(form3()));
    QVERIFY(isWindowEnabled(form2()));
    QVERIFY(form3().isVisible());
    QVERIFY(!form2().isVisible());
    hideAll();
}

void TstFlow::endOperationReachedFromEachPlace()
{
    form2().show();
    form3().show();
    form10().show();
    title1Window().show();

    QVERIFY(ends([] { form2().Command2->click(); }));
    QVERIFY(ends([] { form2().close(); }));
    QVERIFY(ends([] { form3().Command1->click(); }));
    QVERIFY(ends([] { form3().close(); }));
    QVERIFY(ends([] { form10().Command1->click(); }));
    QVERIFY(ends([] { form10().close(); }));
    QVERIFY(ends([] { title1Window().close(); }));

    // Nowhere else.
    QVERIFY(!ends([] { form2().Command1->click(); }));
    QVERIFY(!ends([] { form5().Command1->click(); }));
    QVERIFY(!ends([] { form5().close(); }));
    QVERIFY(!ends([] { form2().Command3->click(); form5().Command1->click(); }));
    QVERIFY(!ends([] { form3().Command2->click(); form5().Command1->click(); }));
    // Enter and Esc press no button.
    QVERIFY(!ends([] {
        QTest::keyClick(form2().Command2, Qt::Key_Return);
        QTest::keyClick(&form2(), Qt::Key_Escape);
        QTest::keyClick(&form10(), Qt::Key_Return);
        QTest::keyClick(&form3(), Qt::Key_Escape);
    }));
    hideAll();
}

void TstFlow::dragStartsAtPressAndOnlyDropsOnDrive()
{
    Form2 &f = form2();
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    // What reaches the drop handler is seen through its log line, so no
    // extraction runs here; the e2e test drives the real drop.
    static QStringList drops;
    drops.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("hoguren.drop.debug=true"));
    const QtMessageHandler old = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &ctx, const QString &msg) {
            if (QByteArray(ctx.category) == "hoguren.drop")
                drops << msg;
        });

    // The hit test must see the drive picture, or the misses below prove nothing.
    QCOMPARE(QApplication::widgetAt(f.Image2->mapToGlobal(f.Image2->rect().center())),
             static_cast<QWidget *>(f.Image2));

    auto over = [&](QWidget *w) { return f.Image1->mapFromGlobal(w->mapToGlobal(w->rect().center())); };
    const QList<QWidget *> elsewhere{f.Image1, f.Image4, f.Label2, f.Label1,
                                     static_cast<QWidget *>(f.Dir4), f.Command2};
    for (QWidget *target : elsewhere) {
        QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(f.isDragging());
        QCOMPARE(QWidget::mouseGrabber(), f.Image1);
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->pixmap().toImage(),
                 QImage(QStringLiteral(":/icons/tilted-floppy.png")).convertToFormat(
                     QGuiApplication::overrideCursor()->pixmap().toImage().format()));
        QTest::mouseRelease(f.Image1, Qt::LeftButton, {}, over(target));
        QVERIFY(!f.isDragging());
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }
    // Outside the window.
    QTest::mousePress(f.Image1, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(f.Image1, Qt::LeftButton, {}, QPoint(-500, -500));
    // The right button starts nothing.
    QTest::mousePress(f.Image1, Qt::RightButton, {}, QPoint(10, 10));
    QVERIFY(!f.isDragging());
    QTest::mouseRelease(f.Image1, Qt::RightButton, {}, over(f.Image2));
    QVERIFY(drops.isEmpty());

    qInstallMessageHandler(old);
    QLoggingCategory::setFilterRules(QString());
    hideAll();
}

void TstFlow::messageBox()
{
    QList<Box> seen;
    recordBoxes(seen, [] { return kIdCancel; });
    QCOMPARE(msgBox(QStringLiteral("一行目\r二行目"), kMbOkCancel, QStringLiteral("題")), kIdCancel);
    setMsgBoxHook({});
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, QStringLiteral("一行目\r二行目"));
    QCOMPARE(seen[0].style, 49);
    QCOMPARE(seen[0].title, QStringLiteral("題"));

    QCOMPARE(msgBoxDisplayText(QStringLiteral("a\rb\r\nc\nd")), QStringLiteral("a\nb\nc\nd"));
}

// Real boxes: inspected while open, then answered with a key.
void TstFlow::messageBoxAnswers_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("buttons");
    QTest::newRow("OK and Cancel, Esc") << kMbOkCancel << int(Qt::Key_Escape) << kIdCancel << 2;
    QTest::newRow("OK and Cancel, Enter") << kMbOkCancel << int(Qt::Key_Return) << kIdOk << 2;
    QTest::newRow("OK, Enter") << kMbOk << int(Qt::Key_Return) << kIdOk << 1;
    QTest::newRow("OK, Esc") << kMbOk << int(Qt::Key_Escape) << kIdOk << 1;
}

void TstFlow::messageBoxAnswers()
{
    QFETCH(int, style);
    QFETCH(int, key);
    QFETCH(int, expected);
    QFETCH(int, buttons);
    QString shownText;
    QString defaultText;
    int shownButtons = 0;
    int width = 0;
    Qt::WindowModality modality = Qt::NonModal;
    QTimer::singleShot(0, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box || !box->isVisible())
                continue;
            shownText = box->text();
            defaultText = box->defaultButton() ? box->defaultButton()->text() : QString();
            shownButtons = box->buttons().size();
            modality = box->windowModality();
            width = box->width();
            QTest::keyClick(box, Qt::Key(key));
        }
    });
    QCOMPARE(msgBox(QStringLiteral("上\r下"), style, QStringLiteral("エラーメッセージ")), expected);
    QCOMPARE(shownText, QStringLiteral("上\n下"));
    QCOMPARE(defaultText, QStringLiteral("OK"));
    QCOMPARE(shownButtons, buttons);
    QCOMPARE(modality, Qt::ApplicationModal);
    // Wide enough for the whole title in the desktop's bold face beside
    // a window icon and three title-bar buttons, not just for the text.
    const QFontMetrics wm(QFont(QStringLiteral("Sans"), 9, QFont::Bold));
    QVERIFY2(width >= wm.horizontalAdvance(QStringLiteral("エラーメッセージ")) + 4 * wm.height(),
             QByteArray::number(width));
}

void TstFlow::messageBoxKeepsTheFront()
{
    // A window that the box blocks, brought to the front, hands the focus
    // back to the box.
    form2().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form2()));
    QList<QWindow *> focus;
    QWindow *boxWindow = nullptr;
    QTimer::singleShot(0, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || !QTest::qWaitForWindowActive(box))
            return;
        boxWindow = box->windowHandle();
        const auto c = connect(qApp, &QGuiApplication::focusWindowChanged,
                               [&](QWindow *w) { focus << w; });
        form2().activateWindow();
        if (QTest::qWaitFor([&] { return focus.size() >= 2; }))
            QTest::qWait(50); // and no third change
        disconnect(c);
        QTest::keyClick(box, Qt::Key_Return);
    });
    msgBox(QStringLiteral("上"), kMbOk, QStringLiteral("題"));
    QVERIFY(boxWindow);
    QCOMPARE(focus, (QList<QWindow *>{form2().windowHandle(), boxWindow}));
    hideAll();
}

void TstFlow::realEndLeavesEveryLoopWithoutCloseHandlers()
{
    setEndProgramHook({});
    CloseCounter bystander;
    bystander.show();
    form2().show();

    bool innerLeft = false;
    QTimer::singleShot(0, [&] {
        // A nested loop, as under an open message box.
        QEventLoop inner;
        QTimer::singleShot(0, [] { endProgram(); });
        inner.exec();
        innerLeft = true;
    });
    const int rc = QApplication::exec();
    QCOMPARE(rc, 0);
    QVERIFY(innerLeft);
    QCOMPARE(bystander.closes, 0);
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
}

QTEST_MAIN(TstFlow)
#include "tst_flow.moc"
