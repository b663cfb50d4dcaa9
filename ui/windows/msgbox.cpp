#include "ui/windows/msgbox.h"

#include "ui/resources/texts.h"
#include "ui/windows/disabling.h"
#include "unlha32/windowmanners.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

namespace {
MsgBoxHook &hook()
{
    static MsgBoxHook h;
    return h;
}

// The least width of a box for its title to show whole in the window
// manager's title bar.
int titleRoom(const QString &title, const QFont &font)
{
    // Window managers set titles in the desktop's bold sans face unless
    // configured otherwise; beside the title sit the window icon or menu
    // and up to four buttons, each about as wide as the title bar is high.
    QFont bold = font;
    bold.setBold(true);
    const QFontMetrics own(bold);
    const QFontMetrics desktop(QFont(QStringLiteral("Sans"), 9, QFont::Bold));
    const int text = qMax(own.horizontalAdvance(title), desktop.horizontalAdvance(title));
    const int titleBar = qMax(own.height(), desktop.height()) + 8;
    return text + 5 * titleBar + 16;
}
} // namespace

void setMsgBoxHook(MsgBoxHook h) { hook() = std::move(h); }

QString msgBoxDisplayText(const QString &text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

int msgBox(const QString &text, int style, const QString &title)
{
    if (hook())
        return hook()(text, style, title);

    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(msgBoxDisplayText(text));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowIcon(QIcon(QStringLiteral(":/icons/floppy.png")));
    const QPixmap warning(QStringLiteral(":/icons/warning.png"));
    if (warning.isNull())
        box.setIcon(QMessageBox::Warning);
    else
        box.setIconPixmap(warning);

    QPushButton *ok = box.addButton(texts::kMsgBoxOk, QMessageBox::AcceptRole);
    QPushButton *cancel = nullptr;
    if (style == kMbOkCancel)
        cancel = box.addButton(texts::kMsgBoxCancel, QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    // Esc and the close box answer Cancel; with OK alone they answer OK,
    // which is all that box can say.
    box.setEscapeButton(cancel ? cancel : ok);
    // Qt sizes the box to its text; the window manager would then cut the
    // title short (ＯＫ alone leaves little room).
    const int width = titleRoom(title, box.font());
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
        const QMargins m = grid->contentsMargins();
        grid->addItem(new QSpacerItem(width - m.left() - m.right(), 0, QSizePolicy::Fixed,
                                      QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    watchWindowOrder();
    // A failed extraction's box may come while the user works elsewhere.
    // Qt gives a modal window the focus as it maps it, so then the box is
    // left modeless to Qt and holds our other windows as a window in charge
    // does, until it is answered.
    QWidgetList held;
    if (manners::userIsElsewhere()) {
        box.setWindowModality(Qt::NonModal);
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            if (w != &box && w->isVisible() && isWindowEnabled(*w)) {
                disableWindow(*w, box);
                held.append(w);
            }
        }
        manners::showForUser(box);
    }
    box.exec();
    for (QWidget *w : std::as_const(held))
        enableWindow(*w);
    return (cancel && box.clickedButton() != ok) ? kIdCancel : kIdOk;
}
