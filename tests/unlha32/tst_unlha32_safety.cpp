// The writer's safety rules: nothing is created outside the destination or
// written through a link, nothing unsafe is created inside it, and no
// temporary file stays behind.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/unlha32.h"

#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

using testlzh::Item;
using testlzh::linkItem;

class SafetyTest : public QObject {
    Q_OBJECT

private slots:
    void unsafeEntriesStayInside()
    {
        Run run;
        QDir().mkdir(run.tmp.path() + "/outside");
        Item dev{"dev", {}, "x", "-lh0-", quint16(0020644)};
        Item fifo{"fifo", {}, "x", "-lh0-", quint16(0010644)};
        Item longName{QByteArray(300, 'n'), {}, "x"};
        QList<Item> items{Item{"/abs/file.txt", {}, "abs"},
                          Item{"..\\..\\..\\up.txt", {}, "up"},
                          Item{"sub/file.txt", {}, "inside"},
                          linkItem("ok", "sub/file.txt"),
                          linkItem("dot", "."),
                          linkItem("up", "../outside"),
                          linkItem("absolute", "/etc/passwd"),
                          linkItem("deep", "sub/../../outside"),
                          // "dot" is a link, so "dot/.." is the parent of the destination.
                          linkItem("sneaky", "dot/.."),
                          dev,
                          fifo,
                          longName,
                          // Refused by the destination: each is skipped and the run goes on.
                          Item{"blocked/x.txt", {}, "x"},
                          linkItem("far", QByteArray(5000, 'f')),
                          Item{QByteArray("\0comment", 8), {}, "x"},
                          Item{"last.txt", {}, "last"}};
        writeFile(run.out + "/blocked", "a file, not a folder");
        QCOMPARE(run(testlzh::archive(items, 2)), UNLHA_ERR_SKIPPED);
        QCOMPARE(readAll(run.out + "/last.txt"), QByteArray("last"));

        QCOMPARE(readAll(run.out + "/abs/file.txt"), QByteArray("abs"));
        QCOMPARE(readAll(run.out + "/up.txt"), QByteArray("up"));
        QCOMPARE(QFile::symLinkTarget(run.out + "/ok"), run.out + "/sub/file.txt");
        QCOMPARE(readAll(run.out + "/ok"), QByteArray("inside"));
        QVERIFY(QFileInfo(run.out + "/dot").isSymLink());
        for (const char *gone : {"up", "absolute", "deep", "sneaky", "dev", "fifo"})
            QVERIFY2(!QFileInfo(run.out + "/" + gone).exists() && !QFileInfo(run.out + "/" + gone).isSymLink(), gone);
        QCOMPARE(QDir(run.out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(), 7);
        QCOMPARE(QDir(run.tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 3);
        QVERIFY(QDir(run.tmp.path() + "/outside").isEmpty());

        QCOMPARE(run.causeLine(), QString::fromUtf8("スキップしたファイルがあります（10 件）。"));
        for (const char *line : {"スキップ（解凍先の外を指すリンク）：up", "スキップ（解凍先の外を指すリンク）：absolute",
                                 "スキップ（解凍先の外を指すリンク）：deep", "スキップ（解凍先の外を指すリンク）：sneaky",
                                 "スキップ（デバイスや FIFO は作りません）：dev",
                                 "スキップ（デバイスや FIFO は作りません）：fifo", "スキップ（名前が長すぎます）：nnn",
                                 "スキップ（同じ名前のファイルがあるためフォルダを作れません）：blocked/x.txt",
                                 "スキップ（名前が長すぎます）：far", "スキップ（安全でないパス）：（名前なし）"})
            QVERIFY2(run.report.contains(QString::fromUtf8(line)), line);
    }

    void neverWritesThroughExistingLinks()
    {
        Run run;
        const QString outside = run.tmp.path() + "/outside";
        QDir().mkdir(outside);
        writeFile(outside + "/victim.txt", "original");
        QVERIFY(QFile::link(outside, run.out + "/escape"));
        QVERIFY(QFile::link(outside + "/victim.txt", run.out + "/target.txt"));
        const QByteArray arc =
            testlzh::archive({Item{"escape\\x.txt", {}, "bad"}, Item{"target.txt", {}, "new"}}, 0);

        // Without an owner: nothing replaced, nothing written through.
        QCOMPARE(run(arc), UNLHA_ERR_SKIPPED);
        QVERIFY(run.report.contains(QString::fromUtf8("スキップ（安全でないパス）：escape/x.txt")));
        QVERIFY(run.report.contains(QString::fromUtf8("スキップ（既に存在）：target.txt")));
        QCOMPARE(QDir(outside).entryList(QDir::Files), QStringList{"victim.txt"});
        QCOMPARE(readAll(outside + "/victim.txt"), QByteArray("original"));

        // Replacing replaces the link itself, never its target.
        Scripted obs;
        obs.answers = {unlha::OverwriteAnswer::Replace};
        QCOMPARE(run.with(obs, arc), UNLHA_ERR_SKIPPED);
        QCOMPARE(obs.asked, QStringList{"target.txt"});
        QVERIFY(!QFileInfo(run.out + "/target.txt").isSymLink());
        QCOMPARE(readAll(run.out + "/target.txt"), QByteArray("new"));
        QCOMPARE(readAll(outside + "/victim.txt"), QByteArray("original"));
        QCOMPARE(QDir(outside).entryList(QDir::Files), QStringList{"victim.txt"});
    }

    void temporaryFilesNeverStay()
    {
        Run run;
        // The folder being written into is swapped for a link mid-file: the
        // entry is skipped and its temporary file goes with the moved folder.
        QDir().mkdir(run.tmp.path() + "/outside");
        Scripted obs;
        obs.onProgress = [&] {
            if (QFileInfo::exists(run.out + "/sub") && !QFileInfo(run.out + "/sub").isSymLink()) {
                QVERIFY(QDir().rename(run.out + "/sub", run.out + "/moved"));
                QVERIFY(QFile::link(run.tmp.path() + "/outside", run.out + "/sub"));
            }
        };
        QCOMPARE(run.with(obs, testlzh::archive({Item{"sub/big.bin", {}, QByteArray(300000, 'b')}}, 2)),
                 UNLHA_ERR_SKIPPED);
        QVERIFY2(run.report.contains(QString::fromUtf8("スキップ（安全でないパス）：sub/big.bin")), qPrintable(run.report));
        QVERIFY(QDir(run.out + "/moved").isEmpty());
        QVERIFY(QDir(run.tmp.path() + "/outside").isEmpty());

        // What a killed run left is removed where this run writes, but not
        // what a running process is writing.
        Run next;
        QDir().mkdir(next.out + "/sub");
        pid_t dead = fork();
        if (dead == 0)
            _exit(0);
        QVERIFY(dead > 0 && waitpid(dead, nullptr, 0) == dead);
        const QString stale = QString(".unlha-%1-0123456789ab.tmp").arg(dead);
        const QString busy = QString(".unlha-%1-0123456789ab.tmp").arg(getppid());
        for (const QString &f : {next.out + "/" + stale, next.out + "/sub/" + stale, next.out + "/" + busy})
            writeFile(f, "left");
        QCOMPARE(next(testlzh::archive({Item{"sub/a.txt", {}, "a"}}, 1)), UNLHA_OK);
        QCOMPARE(leftovers(next.out), QStringList{next.out + "/" + busy});
    }
};

QTEST_GUILESS_MAIN(SafetyTest)
#include "tst_unlha32_safety.moc"
