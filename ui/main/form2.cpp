#include "ui/main/form2.h"

#include "app/ending.h"
#include "app/extraction.h"
#include "app/intake.h"
#include "ui/main/dirlistbox.h"
#include "ui/main/drivelistbox.h"
#include "ui/resources/texts.h"
#include "ui/windows/disabling.h"
#include "ui/windows/fonts.h"
#include "ui/windows/form10.h"
#include "ui/windows/form3.h"
#include "ui/windows/form5.h"
#include "ui/windows/geometry.h"
#include "ui/windows/title1.h"
#include "ui/windows/widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPushButton>

// Off unless enabled through Qt's logging rules; lets a test see that a
// drop reached the handler without depending on what the extraction does.
Q_LOGGING_CATEGORY(lcDrop, "hoguren.drop", QtWarningMsg)
// Likewise the intake's decision, for a test that starts the program on
// every name the desktop entry's types stand for.
Q_LOGGING_CATEGORY(lcIntake, "hoguren.intake", QtWarningMsg)

Form2::Form2(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setupFixedWindow(*this, texts::kForm2Caption, 9465, 5775);

    Label8 = makeText(this, texts::kForm2Instruction);
    placeTw(Label8, 1080, 480, 7455, 255);

    Image1 = makePicture(this, icons::kFloppy, true);
    placeTw(Image1, 1800, 840, 975, 975);
    Image1->installEventFilter(this);

    Image4 = makePicture(this, icons::kArrow, false);
    placeTw(Image4, 4440, 1080, 480, 480);

    Image2 = makePicture(this, icons::kDrive, true);
    placeTw(Image2, 7200, 840, 720, 735);

    Label2 = makeText(this, texts::kForm2Run);
    placeTw(Label2, 6480, 1560, 2055, 375);
    Label2->setFont(msPGothic(18));
    QPalette blue = Label2->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label2->setPalette(blue);

    Label6 = makeText(this, texts::kForm2Source);
    placeTw(Label6, 360, 2040, 1215, 255);

    Label1 = makeText(this, texts::kForm2Label1Design);
    placeTw(Label1, 600, 2400, 3735, 255);
    Label1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Label1->setLineWidth(1);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label1->setWordWrap(false);

    Label3 = makeText(this, texts::kForm2Destination);
    placeTw(Label3, 6000, 2280, 1935, 375);
    Label3->setFont(msPGothic(14.25));

    Dir4 = new DirListBox(this);
    placeTw(Dir4, 6000, 2640, 3135, 2130);

    Drive4 = new DriveListBox(this);
    placeTw(Drive4, 6000, 4800, 3135, 300);

    Command1 = makeButton(this, texts::kForm2NewFolder);
    placeTw(Command1, 6000, 5160, 3135, 375);

    Command3 = makeButton(this, texts::kVersionButton);
    placeTw(Command3, 1200, 3600, 3375, 615);

    Command2 = makeButton(this, texts::kForm2Cancel);
    placeTw(Command2, 1200, 4200, 3375, 615);

    // Below the client area: never seen, but still holds its value.
    Text2 = new QLineEdit(texts::kForm2Text2Design, this);
    placeTw(Text2, 2400, 6720, 3375, 375);

    Dir4->setFocus();
    setTabOrder(Dir4, Drive4);
    setTabOrder(Drive4, Command1);
    setTabOrder(Command1, Command3);
    setTabOrder(Command3, Command2);
    setTabOrder(Command2, Text2);

    connect(Drive4, &DriveListBox::changed, this, &Form2::Drive4_Change);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
}

void Form2::Form_Load()
{
    centreOnScreen(*this);
    Drive4->setDrive(programFolder());
    Label1->setText(commandLine());
    Text2->setText(lastThree(Label1->text()));

    switch (decideFirstWindow(Label1->text(), Text2->text())) {
    case FirstWindow::NoFileNotice:
        qCDebug(lcIntake, "first window: no-file notice");
        hide();
        form3().show();
        break;
    case FirstWindow::TitleCard:
        qCDebug(lcIntake, "first window: title card");
        hide();
        title1Window().show();
        break;
    case FirstWindow::NotArchiveNotice:
        qCDebug(lcIntake, "first window: not-an-archive notice");
        form10().show();
        hide();
        break;
    }
}

void Form2::Command2_Click() { endProgram(); }

void Form2::Command3_Click() { openVersionWindow(); }

void Form2::Image2_DragDrop()
{
    qCDebug(lcDrop) << "Image2_DragDrop";
    runExtraction(*this);
}

void Form2::Form_Unload() { endProgram(); }

void Form2::closeEvent(QCloseEvent *event)
{
    // The program does all its hiding itself; a disabled window (a dialog
    // of ours is in charge) ignores its close box like its other controls.
    event->ignore();
    if (isWindowEnabled(*this))
        Form_Unload();
}

bool Form2::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != Image1)
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: { // the second press of a double click
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() != Qt::LeftButton || m_dragging)
            return true;
        // The drag starts at the press itself; holding the pointer grab with
        // the drag cursor keeps that cursor everywhere and keeps every other
        // control from reacting until the release.
        m_dragging = true;
        Image1->grabMouse(tiltedFloppyCursor());
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() != Qt::LeftButton || !m_dragging)
            return true;
        m_dragging = false;
        Image1->releaseMouse();
        const QPoint global = me->globalPosition().toPoint();
        if (QApplication::widgetAt(global) == Image2)
            Image2_DragDrop();
        return true;
    }
    case QEvent::MouseMove:
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

Form2 &form2()
{
    // Never deleted: windows live until the process ends.
    static Form2 *instance = new Form2;
    return *instance;
}
