#include "unlha32/progresswindow.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "unlha32/progress_texts.h"

namespace unlha {

namespace {

QString qs(const char *s) { return QString::fromUtf8(s); }

// Long names must not widen the window: the label takes what the layout
// gives it and the text is elided to fit.
QLabel *makeElidingLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setMinimumWidth(1);
    label->setTextFormat(Qt::PlainText);
    return label;
}

constexpr int kBarSteps = 1000; // QProgressBar takes int; sizes exceed it

} // namespace

QString formatBytes(uint64_t bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 %2").arg(bytes).arg(qs(texts::bytesUnit));
    static const char *const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024.0;
    int unit = 0;
    // Switch unit before the rounded figure would read "1024.0".
    while (value >= 1023.95 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

ProgressWindow::ProgressWindow(QWidget *owner, const QString &archiveName)
    : QDialog(owner), archiveName_(archiveName)
{
    setObjectName(QStringLiteral("unlhaProgress"));
    setWindowTitle(qs(texts::progressCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);

    auto *grid = new QGridLayout(this);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    grid->setContentsMargins(14, 14, 14, 12);

    auto *archiveHeading = new QLabel(qs(texts::archiveHeading), this);
    auto *fileHeading = new QLabel(qs(texts::fileHeading), this);
    archiveLabel_ = makeElidingLabel(this);
    archiveLabel_->setObjectName(QStringLiteral("archiveName"));
    fileLabel_ = makeElidingLabel(this);
    fileLabel_->setObjectName(QStringLiteral("fileName"));

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("bar"));
    bar_->setRange(0, kBarSteps);
    bar_->setValue(0);

    bytesLabel_ = new QLabel(this);
    bytesLabel_->setObjectName(QStringLiteral("bytes"));

    cancelButton_ = new QPushButton(qs(texts::cancelButton), this);
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    cancelButton_->setMinimumWidth(96);
    cancelButton_->setDefault(true);
    connect(cancelButton_, &QPushButton::clicked, this, &ProgressWindow::reject);

    grid->addWidget(archiveHeading, 0, 0);
    grid->addWidget(archiveLabel_, 0, 1);
    grid->addWidget(fileHeading, 1, 0);
    grid->addWidget(fileLabel_, 1, 1);
    grid->addWidget(bar_, 2, 0, 1, 2);
    grid->addWidget(bytesLabel_, 3, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    grid->addLayout(buttons, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    fileName_ = qs(texts::preparing);
    setBytes(0, 0);
    setFixedSize(440, sizeHint().height());
    elideInto(archiveLabel_, archiveName_);
    elideInto(fileLabel_, fileName_);
}

void ProgressWindow::setCurrentFile(const QString &name)
{
    if (stopping_ || name == fileName_)
        return;
    fileName_ = name;
    elideInto(fileLabel_, fileName_);
}

void ProgressWindow::setBytes(uint64_t done, uint64_t total)
{
    bytesDone_ = total != 0 && done > total ? total : done;
    bytesTotal_ = total;
    if (total == 0) {
        bar_->setRange(0, 0);
    } else {
        bar_->setRange(0, kBarSteps);
        bar_->setValue(int(double(bytesDone_) / double(total) * kBarSteps));
    }
    refreshBytes();
}

void ProgressWindow::setCount(std::size_t current, std::size_t total)
{
    countCurrent_ = current;
    countTotal_ = total;
    refreshBytes();
}

void ProgressWindow::refreshBytes()
{
    QString text = bytesTotal_ == 0
        ? formatBytes(bytesDone_)
        : qs(texts::bytesOfTotal).arg(formatBytes(bytesDone_), formatBytes(bytesTotal_));
    if (countTotal_ != 0)
        text += QLatin1Char(' ')
            + qs(texts::fileCount).arg(qulonglong(countCurrent_)).arg(qulonglong(countTotal_));
    bytesLabel_->setText(text);
}

void ProgressWindow::showStopping()
{
    if (stopping_)
        return;
    fileName_ = qs(texts::stopping);
    elideInto(fileLabel_, fileName_);
    stopping_ = true;
    cancelButton_->setEnabled(false);
}

void ProgressWindow::reject()
{
    if (!stopping_)
        emit cancelRequested();
}

void ProgressWindow::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    elideInto(archiveLabel_, archiveName_);
    elideInto(fileLabel_, fileName_);
}

void ProgressWindow::elideInto(QLabel *label, const QString &text)
{
    const int width = label->contentsRect().width();
    const QString shown = width > 1
        ? label->fontMetrics().elidedText(text, Qt::ElideMiddle, width)
        : text;
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : text);
}

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
