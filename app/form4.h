#pragma once
// Form4: the completion report. It appears once, after a successful
// extraction; acknowledging or closing it ends the program.
#include <QWidget>

class QLabel;
class QPushButton;

class Form4 : public QWidget {
    Q_OBJECT
public:
    // Creating the report loads it: beep, centre, main window disabled.
    explicit Form4(QWidget *parent = nullptr);

    QPushButton *Command1 = nullptr; // "了  解"
    QLabel *Label1 = nullptr;        // the message
    QLabel *Image1 = nullptr;        // information sign

    void Form_Load();
    void Command1_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Unload();
};

// The one report window, created (and so loaded) on first use.
Form4 &form4();
