#include "ui/main/form1.h"

#include "ui/main/dirlistbox.h"
#include "ui/main/form2.h"
#include "ui/main/volumes.h"
#include "ui/resources/texts_destination.h"
#include "ui/windows/disabling.h"
#include "ui/windows/fonts.h"
#include "ui/windows/geometry.h"
#include "ui/windows/msgbox.h"
#include "ui/windows/widgets.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace texts::destination;

namespace {
QLabel *makeText(QWidget *parent, const QString &text, double pt)
{
    QLabel *label = ::makeText(parent, text);
    label->setFont(msPGothic(pt));
    return label;
}
} // namespace

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setupFixedWindow(*this, kForm1Caption, 6495, 2805);
    setFont(msPGothic(9.75));

    Label2 = makeText(this, kForm1Label2Design, 9);
    placeTw(Label2, 240, 240, 5655, 255);

    Label3 = makeText(this, kForm1Label3, 9);
    placeTw(Label3, 2280, 600, 4095, 255);

    Text1 = new QLineEdit(this);
    Text1->setFont(msPGothic(14.25));
    placeTw(Text1, 2160, 1080, 3975, 420);

    Label1 = makeText(this, kForm1Label1, 14.25);
    placeTw(Label1, 480, 1080, 1575, 375);

    Command1 = makeButton(this, kForm1Create);
    placeTw(Command1, 2280, 1920, 1935, 615);

    Command2 = makeButton(this, kForm1Cancel);
    placeTw(Command2, 4200, 1920, 1935, 615);

    // Below the client area: never seen, but still holds its value.
    Text2 = new QLineEdit(kForm1Text2Design, this);
    placeTw(Text2, 1200, 3840, 4575, 375);

    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Text2);
    Text1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);

    centreOnScreen(*this);
}

void Form1::Form_Open()
{
    Form2 &main = form2();
    disableWindow(main, *this);
    Label2->setText(main.Dir4->path());
    Text2->setText(main.Dir4->path());
    show();
    raise();
    activateWindow();
    Text1->setFocus();
}

void Form1::Command1_Click()
{
    Form2 &main = form2();
    const QString parent = Text2->text();
    // A root already ends in the separator; every other folder needs one.
    const QString path = parent.endsWith(QLatin1Char('/'))
        ? parent + Text1->text()
        : main.Dir4->path() + QLatin1Char('/') + Text1->text();

    int err = volumeModel().makeFolder(path);
    if (err == 0)
        err = main.Dir4->setPath(path);
    if (err != 0) {
        // The dialog stays as it is, so the name can be corrected.
        msgBox((err == kErrPathAccess ? kPathInvalid : kUnknownError) + QChar(13) + kRetype, kMbOk,
               kErrorTitle);
        return;
    }
    enableWindow(main);
    hide();
}

void Form1::Command2_Click()
{
    enableWindow(form2());
    hide();
}

void Form1::closeEvent(QCloseEvent *event)
{
    // Closing from the frame must not leave the main window disabled.
    event->ignore();
    Command2_Click();
}

Form1 &form1()
{
    // Never deleted: windows live until the process ends.
    static Form1 *instance = new Form1;
    return *instance;
}
