#pragma once
// Form5: the version information, opened from the main window and from the
// start-without-file notice, both of which it disables while it is open.
#include <QWidget>

class QLabel;
class QPushButton;

class Form5 : public QWidget {
    Q_OBJECT
public:
    explicit Form5(QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *Command1 = nullptr; // "Ｏ　Ｋ"
    QLabel *Image1 = nullptr;

    // "Ｏ　Ｋ": enable both openers again and hide.
    void Command1_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
};

// The one version window, created on first use.
Form5 &form5();
bool form5Exists();

// What both "バージョン情報" buttons do: disable the openers, create and
// centre the window the first time, show it.
void openVersionWindow();
