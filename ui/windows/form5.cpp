#include "ui/windows/form5.h"

#include "ui/main/form2.h"
#include "ui/resources/texts.h"
#include "ui/windows/disabling.h"
#include "ui/windows/form3.h"
#include "ui/windows/geometry.h"
#include "ui/windows/widgets.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

namespace {
Form5 *g_instance = nullptr;
}

Form5::Form5(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form5"));
    setupFixedWindow(*this, texts::kForm5Caption, 5970, 1140);

    Label1 = new QLabel(texts::kForm5Name, this);
    placeTw(Label1, 1440, 240, 2775, 255);
    Label2 = new QLabel(texts::kCopyright, this);
    placeTw(Label2, 1440, 600, 3015, 255);

    Command1 = new QPushButton(texts::kForm5Ok, this);
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    placeTw(Command1, 4920, 120, 855, 375);
    Command1->setFocus();

    Image1 = makePicture(this, icons::kFloppy, false);
    placeTw(Image1, 240, 240, 480, 480);

    connect(Command1, &QPushButton::clicked, this, &Form5::Command1_Click);
}

void Form5::Command1_Click()
{
    enableWindow(form3());
    enableWindow(form2());
    hide();
}

void Form5::closeEvent(QCloseEvent *event)
{
    // Closing from the frame must not leave the openers disabled.
    event->ignore();
    Command1_Click();
}

bool form5Exists() { return g_instance != nullptr; }

Form5 &form5()
{
    if (!g_instance)
        g_instance = new Form5;
    return *g_instance;
}

void openVersionWindow()
{
    // Only the first opening centres the window; later ones keep its place.
    const bool existed = form5Exists();
    Form5 &window = form5();
    // Creating the notice here (hidden) keeps the enable/disable pairs
    // symmetrical whichever window opened the version window.
    disableWindow(form3(), window);
    if (!existed)
        centreOnScreen(window);
    disableWindow(form2(), window);
    window.show();
    window.raise();
    window.activateWindow();
}
