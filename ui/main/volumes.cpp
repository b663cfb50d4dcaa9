#include "ui/main/volumes.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int errorNumberFor(int e)
{
    switch (e) {
    case 0:
        return 0;
    case ENOMEDIUM:
    case ENXIO:
    case ENODEV:
    case EIO:
    case ENOTCONN:
    case ESTALE:
        return kErrDeviceUnavailable;
    case EEXIST:
    case EACCES:
    case EPERM:
    case EROFS:
    case ENAMETOOLONG:
    case EINVAL:
    case ENOTDIR:
        return kErrPathAccess;
    default:
        return kErrPathNotFound;
    }
}

QString Volume::displayName() const
{
    if (label.isEmpty())
        return mountPoint;
    return mountPoint + QStringLiteral("  [") + label + QLatin1Char(']');
}

QString normalisedPath(const QString &path, const QString &base)
{
    if (path.isEmpty())
        return QString();
    QString p = path;
    if (!p.startsWith(QLatin1Char('/')))
        p = (base.isEmpty() ? QDir::currentPath() : base) + QLatin1Char('/') + p;
    return QDir::cleanPath(p);
}

namespace {

// Whether `path` lies on or under `mountPoint`, by whole components.
bool isUnder(const QString &path, const QString &mountPoint)
{
    if (mountPoint == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == mountPoint
        || (path.startsWith(mountPoint) && path.at(mountPoint.size()) == QLatin1Char('/'));
}

bool isOctal(char c) { return c >= '0' && c <= '7'; }

// /proc/self/mountinfo writes blanks, tabs, newlines and backslashes as \ooo.
QByteArray unescapeOctal(const QByteArray &s)
{
    QByteArray out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && isOctal(s[i + 1]) && isOctal(s[i + 2])
            && isOctal(s[i + 3])) {
            out.append(char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.append(s[i]);
    }
    return out;
}

// udev names labels in /dev/disk/by-label with \xHH for unsafe bytes.
QByteArray unescapeHex(const QByteArray &s)
{
    QByteArray out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            bool ok = false;
            const int v = s.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(v));
                i += 3;
                continue;
            }
        }
        out.append(s[i]);
    }
    return out;
}

// File systems that hold no user files, or are images of software (snaps).
const QSet<QByteArray> &pseudoTypes()
{
    static const QSet<QByteArray> types = {
        "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "ramfs", "cgroup", "cgroup2",
        "securityfs", "pstore", "efivarfs", "bpf", "debugfs", "tracefs", "configfs",
        "fusectl", "mqueue", "hugetlbfs", "autofs", "binfmt_misc", "rpc_pipefs",
        "nsfs", "selinuxfs", "nfsd", "overlay", "squashfs", "fuse.snapfuse",
        "fuse.portal", "fuse.gvfsd-fuse", "fuse.lxcfs", "fuse.xdg-document-portal",
    };
    return types;
}

// Trees of the system itself; /run/media is where desktops mount removables.
bool isSystemTree(const QString &mp)
{
    static const QStringList trees = {
        QStringLiteral("/proc"), QStringLiteral("/sys"), QStringLiteral("/dev"),
        QStringLiteral("/run"), QStringLiteral("/snap"), QStringLiteral("/boot"),
        QStringLiteral("/efi"), QStringLiteral("/var/lib/docker"),
        QStringLiteral("/var/snap"),
    };
    if (isUnder(mp, QStringLiteral("/run/media")))
        return false;
    for (const QString &t : trees)
        if (isUnder(mp, t))
            return true;
    return false;
}

bool isUserVolume(const QString &mp, const QByteArray &type)
{
    if (mp == QLatin1String("/"))
        return true;
    if (isSystemTree(mp))
        return false;
    // A tmpfs /tmp is a scratch area users do extract into; other tmpfs
    // mounts are the system's.
    if (type == "tmpfs")
        return mp == QLatin1String("/tmp");
    return !pseudoTypes().contains(type);
}

// Whether the mount point is a folder, without waiting on a network server
// (containers bind single files such as /etc/hosts).
bool isFolderMount(const QByteArray &mp)
{
    struct statx st {};
    if (statx(AT_FDCWD, mp.constData(), AT_STATX_DONT_SYNC | AT_NO_AUTOMOUNT, STATX_TYPE, &st)
        != 0)
        return true;  // keep it; opening it will tell the user what is wrong
    return S_ISDIR(st.stx_mode);
}

QHash<QString, QString> labelsByDevice()
{
    QHash<QString, QString> labels;
    const QDir dir(QStringLiteral("/dev/disk/by-label"));
    const QFileInfoList links = dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &link : links) {
        const QString device = link.canonicalFilePath();
        if (!device.isEmpty())
            labels.insert(device,
                          QString::fromUtf8(unescapeHex(QFile::encodeName(link.fileName()))));
    }
    return labels;
}

class RealFileSystem final : public FileSystem {
public:
    QList<Volume> volumes() const override
    {
        QFile f(QStringLiteral("/proc/self/mountinfo"));
        const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        return volumesFromMountInfo(text, labelsByDevice(), isFolderMount);
    }

    QString workingFolder() const override { return QDir::currentPath(); }

    int listFolders(const QString &folder, QStringList &names) const override
    {
        names.clear();
        const QByteArray dirPath = QFile::encodeName(folder);
        DIR *d = opendir(dirPath.constData());
        if (!d)
            return errno;
        const int fd = dirfd(d);
        for (;;) {
            errno = 0;
            const dirent *e = readdir(d);
            if (!e)
                break;
            const char *n = e->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
                continue;
            bool isDir = e->d_type == DT_DIR;
            // Links to folders count as folders; only they and file systems
            // without entry types need a stat.
            if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
                struct stat st {};
                isDir = fstatat(fd, n, &st, 0) == 0 && S_ISDIR(st.st_mode);
            }
            if (isDir)
                names.append(QFile::decodeName(n));
        }
        const int err = errno;
        closedir(d);
        return err;
    }

    int makeFolder(const QString &path) override
    {
        return ::mkdir(QFile::encodeName(path).constData(), 0777) == 0 ? 0 : errno;
    }

    bool canWrite(const QString &folder) const override
    {
        return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
    }
};

} // namespace

QList<Volume> volumesFromMountInfo(const QByteArray &text,
                                   const QHash<QString, QString> &labelsByDevice,
                                   const std::function<bool(const QByteArray &)> &isFolder)
{
    QList<Volume> list;
    // Later mounts on the same point hide earlier ones.
    QHash<QString, qsizetype> seen;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 5 || dash + 2 >= fields.size())
            continue;
        const QByteArray mpBytes = unescapeOctal(fields[4]);
        const QString mp = QFile::decodeName(mpBytes);
        const QByteArray type = fields[dash + 1];
        if (!isUserVolume(mp, type) || (isFolder && !isFolder(mpBytes))) {
            if (seen.contains(mp))
                list[seen.value(mp)].mountPoint.clear();  // hidden by a non-volume
            continue;
        }
        QString source = QFile::decodeName(unescapeOctal(fields[dash + 2]));
        if (source.startsWith(QLatin1String("/dev/"))) {
            const QString canonical = QFileInfo(source).canonicalFilePath();
            if (!canonical.isEmpty())
                source = canonical;
        }
        const Volume v{mp, labelsByDevice.value(source)};
        if (seen.contains(mp) && !list[seen.value(mp)].mountPoint.isEmpty()) {
            list[seen.value(mp)] = v;
        } else {
            seen.insert(mp, list.size());
            list.append(v);
        }
    }
    list.removeIf([](const Volume &v) { return v.mountPoint.isEmpty(); });
    if (std::none_of(list.cbegin(), list.cend(),
                     [](const Volume &v) { return v.mountPoint == QLatin1String("/"); }))
        list.append(Volume{QStringLiteral("/"), QString()});
    std::sort(list.begin(), list.end(),
              [](const Volume &a, const Volume &b) { return a.mountPoint < b.mountPoint; });
    return list;
}

QString startFolder(const FileSystem &fs, const QString &executableFolder)
{
    return fs.canWrite(executableFolder) ? executableFolder : fs.workingFolder();
}

FileSystem &realFileSystem()
{
    static RealFileSystem fs;
    return fs;
}

void sortFolderNames(QStringList &names)
{
    static const QCollator collator = [] {
        QCollator c(QLocale(QLocale::Japanese, QLocale::Japan));
        c.setNumericMode(true);
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    // Sort keys make thousands of names cheap to order.
    std::vector<std::pair<QCollatorSortKey, QString>> keyed;
    keyed.reserve(names.size());
    for (const QString &n : names)
        keyed.emplace_back(collator.sortKey(n), n);
    std::sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) {
        const int c = a.first.compare(b.first);
        return c != 0 ? c < 0 : a.second < b.second;  // stable for names equal but for case
    });
    for (qsizetype i = 0; i < names.size(); ++i)
        names[i] = keyed[size_t(i)].second;
}

VolumeModel::VolumeModel(FileSystem &fs) : m_fs(&fs) { refresh(); }

void VolumeModel::setFileSystem(FileSystem &fs)
{
    m_fs = &fs;
    m_everListed.clear();
    refresh();
}

const QList<Volume> &VolumeModel::refresh()
{
    m_volumes = m_fs->volumes();
    for (const Volume &v : std::as_const(m_volumes))
        if (v.mountPoint != QLatin1String("/"))
            m_everListed.insert(v.mountPoint);
    return m_volumes;
}

Volume VolumeModel::volumeOf(const QString &path) const
{
    const QString p = normalisedPath(path, m_fs->workingFolder());
    const Volume *best = nullptr;
    for (const Volume &v : m_volumes)
        if (isUnder(p, v.mountPoint) && (!best || v.mountPoint.size() > best->mountPoint.size()))
            best = &v;
    return best ? *best : Volume{QStringLiteral("/"), QString()};
}

QString VolumeModel::currentFolder(const QString &mountPoint) const
{
    const QString work = normalisedPath(m_fs->workingFolder());
    if (volumeOf(work).mountPoint == mountPoint)
        return work;
    return mountPoint;
}

bool VolumeModel::isMounted(const QString &mountPoint) const
{
    if (mountPoint == QLatin1String("/"))
        return true;
    const QList<Volume> now = m_fs->volumes();
    return std::any_of(now.cbegin(), now.cend(),
                       [&](const Volume &v) { return v.mountPoint == mountPoint; });
}

VolumeModel::Listing VolumeModel::openFolder(const QString &path)
{
    Listing l;
    l.path = normalisedPath(path, m_fs->workingFolder());
    if (l.path.isEmpty()) {
        l.error = kErrPathNotFound;
        return l;
    }
    // The list as last read may be from before a pull or a remount: the
    // folder list would then name the stick as a plain folder of "/".
    refresh();
    l.volume = volumeOf(l.path).mountPoint;
    for (const QString &gone : std::as_const(m_everListed)) {
        if (gone.size() > l.volume.size() && isUnder(l.path, gone)) {
            l.error = kErrDeviceUnavailable;
            return l;
        }
    }
    QStringList names;
    l.error = errorNumberFor(m_fs->listFolders(l.path, names));
    if (l.error)
        return l;
    names.removeIf([](const QString &n) { return n.startsWith(QLatin1Char('.')); });
    sortFolderNames(names);
    l.folders = std::move(names);
    return l;
}

int VolumeModel::makeFolder(const QString &path)
{
    return errorNumberFor(m_fs->makeFolder(path));
}

VolumeModel &volumeModel()
{
    static VolumeModel model(realFileSystem());
    return model;
}
