#pragma once
// Form2: the main window. Shows the archive path, lets the user choose the
// destination, and starts the extraction when the floppy picture is dragged
// onto the drive picture.
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class DirListBox;
class DriveListBox;

class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);

    QLabel *Label8 = nullptr;   // instruction line
    QLabel *Image1 = nullptr;   // floppy picture, the drag source
    QLabel *Image4 = nullptr;   // arrow, decoration
    QLabel *Image2 = nullptr;   // drive picture, the drop target
    QLabel *Label2 = nullptr;   // "解 凍 実 行"
    QLabel *Label6 = nullptr;   // heading of Label1
    QLabel *Label1 = nullptr;   // the archive path
    QLabel *Label3 = nullptr;   // heading of Dir4
    DirListBox *Dir4 = nullptr;     // its path() is the destination
    DriveListBox *Drive4 = nullptr;
    QPushButton *Command1 = nullptr; // new folder
    QPushButton *Command3 = nullptr; // version information
    QPushButton *Command2 = nullptr; // cancel
    QLineEdit *Text2 = nullptr;      // unseen: the archive's last three characters

    // The command-line intake, run once at program start.
    void Form_Load();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Drive4_Change();
    void Image2_DragDrop();

    // True between the press on Image1 and the release of the button.
    bool isDragging() const { return m_dragging; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Unload();
    bool m_dragging = false;
};

// The one main window, created on first use.
Form2 &form2();
