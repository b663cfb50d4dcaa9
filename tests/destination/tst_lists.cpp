// The folder list (Dir4) and the drive list (Drive4) as widgets: on a real
// temporary tree, and on a fake file system for the failures.
#include "fakefs.h"
#include "tests/common/msgboxes.h"
#include "ui/main/dirlistbox.h"
#include "ui/main/drivelistbox.h"

#include <QtTest>

namespace {
QStringList texts(const QListWidget &list)
{
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out << list.item(i)->text();
    return out;
}

QListWidgetItem *find(const QListWidget &list, const QString &text)
{
    const auto items = list.findItems(text, Qt::MatchExactly);
    return items.isEmpty() ? nullptr : items.first();
}
} // namespace

class TstLists : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { setMsgBoxHook({}); }

    void folderListOnRealTree()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString base = QFileInfo(tmp.path()).canonicalFilePath();
        QVERIFY(QDir(base).mkpath("top/b-folder/inner"));
        QVERIFY(QDir(base).mkpath("top/a-folder"));
        QVERIFY(QDir(base).mkpath("top/.dot"));

        DirListBox list(volumeModel());
        list.resize(209, 142);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));

        const QString top = base + "/top";
        QCOMPARE(list.setPath(top + "/"), 0);
        QCOMPARE(list.path(), top);

        // The chain from the volume's root down, then the sub-folders.
        const QString root = volumeModel().volumeOf(top).mountPoint;
        QStringList chain{root};
        const QString rest = top.mid(root == "/" ? 1 : root.size() + 1);
        chain += rest.split('/');
        QCOMPARE(texts(list), chain + QStringList({"a-folder", "b-folder"}));
        const int n = int(chain.size());
        QCOMPARE(list.item(0)->data(DirListBox::PathRole).toString(), root);
        QCOMPARE(list.item(n - 1)->data(DirListBox::PathRole).toString(), top);
        QCOMPARE(list.currentRow(), n - 1);
        for (int i = 0; i < n; ++i) {
            QCOMPARE(list.item(i)->data(DirListBox::DepthRole).toInt(), i);
            QVERIFY(list.item(i)->data(DirListBox::ChainRole).toBool());
        }
        QCOMPARE(list.item(n)->data(DirListBox::DepthRole).toInt(), n);
        QVERIFY(!list.item(n)->data(DirListBox::ChainRole).toBool());

        // Double-click opens a sub-folder.
        QListWidgetItem *b = find(list, "b-folder");
        QVERIFY(b);
        // A real double-click: press and release, then the double-click.
        const QPoint at = list.visualItemRect(b).center();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(list.path(), top);  // a single click only selects
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(list.path(), top + "/b-folder");
        QCOMPARE(texts(list).mid(n), QStringList({"b-folder", "inner"}));

        // Enter on an entry of the chain goes back up.
        list.setCurrentRow(n - 1);
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(list.path(), top);

        // The root is the only path that ends in a separator.
        QCOMPARE(list.setPath("/"), 0);
        QCOMPARE(list.path(), QString("/"));
        QCOMPARE(list.item(0)->text(), QString("/"));
        QCOMPARE(list.currentRow(), 0);
        QVERIFY(find(list, "tmp") || find(list, "usr"));
        QCOMPARE(list.setPath(top + "/b-folder/../a-folder"), 0);
        QCOMPARE(list.path(), top + "/a-folder");
    }

    void folderListFailuresLeaveItAsItWas()
    {
        FakeFileSystem fs;
        fs.addFolder("/home/me/locked");
        fs.addFolder("/home/me/open/x");
        fs.mount("/media/floppy");
        fs.working = "/home/me";
        fs.folderErrno["/home/me/locked"] = EACCES;
        fs.volumeErrno["/media/floppy"] = EIO;
        VolumeModel model(fs);
        DirListBox list(model);
        QCOMPARE(list.path(), QString("/home/me"));
        // A sub-folder that cannot be read is still listed.
        const QStringList before = texts(list);
        QCOMPARE(before, QStringList({"/", "home", "me", "locked", "open"}));

        QCOMPARE(list.setPath("/home/me/locked"), kErrPathAccess);
        QCOMPARE(list.setVolume("/media/floppy"), kErrDeviceUnavailable);
        QCOMPARE(list.path(), QString("/home/me"));
        QCOMPARE(texts(list), before);

        // Opening it from the list says why, and the list stays.
        QList<Box> boxes;
        recordBoxes(boxes);
        list.openEntry(find(list, "locked"));
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QString("フォルダを開けませんでした。\rこのフォルダを読む権限がありません。"));
        QCOMPARE(boxes[0].style, kMbOk);
        QCOMPARE(boxes[0].title, QString("エラーメッセージ"));
        QCOMPARE(texts(list), before);

        // A volume's current folder: the working folder on its volume, the
        // root elsewhere.
        fs.volumeErrno.clear();
        QCOMPARE(list.setVolume("/media/floppy"), 0);
        QCOMPARE(list.path(), QString("/media/floppy"));
        QCOMPARE(texts(list), QStringList({"/media/floppy"}));
        QCOMPARE(list.setVolume("/"), 0);
        QCOMPARE(list.path(), QString("/home/me"));
    }

    void driveListSelectsAndReportsRealChanges()
    {
        FakeFileSystem fs;
        fs.mount("/media/usb", "STICK");
        fs.mount("/media/usb2");
        fs.working = "/media/usb2";
        VolumeModel model(fs);
        DriveListBox drives(model);
        QSignalSpy spy(&drives, &DriveListBox::changed);

        QCOMPARE(drives.drive(), QString("/media/usb2"));
        QCOMPARE(drives.count(), 3);
        QCOMPARE(drives.itemText(drives.findData("/media/usb")), QString("/media/usb  [STICK]"));

        drives.setDrive("/media/usb/some/folder");
        QCOMPARE(drives.drive(), QString("/media/usb"));
        QCOMPARE(spy.count(), 1);
        drives.setDrive("/media/usb");  // the same volume: nothing to report
        QCOMPARE(spy.count(), 1);
        drives.setDrive("/media/usbx/y");  // not a mount point: it lies on "/"
        QCOMPARE(drives.drive(), QString("/"));
        QCOMPARE(spy.count(), 2);

        // The list is read again when it opens.
        fs.mount("/media/new");
        QCOMPARE(drives.findData("/media/new"), -1);
        drives.showPopup();
        drives.hidePopup();
        QVERIFY(drives.findData("/media/new") >= 0);
        // A path on a volume mounted since the last look is found too.
        fs.mount("/media/newer");
        drives.setDrive("/media/newer/x");
        QCOMPARE(drives.drive(), QString("/media/newer"));
        QCOMPARE(spy.count(), 3);

        // The selected volume stays listed while selected, even when gone.
        fs.unmount("/media/newer");
        drives.showPopup();
        drives.hidePopup();
        QCOMPARE(drives.drive(), QString("/media/newer"));
        QCOMPARE(drives.currentIndex(), drives.findData("/media/newer"));
        QCOMPARE(spy.count(), 3);
        drives.setDrive("/");
        drives.reload();
        QCOMPARE(drives.findData("/media/newer"), -1);
    }
};

QTEST_MAIN(TstLists)
#include "tst_lists.moc"
