// Damaged input: what is extracted, the result and the cause the report
// ends with, and no temporary file left behind.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/unlha32.h"

#include <QTest>

#include <unistd.h>

#include <tuple>

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
        // A zero length byte where a header plainly follows is damage, not
        // the end of the archive; a level-2 length of 256 is a length.
        for (int level : {0, 1}) {
            QByteArray arc = testlzh::archive({a, c}, level);
            arc[arc.indexOf("c.txt") - 22] = '\0'; // the length byte, 22 bytes before the name
            QTest::addRow("second header's length zero, level %d", level)
                << arc << UNLHA_ERR_DAMAGED << QString::fromUtf8("書庫のヘッダーが壊れています（a.txt の後）。")
                << QStringList{"a.txt"};
        }
        QByteArray long256; // a first header of exactly 256 bytes, by its name's length
        int len = 1;
        for (; len < 250 && !(long256.size() > 1 && long256[0] == 0 && long256[1] == 1); ++len)
            long256 = testlzh::archive({Item{QByteArray(len, 'n'), {}, "long"}, c}, 2);
        QTest::newRow("level-2 header of 256 bytes")
            << long256 << UNLHA_OK << QString::fromUtf8("解凍：c.txt") << QStringList{"c.txt", QString(len - 1, 'n')};
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
        // LHa for UNIX pads a level-2 header by one byte past its extended
        // headers; more bytes than that are a damaged chain of lengths.
        for (int pad : {1, 2}) {
            Item padded = a;
            padded.pad = pad;
            QTest::addRow("level-2 header, %d bytes past its extended headers", pad)
                << testlzh::archive({padded, c}, 2) << (pad == 1 ? UNLHA_OK : UNLHA_ERR_DAMAGED)
                << QString::fromUtf8(pad == 1 ? "解凍：c.txt" : "a.txt：書庫のヘッダーが壊れています。")
                << (pad == 1 ? QStringList{"a.txt", "c.txt"} : QStringList{});
        }
    }

    void damagedFirstHeader_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("cause");
        const QString named = QString::fromUtf8("outer.lzh：書庫のヘッダーが壊れています。");
        const QString unnamed = QString::fromUtf8("書庫のヘッダーが壊れています。");
        struct Damage {
            const char *what;
            QList<QPair<int, int>> bytes; // offset, new value; -1: the byte plus one
            int levels;                   // bit per header level it applies to
            QString cause;
        };
        constexpr int all = 0b1111, base = 0b0011, l1 = 0b0010, l2 = 0b0100, l3 = 0b1000;
        const QList<Damage> damages{
            {"length's low byte zero", {{0, 0}}, all, named},
            {"length's low byte plus one", {{0, -1}}, all, named},
            {"sum plus one", {{1, -1}}, base, named},
            {"length's high byte plus one", {{1, -1}}, l2, QString::fromUtf8("outer.lzh：書庫が途中で切れています。")},
            {"field width's high byte plus one", {{1, -1}}, l3, named},
            {"method's first dash", {{2, 'x'}}, all, named},
            {"method's first letter", {{3, 'L'}}, all, named},
            {"method's second letter", {{4, 'H'}}, all, named},
            {"method's digit", {{5, '9'}}, all, named},
            {"method's last dash", {{6, '_'}}, all, named},
            {"packed size", {{7, -1}}, all, named},
            {"original size", {{11, -1}}, all, named},
            {"level 4", {{20, 4}}, all, named},
            {"level 7", {{20, 7}}, all, named},
            {"level 255", {{20, 255}}, all, named},
            {"name length plus one", {{21, -1}}, 0b0001, named},
            {"name length zero", {{21, 0}}, base, unnamed},
            {"header CRC", {{27, -1}}, l2, named},
            {"header CRC", {{33, -1}}, l3, named},
            // Level 1's first extended header's length ends its base header
            // ("outer.lzh": at 34), which its sum does not cover.
            {"first extended header's length zero", {{34, 0}}, l1, named},
            {"first extended header's length plus one", {{34, -1}}, l1, named},
            {"first extended header's length zero", {{24, 0}}, l2, unnamed},
            {"first extended header's length zero", {{28, 0}}, l3, unnamed},
            {"first extended header's length plus one", {{24, -1}}, l2, unnamed},
            {"first extended header's length plus one", {{28, -1}}, l3, unnamed},
            {"header length plus one", {{24, -1}}, l3, named},
            {"method's second letter and level 7", {{4, 'H'}, {20, 7}}, all, named},
            {"length and sum zero", {{0, 0}, {1, 0}}, base, named},
            {"method's letters upper-case", {{3, 'L'}, {4, 'H'}}, all, named},
        };
        for (int level = 0; level <= 3; ++level) {
            // The first entry is itself an archive: what lies in its data
            // must never come out in its place.
            const QByteArray inner = testlzh::archive({Item{"inner.txt", {}, "inner"}}, level);
            const QByteArray sound = testlzh::archive({Item{"outer.lzh", {}, inner}, Item{"a.txt", {}, "a"}}, level);
            for (const Damage &d : damages) {
                if (!(d.levels & (1 << level)))
                    continue;
                QByteArray arc = sound;
                for (const auto &[at, value] : d.bytes)
                    arc[at] = char(value < 0 ? arc[at] + 1 : value);
                QTest::addRow("level %d, %s", level, d.what) << arc << UNLHA_ERR_DAMAGED << d.cause;
            }
            // Level 0 and level 1, level 2 and level 3 swapped.
            QByteArray swapped = sound;
            swapped[20] = char(level ^ 1);
            QTest::addRow("level %d, read as level %d", level, level ^ 1) << swapped << UNLHA_ERR_DAMAGED << named;
            // Behind a self-extractor's program the archive's first header is
            // passed over as a look-alike; what it leads to is not taken
            // instead: the second entry's header, or its own data's archive.
            const QByteArray program = "MZ" + QByteArray(600, '\x90') + "-lh5-" + QByteArray(40, '\0');
            const QByteArray plain = testlzh::archive({Item{"outer.lzh", {}, "data"}, Item{"a.txt", {}, "a"}}, level);
            for (const auto &[what, at, value] : {std::tuple{"method's first dash", 2, int('x')},
                                                  std::tuple{"level 7", 20, 7},
                                                  std::tuple{level < 2 ? "sum" : "header CRC", level < 2 ? 1 : 27 + 6 * (level - 2), -1}}) {
                for (const bool nested : {false, true}) {
                    QByteArray arc = nested ? sound : plain;
                    arc[at] = char(value < 0 ? arc[at] + 1 : value);
                    QTest::addRow("level %d behind a program, %s, first entry %s", level, what,
                                  nested ? "an archive" : "plain")
                        << program + arc << UNLHA_ERR_DAMAGED << named;
                }
            }
        }
        // A level-2 header with a damaged method and length, the file ending
        // before its first extended header's length: nothing past the end is
        // read for its name.
        QByteArray shortLevel2 = testlzh::header(Item{"x"}, 2).left(24);
        shortLevel2.replace(2, 5, "-L50-");
        shortLevel2[0] = char(0x19);
        shortLevel2[1] = char(0xA7);
        QTest::newRow("level 2, method and length damaged, cut before its extended headers")
            << shortLevel2 << UNLHA_ERR_DAMAGED << unnamed;
        // No program begins so, and too little of a header is left.
        QByteArray gone = testlzh::archive({Item{"outer.lzh", {}, testlzh::archive({Item{"inner.txt"}}, 0)}}, 0);
        gone.replace(2, 5, "-LH0_");
        gone[20] = 7;
        QTest::newRow("method and level both gone") << gone << UNLHA_ERR_NOT_ARCHIVE
                                                    << QString::fromUtf8("LHA 書庫ではありません：test.lzh");
    }

    // A file that begins as an archive whose first header is damaged is
    // reported as damaged, by the name that can still be read; the first
    // header that passes its checks further in is never taken instead.
    void damagedFirstHeader()
    {
        QFETCH(QByteArray, archive);
        QFETCH(int, result);
        QFETCH(QString, cause);
        Run run;
        QCOMPARE(run(archive), result);
        QCOMPARE(run.causeLine(), cause);
        QCOMPARE(fileTree(run.out).keys(), QStringList{});
    }

    void programInFront_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<int>("result");
        // The body of a program as a self-extractor has one: code, and the
        // names of the methods it decodes.
        const QByteArray body = QByteArray(600, '\x90') + "-lh5-" + QByteArray(40, '\0') + QByteArray(600, '\x90');
        QTest::newRow("MS-DOS or Windows") << "MZ" + body << UNLHA_OK;
        QTest::newRow("MS-DOS, ZM") << "ZM" + body << UNLHA_OK;
        QTest::newRow("ELF") << "\x7F" "ELF\x02\x01\x01" + body << UNLHA_OK;
        QTest::newRow("Amiga hunk file") << QByteArray("\0\0\x03\xF3", 4) + body << UNLHA_OK;
        QTest::newRow("X68000 .X") << "HU" + body << UNLHA_OK;
        QTest::newRow("Atari ST") << "\x60\x1A" + body << UNLHA_OK;
        QTest::newRow(".COM, near jump") << "\xE9\x10\x02LHA's SFX " + body << UNLHA_OK;
        QTest::newRow(".COM, short jump") << "\xEB\x1ELHarc's SFX " + body << UNLHA_OK;
        QTest::newRow("CP/M .COM") << "\xC3\x00\x02" + body << UNLHA_OK;
        QTest::newRow(".COM of another start, with its banner") << "\xFC\xBE\x10\x01LHarc's SFX 1.13S " + body << UNLHA_OK;
        // Neither a program nor a header: not searched.
        QTest::newRow(".COM of another start, without banner") << "\xFC\xBE\x10\x01" + body << UNLHA_ERR_NOT_ARCHIVE;
        QTest::newRow("text") << "Read me first.\n" + body << UNLHA_ERR_NOT_ARCHIVE;
        QTest::newRow("zeros") << QByteArray(1000, '\0') << UNLHA_ERR_NOT_ARCHIVE;
        // MacBinary: the archive as the data fork, right after 128 bytes.
        QByteArray mac(128, '\0');
        mac[1] = 63;
        QTest::newRow("MacBinary, longest name") << mac << UNLHA_OK;
        mac[1] = 64;
        QTest::newRow("MacBinary, name one too long") << mac << UNLHA_ERR_NOT_ARCHIVE;
        mac[1] = 8;
        mac[74] = 1;
        QTest::newRow("MacBinary, byte 74 not zero") << mac << UNLHA_ERR_NOT_ARCHIVE;
    }

    // The archive behind a self-extractor's program is found; behind
    // anything else it is not looked for.
    void programInFront()
    {
        QFETCH(QByteArray, start);
        QFETCH(int, result);
        for (int level = 0; level <= 3; ++level) {
            Run run;
            const QByteArray arc = testlzh::archive({Item{"a.txt", {}, "first"}, Item{"b.txt", {}, "second"}}, level);
            QCOMPARE(run(start + arc), result);
            QCOMPARE(fileTree(run.out).keys(), result == UNLHA_OK ? QStringList({"a.txt", "b.txt"}) : QStringList());
        }
    }

    void everyFailedEntryNamed_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("cause");
        const auto badCrcs = [](int n, int from = 0) {
            QList<Item> items;
            for (int i = from; i < from + n; ++i) {
                items.append(Item{"f" + QByteArray::number(i) + ".txt", {}, "data"});
                items.back().badCrc = true;
            }
            return items;
        };
        QTest::newRow("three bad CRCs") << testlzh::archive(badCrcs(3), 1) << UNLHA_ERR_DAMAGED
                                        << QString::fromUtf8("f0.txt、f1.txt、f2.txt：データが壊れています（CRC エラー）。");
        QTest::newRow("five bad CRCs, as many as are named")
            << testlzh::archive(badCrcs(5), 1) << UNLHA_ERR_DAMAGED
            << QString::fromUtf8("f0.txt、f1.txt、f2.txt、f3.txt、f4.txt：データが壊れています（CRC エラー）。");
        QTest::newRow("six bad CRCs, one past those named")
            << testlzh::archive(badCrcs(6), 1) << UNLHA_ERR_DAMAGED
            << QString::fromUtf8("f0.txt、f1.txt、f2.txt、f3.txt、f4.txt ほか 1 件：データが壊れています（CRC エラー）。");
        Item wrongSize{"size.txt", {}, "data"};
        wrongSize.claimedSize = 5;
        QTest::newRow("bad CRCs and a wrong size, then a damaged header")
            << testlzh::archive(badCrcs(1) + QList<Item>{wrongSize} + badCrcs(1, 1), 2, false) + "garbage"
            << UNLHA_ERR_DAMAGED
            << QString::fromUtf8("f0.txt、f1.txt：データが壊れています（CRC エラー）。"
                                 "／size.txt：データが壊れています（大きさが合いません）。"
                                 "／書庫のヘッダーが壊れています（f1.txt の後）。");
        // Unknown methods, each a cause of its own.
        const auto methods = [](int n) {
            QList<Item> items;
            for (int i = 0; i < n; ++i)
                items.append(Item{"m" + QByteArray::number(i), {}, "data", "-lx" + QByteArray::number(i + 1) + "-"});
            return items;
        };
        QTest::newRow("four unknown methods, as many causes as are shown")
            << testlzh::archive(methods(4), 2) << UNLHA_ERR_METHOD
            << QString::fromUtf8("m0：対応していない圧縮方式です（-lx1-）。／m1：対応していない圧縮方式です（-lx2-）。"
                                 "／m2：対応していない圧縮方式です（-lx3-）。／m3：対応していない圧縮方式です（-lx4-）。");
        QTest::newRow("five unknown methods, one cause past those shown")
            << testlzh::archive(methods(5), 2) << UNLHA_ERR_METHOD
            << QString::fromUtf8("m0：対応していない圧縮方式です（-lx1-）。／m1：対応していない圧縮方式です（-lx2-）。"
                                 "／m2：対応していない圧縮方式です（-lx3-）。／m3：対応していない圧縮方式です（-lx4-）。"
                                 "／ほか 1 件");
    }

    // Every entry that failed is named on the cause line, the one line the
    // program shows.
    void everyFailedEntryNamed()
    {
        QFETCH(QByteArray, archive);
        QFETCH(int, result);
        QFETCH(QString, cause);
        Run run;
        QCOMPARE(run(archive), result);
        QCOMPARE(run.causeLine(), cause);
        QVERIFY(leftovers(run.tmp.path()).isEmpty());
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
