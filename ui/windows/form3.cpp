#include "ui/windows/form3.h"

#include "app/ending.h"
#include "ui/main/form2.h"
#include "ui/resources/texts.h"
#include "ui/windows/disabling.h"
#include "ui/windows/fonts.h"
#include "ui/windows/form5.h"
#include "ui/windows/geometry.h"
#include "ui/windows/widgets.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

Form3::Form3(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setupFixedWindow(*this, texts::kForm3Caption, 8220, 3180);

    Label1 = new QLabel(texts::kForm3Line1, this);
    Label1->setFont(msPGothic(15.75));
    placeTw(Label1, 1920, 360, 4695, 375);

    Image1 = makePicture(this, icons::kFloppy, true);
    placeTw(Image1, 480, 600, 975, 975);

    Label2 = new QLabel(texts::kForm3Line2, this);
    Label2->setFont(msPGothic(11.25));
    placeTw(Label2, 2160, 960, 5775, 255);

    Label3 = new QLabel(texts::kForm3Line3, this);
    Label3->setFont(msPGothic(11.25));
    placeTw(Label3, 2160, 1440, 4095, 255);

    Command1 = new QPushButton(texts::kForm3Ok, this);
    placeTw(Command1, 5040, 2160, 2895, 495);
    Command2 = new QPushButton(texts::kVersionButton, this);
    placeTw(Command2, 5040, 2640, 2895, 375);
    for (QPushButton *b : {Command1, Command2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    setTabOrder(Command1, Command2);
    Command1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form3::Command2_Click);

    Form_Load();
}

void Form3::Form_Load()
{
    centreOnScreen(*this);
    disableWindow(form2(), *this);
}

void Form3::Command1_Click() { endProgram(); }

void Form3::Command2_Click() { openVersionWindow(); }

void Form3::Form_Unload() { endProgram(); }

void Form3::closeEvent(QCloseEvent *event)
{
    event->ignore();
    // While the version window is open this notice takes no input at all.
    if (isWindowEnabled(*this))
        Form_Unload();
}

Form3 &form3()
{
    static Form3 *instance = new Form3;
    return *instance;
}
