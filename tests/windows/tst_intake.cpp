// The start-up decision and the centring arithmetic, without windows.
#include "app/intake.h"
#include "app/startup.h"
#include "ui/windows/geometry.h"

#include <QtTest>

#include <vector>

Q_DECLARE_METATYPE(FirstWindow)

class TstIntake : public QObject {
    Q_OBJECT
private slots:
    void decision_data();
    void decision();
    void argumentsJoinedAsDelivered_data();
    void argumentsJoinedAsDelivered();
    void centring();
    void centringByOuterSize_data();
    void centringByOuterSize();
    void platformForSession_data();
    void platformForSession();
};

void TstIntake::decision_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<FirstWindow>("expected");

    QTest::newRow("empty") << "" << "" << FirstWindow::NoFileNotice;
    QTest::newRow("upper-case LZH") << "/home/u/a.LZH" << "LZH" << FirstWindow::TitleCard;
    // The ending in any case, and .lha, the same format's other name.
    QTest::newRow("lower-case lzh") << "/home/u/a.lzh" << "lzh" << FirstWindow::TitleCard;
    QTest::newRow("mixed-case Lzh") << "/home/u/a.Lzh" << "Lzh" << FirstWindow::TitleCard;
    QTest::newRow("mixed-case lZh") << "/home/u/a.lZh" << "lZh" << FirstWindow::TitleCard;
    QTest::newRow("lower-case lha") << "/home/u/a.lha" << "lha" << FirstWindow::TitleCard;
    QTest::newRow("upper-case LHA") << "/home/u/A.LHA" << "LHA" << FirstWindow::TitleCard;
    QTest::newRow("exactly lha") << "lha" << "lha" << FirstWindow::TitleCard;
    // Near misses: other letters, other endings, one letter short.
    QTest::newRow("lzs (LArc)") << "/home/u/a.lzs" << "lzs" << FirstWindow::NotArchiveNotice;
    QTest::newRow("lzx") << "/home/u/a.lzx" << "lzx" << FirstWindow::NotArchiveNotice;
    QTest::newRow("hal") << "/home/u/a.hal" << "hal" << FirstWindow::NotArchiveNotice;
    QTest::newRow("lz") << "/home/u/a.lz" << ".lz" << FirstWindow::NotArchiveNotice;
    QTest::newRow("lzh.txt") << "/home/u/a.lzh.txt" << "txt" << FirstWindow::NotArchiveNotice;
    QTest::newRow("full-width small letters") << "a.ｌｚｈ" << "ｌｚｈ" << FirstWindow::NotArchiveNotice;
    QTest::newRow("quoted") << "\"/home/u/a b.LZH\"" << "ZH\"" << FirstWindow::NotArchiveNotice;
    QTest::newRow("trailing blank") << "/home/u/a.LZH " << "ZH " << FirstWindow::NotArchiveNotice;
    QTest::newRow("exactly LZH") << "LZH" << "LZH" << FirstWindow::TitleCard;
    QTest::newRow("two characters") << "ZH" << "ZH" << FirstWindow::NotArchiveNotice;
    QTest::newRow("one character") << "H" << "H" << FirstWindow::NotArchiveNotice;
    QTest::newRow("no dot") << "ABCLZH" << "LZH" << FirstWindow::TitleCard;
    QTest::newRow("two paths") << "/a/x.txt /b/y.LZH" << "LZH" << FirstWindow::TitleCard;
    QTest::newRow("full-width letters") << "a.ＬＺＨ" << "ＬＺＨ" << FirstWindow::NotArchiveNotice;
    QTest::newRow("blank only") << " " << " " << FirstWindow::NotArchiveNotice;
}

void TstIntake::decision()
{
    QFETCH(QString, args);
    QFETCH(QString, ext);
    QFETCH(FirstWindow, expected);
    QCOMPARE(lastThree(args), ext);
    QCOMPARE(decideFirstWindow(args, lastThree(args)), expected);
}

void TstIntake::argumentsJoinedAsDelivered_data()
{
    QTest::addColumn<QByteArrayList>("argv");
    QTest::addColumn<QString>("joined");
    QTest::newRow("none") << QByteArrayList{"hoguren"} << QString();
    // Blanks inside one argument stay; arguments are joined by one blank;
    // quotation marks and Qt's own option names pass through untouched.
    QTest::newRow("several")
        << QByteArrayList{"hoguren", "/tmp/a b.LZH", "-platform", "\"q\"",
                          "/tmp/\xe3\x82\xb5\xe3\x83\xb3\xe3\x83\x97\xe3\x83\xab.LZH"}
        << QStringLiteral("/tmp/a b.LZH -platform \"q\" /tmp/サンプル.LZH");
    // An empty argument still contributes its separating blank.
    QTest::newRow("empty") << QByteArrayList{"hoguren", ""} << QString();
    QTest::newRow("empty, then a file") << QByteArrayList{"hoguren", "", "x.LZH"} << QStringLiteral(" x.LZH");
}

void TstIntake::argumentsJoinedAsDelivered()
{
    QFETCH(QByteArrayList, argv);
    QFETCH(QString, joined);
    std::vector<const char *> args;
    for (const QByteArray &a : argv)
        args.push_back(a.constData());
    QCOMPARE(joinArguments(int(args.size()), args.data()), joined);
}

void TstIntake::centring()
{
    // The main window (631 x 385 client, no frame) on a 1280 x 1024 screen.
    QPointF p = centredTwips(1280 * 15, 1024 * 15, 631 * 15, 385 * 15);
    QCOMPARE(p.x(), 4867.5);
    QCOMPARE(p.y(), 4792.5);
    QCOMPARE(twipsToPixels(float(p.x())), 324);
    QCOMPARE(twipsToPixels(float(p.y())), 319);

    // A screen smaller than the window: negative, neither clamped nor rounded.
    p = centredTwips(600 * 15, 300 * 15, 631 * 15, 385 * 15);
    QCOMPARE(p.x(), -232.5);
    QCOMPARE(p.y(), -637.5);
    QCOMPARE(twipsToPixels(float(p.x())), -16);
    QCOMPARE(twipsToPixels(float(p.y())), -43);

    // Exactly the window's size.
    p = centredTwips(9465, 5775, 9465, 5775);
    QCOMPARE(p, QPointF(0, 0));

    // Single precision: the half-twip survives at the sizes screens have.
    p = centredTwips(3840 * 15, 2160 * 15, 9466, 5776);
    QCOMPARE(p.x(), 24067.0);
    QCOMPARE(p.y(), 13312.0);
    p = centredTwips(3840 * 15, 2160 * 15, 9465, 5775);
    QCOMPARE(p.x(), 24067.5);

    QCOMPARE(tw(9465), 631);
    QCOMPARE(tw(14), 0);
    QCOMPARE(twipsToPixels(14.9f), 0);
    QCOMPARE(twipsToPixels(-0.5f), -1);
}

void TstIntake::centringByOuterSize_data()
{
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QMargins>("frame");
    QTest::addColumn<QPoint>("frameCorner");

    // The main window under Openbox (1-px borders, 20-px title bar) and
    // Xfwm4 (5 and 29): the outer size is centred, half pixels rounded down.
    QTest::newRow("openbox") << QRect(0, 0, 1024, 768) << QSize(631, 385) << QMargins(1, 20, 1, 1)
                             << QPoint(195, 181);
    QTest::newRow("xfwm4") << QRect(0, 0, 1024, 768) << QSize(631, 385) << QMargins(5, 29, 5, 5)
                           << QPoint(191, 174);
    QTest::newRow("openbox 1280x1024") << QRect(0, 0, 1280, 1024) << QSize(631, 385)
                                       << QMargins(1, 20, 1, 1) << QPoint(323, 309);
    QTest::newRow("no frame") << QRect(0, 0, 1280, 1024) << QSize(631, 385) << QMargins()
                              << QPoint(324, 319);
    // A primary screen right of another one; a screen lower than the window.
    QTest::newRow("second screen") << QRect(1920, 0, 1024, 768) << QSize(631, 385)
                                   << QMargins(1, 20, 1, 1) << QPoint(1920 + 195, 181);
    QTest::newRow("overhanging") << QRect(0, 0, 600, 300) << QSize(631, 385)
                                 << QMargins(1, 20, 1, 1) << QPoint(-17, -53);
}

void TstIntake::centringByOuterSize()
{
    QFETCH(QRect, screen);
    QFETCH(QSize, client);
    QFETCH(QMargins, frame);
    QFETCH(QPoint, frameCorner);
    const QPoint c = centredClientPosition(screen, client, frame);
    QCOMPARE(c - QPoint(frame.left(), frame.top()), frameCorner);
}

void TstIntake::platformForSession_data()
{
    QTest::addColumn<QByteArray>("qpa");
    QTest::addColumn<QByteArray>("waylandDisplay");
    QTest::addColumn<QByteArray>("sessionType");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("X11 session") << QByteArray() << QByteArray() << QByteArray("x11") << QByteArray();
    QTest::newRow("no session type") << QByteArray() << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("Wayland display") << QByteArray() << QByteArray("wayland-0") << QByteArray()
                                     << QByteArray("xcb;wayland");
    QTest::newRow("Wayland session") << QByteArray() << QByteArray() << QByteArray("wayland")
                                     << QByteArray("xcb;wayland");
    QTest::newRow("user chose Wayland") << QByteArray("wayland") << QByteArray("wayland-0")
                                        << QByteArray("wayland") << QByteArray();
    QTest::newRow("user chose offscreen") << QByteArray("offscreen") << QByteArray()
                                          << QByteArray("x11") << QByteArray();
}

void TstIntake::platformForSession()
{
    QFETCH(QByteArray, qpa);
    QFETCH(QByteArray, waylandDisplay);
    QFETCH(QByteArray, sessionType);
    QFETCH(QByteArray, expected);
    QCOMPARE(::platformForSession(qpa, waylandDisplay, sessionType), expected);
}

QTEST_APPLESS_MAIN(TstIntake)
#include "tst_intake.moc"
