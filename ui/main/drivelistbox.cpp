#include "ui/main/drivelistbox.h"

#include <QIcon>
#include <QSignalBlocker>

#include <algorithm>

namespace {
const QIcon &volumeIcon()
{
    static const QIcon icon(QStringLiteral(":/icons/volume.png"));
    return icon;
}
} // namespace

DriveListBox::DriveListBox(QWidget *parent) : DriveListBox(volumeModel(), parent) {}

DriveListBox::DriveListBox(VolumeModel &model, QWidget *parent)
    : QComboBox(parent), m_model(model)
{
    m_drive = m_model.volumeOf(m_model.fileSystem().workingFolder()).mountPoint;
    reload();
    connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::indexChanged);
}

QString DriveListBox::drive() const { return m_drive; }

void DriveListBox::reload()
{
    QList<Volume> volumes = m_model.refresh();
    // A selected volume that has gone stays listed while it is selected, so
    // the selection never changes behind the user's back.
    const bool present = std::any_of(volumes.cbegin(), volumes.cend(),
                                     [&](const Volume &v) { return v.mountPoint == m_drive; });
    if (!present)
        volumes.append(Volume{m_drive, QString()});

    const QSignalBlocker block(this);
    clear();
    for (const Volume &v : volumes) {
        addItem(volumeIcon(), v.displayName(), v.mountPoint);
        if (v.mountPoint == m_drive)
            setCurrentIndex(count() - 1);
    }
}

void DriveListBox::setDrive(const QString &anyPath)
{
    // The path may lie on a volume mounted since the list was last read.
    // The items are rebuilt only then: this also runs from within a change.
    m_model.refresh();
    const QString mountPoint = m_model.volumeOf(anyPath).mountPoint;
    if (findData(mountPoint) < 0)
        reload();
    const int index = findData(mountPoint);
    if (index >= 0)
        setCurrentIndex(index);
}

void DriveListBox::showPopup()
{
    reload();
    QComboBox::showPopup();
}

void DriveListBox::indexChanged(int index)
{
    const QString chosen = itemData(index).toString();
    if (index < 0 || chosen == m_drive)
        return;
    m_drive = chosen;
    emit changed();
}
