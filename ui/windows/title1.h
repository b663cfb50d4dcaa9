#pragma once
// title1: the card shown for two seconds before the main window when the
// program is started with an archive.
#include <QWidget>

class QFrame;
class QLabel;
class QTimer;

class title1 : public QWidget {
    Q_OBJECT
public:
    explicit title1(QWidget *parent = nullptr);

    QFrame *Frame1 = nullptr;
    QLabel *imgLogo = nullptr;
    QLabel *lblProductName = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblCopyright = nullptr;
    QTimer *Timer1 = nullptr;

    // The timer's tick: show the main window, stop, hide the card.
    void Timer1_Timer();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Unload();
};

// The one title card, created on first use (which starts its timer).
title1 &title1Window();
