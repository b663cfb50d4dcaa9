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

    // The card's client area, inside the thin frame the card draws itself.
    QWidget *client = nullptr;
    QFrame *Frame1 = nullptr;
    QLabel *imgLogo = nullptr;
    QLabel *lblProductName = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblCopyright = nullptr;
    QTimer *Timer1 = nullptr;

    // The timer's tick: show the main window, stop, hide the card.
    void Timer1_Timer();

    // Width of the frame around the client area, in pixels.
    static constexpr int kFrameWidth = 3;

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void Form_Unload();
};

// The one title card, created on first use (which starts its timer).
title1 &title1Window();
