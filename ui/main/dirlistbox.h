#pragma once
// Dir4: the folder list of the main window. Its path() is the destination.
#include <QListWidget>

// Error numbers the windows distinguish (the old platform's numbering).
constexpr int kErrDeviceUnavailable = 68;  // medium or device not there
constexpr int kErrPathAccess = 75;         // the path itself was refused
constexpr int kErrPathNotFound = 76;       // any other failure

class DirListBox : public QListWidget {
    Q_OBJECT
public:
    explicit DirListBox(QWidget *parent = nullptr);

    // The current folder: absolute, '/' only for the root, no trailing '/'
    // elsewhere.
    QString path() const;

    // Moves the list to `path` (a folder, or a volume's mount point, which
    // means that volume's current folder). Returns 0, or the error number of
    // the failure; the list is unchanged on failure.
    int setPath(const QString &path);

private:
    QString m_path;
};
