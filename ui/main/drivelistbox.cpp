#include "ui/main/drivelistbox.h"

#include <QDir>

DriveListBox::DriveListBox(QWidget *parent) : QComboBox(parent)
{
    addItem(QStringLiteral("/"));
    connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::changed);
}

QString DriveListBox::drive() const { return currentText(); }

void DriveListBox::setDrive(const QString &anyPath)
{
    Q_UNUSED(anyPath);
    setCurrentIndex(0);
}
