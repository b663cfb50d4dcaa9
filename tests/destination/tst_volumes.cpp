// The volume model: which mounts are volumes, the volume of a path, each
// volume's current folder, and how failures are sorted into roles.
#include "fakefs.h"

#include <QtTest>

#include <unistd.h>

class TstVolumes : public QObject {
    Q_OBJECT
private slots:
    void mountInfoKeepsOnlyUserVolumes()
    {
        const QByteArray text =
            "21 26 0:20 / /proc rw - proc proc rw\n"
            "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
            "30 26 0:27 / /run/user/1000 rw - tmpfs tmpfs rw\n"
            "31 26 0:28 / /tmp rw - tmpfs tmpfs rw\n"
            "32 26 0:29 / /dev/shm rw - tmpfs tmpfs rw\n"
            "33 26 7:1 / /snap/core/123 ro - squashfs /dev/loop1 ro\n"
            "34 26 8:17 / /media/me/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
            "35 26 8:33 / /run/media/me/CAMERA rw - exfat /dev/sdc1 rw\n"
            "36 26 0:40 / /mnt/share rw - nfs4 server:/export rw\n"
            "37 26 8:1 / /boot/efi rw - vfat /dev/sda1 rw\n"
            "38 26 254:0 /lib/docker/hosts /etc/hosts rw - ext4 /dev/vda rw\n"
            "39 26 8:49 / /media/cd ro - iso9660 /dev/sr0 ro\n"
            "40 39 0:41 / /media/cd rw - autofs systemd-1 rw\n"
            "garbage line\n";
        const auto isFolder = [](const QByteArray &mp) { return mp != "/etc/hosts"; };
        const QList<Volume> vols = volumesFromMountInfo(text, {{"/dev/sdb1", "USBSTICK"}}, isFolder);
        QStringList points;
        for (const Volume &v : vols)
            points << v.mountPoint;
        // /media/cd is hidden by the automounter mounted over it.
        QCOMPARE(points, QStringList({"/", "/media/me/USB STICK", "/mnt/share",
                                      "/run/media/me/CAMERA", "/tmp"}));
        QCOMPARE(vols[1].displayName(), QString("/media/me/USB STICK  [USBSTICK]"));
        QCOMPARE(vols[2].displayName(), QString("/mnt/share"));

        // A container whose root is an overlay still has "/".
        const QList<Volume> bare = volumesFromMountInfo(
            "1 0 0:50 / / rw - overlay overlay rw\n2 1 0:20 / /proc rw - proc proc rw\n");
        QCOMPARE(bare.size(), 1);
        QCOMPARE(bare[0].mountPoint, QString("/"));
        QCOMPARE(volumesFromMountInfo("").size(), 1);
    }

    void volumeOfPathByWholeComponents()
    {
        FakeFileSystem fs;
        fs.mount("/media/usb");
        fs.mount("/media/usb2");
        fs.mount("/media/usb/inner");
        fs.working = "/media/usb2/work";
        VolumeModel model(fs);
        QCOMPARE(model.volumeOf("/media/usb").mountPoint, QString("/media/usb"));
        QCOMPARE(model.volumeOf("/media/usb/a/b").mountPoint, QString("/media/usb"));
        QCOMPARE(model.volumeOf("/media/usb2/a").mountPoint, QString("/media/usb2"));
        QCOMPARE(model.volumeOf("/media/usbx").mountPoint, QString("/"));
        QCOMPARE(model.volumeOf("/media/usb/inner/x").mountPoint, QString("/media/usb/inner"));
        QCOMPARE(model.volumeOf("/media/usb/a/../inner").mountPoint, QString("/media/usb/inner"));
        // Relative paths are taken from the working folder.
        QCOMPARE(model.volumeOf("x").mountPoint, QString("/media/usb2"));

        // The working folder on its own volume, the root on every other.
        QCOMPARE(model.currentFolder("/media/usb2"), QString("/media/usb2/work"));
        QCOMPARE(model.currentFolder("/media/usb"), QString("/media/usb"));
        QCOMPARE(model.currentFolder("/"), QString("/"));
    }

    void openFolderSortsFiltersAndSortsOutFailures()
    {
        FakeFileSystem fs;
        for (const char *n : {"b10", "b9", "B1", "a", "漢字", "かな", "カタカナ", "あお", ".git",
                              "ABC", "abd", "２番"})
            fs.addFolder(QString("/d/") + QString::fromUtf8(n));
        fs.mount("/media/floppy");
        fs.mount("/media/cd");
        fs.volumeErrno["/media/floppy"] = ENOMEDIUM;
        fs.folderErrno["/d/a"] = EACCES;
        VolumeModel model(fs);

        const VolumeModel::Listing l = model.openFolder("/d/");
        QCOMPARE(l.error, 0);
        QCOMPARE(l.path, QString("/d"));
        // Letters ignore case, numbers go by value, kana by reading, kana
        // before kanji; dot-folders are left out.
        QCOMPARE(l.folders, QStringList({"２番", "a", "ABC", "abd", "B1", "b9", "b10", "あお",
                                          "カタカナ", "かな", "漢字"}));

        QCOMPARE(model.openFolder("/media/floppy").error, kErrDeviceUnavailable);
        QCOMPARE(model.openFolder("/d/a").error, kErrPathAccess);
        QCOMPARE(model.openFolder("/d/none").error, kErrPathNotFound);
        QCOMPARE(model.openFolder("").error, kErrPathNotFound);

        // A volume that was listed and has been unmounted is a device that
        // is not there, even where its mount point is still a folder, and
        // however often the list is read again until it is mounted again.
        QCOMPARE(model.openFolder("/media/cd").error, 0);
        fs.addFolder("/media/cd/sub");
        fs.unmount("/media/cd");
        QCOMPARE(model.openFolder("/media/cd").error, kErrDeviceUnavailable);
        model.refresh();
        QCOMPARE(model.openFolder("/media/cd").error, kErrDeviceUnavailable);
        QCOMPARE(model.openFolder("/media/cd/sub").error, kErrDeviceUnavailable);
        // Mounted again: read afresh by the opening itself, no refresh() first.
        fs.mount("/media/cd");
        const VolumeModel::Listing again = model.openFolder("/media/cd/sub");
        QCOMPARE(again.error, 0);
        QCOMPARE(again.volume, QString("/media/cd"));
        // Mounted since the last read and never listed: its own volume too.
        fs.mount("/d/b9");
        QCOMPARE(model.openFolder("/d/b9").volume, QString("/d/b9"));
    }

    // The folder the drive list starts at, and so its volume.
    void startFolderIsTheProgramsOnlyWhenWritable_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("working");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("volume");

        QTest::newRow("copy unpacked at home") << "/home/me/tools/hoguren" << true << "/home/me"
                                               << "/home/me/tools/hoguren" << "/home";
        QTest::newRow("installed, /home on its own volume")
            << "/usr/bin" << false << "/home/me/docs" << "/home/me/docs" << "/home";
        QTest::newRow("copy on a stick, working at home")
            << "/media/usb/hoguren" << true << "/home/me" << "/media/usb/hoguren" << "/media/usb";
        QTest::newRow("installed, working on a stick")
            << "/usr/bin" << false << "/media/usb/work" << "/media/usb/work" << "/media/usb";
        QTest::newRow("copy on a read-only disc") << "/media/cd/hoguren" << false << "/home/me"
                                                  << "/home/me" << "/home";
    }
    void startFolderIsTheProgramsOnlyWhenWritable()
    {
        QFETCH(QString, program);
        QFETCH(bool, writable);
        QFETCH(QString, working);
        QFETCH(QString, start);
        QFETCH(QString, volume);
        FakeFileSystem fs;
        for (const char *m : {"/home", "/media/usb", "/media/cd"})
            fs.mount(m);
        fs.addFolder(program);
        fs.addFolder(working);
        fs.working = working;
        if (!writable)
            fs.readOnly << program;
        VolumeModel model(fs);
        QCOMPARE(startFolder(fs, program), start);
        QCOMPARE(model.volumeOf(startFolder(fs, program)).mountPoint, volume);
    }

    void realFileSystemListsFoldersAndMapsErrors()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString root = tmp.path();
        QVERIFY(QDir(root).mkpath("sub/deep"));
        QVERIFY(QDir(root).mkpath(".hidden"));
        QVERIFY(QDir(root).mkpath("日本語 フォルダ"));
        QFile file(root + "/file.txt");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(QFile::link(root + "/sub", root + "/link-to-sub"));
        QVERIFY(QFile::link(root + "/file.txt", root + "/link-to-file"));

        VolumeModel model(realFileSystem());
        const VolumeModel::Listing l = model.openFolder(root);
        QCOMPARE(l.error, 0);
        QCOMPARE(l.folders, QStringList({"link-to-sub", "sub", "日本語 フォルダ"}));

        QCOMPARE(model.openFolder(root + "/file.txt").error, kErrPathAccess);  // ENOTDIR
        QCOMPARE(model.openFolder(root + "/gone").error, kErrPathNotFound);     // ENOENT
        QCOMPARE(model.makeFolder(root + "/new"), 0);
        QVERIFY(QFileInfo(root + "/new").isDir());
        QCOMPARE(model.makeFolder(root + "/new"), kErrPathAccess);       // EEXIST
        QCOMPARE(model.makeFolder(root + "/"), kErrPathAccess);          // the parent itself
        QCOMPARE(model.makeFolder(root + "/gone/new"), kErrPathNotFound);  // ENOENT

        QVERIFY(realFileSystem().canWrite(root));
        QVERIFY(!realFileSystem().canWrite(root + "/gone"));
        QVERIFY(!realFileSystem().canWrite(root + "/file.txt"));  // not a folder
        QVERIFY(QFile::setPermissions(root + "/sub", QFile::ReadOwner | QFile::ExeOwner));
        // Root may write anywhere; everyone else is refused.
        const bool asRoot = realFileSystem().canWrite(root + "/sub");
        QVERIFY(QFile::setPermissions(root + "/sub", QFile::ReadOwner | QFile::WriteOwner
                                                         | QFile::ExeOwner));
        QCOMPARE(asRoot, geteuid() == 0);
    }
};

QTEST_GUILESS_MAIN(TstVolumes)
#include "tst_volumes.moc"
