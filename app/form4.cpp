#include "app/form4.h"

#include "app/ending.h"
#include "ui/main/form2.h"
#include "ui/resources/texts_extraction.h"
#include "ui/windows/disabling.h"
#include "ui/windows/fonts.h"
#include "ui/windows/geometry.h"
#include "ui/windows/widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

Form4::Form4(QWidget *parent) : QWidget(parent)
{
    using namespace texts::extraction;
    setObjectName(QStringLiteral("Form4"));
    setupFixedWindow(*this, kReportCaption, 5460, 1665);

    Command1 = new QPushButton(kReportButton, this);
    placeTw(Command1, 2280, 1080, 2535, 375);
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);

    Label1 = new QLabel(kReportMessage, this);
    Label1->setFont(msPGothic(14.25));
    placeTw(Label1, 1560, 360, 3135, 375);

    Image1 = makePicture(this, icons::kInformation, false);
    placeTw(Image1, 480, 480, 480, 480);

    // The button is the only control that takes the focus.
    Command1->setFocus();

    Form_Load();
}

void Form4::Form_Load()
{
    QApplication::beep();
    centreOnScreen(*this);
    // For good: the only ways on are this window's button and its close box,
    // so no second drop can start another extraction.
    disableWindow(form2(), *this);
}

void Form4::Command1_Click() { endProgram(); }

void Form4::Form_Unload() { endProgram(); }

void Form4::closeEvent(QCloseEvent *event)
{
    // Ending the program hides every window itself.
    event->ignore();
    Form_Unload();
}

Form4 &form4()
{
    static Form4 *instance = new Form4;
    return *instance;
}
