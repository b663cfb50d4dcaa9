#include "ui/windows/msgbox.h"

#include "ui/resources/texts.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

namespace {
MsgBoxHook &hook()
{
    static MsgBoxHook h;
    return h;
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
    box.exec();
    return (cancel && box.clickedButton() != ok) ? kIdCancel : kIdOk;
}
