// Name decoding. Runs under LANG=C (see CMakeLists.txt): the names must come
// out the same whatever the locale.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/names.h"
#include "unlha32/unlha32.h"

#include <QTest>

#include <clocale>

using testlzh::Item;

namespace {

// A stored entry "x" under `name`, from the system `os` (levels 1 to 3).
Item named(const QByteArray &name, char os = 'M', const QByteArray &dir = {})
{
    Item it{name, dir, "x"};
    it.os = os;
    return it;
}

QByteArray utf16(const QString &s)
{
    QByteArray b;
    for (const QChar c : s)
        b.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return b;
}

// A Windows archiver's entry: '_' in the name fields, the names in
// extended headers 0x44 and 0x45.
Item unicodeNamed(const QByteArray &fallbackName, const QByteArray &fallbackDir, const QByteArray &name,
                  const QByteArray &dir)
{
    Item it = named(fallbackName, 'M', fallbackDir);
    if (!name.isNull())
        it.extra.append({char(0x44), name});
    if (!dir.isNull())
        it.extra.append({char(0x45), dir});
    return it;
}

const QByteArray kUtf16FolderEnd("\xFF\xFF", 2);

} // namespace

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
        QTest::newRow("link target with DOS separators")
            << QByteArray("..\\dir\\file1") << true << QString("../dir/file1") << false;
        QTest::newRow("link target, 0x5C inside a character")
            << QByteArray("..\\\x83\x5C\\a") << true << QString::fromUtf8("../ソ/a") << false;
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

    // One encoding for all of an archive's names, from all of them and the
    // OS ids of its headers.
    void archiveEncoding_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QStringList>("paths"); // every file and folder extracted
        using testlzh::archive;
        const QList<Item> amiga{named("fran\xE7" "ais", 'A', "WBDock2\xFF" "Catalogs\xFF"), named("t\xFCrk\xE7" "e", 'A')};
        const QStringList amigaPaths{"WBDock2", "WBDock2/Catalogs", QString::fromUtf8("WBDock2/Catalogs/français"),
                                     QString::fromUtf8("türkçe")};
        QTest::newRow("Amiga: ISO-8859-1") << archive(amiga, 1) << amigaPaths;
        QTest::newRow("Amiga, yet Japanese Shift-JIS names")
            << archive({named("\x93\xFA\x96\x7B.txt", 'A')}, 1) << QStringList{QString::fromUtf8("日本.txt")};

        // Level 0 has no OS id: the names alone decide.
        QTest::newRow("level 0, a name Shift-JIS reads as private use")
            << archive({Item{"espa\xF1ol", {}, "x"}, Item{"README", {}, "x"}}, 0)
            << QStringList{"README", QString::fromUtf8("español")};
        QTest::newRow("level 0, a folder whose separator Shift-JIS would swallow")
            << archive({Item{"catal\xE0\\"}, Item{"catal\xE0\\fitxer.txt", {}, "x"}}, 0)
            << QStringList{QString::fromUtf8("català"), QString::fromUtf8("català/fitxer.txt")};
        QTest::newRow("level 0, accented letters inside words")
            << archive({Item{"fran\xE7" "ais", {}, "x"}, Item{"\xC9T\xC9", {}, "x"}}, 0)
            << QStringList{QString::fromUtf8("français"), QString::fromUtf8("ÉTÉ")};
        QTest::newRow("level 0, European bytes that read as half-width katakana")
            << archive({Item{"\xE8" "e\xB9tina", {}, "x"}}, 0) << QStringList{QString::fromUtf8("èe¹tina")};
        // ソ 表 能 end in 0x5C; 0xE0 0x5C is a rare kanji after a letter.
        QTest::newRow("level 0, Japanese names with 0x5C second bytes")
            << archive({Item{"\x83\x5C\\\x95\x5C\x94\x5C.TXT", {}, "x"}, Item{"\x83\x5C\x83\x74\x83\x67", {}, "x"},
                        Item{"A\xE0\x5C.TXT", {}, "x"}},
                       0)
            << QStringList{QString::fromUtf8("A濬.TXT"), QString::fromUtf8("ソ"), QString::fromUtf8("ソ/表能.TXT"),
                           QString::fromUtf8("ソフト")};
        Item hyo{"\x95\x5C"};
        hyo.directory = true;
        QTest::newRow("level 0, Japanese folder entry ending in 0x5C")
            << archive({hyo, Item{"\x95\x5C\\a.txt", {}, "x"}}, 0)
            << QStringList{QString::fromUtf8("表"), QString::fromUtf8("表/a.txt")};
        QTest::newRow("level 0, half-width katakana only")
            << archive({Item{"\xC3\xDE\xB0\xC0.DAT", {}, "x"}, Item{"\xB1\xB2.TXT", {}, "x"}}, 0)
            << QStringList{QString::fromUtf8("ｱｲ.TXT"), QString::fromUtf8("ﾃﾞｰﾀ.DAT")};
        QTest::newRow("level 0, a broken name among Japanese ones")
            << archive({Item{"\x93\xFA\x96\x7B.txt", {}, "x"}, Item{"x\x82.txt", {}, "x"}}, 0)
            << QStringList{"x_.txt", QString::fromUtf8("日本.txt")};

        // LHa for UNIX writes the names of its system: EUC-JP, Shift-JIS or UTF-8.
        QTest::newRow("Unix, EUC-JP")
            << archive({named("\xC6\xFC\xCB\xDC\xB8\xEC.txt", 'U'), named("x.txt", 'U', "\xA4\xA2\xA4\xA4\xFF")}, 1)
            << QStringList{QString::fromUtf8("あい"), QString::fromUtf8("あい/x.txt"), QString::fromUtf8("日本語.txt")};
        QTest::newRow("Unix, EUC-JP at level 0")
            << archive({Item{"\xC6\xFC\xCB\xDC.txt", {}, "x", "-lh0-", quint16(testlzh::kFile | 0644)}}, 0)
            << QStringList{QString::fromUtf8("日本.txt")};
        QTest::newRow("Unix, Shift-JIS")
            << archive({named("\x93\xFA\x96\x7B\x8C\xEA.txt", 'U'), named("\xB1\xB2.txt", 'U')}, 1)
            << QStringList{QString::fromUtf8("ｱｲ.txt"), QString::fromUtf8("日本語.txt")};
        QTest::newRow("Unix, UTF-8")
            << archive({named("日本語.txt", 'U'), named("café", 'U')}, 1)
            << QStringList{QString::fromUtf8("café"), QString::fromUtf8("日本語.txt")};
        QTest::newRow("MS-DOS, half-width katakana that EUC-JP could read")
            << archive({named("\xB1\xB2.txt", 'M')}, 1) << QStringList{QString::fromUtf8("ｱｲ.txt")};

        // Windows archivers: Unicode names beside a fallback of '_'.
        const QList<Item> windows{unicodeNamed("______ __.txt", "___\xFF", utf16(QString::fromUtf8("ÖÄüöä 日本.txt")),
                                               utf16(QString::fromUtf8("Ü文字")) + kUtf16FolderEnd)};
        const QStringList windowsPaths{QString::fromUtf8("Ü文字"), QString::fromUtf8("Ü文字/ÖÄüöä 日本.txt")};
        QTest::newRow("Unicode names, level 1") << archive(windows, 1) << windowsPaths;
        QTest::newRow("Unicode names, level 2") << archive(windows, 2) << windowsPaths;
        QTest::newRow("Unicode file name in a Shift-JIS folder")
            << archive({unicodeNamed("__.txt", "\x83\x5C\xFF", utf16(QString::fromUtf8("Ö😀.txt")), QByteArray())}, 2)
            << QStringList{QString::fromUtf8("ソ"), QString::fromUtf8("ソ/Ö😀.txt")};
        QTest::newRow("Unicode folders two deep, a lone surrogate")
            << archive({unicodeNamed("_.txt", "a\xFF" "b\xFF", QByteArray("\x00\xD8", 2) + utf16(".txt"),
                                     utf16("a") + kUtf16FolderEnd + utf16("b") + kUtf16FolderEnd)},
                       2)
            << QStringList{"a", "a/b", QString::fromUtf8("a/b/\uFFFD.txt")};
    }

    void archiveEncoding()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QStringList, paths);
        Run run;
        QCOMPARE(run(archive), UNLHA_OK);
        paths.sort();
        QCOMPARE(fileTree(run.out).keys(), paths);
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
