#pragma once
// The machine's volumes and folders as the destination lists see them.
// Widgets ask a VolumeModel; the model asks a FileSystem, which tests replace
// with one of their own whose volumes fail when told to.
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

// Error numbers the windows tell apart (the old platform's numbering).
constexpr int kErrDeviceUnavailable = 68;  // medium or device not there
constexpr int kErrPathAccess = 75;         // the path itself was refused
constexpr int kErrPathNotFound = 76;       // any other failure

// errno -> one of the three numbers above (0 stays 0).
int errorNumberFor(int errnoValue);

struct Volume {
    QString mountPoint;  // "/" or an absolute path without a trailing '/'
    QString label;       // the file system's label, empty when it has none

    // What the drive list shows: the mount point, then the label.
    QString displayName() const;
    bool operator==(const Volume &) const = default;
};

// What the program needs from the file system. Failures are errno values.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Mounted volumes that can take files, "/" among them.
    virtual QList<Volume> volumes() const = 0;
    // The process's working folder.
    virtual QString workingFolder() const = 0;
    // The names of the sub-folders of `folder`, in any order. 0 or an errno.
    virtual int listFolders(const QString &folder, QStringList &names) const = 0;
    // Creates one folder; its parent must exist. 0 or an errno.
    virtual int makeFolder(const QString &path) = 0;
    // Whether the user may create files in `folder`.
    virtual bool canWrite(const QString &folder) const = 0;
};

// The program's folder as the start-up sees it: the executable's folder when
// the user can write to it (a copy unpacked among the user's own files),
// otherwise the working folder, since an installed program lies in a system
// folder the user cannot write to, where no extraction could go.
QString startFolder(const FileSystem &fs, const QString &executableFolder);

// The machine's own file system.
FileSystem &realFileSystem();

// The volumes listed in the text of /proc/self/mountinfo: real file systems
// and a tmpfs /tmp, not the system's pseudo file systems nor software images;
// "/" always; sorted by mount point. `isFolder` (when given) drops mount
// points that are files.
QList<Volume> volumesFromMountInfo(const QByteArray &text,
                                   const QHash<QString, QString> &labelsByDevice = {},
                                   const std::function<bool(const QByteArray &)> &isFolder = {});

// Absolute, clean, '/' as the only path that ends in a separator. A relative
// path is taken from `base`. Empty stays empty.
QString normalisedPath(const QString &path, const QString &base = QString());

// Sorts folder names the way a Japanese user expects (locale collation,
// numbers by value, case ignored).
void sortFolderNames(QStringList &names);

class VolumeModel {
public:
    explicit VolumeModel(FileSystem &fs);

    FileSystem &fileSystem() const { return *m_fs; }
    // Tests swap the file system under live widgets; the list is read again.
    void setFileSystem(FileSystem &fs);

    // Reads the volume list again.
    const QList<Volume> &refresh();
    // The list as last read.
    const QList<Volume> &volumes() const { return m_volumes; }

    // The volume holding `path`: the longest mount point that is a prefix of
    // it, by whole components.
    Volume volumeOf(const QString &path) const;
    // The working folder when it lies on `mountPoint`'s volume, else its root.
    QString currentFolder(const QString &mountPoint) const;

    struct Listing {
        int error = 0;        // 0 or an error number (68, 75, 76)
        QString path;         // the folder, normalised
        QString volume;       // mount point of the volume that holds it
        QStringList folders;  // its sub-folders, sorted, dot-folders left out
    };
    // Whether the volume listed at `mountPoint` is mounted now (read again,
    // not the list as last read). "/" always is. A pulled stick leaves its
    // mount point as an empty folder of the volume below: writing there
    // would look like success.
    bool isMounted(const QString &mountPoint) const;

    // Reads the volume list again, then the folder, so that the volume it
    // names is the one mounted now. A folder under the mount point of a
    // volume that has been listed in this run and is not mounted now counts
    // as lying on a device that is not there, however often the list has
    // been read since: the drive list may still offer that volume, and its
    // mount point must never pass for a plain folder of the volume below.
    Listing openFolder(const QString &path);

    // Creates one folder. 0 or an error number.
    int makeFolder(const QString &path);

private:
    FileSystem *m_fs;
    QList<Volume> m_volumes;
    QSet<QString> m_everListed;  // mount points of every list read, "/" aside
};

// The program's model, on the real file system.
VolumeModel &volumeModel();
