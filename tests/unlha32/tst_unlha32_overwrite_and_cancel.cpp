// Files that exist already and the answers to the question about each, and
// an extraction cancelled part-way.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/unlha32.h"

#include <QTest>

using testlzh::Item;
using A = unlha::OverwriteAnswer;

Q_DECLARE_METATYPE(QList<A>)

class OverwriteAndCancelTest : public QObject {
    Q_OBJECT

private slots:
    // a.txt, b.txt and c.txt exist as "old"; the archive holds them as "new".
    void existingFiles_data()
    {
        QTest::addColumn<QList<A>>("answers"); // none: nobody to ask
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QByteArray>("contents"); // of a.txt, b.txt and c.txt
        QTest::newRow("nobody to ask") << QList<A>{} << UNLHA_ERR_SKIPPED << QStringList{} << QByteArray("oldoldold");
        QTest::newRow("replace, then skip all")
            << QList<A>{A::Replace, A::SkipAll} << UNLHA_ERR_SKIPPED << QStringList{"a.txt", "b.txt"}
            << QByteArray("newoldold");
        QTest::newRow("skip, then replace all")
            << QList<A>{A::Skip, A::ReplaceAll} << UNLHA_ERR_SKIPPED << QStringList{"a.txt", "b.txt"}
            << QByteArray("oldnewnew");
        QTest::newRow("replace all") << QList<A>{A::ReplaceAll} << UNLHA_OK << QStringList{"a.txt"}
                                     << QByteArray("newnewnew");
        QTest::newRow("replace, then cancel")
            << QList<A>{A::Replace, A::Cancel} << UNLHA_ERR_CANCELLED << QStringList{"a.txt", "b.txt"}
            << QByteArray("newoldold");
    }

    void existingFiles()
    {
        QFETCH(QList<A>, answers);
        QFETCH(int, result);
        QFETCH(QStringList, asked);
        QFETCH(QByteArray, contents);
        const QStringList names{"a.txt", "b.txt", "c.txt"};
        QList<Item> items;
        Run run;
        for (const QString &n : names) {
            items << Item{n.toLatin1(), {}, "new"};
            writeFile(run.out + "/" + n, "old");
        }
        const QByteArray arc = testlzh::archive(items, 2);
        if (answers.isEmpty()) {
            // Through the command without an owner: every one kept, and said so.
            QCOMPARE(run(arc), result);
            QCOMPARE(run.report.count(QString::fromUtf8("スキップ（既に存在）")), 3);
        } else {
            Scripted obs;
            obs.answers = answers;
            QCOMPARE(run.with(obs, arc), result);
            QCOMPARE(obs.asked, asked);
        }
        QByteArray after;
        for (const QString &n : names)
            after += readAll(run.out + "/" + n);
        QCOMPARE(after, contents);
    }

    void cancelMidFile()
    {
        Run run;
        const QByteArray big(1 << 20, 'b');
        const QByteArray arc = testlzh::archive({Item{"first.txt", {}, "done"}, Item{"big.bin", {}, big}}, 1);
        Scripted obs;
        // Cancel once part of the big file is written.
        obs.cancelWhen = [](const Scripted &o) { return o.lastProgress > 100000; };
        QCOMPARE(run.with(obs, arc), UNLHA_ERR_CANCELLED);
        QCOMPARE(run.causeLine(), QString::fromUtf8("解凍を中止しました。"));
        QCOMPARE(obs.total, uint64_t(big.size() + 4));
        QCOMPARE(obs.entries, (QStringList{"first.txt", "big.bin"}));
        QVERIFY(obs.lastProgress < uint64_t(big.size()));
        QCOMPARE(readAll(run.out + "/first.txt"), QByteArray("done"));
        QVERIFY(!QFileInfo::exists(run.out + "/big.bin"));
        QVERIFY(leftovers(run.tmp.path()).isEmpty());

        // Asked while the headers of a long archive are still being read:
        // answered there, before anything is begun.
        QList<Item> many;
        for (int i = 0; i < 3000; ++i)
            many << Item{"f" + QByteArray::number(i), {}, {}};
        Scripted early;
        bool begun = false;
        early.onBegin = [&] { begun = true; };
        early.cancelWhen = [](const Scripted &) { return true; };
        Run fresh;
        QCOMPARE(fresh.with(early, testlzh::archive(many, 2)), UNLHA_ERR_CANCELLED);
        QVERIFY(!begun);
        QVERIFY(QDir(fresh.out).isEmpty());
    }

};

QTEST_GUILESS_MAIN(OverwriteAndCancelTest)
#include "tst_unlha32_overwrite_and_cancel.moc"
