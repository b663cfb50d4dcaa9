#pragma once
// Form10: the notice that the file given is not an LHA archive.
#include <QWidget>

class QLabel;
class QPushButton;

class Form10 : public QWidget {
    Q_OBJECT
public:
    explicit Form10(QWidget *parent = nullptr);

    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *Command1 = nullptr; // "了       解"

    void Command1_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
};

// The one notice, created on first use; creating it beeps and centres it.
Form10 &form10();
