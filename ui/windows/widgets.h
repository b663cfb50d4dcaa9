#pragma once
// Small builders shared by the windows: fixed-border windows, controls placed
// in twips, and the program's pictures.
#include <QCursor>
#include <QIcon>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace icons {
inline const char *const kFloppy = ":/icons/floppy.png";
inline const char *const kFloppy16 = ":/icons/floppy-16.png";
inline const char *const kTiltedFloppy = ":/icons/tilted-floppy.png";
inline const char *const kArrow = ":/icons/arrow.png";
inline const char *const kDrive = ":/icons/drive.png";
inline const char *const kWarning = ":/icons/warning.png";
inline const char *const kInformation = ":/icons/information.png";
} // namespace icons

// The floppy-disk window icon, 32 x 32 with its 16 x 16 version.
QIcon floppyIcon();
// The cursor shown while the floppy picture is dragged.
QCursor tiltedFloppyCursor();

// A top-level window with a fixed single border, close box only, the given
// caption and client size in twips, and the floppy icon.
void setupFixedWindow(QWidget &w, const QString &caption, int widthTwips, int heightTwips);

// Places a control at a twips rectangle of its parent.
void placeTw(QWidget *w, int left, int top, int width, int height);

// A picture control. `stretch` scales the icon to the box; otherwise the icon
// keeps its natural size in the box's top-left corner.
QLabel *makePicture(QWidget *parent, const char *icon, bool stretch);

// A plain-text label, its text at the top left of its box.
QLabel *makeText(QWidget *parent, const QString &text);
// A push button that Enter and Esc never press.
QPushButton *makeButton(QWidget *parent, const QString &text);
