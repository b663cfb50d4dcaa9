#include "ui/windows/form10.h"

#include "app/ending.h"
#include "ui/resources/texts.h"
#include "ui/windows/fonts.h"
#include "ui/windows/geometry.h"
#include "ui/windows/widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

Form10::Form10(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form10"));
    setupFixedWindow(*this, texts::kForm10Caption, 8100, 1425);

    Image1 = makePicture(this, icons::kWarning, false);
    placeTw(Image1, 360, 360, 480, 480);

    Label1 = new QLabel(texts::kForm10Line, this);
    Label1->setFont(msPGothic(11.25));
    placeTw(Label1, 1320, 360, 6135, 255);

    Command1 = new QPushButton(texts::kForm10Ok, this);
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    placeTw(Command1, 1800, 840, 4935, 375);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, &Form10::Command1_Click);

    Form_Load();
}

void Form10::Form_Load()
{
    QApplication::beep();
    centreOnScreen(*this);
}

void Form10::Command1_Click() { endProgram(); }

void Form10::closeEvent(QCloseEvent *event)
{
    // The main window stays hidden in this run, so closing the only window
    // must not leave the process behind: it ends like the button.
    event->ignore();
    endProgram();
}

Form10 &form10()
{
    static Form10 *instance = new Form10;
    return *instance;
}
