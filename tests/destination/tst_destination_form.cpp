// The main window's destination handling and the new-folder dialog, on a
// fake file system whose drives fail when told to.
#include "app/intake.h"
#include "app/startup.h"
#include "fakefs.h"
#include "tests/common/msgboxes.h"
#include "ui/main/dirlistbox.h"
#include "ui/main/drivelistbox.h"
#include "ui/main/form1.h"
#include "ui/main/form2.h"
#include "ui/windows/disabling.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include <deque>
#include <memory>

namespace {
const QString kNotReady = QStringLiteral("ドライブの準備ができていません\r再読み込みしますか？");
const QString kUnknown = QStringLiteral("？？？\r再読み込みしますか？");
const QString kInvalid = QStringLiteral("パスが無効です。\r再入力してください。");
const QString kOther = QStringLiteral("不明なエラーです。\r再入力してください。");
const QString kTitle = QStringLiteral("エラーメッセージ");
} // namespace

class TstDestinationForm : public QObject {
    Q_OBJECT

    FakeFileSystem m_fs;
    QList<Box> m_boxes;
    // Answers to the coming boxes; each may first change the file system.
    std::deque<std::function<int()>> m_answers;

    Form2 &main() { return form2(); }
    DriveListBox &drives() { return *form2().Drive4; }
    DirListBox &dir() { return *form2().Dir4; }
    void choose(const QString &mountPoint)  // as the user picks it
    {
        drives().setCurrentIndex(drives().findData(mountPoint));
    }

private slots:
    void initTestCase()
    {
        m_fs.working = "/home/me";
        m_fs.addFolder("/home/me/docs");
        m_fs.addFolder(programFolder());
        m_fs.mount("/media/floppy");
        m_fs.mount("/media/cd");
        m_fs.addFolder("/media/cd/disc");
        volumeModel().setFileSystem(m_fs);
        QCOMPARE(dir().path(), QString("/home/me"));
        QCOMPARE(drives().drive(), QString("/"));
        QVERIFY(programFolder() != "/home/me");
        // Where the user cannot write to the program's folder (installed),
        // the start is the working folder.
        m_fs.readOnly << QCoreApplication::applicationDirPath();
        QCOMPARE(programFolder(), QString("/home/me"));
        m_fs.readOnly.clear();
        QCOMPARE(programFolder(), QCoreApplication::applicationDirPath());
    }

    void init()
    {
        m_boxes.clear();
        m_answers.clear();
        m_fs.volumeErrno.clear();
        m_fs.folderErrno.clear();
        recordBoxes(m_boxes, [this] {
            if (m_answers.empty())
                return kIdCancel;
            const auto next = m_answers.front();
            m_answers.pop_front();
            return next();
        });
        enableWindow(main());
        choose("/");
        QCOMPARE(dir().setPath("/home/me"), 0);
    }

    void cleanupTestCase() { setMsgBoxHook({}); }

    void retryUntilTheDriveIsReady()
    {
        m_fs.volumeErrno["/media/floppy"] = ENOMEDIUM;
        m_answers = {[] { return kIdOk; },
                     [this] {
                         m_fs.volumeErrno.remove("/media/floppy");  // a disk goes in
                         return kIdOk;
                     }};
        choose("/media/floppy");
        QCOMPARE(m_boxes.size(), 2);
        for (const Box &b : m_boxes) {
            QCOMPARE(b.text, kNotReady);
            QCOMPARE(b.style, kMbOkCancel);
            QCOMPARE(b.title, kTitle);
        }
        QCOMPARE(drives().drive(), QString("/media/floppy"));
        QCOMPARE(dir().path(), QString("/media/floppy"));
    }

    void cancelFallsBackToTheProgramsDrive()
    {
        // Another drive is selected before the failed choice; Cancel still
        // goes to the program's drive, and its current folder.
        choose("/media/cd");
        QCOMPARE(dir().setPath("/media/cd/disc"), 0);
        m_fs.volumeErrno["/media/floppy"] = EACCES;  // not a device failure
        choose("/media/floppy");
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].text, kUnknown);
        QCOMPARE(m_boxes[0].style, kMbOkCancel);
        QCOMPARE(drives().drive(), QString("/"));
        QCOMPARE(dir().path(), QString("/home/me"));
    }

    void nestingStopsAtOneLevel()
    {
        choose("/media/cd");
        QCOMPARE(dir().setPath("/media/cd/disc"), 0);
        m_fs.volumeErrno["/media/floppy"] = EIO;
        m_fs.volumeErrno["/"] = ENOTCONN;
        // Cancel on the floppy, then OK once and Cancel on the program's drive.
        m_answers = {[] { return kIdCancel; }, [] { return kIdOk; }, [] { return kIdCancel; }};
        choose("/media/floppy");
        QCOMPARE(m_boxes.size(), 3);
        for (const Box &b : m_boxes)
            QCOMPARE(b.text, kNotReady);
        QCOMPARE(drives().drive(), QString("/"));
        // The list stays where it was before the failed choices.
        QCOMPARE(dir().path(), QString("/media/cd/disc"));

        // Only the program's own drive failing: its Cancel selects the drive
        // already selected, which changes nothing.
        m_boxes.clear();
        m_fs.volumeErrno.remove("/media/floppy");
        choose("/media/floppy");
        QCOMPARE(m_boxes.size(), 0);
        drives().setDrive(programFolder());
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(drives().drive(), QString("/"));
        QCOMPARE(dir().path(), QString("/media/floppy"));
    }

    // Steps, one per blank-separated word: pull and mount take the stick
    // away and bring it back (same mount point), open reads the drive list
    // as opening it does, choose and other pick the stick or the CD. The
    // boxes that a choice brings are answered by the words after it: ok,
    // ok+mount (the stick goes back in, then OK) and cancel.
    void listsAgreeAfterPullAndRemount_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("drive");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("boxes");

        QTest::newRow("pull, cancel, mount, choose")
            << "pull choose cancel mount choose" << "/media/stick" << "/media/stick" << 1;
        QTest::newRow("pull, cancel, choose while pulled, cancel, mount, choose")
            << "pull choose cancel choose cancel mount choose" << "/media/stick" << "/media/stick" << 2;
        QTest::newRow("pull, retry while pulled, mount, retry")
            << "pull choose ok ok+mount" << "/media/stick" << "/media/stick" << 2;
        QTest::newRow("pull, cancel, mount, open the list, choose")
            << "pull choose cancel mount open choose" << "/media/stick" << "/media/stick" << 1;
        QTest::newRow("pull while chosen, open the list, mount, open it")
            << "choose pull open mount open" << "/media/stick" << "/media/stick" << 0;
        QTest::newRow("pull while chosen, leave it, mount, open the list, choose")
            << "choose pull other open mount open choose" << "/media/stick" << "/media/stick" << 0;
        QTest::newRow("pull, cancel, open the list while pulled")
            << "pull choose cancel open" << "/" << "/home/me" << 1;
        QTest::newRow("pull, cancel, stays pulled, choose, cancel")
            << "pull choose cancel choose cancel" << "/" << "/home/me" << 2;
    }

    // Whatever happened to the stick, the folder list's top entry is the
    // volume that holds its folder now, and where the drive list has that
    // volume selected it names it as it is mounted now.
    void listsAgreeAfterPullAndRemount()
    {
        QFETCH(QString, steps);
        QFETCH(QString, drive);
        QFETCH(QString, path);
        QFETCH(int, boxes);
        const QString stick = "/media/stick";
        const auto mountStick = [&] {
            m_fs.mount(stick, "STICK");
            m_fs.addFolder(stick + "/写真");
        };
        mountStick();
        drives().showPopup();
        drives().hidePopup();
        const QStringList words = steps.split(' ');
        for (qsizetype i = 0; i < words.size(); ++i) {
            const QString &w = words[i];
            if (w == "pull") {
                m_fs.unmount(stick);
            } else if (w == "mount") {
                mountStick();
            } else if (w == "open") {
                drives().showPopup();
                drives().hidePopup();
            } else if (w == "choose" || w == "other") {
                for (qsizetype j = i + 1;
                     j < words.size() && (words[j].startsWith("ok") || words[j] == "cancel");
                     ++j, ++i) {
                    const QString answer = words[j];
                    m_answers.push_back([this, answer, mountStick] {
                        if (answer == "ok+mount")
                            mountStick();
                        return answer == "cancel" ? kIdCancel : kIdOk;
                    });
                }
                const QString target = w == "choose" ? stick : QString("/media/cd");
                QVERIFY2(drives().findData(target) >= 0, qPrintable(target + " not listed"));
                choose(target);
                QVERIFY2(m_answers.empty(), "fewer boxes than answers");
            }
            if (w != "choose" && w != "other" && w != "open")
                continue;
            // The truth: the volume that holds the folder, mounted now or
            // pulled; a pulled stick is not a folder of "/".
            Volume truth{"/", ""};
            QList<Volume> known = m_fs.mounted;
            known.append(Volume{stick, ""});
            for (const Volume &v : std::as_const(known))
                if ((dir().path() == v.mountPoint || dir().path().startsWith(v.mountPoint + '/'))
                    && v.mountPoint.size() > truth.mountPoint.size())
                    truth = v;
            const QString after = QString("after '%1': ").arg(words.mid(0, i + 1).join(' '));
            QVERIFY2(dir().item(0)->text() == truth.mountPoint,
                     qPrintable(after + "folder list starts at " + dir().item(0)->text()
                                + " for " + dir().path()));
            if (drives().drive() == truth.mountPoint && m_fs.mounted.contains(truth))
                QVERIFY2(drives().currentText() == truth.displayName(),
                         qPrintable(after + "drive list shows " + drives().currentText()));
        }
        QCOMPARE(m_boxes.size(), boxes);
        for (const Box &b : std::as_const(m_boxes))
            QCOMPARE(b.text, kNotReady);
        QCOMPARE(drives().drive(), drive);
        QCOMPARE(dir().path(), path);
        m_fs.unmount(stick);
    }

    void newFolderDialogCreatesAndMovesTheList()
    {
        // Under a folder: one separator is inserted.
        QCOMPARE(dir().setPath("/home/me/docs"), 0);
        main().Command1_Click();
        Form1 &d = form1();
        QVERIFY(d.isVisible());
        QVERIFY(!isWindowEnabled(main()));
        QCOMPARE(d.Label2->text(), QString("/home/me/docs"));
        QCOMPARE(d.Text2->text(), QString("/home/me/docs"));
        d.Text1->setText("新しいフォルダ");
        QTest::mouseClick(d.Command1, Qt::LeftButton);
        QCOMPARE(m_fs.created.last(), QString("/home/me/docs/新しいフォルダ"));
        QCOMPARE(dir().path(), QString("/home/me/docs/新しいフォルダ"));
        QVERIFY(!d.isVisible());
        QVERIFY(isWindowEnabled(main()));
        QVERIFY(m_boxes.isEmpty());

        // Under a root: no second separator. The name is kept.
        QCOMPARE(dir().setPath("/"), 0);
        main().Command1_Click();
        QCOMPARE(d.Text2->text(), QString("/"));
        QCOMPARE(d.Text1->text(), QString("新しいフォルダ"));
        QTest::mouseClick(d.Command1, Qt::LeftButton);
        QCOMPARE(m_fs.created.last(), QString("/新しいフォルダ"));
        QCOMPARE(dir().path(), QString("/新しいフォルダ"));

        // A mount point is not a root path: it takes a separator.
        choose("/media/floppy");
        main().Command1_Click();
        d.Text1->setText("a b");
        QTest::mouseClick(d.Command1, Qt::LeftButton);
        QCOMPARE(m_fs.created.last(), QString("/media/floppy/a b"));
        QCOMPARE(dir().path(), QString("/media/floppy/a b"));
        QVERIFY(isWindowEnabled(main()));
    }

    // Qt's own texts come in Japanese too: the name box's context menu.
    void nameBoxMenuInJapanese()
    {
        QVERIFY(installQtJapanese());
        const std::unique_ptr<QMenu> menu(form1().Text1->createStandardContextMenu());
        QVERIFY2(menu->actions().value(0)->text().startsWith(QStringLiteral("元に戻す")),
                 qPrintable(menu->actions().value(0)->text()));
    }

    void newFolderDialogFailuresKeepItOpen()
    {
        Form1 &d = form1();
        QCOMPARE(dir().setPath("/home/me"), 0);
        main().Command1_Click();

        // An empty name names the parent, which exists.
        d.Text1->setText("");
        QTest::mouseClick(d.Command1, Qt::LeftButton);
        QCOMPARE(m_fs.created.last(), QString("/home/me/"));
        // An existing name.
        d.Text1->setText("docs");
        QTest::mouseClick(d.Command1, Qt::LeftButton);
        // The parent has vanished meanwhile.
        m_fs.folders.remove("/home/me/docs");
        m_fs.folders.remove("/home/me");
        d.Text1->setText("x");
        QTest::mouseClick(d.Command1, Qt::LeftButton);
        m_fs.addFolder("/home/me/docs");

        QCOMPARE(m_boxes.size(), 3);
        QCOMPARE(m_boxes[0].text, kInvalid);
        QCOMPARE(m_boxes[1].text, kInvalid);
        QCOMPARE(m_boxes[2].text, kOther);
        for (const Box &b : m_boxes) {
            QCOMPARE(b.style, kMbOk);
            QCOMPARE(b.title, kTitle);
        }
        QVERIFY(d.isVisible());
        QVERIFY(!isWindowEnabled(main()));
        QCOMPARE(d.Text1->text(), QString("x"));
        QCOMPARE(dir().path(), QString("/home/me"));

        // Created, but the list cannot move there: the folder stays, the
        // destination does not change, the box says so.
        m_fs.folderErrno["/home/me/y"] = EIO;
        d.Text1->setText("y");
        QTest::mouseClick(d.Command1, Qt::LeftButton);
        QVERIFY(m_fs.folders.contains("/home/me/y"));
        QCOMPARE(m_boxes.last().text, kOther);
        QCOMPARE(dir().path(), QString("/home/me"));
        QVERIFY(d.isVisible());

        // Cancel: nothing else changes, the main window is back.
        const int made = int(m_fs.created.size());
        QTest::mouseClick(d.Command2, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QVERIFY(isWindowEnabled(main()));
        QCOMPARE(m_fs.created.size(), made);
        QCOMPARE(dir().path(), QString("/home/me"));

        // Closing from the frame does what Cancel does; the position is kept.
        main().Command1_Click();
        QVERIFY(!isWindowEnabled(main()));
        d.move(d.pos() + QPoint(7, 5));
        const QPoint moved = d.pos();
        d.close();
        QVERIFY(!d.isVisible());
        QVERIFY(isWindowEnabled(main()));
        main().Command1_Click();
        QCOMPARE(d.pos(), moved);
        QTest::mouseClick(d.Command2, Qt::LeftButton);
    }
};

QTEST_MAIN(TstDestinationForm)
#include "tst_destination_form.moc"
