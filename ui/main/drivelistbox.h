#pragma once
// Drive4: the drop-down of the machine's volumes.
#include <QComboBox>

class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget *parent = nullptr);

    // Mount point of the selected volume.
    QString drive() const;

    // Selects the volume that holds `anyPath`. Emits changed() only when the
    // selection really changes.
    void setDrive(const QString &anyPath);

signals:
    // The selection changed, by the user or by setDrive().
    void changed();
};
