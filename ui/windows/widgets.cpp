#include "ui/windows/widgets.h"

#include "ui/windows/geometry.h"

#include <QLabel>
#include <QPushButton>
#include <QPixmap>
#include <QWidget>

QIcon floppyIcon()
{
    QIcon icon;
    icon.addFile(QString::fromLatin1(icons::kFloppy), QSize(32, 32));
    icon.addFile(QString::fromLatin1(icons::kFloppy16), QSize(16, 16));
    return icon;
}

QCursor tiltedFloppyCursor()
{
    const QPixmap pm(QString::fromLatin1(icons::kTiltedFloppy));
    if (pm.isNull())
        return QCursor(Qt::DragMoveCursor);
    return QCursor(pm, pm.width() / 2, pm.height() / 2);
}

void setupFixedWindow(QWidget &w, const QString &caption, int widthTwips, int heightTwips)
{
    w.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                     | Qt::WindowCloseButtonHint);
    w.setWindowTitle(caption);
    w.setWindowIcon(floppyIcon());
    w.setFixedSize(tw(widthTwips), tw(heightTwips));
}

void placeTw(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(tw(left), tw(top), tw(width), tw(height));
}

QLabel *makePicture(QWidget *parent, const char *icon, bool stretch)
{
    auto *label = new QLabel(parent);
    label->setPixmap(QPixmap(QString::fromLatin1(icon)));
    label->setScaledContents(stretch);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLabel *makeText(QWidget *parent, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton *makeButton(QWidget *parent, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    // Enter and Esc press no button anywhere in the program.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}
