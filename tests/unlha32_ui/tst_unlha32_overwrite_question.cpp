// The library's question about a file that exists already: what it shows,
// over which window, how each answer reaches the worker, through the shared
// library as the program calls it, and the program quitting meanwhile.
#include "ownerui_support.h"
#include "tests/common/files.h"

#include "unlha32/ownerui.h"
#include "unlha32/unlha32.h"

#include <QDirIterator>
#include <QLabel>
#include <QTemporaryDir>

#include <dlfcn.h>

using unlha::Observer;
using unlha::OverwriteAnswer;

class TestOverwriteQuestion : public QObject {
    Q_OBJECT
private slots:
    void overwriteAnswersReachWorker_data();
    void overwriteAnswersReachWorker();
    void libraryAsksThroughOwner_data();
    void libraryAsksThroughOwner();
    void programQuittingDuringQuestion(); // last: it ends the event loops
};

void TestOverwriteQuestion::overwriteAnswersReachWorker_data()
{
    QTest::addColumn<QString>("button"); // empty: Esc on the question
    QTest::addColumn<int>("expected");   // an OverwriteAnswer
    QTest::addColumn<bool>("afterProgressShown");
    QTest::newRow("上書き") << "replace" << int(OverwriteAnswer::Replace) << false;
    QTest::newRow("スキップ") << "skip" << int(OverwriteAnswer::Skip) << false;
    QTest::newRow("すべて上書き") << "replaceAll" << int(OverwriteAnswer::ReplaceAll) << false;
    QTest::newRow("すべてスキップ, over the progress window")
        << "skipAll" << int(OverwriteAnswer::SkipAll) << true;
    QTest::newRow("中止") << "cancel" << int(OverwriteAnswer::Cancel) << false;
    QTest::newRow("Esc") << QString() << int(OverwriteAnswer::Cancel) << false;
}

void TestOverwriteQuestion::overwriteAnswersReachWorker()
{
    QFETCH(QString, button);
    QFETCH(int, expected);
    QFETCH(bool, afterProgressShown);
    const QStringList order = {QStringLiteral("上書き"), QStringLiteral("スキップ"),
                               QStringLiteral("すべて上書き"), QStringLiteral("すべてスキップ"),
                               QStringLiteral("中止")};
    Owner owner;
    std::atomic<bool> progressSeen{false};
    QString failure;
    Driver driver([&](qint64) {
        if (visibleTop("unlhaProgress"))
            progressSeen = true;
        auto *dialog = visibleTop("unlhaOverwrite");
        if (!dialog)
            return false;
        const auto *path = dialog->findChild<QLabel *>("path");
        const auto *question = dialog->findChild<QLabel *>("question");
        QStringList texts;
        for (auto *b : dialog->findChildren<QPushButton *>())
            texts << b->text();
        QWidget *expectedParent = afterProgressShown ? visibleTop("unlhaProgress") : &owner.window;
        if (!path || path->text() != QStringLiteral("サブ/a.txt"))
            failure = "path";
        else if (!question || question->text() != QStringLiteral("上書きしますか？"))
            failure = "question";
        else if (texts != order)
            failure = "buttons: " + texts.join(',');
        else if (dialog->parentWidget() != expectedParent)
            failure = "question not over the window in front";
        // While the question is open the window behind it takes no input.
        if (auto *progress = visibleTop("unlhaProgress"))
            QTest::mouseClick(progress->findChild<QPushButton *>("cancel"), Qt::LeftButton);
        if (!button.isEmpty())
            QTest::mouseClick(dialog->findChild<QPushButton *>(button), Qt::LeftButton);
        else
            QTest::keyClick(dialog, Qt::Key_Escape);
        return true;
    });
    OverwriteAnswer got = OverwriteAnswer::Skip;
    bool cancelledAfter = false;
    const int r = unlha::runWithOwner(owner.id(), "a.lzh", [&](Observer &o) {
        if (afterProgressShown && !waitFor(progressSeen))
            return -1;
        got = o.askOverwrite("サブ/a.txt");
        cancelledAfter = o.cancelled();
        return 1;
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(r, 1);
    QCOMPARE(int(got), expected);
    // 中止 stops the whole run, as Cancel in the progress window does.
    QCOMPARE(cancelledAfter, expected == int(OverwriteAnswer::Cancel));
    QVERIFY(!visibleTop("unlhaOverwrite"));
}

void TestOverwriteQuestion::libraryAsksThroughOwner_data()
{
    QTest::addColumn<QString>("button"); // pressed on every question
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("everyFile");  // asked about each file, or once
    QTest::addColumn<bool>("replaced");
    QTest::newRow("中止") << "cancel" << UNLHA_ERR_CANCELLED << false << false;
    QTest::newRow("すべて上書き, not asked again") << "replaceAll" << UNLHA_OK << false << true;
    // The user's choice is no failure.
    QTest::newRow("スキップ") << "skip" << UNLHA_OK << true << false;
}

// The whole chain through the shared library's entry point, as the program
// calls it: the question comes from the real extraction on its worker thread.
void TestOverwriteQuestion::libraryAsksThroughOwner()
{
    QFETCH(QString, button);
    QFETCH(int, result);
    QFETCH(bool, everyFile);
    QFETCH(bool, replaced);
    const QString libPath = QCoreApplication::applicationDirPath() + "/libunlha32.so";
    void *lib = dlopen(libPath.toUtf8().constData(), RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(lib, dlerror());
    auto unlhaFn = reinterpret_cast<UnlhaFn>(dlsym(lib, "Unlha"));
    QVERIFY(unlhaFn);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString command = QStringLiteral("e \"%1\" \"%2/\"")
                                .arg(QStringLiteral(HOGUREN_SOURCE_DIR "/examples/サンプル.LZH"), dir.path());
    const QByteArray cmd = command.toUtf8();
    auto unlha = [&](uintptr_t owner) { return unlhaFn(owner, cmd.constData(), nullptr, 0); };

    QCOMPARE(unlha(0), UNLHA_OK);
    QStringList files;
    QDirIterator it(dir.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    QVERIFY(!files.isEmpty());
    const QString changed = files.first();
    const QByteArray original = readAll(changed);
    writeFile(changed, "changed");

    // Without an owner nothing is replaced.
    QCOMPARE(unlha(0), UNLHA_ERR_SKIPPED);
    QCOMPARE(readAll(changed), QByteArray("changed"));

    Owner owner;
    int questions = 0;
    Driver driver([&](qint64) {
        if (auto *dialog = visibleTop("unlhaOverwrite")) {
            ++questions;
            QTest::mouseClick(dialog->findChild<QPushButton *>(button), Qt::LeftButton);
        }
        return false;
    });
    QCOMPARE(unlha(uintptr_t(owner.window.winId())), result);
    QCOMPARE(questions, everyFile ? int(files.size()) : 1);
    QCOMPARE(readAll(changed), replaced ? original : QByteArray("changed"));
    dlclose(lib);
}

void TestOverwriteQuestion::programQuittingDuringQuestion()
{
    Owner owner;
    Driver driver([&](qint64) {
        if (!visibleTop("unlhaOverwrite"))
            return false;
        QCoreApplication::exit(0);
        return true;
    });
    OverwriteAnswer got = OverwriteAnswer::Skip;
    bool cancelled = false;
    // Must return, not wait forever on the question.
    const int r = unlha::runWithOwner(owner.id(), "a.lzh", [&](Observer &o) {
        got = o.askOverwrite("a.txt");
        cancelled = o.cancelled();
        return 9;
    });
    QCOMPARE(r, 9);
    QCOMPARE(int(got), int(OverwriteAnswer::Cancel));
    QVERIFY(cancelled);
    QVERIFY(!visibleTop("unlhaOverwrite"));
}

QTEST_MAIN(TestOverwriteQuestion)
#include "tst_unlha32_overwrite_question.moc"
