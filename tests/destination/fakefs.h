#pragma once
// An in-memory file system whose volumes and folders fail when told to.
#include "ui/main/volumes.h"

#include <QHash>
#include <QSet>

#include <cerrno>

class FakeFileSystem : public FileSystem {
public:
    QList<Volume> mounted{{"/", ""}};
    QString working = "/";
    QSet<QString> folders{"/"};
    QHash<QString, int> volumeErrno;  // mount point -> errno for everything on it
    QHash<QString, int> folderErrno;  // folder -> errno when it is read
    QSet<QString> readOnly;           // folders the user cannot write to
    QStringList created;              // every makeFolder() call, in order
    mutable int listCalls = 0;

    // Adds a folder and its ancestors.
    void addFolder(const QString &path)
    {
        for (QString p = path; p != "/"; p = p.left(qMax(1, int(p.lastIndexOf('/')))))
            folders.insert(p);
    }
    void mount(const QString &mountPoint, const QString &label = QString())
    {
        addFolder(mountPoint);
        mounted.append(Volume{mountPoint, label});
    }
    void unmount(const QString &mountPoint)
    {
        mounted.removeIf([&](const Volume &v) { return v.mountPoint == mountPoint; });
    }

    QList<Volume> volumes() const override { return mounted; }
    QString workingFolder() const override { return working; }

    int listFolders(const QString &folder, QStringList &names) const override
    {
        ++listCalls;
        names.clear();
        if (int e = failureAt(folder))
            return e;
        if (!folders.contains(folder))
            return ENOENT;
        const QString prefix = folder == "/" ? folder : folder + '/';
        for (const QString &f : folders)
            if (f != "/" && f.startsWith(prefix) && !f.mid(prefix.size()).contains('/'))
                names.append(f.mid(prefix.size()));
        return 0;
    }

    int makeFolder(const QString &path) override
    {
        created.append(path);
        const QString clean = normalisedPath(path);
        const QString parent = clean.left(qMax(1, int(clean.lastIndexOf('/'))));
        if (int e = failureAt(parent))
            return e;
        if (folders.contains(clean))
            return EEXIST;
        if (!folders.contains(parent))
            return ENOENT;
        folders.insert(clean);
        return 0;
    }

    bool canWrite(const QString &folder) const override
    {
        return folders.contains(folder) && !readOnly.contains(folder) && !failureAt(folder);
    }

private:
    int failureAt(const QString &folder) const
    {
        if (folderErrno.contains(folder))
            return folderErrno.value(folder);
        QString best;
        for (const Volume &v : mounted) {
            const QString &m = v.mountPoint;
            const bool under = m == "/" || folder == m || folder.startsWith(m + '/');
            if (under && m.size() > best.size())
                best = m;
        }
        return volumeErrno.value(best, 0);
    }
};
