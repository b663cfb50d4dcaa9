#pragma once
// Form3: the notice that the program was started without a file.
#include <QWidget>

class QLabel;
class QPushButton;

class Form3 : public QWidget {
    Q_OBJECT
public:
    explicit Form3(QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *Command1 = nullptr; // "了  解"
    QPushButton *Command2 = nullptr; // "バージョン情報"

    void Command1_Click();
    void Command2_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void Form_Unload();
};

// The one notice, created on first use; creating it disables the main window.
Form3 &form3();
