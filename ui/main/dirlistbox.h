#pragma once
// Dir4: the folder list of the main window. Its path() is the destination.
// It shows the chain of open folders from the volume's root down to the
// current folder, then the current folder's sub-folders.
#include "ui/main/volumes.h"

#include <QListWidget>

class DirListBox : public QListWidget {
    Q_OBJECT
public:
    // On the program's volume model (the real file system).
    explicit DirListBox(QWidget *parent = nullptr);
    explicit DirListBox(VolumeModel &model, QWidget *parent = nullptr);

    // The current folder: absolute, '/' only for the root, no trailing '/'
    // elsewhere.
    QString path() const;

    // Moves the list to the folder `path`. Returns 0, or the error number of
    // the failure (68 device not there, 75 refused, 76 other); the list is
    // unchanged on failure.
    int setPath(const QString &path);

    // Moves the list to the current folder of the volume mounted at
    // `mountPoint` (the working folder when it lies there, else the root).
    // Same results as setPath().
    int setVolume(const QString &mountPoint);

    // Item data: the entry's full path, and whether it is part of the chain.
    static constexpr int PathRole = Qt::UserRole;
    static constexpr int DepthRole = Qt::UserRole + 1;
    static constexpr int ChainRole = Qt::UserRole + 2;

    // Opens an entry as a double-click does; a failure is reported in a box.
    void openEntry(QListWidgetItem *item);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fill(const VolumeModel::Listing &listing);
    void showCurrent();

    VolumeModel &m_model;
    QString m_path;
    int m_currentRow = 0;  // the current folder's entry
};
