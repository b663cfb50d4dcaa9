#pragma once
// Drive4: the drop-down of the machine's volumes.
#include "ui/main/volumes.h"

#include <QComboBox>

class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    // On the program's volume model (the real file system).
    explicit DriveListBox(QWidget *parent = nullptr);
    explicit DriveListBox(VolumeModel &model, QWidget *parent = nullptr);

    // Mount point of the selected volume.
    QString drive() const;

    // Selects the volume that holds `anyPath`. Emits changed() only when the
    // selection really changes.
    void setDrive(const QString &anyPath);

    // Reads the volume list again, keeping the selection.
    void reload();

    // The list is read again each time it opens, so media mounted meanwhile
    // show up.
    void showPopup() override;

signals:
    // The selection changed, by the user or by setDrive().
    void changed();

private:
    void indexChanged(int index);

    VolumeModel &m_model;
    QString m_drive;
};
