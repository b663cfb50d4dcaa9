#include "unlha32/overwritedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "unlha32/progress_texts.h"

namespace unlha {
namespace {

QString qs(const char *s) { return QString::fromUtf8(s); }

} // namespace

OverwriteDialog::OverwriteDialog(QWidget *parent, const QString &path)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("unlhaOverwrite"));
    setWindowTitle(qs(texts::overwriteCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);

    auto *icon = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this)
                        .pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);

    auto *exists = new QLabel(qs(texts::overwriteExists), this);
    auto *pathLabel = new QLabel(this);
    pathLabel->setObjectName(QStringLiteral("path"));
    pathLabel->setTextFormat(Qt::PlainText);
    pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A deep path must not stretch the box across the screen.
    const QString shown = pathLabel->fontMetrics().elidedText(path, Qt::ElideMiddle, 520);
    pathLabel->setText(shown);
    if (shown != path)
        pathLabel->setToolTip(path);
    auto *question = new QLabel(qs(texts::overwriteQuestion), this);
    question->setObjectName(QStringLiteral("question"));

    auto *lines = new QVBoxLayout;
    lines->setSpacing(6);
    lines->addWidget(exists);
    lines->addWidget(pathLabel);
    lines->addSpacing(6);
    lines->addWidget(question);
    lines->addStretch();

    auto *top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(lines, 1);

    // The order is the user's reading order, whatever the platform's button
    // layout, so no QDialogButtonBox.
    struct Choice { const char *text; OverwriteAnswer answer; const char *name; };
    const Choice choices[] = {
        {texts::overwriteReplace, OverwriteAnswer::Replace, "replace"},
        {texts::overwriteSkip, OverwriteAnswer::Skip, "skip"},
        {texts::overwriteReplaceAll, OverwriteAnswer::ReplaceAll, "replaceAll"},
        {texts::overwriteSkipAll, OverwriteAnswer::SkipAll, "skipAll"},
        {texts::overwriteCancel, OverwriteAnswer::Cancel, "cancel"},
    };
    auto *row = new QHBoxLayout;
    row->setSpacing(6);
    row->addStretch();
    for (const Choice &c : choices) {
        auto *button = new QPushButton(qs(c.text), this);
        button->setObjectName(QLatin1String(c.name));
        const OverwriteAnswer a = c.answer;
        connect(button, &QPushButton::clicked, this, [this, a] { answer(a); });
        // Keeping the file is the safe choice for a stray Enter.
        if (a == OverwriteAnswer::Skip) {
            button->setDefault(true);
            button->setFocus();
        }
        row->addWidget(button);
    }

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 16, 16, 12);
    outer->setSpacing(14);
    outer->addLayout(top);
    outer->addLayout(row);
    setFixedSize(sizeHint());
}

void OverwriteDialog::reject()
{
    answer(OverwriteAnswer::Cancel);
}

void OverwriteDialog::answer(OverwriteAnswer a)
{
    if (done_)
        return;
    done_ = true;
    hide();
    emit answered(a);
    deleteLater();
}

} // namespace unlha
