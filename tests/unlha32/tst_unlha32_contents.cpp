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
        const QString path = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/data/" + archive;
        Run run;
        QCOMPARE(run(readAll(path)), UNLHA_OK);
        QCOMPARE(readAll(run.out + "/" + file), contents);

        const auto entries = entriesOf(path);
        const auto e = std::find_if(entries.begin(), entries.end(),
                                    [&](const unlha::Entry &x) { return x.rawName == file.toStdString(); });
        QVERIFY(e != entries.end());
        const unlha::Method *method = unlha::methodOf(*e);
        QVERIFY(method && method->coder != unlha::Coder::Fast && method->coder != unlha::Coder::Lhasa);
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
