// Damaged input: what is extracted, the result and the cause the report
// ends with, and no temporary file left behind.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/unlha32.h"

#include <QTest>

#include <unistd.h>

using testlzh::Item;

class DamageTest : public QObject {
    Q_OBJECT

private slots:
    void damagedInput_data()
    {
        QTest::addColumn<QByteArray>("archive"); // as test.lzh
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QStringList>("extracted");
        const Item a{"a.txt", {}, "first"};
        const Item c{"c.txt", {}, "third"};
        Item bad{"b.txt", {}, "second"};
        bad.badCrc = true;
        const QByteArray big = testlzh::archive({a, Item{"big.bin", {}, QByteArray(300000, 'z')}}, 2);

        QTest::newRow("bad CRC in the middle") << testlzh::archive({a, bad, c}, 1) << UNLHA_ERR_DAMAGED
                                               << QString::fromUtf8("b.txt：データが壊れています（CRC エラー）。")
                                               << QStringList{"a.txt", "c.txt"};
        QTest::newRow("cut in the second entry's data")
            << big.left(big.size() - 1000) << UNLHA_ERR_DAMAGED
            << QString::fromUtf8("big.bin：書庫が途中で切れています。") << QStringList{"a.txt"};
        QTest::newRow("cut inside the first header") << big.left(10) << UNLHA_ERR_DAMAGED
                                                     << QString::fromUtf8("書庫が途中で切れています。") << QStringList{};
        QTest::newRow("garbage where the second header should be")
            << testlzh::archive({c}, 0, false) + "garbage in the archive" << UNLHA_ERR_DAMAGED
            << QString::fromUtf8("書庫のヘッダーが壊れています（c.txt の後）。") << QStringList{"c.txt"};
        // A bad first header is damage, never a reason to look further in:
        // here the entry's own data is an archive that must not come out.
        for (int level : {0, 1, 2}) {
            const QByteArray inner = testlzh::archive({Item{"inner.txt", {}, "inner"}}, level);
            QByteArray arc = testlzh::archive({Item{"outer.lzh", {}, inner}, a}, level);
            arc[arc.indexOf("outer.lzh")] = 'O';
            QTest::addRow("bad first header, level %d", level)
                << arc << UNLHA_ERR_DAMAGED << QString::fromUtf8("Outer.lzh：書庫のヘッダーが壊れています。")
                << QStringList{};
        }
        QTest::newRow("empty file") << QByteArray() << UNLHA_ERR_NOT_ARCHIVE
                                    << QString::fromUtf8("ファイルが空です：test.lzh") << QStringList{};
        QTest::newRow("text") << QByteArray("This is a text file, not an archive.\n") << UNLHA_ERR_NOT_ARCHIVE
                              << QString::fromUtf8("LHA 書庫ではありません：test.lzh") << QStringList{};
        QTest::newRow("end mark only") << QByteArray(1, '\0') << UNLHA_ERR_NOT_ARCHIVE
                                       << QString::fromUtf8("LHA 書庫ではありません：test.lzh") << QStringList{};
        // An unknown method fails that entry only.
        QTest::newRow("unknown method") << testlzh::archive({Item{"odd.bin", {}, "???", "-lh9-"}, a}, 2)
                                        << UNLHA_ERR_METHOD
                                        << QString::fromUtf8("odd.bin：対応していない圧縮方式です（-lh9-）。")
                                        << QStringList{"a.txt"};
    }

    void damagedInput()
    {
        QFETCH(QByteArray, archive);
        QFETCH(int, result);
        QFETCH(QString, cause);
        QFETCH(QStringList, extracted);
        Run run;
        QCOMPARE(run(archive), result);
        QCOMPARE(run.causeLine(), cause);
        QCOMPARE(fileTree(run.out).keys(), extracted);
        QVERIFY(leftovers(run.tmp.path()).isEmpty());
    }

    void archiveChangedBetweenWalks_data()
    {
        QTest::addColumn<int>("keep"); // bytes left once the extraction has begun
        QTest::newRow("emptied") << 0;
        QTest::newRow("cut in the first entry") << 30;
        QTest::newRow("cut in the second entry's data") << int(changing().indexOf("b.txt")) + 40;
    }

    // The entries are walked twice, once to count and once to extract; an
    // archive cut short in between is damage, not a crash or a success.
    void archiveChangedBetweenWalks()
    {
        QFETCH(int, keep);
        Run run;
        Scripted obs;
        obs.onBegin = [&] { QVERIFY(::truncate(QFile::encodeName(run.arc).constData(), keep) == 0); };
        QVERIFY2(run.with(obs, changing()) == UNLHA_ERR_DAMAGED, qPrintable(run.report));
        QVERIFY2(run.causeLine().contains("c.txt") || run.causeLine().contains("b.txt"), qPrintable(run.report));
        QVERIFY(!QFile::exists(run.out + "/b.txt"));
        QVERIFY(!QFile::exists(run.out + "/c.txt"));
        QVERIFY(leftovers(run.tmp.path()).isEmpty());
    }

private:
    static QByteArray changing()
    {
        return testlzh::archive(
            {Item{"a.txt", {}, "first"}, Item{"b.txt", {}, QByteArray(5000, 'b')}, Item{"c.txt", {}, "third"}}, 1);
    }
};

QTEST_GUILESS_MAIN(DamageTest)
#include "tst_unlha32_damage.moc"
