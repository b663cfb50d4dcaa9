// Name decoding. Runs under LANG=C (see CMakeLists.txt): the names must come
// out the same whatever the locale.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/names.h"
#include "unlha32/unlha32.h"

#include <QTest>

#include <clocale>

using testlzh::Item;

class NamesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The environment says C; make sure the C library thinks so too.
        std::setlocale(LC_ALL, "");
        QCOMPARE(QByteArray(std::setlocale(LC_CTYPE, nullptr)), QByteArray("C"));
    }

    void shiftJisAndUtf8Paths_data()
    {
        QTest::addColumn<QByteArray>("dir");  // the directory field, 0xFF between folders
        QTest::addColumn<QByteArray>("name"); // the name field, which may hold a path of its own
        QTest::addColumn<QString>("path");    // null: anything that is UTF-8 and one component
        // ソ 表 能 end in 0x5C, which must not split them.
        QTest::newRow("0x5C trail bytes") << QByteArray() << QByteArray("\x83\x5C\\\x95\x5C\x94\x5C.TXT")
                                          << QString::fromUtf8("ソ/表能.TXT");
        QTest::newRow("separator after a double-byte character")
            << QByteArray() << QByteArray("\x83\x5C\x83\x5C\\a") << QString::fromUtf8("ソソ/a");
        QTest::newRow("directory field in Shift-JIS") << QByteArray("\x83\x5C\xFF\x95\x5C\xFF")
                                                      << QByteArray("\x94\x5C") << QString::fromUtf8("ソ/表/能");
        QTest::newRow("UTF-8 stays") << QByteArray("日本") << QByteArray("テスト.txt")
                                     << QString::fromUtf8("日本/テスト.txt");
        QTest::newRow("half-width katakana") << QByteArray() << QByteArray("\xB1\xB2.txt")
                                             << QString::fromUtf8("ｱｲ.txt");
        QTest::newRow("neither") << QByteArray() << QByteArray("a\x80\xFD.txt") << QString();
    }

    void shiftJisAndUtf8Paths()
    {
        QFETCH(QByteArray, dir);
        QFETCH(QByteArray, name);
        QFETCH(QString, path);
        const unlha::NameDecoder dec;
        const auto p = dec.decodePath(dir.toStdString(), name.toStdString());
        QVERIFY(unlha::isValidUtf8(p.display()));
        if (path.isNull())
            QCOMPARE(p.components.size(), size_t(1));
        else
            QCOMPARE(QString::fromStdString(p.display()), path);
    }

    void hostileComponents_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("linkTarget"); // read as a link's target, not as a path
        QTest::addColumn<QString>("decoded");
        QTest::addColumn<bool>("tooLong");
        QTest::newRow("parent steps") << QByteArray("..\\..\\etc/passwd") << false << "etc/passwd" << false;
        QTest::newRow("absolute, with a dot") << QByteArray("/abs/./x") << false << "abs/x" << false;
        QTest::newRow("drive letter") << QByteArray("C:\\WINDOWS\\A.SYS") << false << "WINDOWS/A.SYS" << false;
        QTest::newRow("controls and DEL") << QByteArray("a\x01\x1b[31m\x7f.txt") << false << "a__[31m_.txt"
                                          << false;
        QTest::newRow("C1 control in UTF-8") << QByteArray("x\xC2\x85y") << false << "x_y" << false;
        QTest::newRow("nothing but a parent step") << QByteArray("..") << false << "" << false;
        QTest::newRow("too long") << QByteArray(300, 'a') << false << QString(300, 'a') << true;
        // A link target keeps its structure for the writer to judge.
        QTest::newRow("link target") << QByteArray("../\x83\x5C") << true << QString::fromUtf8("../ソ") << false;
    }

    void hostileComponents()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, linkTarget);
        QFETCH(QString, decoded);
        QFETCH(bool, tooLong);
        const unlha::NameDecoder dec;
        if (linkTarget) {
            QCOMPARE(QString::fromStdString(dec.decodeText(name.toStdString())), decoded);
            return;
        }
        const auto p = dec.decodePath({}, name.toStdString());
        QCOMPARE(QString::fromStdString(p.display()), decoded);
        QCOMPARE(p.components.empty(), decoded.isEmpty());
        QCOMPARE(p.tooLong, tooLong);
    }

    // The same names through whole archives at each header level.
    void namesOnDiskAtEveryLevel_data() { headerLevelRows(2); }

    void namesOnDiskAtEveryLevel()
    {
        QFETCH(int, level);
        QList<Item> items;
        if (level == 0) {
            // Level 0 has only the name field: the path lives in it, with '\'.
            items << Item{"\x83\x5C\\\x95\x5C.TXT", {}, "a"} << Item{"README.DOC", {}, "b"}
                  << Item{"bad\x07name", {}, "c"};
        } else {
            items << Item{"\x95\x5C.TXT", "\x83\x5C\xFF", "a"} << Item{"README.DOC", {}, "b"}
                  << Item{"bad\x07name", {}, "c"};
            if (level == 2)
                items << Item{"ファイル.txt", "日本語\xFF", "d"};
        }
        Run run;
        QCOMPARE(run(testlzh::archive(items, level)), UNLHA_OK);
        QMap<QString, QByteArray> want{{QString::fromUtf8("ソ"), "dir"},
                                       {QString::fromUtf8("ソ/表.TXT"), "a"},
                                       {"README.DOC", "b"},
                                       {"bad_name", "c"}};
        if (level == 2) {
            want.insert(QString::fromUtf8("日本語"), "dir");
            want.insert(QString::fromUtf8("日本語/ファイル.txt"), "d");
        }
        const auto got = fileTree(run.out);
        QCOMPARE(got.keys(), want.keys());
        QCOMPARE(got.values(), want.values());
        QVERIFY(run.report.contains(QString::fromUtf8("解凍：ソ/表.TXT")));
    }
};

QTEST_GUILESS_MAIN(NamesTest)
#include "tst_unlha32_names.moc"
