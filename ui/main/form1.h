#pragma once
// Form1: the new-folder dialog. Creates one folder under the destination
// and makes it the destination. The main window is disabled while it is up.
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);

    QLabel *Label2 = nullptr;        // the parent folder's path
    QLabel *Label3 = nullptr;        // "...の下に作成する..."
    QLineEdit *Text1 = nullptr;      // the new folder's name, kept between openings
    QLabel *Label1 = nullptr;        // "フォルダ名 ："
    QPushButton *Command1 = nullptr; // "作  成"
    QPushButton *Command2 = nullptr; // "キャンセル"
    QLineEdit *Text2 = nullptr;      // unseen: the parent path captured on opening

    // Disables the main window, takes the destination as parent, shows.
    void Form_Open();

    void Command1_Click();
    void Command2_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
};

// The one dialog, created (and centred) on first use.
Form1 &form1();
