// What an extraction writes: contents, times and modes at every header
// level, folders and links, other archivers' extras, and the methods the
// library decodes itself.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/crc16.h"
#include "unlha32/decoder.h"
#include "unlha32/lzhheader.h"
#include "unlha32/methods.h"
#include "unlha32/unlha32.h"

#include <QDateTime>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <tuple>

using testlzh::Item;
using testlzh::kFile;
using testlzh::linkItem;

namespace {

// The contents of data/lh2.lzh and data/lh3.lzh, by the recipes of
// data/MakeLh23.java.
namespace recipe {

quint32 lcg(quint32 x) { return x * 1103515245u + 12345u; }

QByteArray noise(int n, quint32 x)
{
    QByteArray b(n, '\0');
    for (auto &c : b)
        c = char((x = lcg(x)) >> 16);
    return b;
}

QByteArray text()
{
    static const char *const words[] = {"alpha", "bravo", "charlie", "delta", "echo",     "foxtrot", "golf", "hotel",
                                        "india", "juliet", "kilo",   "lima",  "mike", "november", "oscar", "papa"};
    QByteArray s = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/\n";
    quint32 x = 1;
    for (int line = 0; line < 120; ++line)
        for (int w = 0; w < 8; ++w)
            s.append(words[((x = lcg(x)) >> 16) & 15]).append(w == 7 ? '\n' : ' ');
    return s;
}

// `unit` at the start of every `every` bytes, blanks between.
QByteArray cycle(const QByteArray &unit, int every, int size)
{
    QByteArray b(size, ' ');
    for (int i = 0; i < size; ++i)
        if (i % every < unit.size())
            b[i] = unit[i % every];
    return b;
}

QByteArray skew(int n)
{
    QByteArray b = noise(n, 3);
    for (auto &c : b)
        c = (c & 15) == 0 ? 'b' : 'a';
    return b;
}

} // namespace recipe

// A MacLHA entry "x.bin" whose data starts with a MacBinary header for
// `name`, with one byte of resource fork after the data fork "DATA".
Item macBinary(const QByteArray &name, char os)
{
    QByteArray h(128, '\0');
    h[1] = char(name.size());
    h.replace(2, name.size(), name);
    const QByteArray fork = "DATA";
    h[0x56] = char(fork.size());
    h[0x5A] = 1;
    const quint32 mac = 1262304000u + 2082844800u;
    for (int i = 0; i < 4; ++i)
        h[0x5F + i] = char(mac >> (24 - 8 * i));
    Item it{"x.bin", {}, h + fork + "R" + QByteArray(123, '\0')};
    it.os = os;
    return it;
}

// An OS/2 extended-attribute list (FEALIST): its total length, then each
// attribute's flags, name length, value length, name with its NUL, value.
QByteArray attributeList(const QList<QPair<QByteArray, QByteArray>> &attributes)
{
    QByteArray body;
    for (const auto &[name, value] : attributes) {
        body.append('\0').append(char(name.size()));
        testlzh::put16(body, quint16(value.size()));
        body.append(name).append('\0').append(value);
    }
    QByteArray list;
    testlzh::put32(list, quint32(body.size() + 4));
    return list + body;
}

// A list of exactly `size` bytes: one long name's attribute.
QByteArray attributeListOfSize(int size)
{
    const QByteArray name = ".LONGNAME";
    return attributeList({{name, QByteArray(size - 4 - 4 - int(name.size()) - 1, 'v')}});
}

// Every file and folder below `root`: "path/" for a folder, "path=contents"
// for a file, "path->target" for a link.
QStringList describe(const QString &root)
{
    QStringList out;
    const auto tree = fileTree(root);
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        if (it.value() == "dir")
            out << it.key() + "/";
        else if (it.value().startsWith("link:"))
            out << it.key() + "->" + QString::fromUtf8(it.value().mid(5));
        else
            out << it.key() + "=" + QString::fromUtf8(it.value());
    }
    return out;
}

} // namespace

class ContentsTest : public QObject {
    Q_OBJECT

private slots:
    void contentsTimesAndModes_data() { headerLevelRows(3); }

    void contentsTimesAndModes()
    {
        QFETCH(int, level);
        Item plain = level == 0 ? Item{"SUB\\PLAIN.TXT", {}, "plain"} : Item{"PLAIN.TXT", "SUB\xFF", "plain"};
        Item setuid{"tool", {}, "#!/bin/sh\n", "-lh0-", quint16(kFile | 04755), 1400000000};
        Item priv{"secret", {}, QByteArray(70000, 'x'), "-lh0-", quint16(kFile | 0640), 1300000000};
        Item empty{"empty", {}, {}};
        Item dir{"emptydir"};
        dir.directory = true;
        // Level 0 has no folder entries of its own kind in practice; keep it to files.
        QList<Item> items{plain, setuid, priv, empty};
        if (level != 0)
            items << dir;
        Run run;
        // A self-extractor stub in front must be passed over.
        const QByteArray stub = "MZ" + QByteArray(3000, '\x90');
        QCOMPARE(run(stub + testlzh::archive(items, level)), UNLHA_OK);
        QVERIFY2(run.firstLine().startsWith(QString::fromUtf8("解凍：")), qPrintable(run.report));

        QCOMPARE(readAll(run.out + "/SUB/PLAIN.TXT"), QByteArray("plain"));
        QCOMPARE(readAll(run.out + "/secret"), QByteArray(70000, 'x'));
        QCOMPARE(readAll(run.out + "/empty"), QByteArray());
        QCOMPARE(QFileInfo(run.out + "/emptydir").isDir(), level != 0);
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(run.out + "/tool").constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0755u); // no set-user-id
        QCOMPARE(st.st_mtime, 1400000000);
        QCOMPARE(::stat(QFile::encodeName(run.out + "/secret").constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        QCOMPARE(st.st_mtime, 1300000000);
        // Without a mode in the archive the user's umask decides.
        const mode_t mask = ::umask(022);
        ::umask(mask);
        QCOMPARE(::stat(QFile::encodeName(run.out + "/empty").constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0666u & ~mask);
        if (level == 0) // MS-DOS time, local
            QCOMPARE(QFileInfo(run.out + "/empty").lastModified(), QDateTime(QDate(2010, 1, 1), QTime(0, 0)));
        else
            QCOMPARE(st.st_mtime, 1262304000);
        QVERIFY(leftovers(run.tmp.path()).isEmpty());
    }

    // Folders and links are finished after every file, from their headers
    // read again; nested folders keep their own times and modes.
    void foldersAndLinksFinishedLast()
    {
        Item top{"top"};
        top.directory = true;
        top.mode = 040555;
        top.mtime = 1100000000;
        Item inner{"inner", "top\xFF"};
        inner.directory = true;
        inner.mode = 040751;
        inner.mtime = 1200000000;
        const QList<Item> items{top, inner, Item{"deep.txt", "top\xFFinner\xFF", "deep"},
                                linkItem("shortcut", "top/inner/deep.txt"), Item{"after.txt", {}, "after"}};
        Run run;
        writeFile(run.out + "/shortcut", "old");
        Scripted obs;
        obs.answers = {unlha::OverwriteAnswer::Replace};
        QCOMPARE(run.with(obs, testlzh::archive(items, 2)), UNLHA_OK);
        // The question about the link comes after every file was written.
        QCOMPARE(obs.asked, QStringList{"shortcut"});
        QCOMPARE(obs.entries.last(), QString("after.txt"));
        QCOMPARE(readAll(run.out + "/shortcut"), QByteArray("deep"));
        QVERIFY(QFileInfo(run.out + "/shortcut").isSymLink());
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(run.out + "/top").constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0755u); // the owner keeps full access
        QCOMPARE(st.st_mtime, 1100000000);
        QCOMPARE(::stat(QFile::encodeName(run.out + "/top/inner").constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0751u);
        QCOMPARE(st.st_mtime, 1200000000);
        QVERIFY(run.report.contains(QString::fromUtf8("解凍：shortcut")));
    }

    // Folder entries after the files in them: their times and modes still
    // apply, after the folder's last entry. A folder that was there before
    // the run keeps its own.
    void folderEntriesAfterTheirFiles_data()
    {
        QTest::addColumn<int>("workers");
        QTest::newRow("one worker") << 1;
        QTest::newRow("two workers") << 2;
    }

    void folderEntriesAfterTheirFiles()
    {
        QFETCH(int, workers);
        QList<Item> items;
        for (int i = 0; i < 3; ++i)
            items << Item{"a.txt", "d" + QByteArray::number(i) + "\xFF", "a"};
        items << Item{"b.txt", "d0\xFFsub\xFF", "b"} << Item{"x.txt", "old\xFF", "x"};
        const QList<std::tuple<QByteArray, quint16, quint32>> folders{
            {"d0", 0750, 1262304000}, {"d0\xFFsub", 0700, 1270000000}, {"d2", 0751, 1280000000}, {"old", 0755, 1290000000}};
        for (const auto &[name, mode, time] : folders) {
            Item f{name};
            f.directory = true;
            f.mode = quint16(040000 | mode);
            f.mtime = time;
            items << f;
        }
        Run run;
        QDir().mkdir(run.out + "/old");
        QVERIFY(::chmod(QFile::encodeName(run.out + "/old").constData(), 0700) == 0);
        Scripted obs;
        QCOMPARE(run.with(obs, testlzh::archive(items, 2), workers), UNLHA_OK);
        const QList<std::tuple<QString, mode_t, time_t>> expected{
            {"d0", 0750, 1262304000}, {"d0/sub", 0700, 1270000000}, {"d2", 0751, 1280000000}};
        for (const auto &[name, mode, time] : expected) {
            struct stat st;
            QCOMPARE(::stat(QFile::encodeName(run.out + "/" + name).constData(), &st), 0);
            QCOMPARE(st.st_mode & 07777, mode);
            QCOMPARE(st.st_mtime, time);
            QVERIFY2(run.report.split(u'\n').contains(QString::fromUtf8("解凍：") + name + "/"), qPrintable(run.report));
        }
        // d1 has no entry of its own: made for its file, nothing to apply.
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(run.out + "/d1").constData(), &st), 0);
        QVERIFY(st.st_mtime > 1300000000);
        QCOMPARE(::stat(QFile::encodeName(run.out + "/old").constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0700u);
        QVERIFY(st.st_mtime > 1300000000);
        QVERIFY(!run.report.split(u'\n').contains(QString::fromUtf8("解凍：old/")));
    }

    // MacLHA: a MacBinary header for this very entry is removed, with the
    // resource fork; anything else that looks like one stays whole.
    void macBinaryHeaders_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QByteArray>("contents"); // of x.bin
        QTest::newRow("for this entry") << testlzh::archive({macBinary("x.bin", 'm')}, 1) << QByteArray("DATA");
        QTest::newRow("for another name")
            << testlzh::archive({macBinary("y.bin", 'm')}, 1) << macBinary("y.bin", 'm').data;
        QTest::newRow("not from a Mac")
            << testlzh::archive({macBinary("x.bin", 'U')}, 1) << macBinary("x.bin", 'U').data;
    }

    void macBinaryHeaders()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QByteArray, contents);
        Run run;
        QCOMPARE(run(archive), UNLHA_OK);
        QCOMPARE(readAll(run.out + "/x.bin"), contents);
    }

    // LH/2 for OS/2: a folder's attributes come as a file of the folder's
    // name, ahead of its contents.
    void os2FolderAttributes()
    {
        Item attributes{"DIR", {}, "extended attributes"}, inside{"DIR\\FILE.TXT", {}, "inside"};
        attributes.os = inside.os = '2';
        Run run;
        QCOMPARE(run(testlzh::archive({attributes, inside}, 1)), UNLHA_OK);
        QCOMPARE(readAll(run.out + "/DIR/FILE.TXT"), QByteArray("inside"));
        QCOMPARE(run(testlzh::archive({attributes, inside}, 1)), UNLHA_ERR_SKIPPED); // the file exists now
        QVERIFY2(!run.report.contains(QString::fromUtf8("フォルダがあります")), qPrintable(run.report));
    }

    // LH/2 writes level-0 headers without an OS id: a file entry whose path
    // is the folder of later entries, and whose data is an OS/2 attribute
    // list, stored or compressed, is that folder's attributes.
    void os2FoldersWithoutOsId_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QString>("entry");   // the entry that may be a folder's attributes
        QTest::addColumn<bool>("folder");     // it comes out as a folder
        QTest::addColumn<int>("result");
        const QByteArray list = attributeList({{".LONGNAME", "\xFD\xFF\x06\x00subdir"}, {".TYPE", "\xDF\xFF"}});
        const Item hello{"subdir\\subdir2\\hello.txt", {}, "hello"};
        auto withList = [&](const QByteArray &data) { return testlzh::archive({Item{"subdir", {}, data}, hello}, 0); };
        QTest::newRow("stored list") << withList(list) << "subdir" << true << UNLHA_OK;
        QTest::newRow("compressed list")
            << testlzh::archive({testlzh::lh5Item("subdir", list), hello}, 0) << "subdir" << true << UNLHA_OK;
        QTest::newRow("list of 64 KiB") << withList(attributeListOfSize(64 * 1024)) << "subdir" << true << UNLHA_OK;
        QTest::newRow("list of 64 KiB and one byte")
            << withList(attributeListOfSize(64 * 1024 + 1)) << "subdir" << false << UNLHA_ERR_SKIPPED;
        QTest::newRow("data that is no list") << withList("plain text, no list") << "subdir" << false
                                              << UNLHA_ERR_SKIPPED;
        QTest::newRow("list length that is not the size")
            << withList(list + "x") << "subdir" << false << UNLHA_ERR_SKIPPED;
        QTest::newRow("list with nothing after it")
            << testlzh::archive({Item{"lonely", {}, list}, Item{"other.txt", {}, "x"}}, 0) << "lonely" << false
            << UNLHA_OK;
        // Attribute lists of folders in view at once: the newest 16.
        for (int others : {15, 16}) {
            QList<Item> items{Item{"a", {}, list}};
            for (int i = 0; i < others; ++i)
                items << Item{"b" + QByteArray::number(i), {}, list};
            items << Item{"a\\x.txt", {}, "x"};
            QTest::addRow("%d lists after the folder's", others)
                << testlzh::archive(items, 0) << "a" << (others < 16) << (others < 16 ? UNLHA_OK : UNLHA_ERR_SKIPPED);
        }
    }

    void os2FoldersWithoutOsId()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QString, entry);
        QFETCH(bool, folder);
        QFETCH(int, result);
        Run run;
        QCOMPARE(run(archive), result);
        const QFileInfo fi(run.out + "/" + entry);
        QVERIFY2(fi.exists(), qPrintable(run.report));
        QCOMPARE(fi.isDir(), folder);
        const QString inside = entry == "a" ? "/a/x.txt" : "/subdir/subdir2/hello.txt";
        if (folder && entry != "lonely")
            QVERIFY2(QFileInfo(run.out + inside).isFile(), qPrintable(run.report));
    }

    // MS-DOS archivers store a level-0 folder as an empty file whose name
    // ends in a separator; a Shift-JIS name whose last byte is 0x5C is none.
    void levelZeroFolders_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QStringList>("tree");
        QTest::newRow("ends in \\") << testlzh::archive({Item{"folder\\"}, Item{"folder\\file.txt", {}, "x"}}, 0)
                                     << QStringList{"folder/", "folder/file.txt=x"};
        QTest::newRow("ends in /") << testlzh::archive({Item{"folder/"}, Item{"folder/file.txt", {}, "x"}}, 0)
                                   << QStringList{"folder/", "folder/file.txt=x"};
        QTest::newRow("empty folder, nested") << testlzh::archive({Item{"a\\b\\"}}, 0) << QStringList{"a/", "a/b/"};
        QTest::newRow("Shift-JIS name ending in 0x5C")
            << testlzh::archive({Item{"\x83\x5C"}, Item{"\x93\xFA.txt", {}, "x"}}, 0)
            << QStringList{QString::fromUtf8("ソ="), QString::fromUtf8("日.txt=x")};
        QTest::newRow("not empty: a file") << testlzh::archive({Item{"data\\", {}, "x"}}, 0) << QStringList{"data=x"};
    }

    void levelZeroFolders()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QStringList, tree);
        Run run;
        QCOMPARE(run(archive), UNLHA_OK);
        QCOMPARE(describe(run.out), tree);
    }

    // Link targets follow the separator rule of names: '\' separates.
    void linkTargetsWithDosSeparators_data()
    {
        QTest::addColumn<QByteArray>("archive");
        const Item file1{"file1", {}, "one"};
        QTest::newRow("level 0") << testlzh::archive({file1, linkItem("dir2\\symlink1", "..\\file1")}, 0);
        Item inFolder = linkItem("symlink1", "..\\file1");
        inFolder.dir = "dir2\xFF";
        QTest::newRow("level 1") << testlzh::archive({file1, inFolder}, 1);
    }

    void linkTargetsWithDosSeparators()
    {
        QFETCH(QByteArray, archive);
        Run run;
        QCOMPARE(run(archive), UNLHA_OK);
        QCOMPARE(describe(run.out), (QStringList{"dir2/", "dir2/symlink1->../file1", "file1=one"}));
        QCOMPARE(readAll(run.out + "/dir2/symlink1"), QByteArray("one"));
    }

    // A link entry without a target is one bad entry: skipped with its
    // reason, the entries after it extracted.
    void linkWithoutTarget_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QString>("link"); // the link made, or null: skipped
        QTest::addColumn<int>("result");
        Item bare{"link"};
        bare.directory = true;
        bare.mode = testlzh::kLink | 0777;
        const Item after{"after.txt", {}, "after"};
        for (int level : {0, 1, 2}) {
            QTest::addRow("no '|', level %d", level) << testlzh::archive({bare, after}, level) << QString() << UNLHA_ERR_SKIPPED;
            QTest::addRow("nothing after '|', level %d", level)
                << testlzh::archive({linkItem("link", ""), after}, level) << QString() << UNLHA_ERR_SKIPPED;
        }
        // Some archivers leave a link's extended headers out of its packed size.
        Item uncounted = linkItem("link", "after.txt");
        uncounted.packedLeavesOutExtensions = true;
        QTest::newRow("level 1, packed size without extended headers")
            << testlzh::archive({uncounted, after}, 1) << "after.txt" << UNLHA_OK;
    }

    void linkWithoutTarget()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QString, link);
        QFETCH(int, result);
        Run run;
        QCOMPARE(run(archive), result);
        QCOMPARE(readAll(run.out + "/after.txt"), QByteArray("after"));
        const QFileInfo fi(run.out + "/link");
        QCOMPARE(fi.isSymLink(), !link.isNull());
        if (link.isNull()) {
            QVERIFY(!fi.exists());
            QVERIFY2(run.report.contains(QString::fromUtf8("スキップ（リンク先がありません）：link")), qPrintable(run.report));
        } else {
            QCOMPARE(fi.symLinkTarget(), QFileInfo(run.out + "/" + link).absoluteFilePath());
        }
    }

    // A later copy of a path replaces what this run wrote for the earlier
    // one, without a question; what was there before the run is asked
    // about as ever.
    void samePathTwice_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QByteArray>("before");  // same.txt before the run, null: none
        QTest::addColumn<QString>("answers");    // R replace, S skip, a letter a question
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("outcome");    // as describe() gives it
        const Item first{"same.txt", {}, "first"}, second{"same.txt", {}, "second"};
        for (int level : {0, 1, 2})
            QTest::addRow("twice, level %d", level)
                << testlzh::archive({first, second}, level) << QByteArray() << "" << 0 << UNLHA_OK << "same.txt=second";
        QTest::newRow("three times") << testlzh::archive({first, second, Item{"same.txt", {}, "third"}}, 1)
                                     << QByteArray() << "" << 0 << UNLHA_OK << "same.txt=third";
        QTest::newRow("in a folder, written two ways")
            << testlzh::archive({Item{"same.txt", "dir\xFF", "first"}, Item{"dir\\same.txt", {}, "second"}}, 1)
            << QByteArray() << "" << 0 << UNLHA_OK << "dir/same.txt=second";
        QTest::newRow("there before, replaced")
            << testlzh::archive({first, second}, 1) << QByteArray("old") << "R" << 1 << UNLHA_OK << "same.txt=second";
        // Nobody to ask for the second copy's sake: Scripted stands for no user.
        QTest::newRow("there before, kept") << testlzh::archive({first, second}, 1) << QByteArray("old") << "SS" << 2
                                            << UNLHA_ERR_SKIPPED << "same.txt=old";
        QTest::newRow("a link, then a file")
            << testlzh::archive({linkItem("same.txt", "target.txt"), second}, 1) << QByteArray() << "" << 0 << UNLHA_OK
            << "same.txt=second";
        QTest::newRow("a file, then a link")
            << testlzh::archive({first, Item{"target.txt", {}, "t"}, linkItem("same.txt", "target.txt")}, 1)
            << QByteArray() << "" << 0 << UNLHA_OK << "same.txt->target.txt";
        // The paths seen are kept in stages of 4096 and more.
        for (int paths : {4096, 4097}) {
            QList<Item> items{first};
            for (int i = 1; i < paths; ++i)
                items << Item{"f" + QByteArray::number(i), {}, "x"};
            items << second;
            QTest::addRow("%d paths, the first again last", paths)
                << testlzh::archive(items, 2) << QByteArray() << "" << 0 << UNLHA_OK << "same.txt=second";
        }
    }

    void samePathTwice()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QByteArray, before);
        QFETCH(QString, answers);
        QFETCH(int, asked);
        QFETCH(int, result);
        QFETCH(QString, outcome);
        Run run;
        if (!before.isNull())
            writeFile(run.out + "/same.txt", before);
        Scripted obs;
        for (const QChar a : answers)
            obs.answers << (a == 'R' ? unlha::OverwriteAnswer::Replace : unlha::OverwriteAnswer::Skip);
        QCOMPARE(run.with(obs, archive), result);
        QCOMPARE(obs.asked.size(), asked);
        const QStringList tree = describe(run.out);
        QVERIFY2(tree.contains(outcome), qPrintable(run.report));
    }

    // Long buffers take the split-and-join path; every length and alignment
    // around its edges must give the bit-by-bit result.
    void crcMatchesBitwise()
    {
        QByteArray data(70000, '\0');
        quint32 x = 12345;
        for (auto &c : data) {
            x = x * 1103515245 + 12345;
            c = char(x >> 16);
        }
        // Zeros give a CRC of 0 part-way, a case the joining must handle.
        const QByteArray zeros(70000, '\0');
        for (const QByteArray &source : {data, zeros})
            for (int len : {0, 1, 7, 8, 9, 12287, 12288, 12289, 12295, 65536, 69990})
                for (int off : {0, 1, 5})
                    for (quint16 start : {quint16(0), quint16(0xBEEF)}) {
                        const QByteArray part = source.mid(off, len);
                        QCOMPARE(unlha::crc16Update(start, part.constData(), size_t(part.size())),
                                 testlzh::crc16(part, start));
                    }
    }

    void ownDecoders_data()
    {
        QTest::addColumn<QString>("archive"); // in data/
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("contents");
        for (const char *method : {"lh2", "lh3"}) {
            const QString arc = QString(method) + ".lzh";
            const bool lh2 = arc == "lh2.lzh";
            QTest::addRow("%s text", method) << arc << QByteArray("text.txt") << recipe::text();
            QTest::addRow("%s noise, stored larger", method) << arc << QByteArray("noise.bin") << recipe::noise(600, 5);
            QTest::addRow("%s empty", method) << arc << QByteArray("empty") << QByteArray();
            QTest::addRow("%s longest copies, past the window", method)
                << arc << QByteArray("period.bin") << recipe::cycle(recipe::noise(1000, 7), 1000, 20000);
            // -lh2-: past the count where the weights are halved; -lh3-: two blocks.
            QTest::addRow("%s literals only", method) << arc << QByteArray("skew.bin") << recipe::skew(lh2 ? 34000 : 15000);
        }
        QTest::newRow("lh3 offset code of its own")
            << "lh3.lzh" << QByteArray("far.bin") << recipe::cycle(recipe::noise(600, 11), 4000, 60000);
        QTest::newRow("lh3 code of one symbol") << "lh3.lzh" << QByteArray("same.bin") << QByteArray(300, 'x');
        // Made by LHARK 0.4d, from the compatibility corpus.
        QTest::newRow("lhark") << "lhark.lzh" << QByteArray("GPL-2") << readAll("/usr/share/common-licenses/GPL-2");
    }

    // The files of archives in the methods of the library's own decoders;
    // their data cut in half must end as damage through either decoder,
    // not as zeros read past the end.
    void ownDecoders()
    {
        QFETCH(QString, archive);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, contents);
        const QString path = QStringLiteral(UNLHA32_TEST_DATA "/") + archive;
        Run run;
        QCOMPARE(run(readAll(path)), UNLHA_OK);
        QCOMPARE(readAll(run.out + "/" + file), contents);

        const auto entries = entriesOf(path);
        const auto e = std::find_if(entries.begin(), entries.end(),
                                    [&](const unlha::Entry &x) { return x.rawName == file.toStdString(); });
        QVERIFY(e != entries.end());
        const unlha::Method *method = unlha::methodOf(*e);
        QVERIFY(method && method->decode && method->dictBits != 0 && !method->lhasa);
        unlha::Entry cut = *e;
        cut.packedSize /= 2;
        const auto expected = contents.isEmpty() ? unlha::DecodeStatus::Ok : unlha::DecodeStatus::Damaged;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        for (const auto &decoder : {unlha::makeDecoder(fd), unlha::makeReferenceDecoder(fd)})
            QCOMPARE(decoder->decode(cut, [](const uint8_t *, size_t) { return true; }), expected);
        ::close(fd);
    }
};

QTEST_GUILESS_MAIN(ContentsTest)
#include "tst_unlha32_contents.moc"
