// A drop on the main window's drive picture, against the fake library: the
// calls it makes, and what the user sees afterwards.
#include "app/ending.h"
#include "app/extraction.h"
#include "app/form4.h"
#include "archive/unlha32library.h"
#include "tests/common/files.h"
#include "tests/common/msgboxes.h"
#include "tests/destination/fakefs.h"
#include "ui/main/dirlistbox.h"
#include "ui/main/drivelistbox.h"
#include "ui/main/form2.h"
#include "ui/resources/texts_extraction.h"
#include "ui/windows/disabling.h"
#include "unlha32/unlha32.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace texts::extraction;

namespace {
// The report, if one is showing; looking must not create it, since creating
// it disables the main window.
Form4 *shownReport()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *report = qobject_cast<Form4 *>(w); report && report->isVisible())
            return report;
    }
    return nullptr;
}
} // namespace

class TestExtractionRun : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QList<Box> m_boxes;
    int m_endings = 0;
    FakeFileSystem m_fakeFs;

    QString logPath() const { return m_tmp.filePath("calls.log"); }
    QStringList calls() const { return readLines(logPath()); }
    QString unlhaCall(const QString &command) const
    {
        return QStringLiteral("Unlha owner=%1 size=%2 command=%3")
            .arg(static_cast<quint64>(form2().winId()))
            .arg(4096)
            .arg(command);
    }
    void answer(int result, const QByteArray &report = {})
    {
        qputenv("FAKE_UNLHA_RESULT", QByteArray::number(result));
        qputenv("FAKE_UNLHA_REPORT", report);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY(QDir(m_tmp.path()).mkpath("out dir"));
        QVERIFY(QDir(m_tmp.path()).mkpath("second"));
        qputenv("FAKE_UNLHA_LOG", QFile::encodeName(logPath()));
        recordBoxes(m_boxes);
        setEndProgramHook([this] { ++m_endings; });
        form2().show();
        QVERIFY(QTest::qWaitForWindowExposed(&form2()));
    }

    void init()
    {
        archive::unloadForTesting();
        archive::setCandidatesForTesting({FAKE_UNLHA32});
        QFile::remove(logPath());
        m_boxes.clear();
        m_endings = 0;
        enableWindow(form2());
    }

    void failureLeavesMainWindowUsable_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("driveGone");
        QTest::newRow("damaged") << UNLHA_ERR_DAMAGED << QByteArray("展開: a.txt\nCRC エラー: b.txt\n")
                                 << kFailed + "\rCRC エラー: b.txt" << false;
        QTest::newRow("cancelled") << UNLHA_ERR_CANCELLED << QByteArray("展開: a.txt\n中止しました")
                                   << kCancelled << false;
        // The chosen stick was pulled after it was chosen: the library is
        // not even asked.
        QTest::newRow("drive gone") << UNLHA_OK << QByteArray()
                                    << QStringLiteral("解凍できませんでした。\rドライブの準備ができていません。")
                                    << true;
    }
    void failureLeavesMainWindowUsable()
    {
        QFETCH(int, result);
        QFETCH(QByteArray, report);
        QFETCH(QString, text);
        QFETCH(bool, driveGone);
        answer(result, report);
        form2().Label1->setText(m_tmp.filePath("a.LZH"));
        QCOMPARE(form2().Dir4->setPath(m_tmp.path()), 0);
        if (driveGone) {
            m_fakeFs.mount("/media/usb");
            volumeModel().setFileSystem(m_fakeFs);
            form2().Drive4->setDrive("/media/usb");
            QCOMPARE(form2().Dir4->path(), QString("/media/usb"));
            m_fakeFs.unmount("/media/usb");
        }

        form2().Image2_DragDrop();

        if (driveGone)
            QVERIFY(calls().isEmpty());
        else
            QCOMPARE(calls(), QStringList({"UnlhaGetVersion",
                                           unlhaCall("e " + m_tmp.filePath("a.LZH") + " " + m_tmp.path() + "/")}));
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].text, text);
        QCOMPARE(m_boxes[0].style, kMbOk);
        QCOMPARE(m_boxes[0].title, kErrorTitle);
        QVERIFY(isWindowEnabled(form2()));
        QVERIFY(!shownReport());
        QCOMPARE(m_endings, 0);
    }

    void cleanup()
    {
        if (&volumeModel().fileSystem() != &realFileSystem()) {
            volumeModel().setFileSystem(realFileSystem());
            form2().Drive4->setDrive(m_tmp.path());
        }
    }

    void readsCaptionAndPathAtDropTime()
    {
        answer(UNLHA_ERR_WRITE);
        const QString blanks = m_tmp.filePath("out dir");
        form2().Label1->setText("/x/first.LZH");
        QCOMPARE(form2().Dir4->setPath(blanks), 0);
        form2().Image2_DragDrop();
        form2().Label1->setText("/x/second archive.LZH");
        QCOMPARE(form2().Dir4->setPath(m_tmp.filePath("second")), 0);
        form2().Image2_DragDrop();

        QCOMPARE(calls(),
                 QStringList({"UnlhaGetVersion", unlhaCall("e /x/first.LZH \"" + blanks + "/\""),
                              "UnlhaGetVersion",
                              unlhaCall("e \"/x/second archive.LZH\" " + m_tmp.filePath("second") + "/")}));
        QCOMPARE(m_boxes.size(), 2);
    }

    void missingLibrary_data()
    {
        QTest::addColumn<QString>("library");
        QTest::newRow("no file") << m_tmp.filePath("libunlha32.so");
        QTest::newRow("no entry point") << QStringLiteral(FAKE_UNLHA32_NOENTRY);
    }
    void missingLibrary()
    {
        QFETCH(QString, library);
        archive::setCandidatesForTesting({library});
        answer(UNLHA_OK);
        form2().Label1->setText("/x/a.LZH");

        form2().Image2_DragDrop();

        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].text, kLibraryMissing);
        QCOMPARE(m_boxes[0].style, kMbOk);
        QCOMPARE(m_boxes[0].title, kErrorTitle);
        // The library without Unlha() still answers UnlhaGetVersion, so at
        // most that one call is made; no extraction is attempted.
        QVERIFY(!calls().join(u'\n').contains("Unlha "));
        QVERIFY(isWindowEnabled(form2()));
        QVERIFY(!shownReport());
    }

    // With no extraction under way, a signal from outside goes straight to
    // the program's ending.
    void signalEndsProgram()
    {
        installEndingSignals();
        raise(SIGTERM);
        QTRY_COMPARE(m_endings, 1);
        QVERIFY(m_boxes.isEmpty());
    }

    // Last: the report disables the main window for the rest of the run.
    void successShowsReport()
    {
        answer(UNLHA_OK, "a.txt\n");
        form2().Label1->setText("/x/a.LZH");
        QCOMPARE(form2().Dir4->setPath("/"), 0);

        form2().Image2_DragDrop();

        QCOMPARE(calls(), QStringList({"UnlhaGetVersion", unlhaCall("e /x/a.LZH //")}));
        QVERIFY(m_boxes.isEmpty());
        QVERIFY(shownReport());
        Form4 &report = *shownReport();
        QCOMPARE(&report, &form4());
        QVERIFY(report.isWindow());
        QVERIFY(!report.parentWidget());
        QVERIFY(!isWindowEnabled(form2()));
        QVERIFY(form2().isVisible());

        QCOMPARE(report.windowTitle(), kReportCaption);
        QCOMPARE(report.size(), QSize(364, 111));
        QCOMPARE(report.Label1->text(), kReportMessage);
        QCOMPARE(report.Command1->text(), kReportButton);
        QVERIFY(!report.Image1->pixmap().isNull());
        // Enter must not press the button by accident.
        QVERIFY(!report.Command1->isDefault() && !report.Command1->autoDefault());

        // Centred on the screen by its outer size.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect outer = report.frameGeometry();
        QVERIFY(qAbs(outer.center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(outer.center().y() - screen.center().y()) <= 1);

        // Both the button and the close box end the program.
        QTest::mouseClick(report.Command1, Qt::LeftButton);
        QCOMPARE(m_endings, 1);
        QVERIFY(!report.close());
        QCOMPARE(m_endings, 2);
    }

    void cleanupTestCase()
    {
        setMsgBoxHook({});
        setEndProgramHook({});
    }
};

QTEST_MAIN(TestExtractionRun)
#include "tst_extraction_run.moc"
