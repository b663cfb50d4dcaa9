// Name decoding and command parsing. Runs under LANG=C (see CMakeLists.txt):
// the names must come out the same whatever the locale.
#include "lzhbuilder.h"

#include "unlha32/command.h"
#include "unlha32/extract.h"
#include "unlha32/names.h"
#include "unlha32/unlha32.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <clocale>

using testlzh::Item;

class NamesTest : public QObject {
    Q_OBJECT

private:
    static QStringList tree(const QString &root)
    {
        QStringList out;
        QDir d(root);
        const auto all = d.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        for (const auto &fi : all) {
            out << fi.fileName() + (fi.isDir() && !fi.isSymLink() ? "/" : "");
            if (fi.isDir() && !fi.isSymLink())
                for (const auto &sub : tree(fi.filePath()))
                    out << fi.fileName() + "/" + sub;
        }
        out.sort();
        return out;
    }

    static int extract(const QByteArray &archive, const QString &dest, QByteArray *report = nullptr)
    {
        const QString path = dest + "/../a.lzh";
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return -1;
        f.write(archive);
        f.close();
        char buf[4096];
        const QByteArray cmd = "e \"" + QFile::encodeName(path) + "\" \"" + QFile::encodeName(dest) + "/\"";
        const int r = unlha::runCommand(0, cmd.constData(), buf, sizeof buf);
        if (report)
            *report = buf;
        return r;
    }

private slots:
    void initTestCase()
    {
        // The environment says C; make sure the C library thinks so too.
        std::setlocale(LC_ALL, "");
        QCOMPARE(QByteArray(std::setlocale(LC_CTYPE, nullptr)), QByteArray("C"));
    }

    void shiftJisAndUtf8Paths()
    {
        unlha::NameDecoder dec;
        // ソ 表 能 end in 0x5C, which must not split them.
        auto p = dec.decodePath({}, "\x83\x5C\\\x95\x5C\x94\x5C.TXT");
        QCOMPARE(QString::fromStdString(p.display()), QString::fromUtf8("ソ/表能.TXT"));
        // A real separator right after a double-byte character.
        p = dec.decodePath({}, "\x83\x5C\x83\x5C\\a");
        QCOMPARE(QString::fromStdString(p.display()), QString::fromUtf8("ソソ/a"));
        // Directory extension with 0xFF separators, in Shift-JIS.
        p = dec.decodePath("\x83\x5C\xFF\x95\x5C\xFF", "\x94\x5C");
        QCOMPARE(QString::fromStdString(p.display()), QString::fromUtf8("ソ/表/能"));
        // UTF-8 stays as it is, half-width katakana in Shift-JIS converts.
        p = dec.decodePath("日本", "テスト.txt");
        QCOMPARE(QString::fromStdString(p.display()), QString::fromUtf8("日本/テスト.txt"));
        p = dec.decodePath({}, "\xB1\xB2.txt");
        QCOMPARE(QString::fromStdString(p.display()), QString::fromUtf8("ｱｲ.txt"));
        // Bytes that are neither still give valid UTF-8.
        p = dec.decodePath({}, "a\x80\xFD.txt");
        QVERIFY(unlha::isValidUtf8(p.display()));
        QCOMPARE(p.components.size(), size_t(1));
    }

    void hostileComponents()
    {
        unlha::NameDecoder dec;
        auto p = dec.decodePath({}, "..\\..\\etc/passwd");
        QCOMPARE(QString::fromStdString(p.display()), QString("etc/passwd"));
        p = dec.decodePath({}, "/abs/./x");
        QCOMPARE(QString::fromStdString(p.display()), QString("abs/x"));
        p = dec.decodePath({}, "C:\\WINDOWS\\A.SYS");
        QCOMPARE(QString::fromStdString(p.display()), QString("WINDOWS/A.SYS"));
        p = dec.decodePath({}, "a\x01\x1b[31m\x7f.txt");
        QCOMPARE(QString::fromStdString(p.display()), QString("a__[31m_.txt"));
        p = dec.decodePath({}, "x\xC2\x85y"); // C1 control NEL in UTF-8
        QCOMPARE(QString::fromStdString(p.display()), QString("x_y"));
        p = dec.decodePath({}, "..");
        QVERIFY(p.components.empty());
        p = dec.decodePath({}, QByteArray(300, 'a').toStdString());
        QVERIFY(p.tooLong);
        // A link target keeps its structure for the writer to judge.
        QCOMPARE(QString::fromStdString(dec.decodeText("../\x83\x5C")), QString::fromUtf8("../ソ"));
    }

    // The same names through whole archives at each header level.
    void namesOnDiskAtEveryLevel_data()
    {
        QTest::addColumn<int>("level");
        QTest::newRow("level 0") << 0;
        QTest::newRow("level 1") << 1;
        QTest::newRow("level 2") << 2;
    }

    void namesOnDiskAtEveryLevel()
    {
        QFETCH(int, level);
        QTemporaryDir tmp;
        QVERIFY(QDir().mkdir(tmp.path() + "/out"));
        const QString out = tmp.path() + "/out";
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
        QByteArray report;
        QCOMPARE(extract(testlzh::archive(items, level), out, &report), UNLHA_OK);
        QStringList want{QString::fromUtf8("ソ/"), QString::fromUtf8("ソ/表.TXT"), "README.DOC", "bad_name"};
        if (level == 2)
            want << QString::fromUtf8("日本語/") << QString::fromUtf8("日本語/ファイル.txt");
        want.sort();
        QCOMPARE(tree(out), want);
        QVERIFY(QString::fromUtf8(report).contains(QString::fromUtf8("解凍: ソ/表.TXT")));
    }

    void commands()
    {
        QTemporaryDir tmp;
        const QByteArray root = QFile::encodeName(tmp.path());
        QDir(tmp.path()).mkpath("out dir");
        QDir(tmp.path()).mkpath("dest");
        QDir(tmp.path()).mkpath("back\\");
        QDir(tmp.path()).mkpath("folder.lzh");
        QVERIFY(mkfifo(QFile::encodeName(tmp.path() + "/fifo.lzh").constData(), 0600) == 0);
        for (const char *f : {"my archive.lzh", "plain.lzh", "a", "a b", "say\"hi\".lzh", "-x.lzh"}) {
            QFile file(tmp.path() + "/" + f);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        using unlha::CommandError;
        unlha::Command c;
        // What the program sends: unquoted, blanks in both operands, '\' at the end.
        QCOMPARE(unlha::parseCommand(("e " + root + "/my archive.lzh " + root + "/out dir\\").toStdString(), c),
                 CommandError::None);
        QCOMPARE(QByteArray::fromStdString(c.archive), root + "/my archive.lzh");
        QCOMPARE(QByteArray::fromStdString(c.destination), root + "/out dir");
        QCOMPARE(unlha::parseCommand(("X \"" + root + "/my archive.lzh\" \"" + root + "/out dir/\"").toStdString(), c),
                 CommandError::None);
        QCOMPARE(QByteArray::fromStdString(c.destination), root + "/out dir");
        QCOMPARE(unlha::parseCommand(("e " + root + "/plain.lzh \"" + root + "/out dir\"").toStdString(), c),
                 CommandError::None);
        QCOMPARE(unlha::parseCommand(("e " + root + "/plain.lzh /").toStdString(), c), CommandError::None);
        QCOMPARE(QByteArray::fromStdString(c.destination), QByteArray("/"));
        QCOMPARE(unlha::parseCommand(("e " + root + "/plain.lzh //").toStdString(), c), CommandError::None);
        QCOMPARE(QByteArray::fromStdString(c.destination), QByteArray("/"));
        // Inside quotation marks a doubled one is a quotation mark, and a
        // leading '-' is a name; only the appended separator is dropped, so
        // a folder whose own name ends in '\\' is the destination.
        QCOMPARE(unlha::parseCommand(("e \"" + root + "/say\"\"hi\"\".lzh\" \"" + root + "/back\\/\"").toStdString(), c),
                 CommandError::None);
        QCOMPARE(QByteArray::fromStdString(c.archive), root + "/say\"hi\".lzh");
        QCOMPARE(QByteArray::fromStdString(c.destination), root + "/back\\");
        QVERIFY(QDir::setCurrent(tmp.path()));
        QCOMPARE(unlha::parseCommand("e \"-x.lzh\" dest/", c), CommandError::None);
        QCOMPARE(unlha::parseCommand("e -x.lzh dest/", c), CommandError::Syntax);
        // "a b dest" splits two ways that both name a file: refuse to guess.
        QCOMPARE(unlha::parseCommand(("e " + root + "/a b " + root + "/dest/").toStdString(), c),
                 CommandError::Syntax);
        QCOMPARE(unlha::parseCommand(("e \"" + root + "/a b\" " + root + "/dest/").toStdString(), c),
                 CommandError::None);
        QCOMPARE(unlha::parseCommand(("e " + root + "/nothing.lzh " + root + "/dest/").toStdString(), c),
                 CommandError::NoArchive);
        QCOMPARE(unlha::parseCommand(("e " + root + "/plain.lzh " + root + "/missing/").toStdString(), c),
                 CommandError::NoDestination);
        QCOMPARE(unlha::parseCommand(("e " + root + "/plain.lzh " + root + "/a/").toStdString(), c),
                 CommandError::NoDestination);
        for (const QByteArray &bad : {QByteArray("l " + root + "/plain.lzh " + root + "/dest/"),
                                      QByteArray("e -x " + root + "/plain.lzh " + root + "/dest/"),
                                      QByteArray("e /x " + root + "/plain.lzh " + root + "/dest/"),
                                      QByteArray("e \"" + root + "/plain.lzh " + root + "/dest/"),
                                      QByteArray("e " + root + "/plain.lzh"), QByteArray("e"), QByteArray("")})
            QVERIFY2(unlha::parseCommand(bad.toStdString(), c) != CommandError::None, bad.constData());

        // Through the entry point: a missing destination is a bad command
        // and nothing gets created.
        char buf[256];
        const QByteArray cmd = "e \"" + root + "/plain.lzh\" \"" + root + "/new/\"";
        QCOMPARE(unlha::runCommand(0, cmd.constData(), buf, sizeof buf), UNLHA_ERR_COMMAND);
        QVERIFY(!QFileInfo::exists(tmp.path() + "/new"));
        QVERIFY(QString::fromUtf8(buf).contains(root + "/new"));
        QCOMPARE(unlha::runCommand(0, nullptr, buf, sizeof buf), UNLHA_ERR_COMMAND);

        // The cause says what the archive's path is.
        const struct {
            QByteArray archive;
            const char *cause;
        } paths[] = {
            {root + "/nothing.lzh", "書庫が見つかりません"},
            {root + "/folder.lzh", "書庫ではなくフォルダです"},
            {root + "/fifo.lzh", "書庫が普通のファイルではありません"},
            {root + "/" + QByteArray(300, 'n') + ".lzh", "書庫を開けません（名前が長すぎます）"},
        };
        for (const auto &p : paths) {
            const QByteArray cmd = "e \"" + p.archive + "\" \"" + root + "/dest/\"";
            QCOMPARE(unlha::runCommand(0, cmd.constData(), buf, sizeof buf), UNLHA_ERR_COMMAND);
            QVERIFY2(QString::fromUtf8(buf).startsWith(QString::fromUtf8(p.cause)), buf);
        }
    }
};

QTEST_GUILESS_MAIN(NamesTest)
#include "tst_unlha32_names.moc"
