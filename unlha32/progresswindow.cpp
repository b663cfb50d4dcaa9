#include "unlha32/progresswindow.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
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

} // namespace unlha
