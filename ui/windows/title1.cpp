#include "ui/windows/title1.h"

#include "app/ending.h"
#include "ui/main/form2.h"
#include "ui/resources/texts.h"
#include "ui/windows/fonts.h"
#include "ui/windows/geometry.h"
#include "ui/windows/widgets.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <qdrawutil.h>

title1::title1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("title1"));
    // A splash window has neither title bar nor taskbar entry. Window
    // managers put no frame around it either: the card draws its own.
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setFixedSize(tw(7380) + 2 * kFrameWidth, tw(3990) + 2 * kFrameWidth);
    setFocusPolicy(Qt::NoFocus);

    client = new QWidget(this);
    client->setGeometry(kFrameWidth, kFrameWidth, tw(7380), tw(3990));

    Frame1 = new QFrame(client);
    Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken); // etched
    placeTw(Frame1, 120, 120, 7080, 3690);

    imgLogo = makePicture(Frame1, icons::kFloppy, true);
    placeTw(imgLogo, 600, 960, 1815, 2025);

    lblProductName = new QLabel(texts::kProductName, Frame1);
    lblProductName->setFont(maruGothic(36));
    placeTw(lblProductName, 3120, 1320, 2220, 720);
    // Sized to the text in whatever face stands in; the left edge stays.
    lblProductName->adjustSize();

    lblVersion = new QLabel(texts::kTitleVersion, Frame1);
    lblVersion->setFont(maruGothic(12));
    lblVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    placeTw(lblVersion, 3960, 2520, 2820, 240);
    // Right-aligned text keeps its right edge when the label is fitted.
    const int right = lblVersion->geometry().right();
    lblVersion->adjustSize();
    lblVersion->move(right - lblVersion->width() + 1, lblVersion->y());

    lblCopyright = new QLabel(texts::kCopyright, Frame1);
    placeTw(lblCopyright, 4080, 3240, 2775, 255);

    Timer1 = new QTimer(this);
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, &title1::Timer1_Timer);
    Timer1->start();

    // Nothing else places the card: the window manager may not centre it.
    centreOnScreen(*this);
}

void title1::Timer1_Timer()
{
    form2().show();
    form2().activateWindow();
    Timer1->stop();
    hide();
}

void title1::paintEvent(QPaintEvent *)
{
    // A fixed dialog frame: two raised bevels, then a line of the face.
    QPainter p(this);
    qDrawWinPanel(&p, rect(), palette(), false);
}

void title1::Form_Unload() { endProgram(); }

void title1::closeEvent(QCloseEvent *event)
{
    event->ignore();
    Form_Unload();
}

title1 &title1Window()
{
    static title1 *instance = new title1;
    return *instance;
}
