// Extraction of crafted archives: contents, times and modes, every safety
// rule of the writer, damaged input, existing files, cancel and the report.
#include "lzhbuilder.h"

#include "unlha32/crc16.h"
#include "unlha32/decoder.h"
#include "unlha32/extract.h"
#include "unlha32/lzhheader.h"
#include "unlha32/methods.h"
#include "unlha32/unlha32.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

using testlzh::Item;

namespace {

constexpr quint16 kFile = 0100000;
constexpr quint16 kLink = 0120000;

Item linkItem(const QByteArray &name, const QByteArray &target)
{
    Item it{name + "|" + target};
    it.directory = true;
    it.mode = kLink | 0777;
    return it;
}

struct Scripted : unlha::Observer {
    QList<unlha::OverwriteAnswer> answers;
    QStringList asked;
    QStringList entries;
    uint64_t total = 0;
    uint64_t lastProgress = 0;
    std::function<bool(const Scripted &)> cancelWhen;

    std::function<void()> onBegin;

    void begin(uint64_t t, std::size_t) override
    {
        total = t;
        if (onBegin)
            onBegin();
    }
    void entry(const std::string &n) override { entries << QString::fromStdString(n); }
    std::function<void()> onProgress;
    void progress(uint64_t done) override
    {
        lastProgress = done;
        if (onProgress)
            onProgress();
    }
    unlha::OverwriteAnswer askOverwrite(const std::string &p) override
    {
        asked << QString::fromStdString(p);
        return answers.isEmpty() ? unlha::OverwriteAnswer::Skip : answers.takeFirst();
    }
    bool cancelled() const override { return cancelWhen && cancelWhen(*this); }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// Leftover temporary files anywhere below `root`.
QStringList leftovers(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileName().contains(".unlha-"))
            out << it.filePath();
    }
    return out;
}

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

struct Run {
    QTemporaryDir tmp;
    QString out;
    QString arc;
    QString report;
    Run()
    {
        out = tmp.path() + "/out";
        arc = tmp.path() + "/test.lzh";
        QDir().mkdir(out);
    }
    int operator()(const QByteArray &archive, uint32_t reportSize = 8192)
    {
        writeFile(arc, archive);
        std::string buf(reportSize, '\x7F');
        const QByteArray cmd = "e \"" + QFile::encodeName(arc) + "\" \"" + QFile::encodeName(out) + "/\"";
        const int r = unlha::runCommand(0, cmd.constData(), buf.data(), reportSize);
        report = QString::fromUtf8(buf.c_str());
        return r;
    }
    int with(unlha::Observer &obs, const QByteArray &archive)
    {
        writeFile(arc, archive);
        unlha::Report rep;
        const int r = unlha::extractArchive(arc.toStdString(), out.toStdString(), obs, rep);
        report = QString::fromStdString(rep.text());
        return r;
    }
    QString firstLine() const { return report.section('\n', 0, 0); }
    // The cause of a failure is the report's last line.
    QString causeLine() const { return report.section('\n', -2, -2); }
};

} // namespace

class ExtractTest : public QObject {
    Q_OBJECT

private slots:
    void contentsTimesAndModes_data()
    {
        QTest::addColumn<int>("level");
        QTest::newRow("level 0") << 0;
        QTest::newRow("level 1") << 1;
        QTest::newRow("level 2") << 2;
        QTest::newRow("level 3") << 3;
    }

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
        QVERIFY2(run.firstLine().startsWith(QString::fromUtf8("解凍: ")), qPrintable(run.report));

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

        QCOMPARE(run.causeLine(), QString::fromUtf8("スキップしたファイルがあります（10 件）"));
        for (const char *line : {"スキップ（解凍先の外を指すリンク）: up", "スキップ（解凍先の外を指すリンク）: absolute",
                                 "スキップ（解凍先の外を指すリンク）: deep", "スキップ（解凍先の外を指すリンク）: sneaky",
                                 "スキップ（デバイスや FIFO は作りません）: dev",
                                 "スキップ（デバイスや FIFO は作りません）: fifo", "スキップ（名前が長すぎます）: nnn",
                                 "スキップ（同じ名前のファイルがあるためフォルダを作れません）: blocked/x.txt",
                                 "スキップ（名前が長すぎます）: far", "スキップ（安全でないパス）: （名前なし）"})
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
        QVERIFY(run.report.contains(QString::fromUtf8("スキップ（安全でないパス）: escape/x.txt")));
        QVERIFY(run.report.contains(QString::fromUtf8("スキップ（既に存在）: target.txt")));
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

    void damagedInput()
    {
        const Item a{"a.txt", {}, "first"};
        const Item c{"c.txt", {}, "third"};
        Item bad{"b.txt", {}, "second"};
        bad.badCrc = true;
        {
            Run run;
            QCOMPARE(run(testlzh::archive({a, bad, c}, 1)), UNLHA_ERR_DAMAGED);
            QCOMPARE(run.causeLine(), QString::fromUtf8("CRC エラー: b.txt — データが壊れています"));
            QCOMPARE(QDir(run.out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     (QStringList{"a.txt", "c.txt"}));
        }
        {
            // Cut in the middle of the second entry's data.
            Run run;
            const QByteArray full = testlzh::archive({a, Item{"big.bin", {}, QByteArray(300000, 'z')}}, 2);
            QCOMPARE(run(full.left(full.size() - 1000)), UNLHA_ERR_DAMAGED);
            QCOMPARE(run.causeLine(), QString::fromUtf8("big.bin — 書庫が途中で切れています"));
            QCOMPARE(QDir(run.out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList{"a.txt"});
            // Cut inside the first header.
            QCOMPARE(run(full.left(10)), UNLHA_ERR_DAMAGED);
            // Garbage where the second header should be.
            QCOMPARE(run(testlzh::archive({c}, 0, false) + "garbage in the archive"), UNLHA_ERR_DAMAGED);
            QVERIFY2(run.causeLine().contains("c.txt"), qPrintable(run.report));
            QVERIFY(leftovers(run.tmp.path()).isEmpty());
        }
        for (int level : {0, 1, 2}) {
            // A bad first header is damage, never a reason to look further
            // in: here the entry's own data is an archive that must not come out.
            Run run;
            const QByteArray inner = testlzh::archive({Item{"inner.txt", {}, "inner"}}, level);
            QByteArray arc = testlzh::archive({Item{"outer.lzh", {}, inner}, a}, level);
            arc[arc.indexOf("outer.lzh")] = 'O';
            QCOMPARE(run(arc), UNLHA_ERR_DAMAGED);
            QCOMPARE(run.causeLine(), QString::fromUtf8("Outer.lzh — 書庫のヘッダーが壊れています"));
            QVERIFY(QDir(run.out).isEmpty());
        }
        {
            Run run;
            QCOMPARE(run(QByteArray()), UNLHA_ERR_NOT_ARCHIVE);
            QCOMPARE(run.causeLine(), QString::fromUtf8("ファイルが空です: test.lzh"));
            QCOMPARE(run("This is a text file, not an archive.\n"), UNLHA_ERR_NOT_ARCHIVE);
            QCOMPARE(run.causeLine(), QString::fromUtf8("LHA 書庫ではありません: test.lzh"));
            QCOMPARE(run(QByteArray(1, '\0')), UNLHA_ERR_NOT_ARCHIVE);
        }
        {
            // An unknown method fails that entry only.
            Run run;
            Item odd{"odd.bin", {}, "???", "-lh9-"};
            QCOMPARE(run(testlzh::archive({odd, a}, 2)), UNLHA_ERR_METHOD);
            QCOMPARE(run.causeLine(), QString::fromUtf8("odd.bin — 対応していない圧縮方式です（-lh9-）"));
            QCOMPARE(QDir(run.out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList{"a.txt"});
        }
    }

    void existingFiles()
    {
        const QByteArray arc =
            testlzh::archive({Item{"a.txt", {}, "new"}, Item{"b.txt", {}, "new"}, Item{"c.txt", {}, "new"}}, 2);
        auto prepare = [](Run &run) {
            for (const char *n : {"a.txt", "b.txt", "c.txt"})
                writeFile(run.out + "/" + n, "old");
        };
        auto contents = [](Run &run) {
            return readAll(run.out + "/a.txt") + readAll(run.out + "/b.txt") + readAll(run.out + "/c.txt");
        };
        using A = unlha::OverwriteAnswer;
        {
            Run run;
            prepare(run);
            QCOMPARE(run(arc), UNLHA_ERR_SKIPPED);
            QCOMPARE(contents(run), QByteArray("oldoldold"));
            QCOMPARE(run.report.count(QString::fromUtf8("スキップ（既に存在）")), 3);
        }
        {
            Run run;
            prepare(run);
            Scripted obs;
            obs.answers = {A::Replace, A::SkipAll};
            QCOMPARE(run.with(obs, arc), UNLHA_ERR_SKIPPED);
            QCOMPARE(obs.asked, (QStringList{"a.txt", "b.txt"}));
            QCOMPARE(contents(run), QByteArray("newoldold"));
        }
        {
            Run run;
            prepare(run);
            Scripted obs;
            obs.answers = {A::Skip, A::ReplaceAll};
            QCOMPARE(run.with(obs, arc), UNLHA_ERR_SKIPPED);
            QCOMPARE(obs.asked, (QStringList{"a.txt", "b.txt"}));
            QCOMPARE(contents(run), QByteArray("oldnewnew"));
        }
        {
            Run run;
            prepare(run);
            Scripted obs;
            obs.answers = {A::ReplaceAll};
            QCOMPARE(run.with(obs, arc), UNLHA_OK);
            QCOMPARE(obs.asked.size(), 1);
            QCOMPARE(contents(run), QByteArray("newnewnew"));
        }
        {
            Run run;
            prepare(run);
            Scripted obs;
            obs.answers = {A::Replace, A::Cancel};
            QCOMPARE(run.with(obs, arc), UNLHA_ERR_CANCELLED);
            QCOMPARE(obs.asked.size(), 2);
            QCOMPARE(contents(run), QByteArray("newoldold"));
        }
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
        QVERIFY2(run.report.contains(QString::fromUtf8("スキップ（安全でないパス）: sub/big.bin")), qPrintable(run.report));
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

    void reportCutToFit()
    {
        Run run;
        QList<Item> items;
        for (int i = 0; i < 50; ++i)
            items << Item{QByteArray("ファイル") + QByteArray::number(i) + ".txt", {}, "x"};
        Item bad{"壊れた.txt", {}, "data"};
        bad.badCrc = true;
        items << bad;
        const QByteArray arc = testlzh::archive(items, 2);
        QCOMPARE(run(arc, 8192), UNLHA_ERR_DAMAGED);
        const QString whole = run.report;
        const QString cause = QString::fromUtf8("CRC エラー: 壊れた.txt — データが壊れています");
        QVERIFY(whole.endsWith(cause + '\n'));
        QCOMPARE(whole.count('\n'), 51);
        // Each run into a fresh folder, so that its report is the first one's.
        const auto cut = [&](uint32_t size) {
            QTemporaryDir fresh;
            std::string buf(size, '\x7F');
            const int r = unlha::runCommand(0, ("e \"" + run.arc + "\" \"" + fresh.path() + "/\"").toUtf8().constData(),
                                            buf.data(), size);
            const auto nul = buf.find('\0');
            return std::make_pair(r, nul == std::string::npos ? QByteArray("no NUL") : QByteArray(buf.data(), int(nul)));
        };
        // A buffer too small for the cause: as much of the cause as fits,
        // cut on a character boundary.
        for (uint32_t size : {1u, 2u, 17u, 40u}) {
            const auto [r, got] = cut(size);
            QCOMPARE(r, UNLHA_ERR_DAMAGED);
            QVERIFY(got.size() >= int(size) - 4 && got.size() < int(size));
            QCOMPARE(QString::fromUtf8(got).toUtf8(), got); // no broken character
            QVERIFY(cause.toUtf8().startsWith(got));
        }
        // Room for some items: the items that fit, a mark, and the whole cause.
        {
            const auto [r, got] = cut(300);
            QCOMPARE(r, UNLHA_ERR_DAMAGED);
            QVERIFY(got.size() < 300);
            const QStringList lines = QString::fromUtf8(got).split('\n', Qt::SkipEmptyParts);
            QVERIFY2(lines.size() >= 4, got.constData());
            QCOMPARE(lines.last(), cause);
            QCOMPARE(lines[lines.size() - 2], QString::fromUtf8("（以下省略）"));
            for (int i = 0; i < lines.size() - 2; ++i)
                QVERIFY(whole.startsWith(lines.mid(0, i + 1).join('\n')));
        }
        // No buffer: nothing written.
        char untouched = 'u';
        unlha::runCommand(0, ("e \"" + run.arc + "\" \"" + run.out + "/\"").toUtf8().constData(), &untouched, 0);
        QCOMPARE(untouched, 'u');
    }

    // Folders and links are finished after every file, from their headers
    // read again; nested folders keep their own times and modes.
    void archiverVariants()
    {
        // MacLHA: a MacBinary header for this very entry is removed, with
        // the resource fork; anything else that looks like one stays whole.
        auto macBinary = [](const QByteArray &name, char os) {
            QByteArray h(128, '\0');
            h[1] = char(name.size());
            h.replace(2, name.size(), name);
            const QByteArray fork = "DATA";
            h[0x56] = char(fork.size());
            h[0x5A] = 1; // one byte of resource fork
            const quint32 mac = 1262304000u + 2082844800u;
            for (int i = 0; i < 4; ++i)
                h[0x5F + i] = char(mac >> (24 - 8 * i));
            Item it{"x.bin", {}, h + fork + "R" + QByteArray(123, '\0')};
            it.os = os;
            return it;
        };
        const struct {
            Item item;
            QByteArray expected;
        } rows[] = {
            {macBinary("x.bin", 'm'), "DATA"},
            {macBinary("y.bin", 'm'), macBinary("y.bin", 'm').data},
            {macBinary("x.bin", 'U'), macBinary("x.bin", 'U').data},
        };
        for (const auto &row : rows) {
            Run run;
            QCOMPARE(run(testlzh::archive({row.item}, 1)), UNLHA_OK);
            QCOMPARE(readAll(run.out + "/x.bin"), row.expected);
        }

        // LH/2 for OS/2: a folder's attributes come as a file of the
        // folder's name, ahead of its contents.
        Item attributes{"DIR", {}, "extended attributes"}, inside{"DIR\\FILE.TXT", {}, "inside"};
        attributes.os = inside.os = '2';
        Run run;
        QCOMPARE(run(testlzh::archive({attributes, inside}, 1)), UNLHA_OK);
        QCOMPARE(readAll(run.out + "/DIR/FILE.TXT"), QByteArray("inside"));
        QCOMPARE(run(testlzh::archive({attributes, inside}, 1)), UNLHA_ERR_SKIPPED); // the file exists now
        QVERIFY2(!run.report.contains(QString::fromUtf8("フォルダがあります")), qPrintable(run.report));
    }

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
        QVERIFY(run.report.contains(QString::fromUtf8("解凍: shortcut")));
    }

    // The entries are walked twice, once to count and once to extract; an
    // archive cut short in between is damage, not a crash or a success.
    void archiveChangedBetweenWalks()
    {
        const QByteArray full = testlzh::archive(
            {Item{"a.txt", {}, "first"}, Item{"b.txt", {}, QByteArray(5000, 'b')}, Item{"c.txt", {}, "third"}}, 1);
        for (const int keep : {0, 30, int(full.indexOf("b.txt")) + 40}) {
            Run run;
            Scripted obs;
            obs.onBegin = [&] { QVERIFY(::truncate(QFile::encodeName(run.arc).constData(), keep) == 0); };
            const int r = run.with(obs, full);
            QVERIFY2(r == UNLHA_ERR_DAMAGED, qPrintable(QString::number(keep) + ": " + run.report));
            QVERIFY2(run.causeLine().contains("c.txt") || run.causeLine().contains("b.txt"), qPrintable(run.report));
            QVERIFY(!QFile::exists(run.out + "/b.txt"));
            QVERIFY(!QFile::exists(run.out + "/c.txt"));
            QVERIFY(leftovers(run.tmp.path()).isEmpty());
        }
    }

    // The report keeps no more item lines than the caller's buffer holds, so
    // an archive of a million entries costs no more memory than one of ten.
    void reportKeepsOnlyWhatFits()
    {
        const auto fill = [](unlha::Report &r) {
            for (int i = 0; i < 10; ++i)
                r.item("解凍: ", "file" + std::to_string(i)); // 14 bytes a line
        };
        unlha::Report ok(40);
        fill(ok);
        QCOMPARE(ok.text(), std::string("解凍: file0\n解凍: file1\n"));
        char buf[128];
        ok.write(buf, sizeof buf);
        QCOMPARE(QString::fromUtf8(buf), QString::fromUtf8("解凍: file0\n解凍: file1\n（以下省略）\n"));

        unlha::Report bad(40);
        fill(bad);
        bad.fail(UNLHA_ERR_DAMAGED, "壊れています");
        bad.write(buf, 40);
        QCOMPARE(QString::fromUtf8(buf), QString::fromUtf8("（以下省略）\n壊れています\n"));
        bad.write(buf, sizeof buf);
        QCOMPARE(QString::fromUtf8(buf),
                 QString::fromUtf8("解凍: file0\n解凍: file1\n（以下省略）\n壊れています\n"));

        unlha::Report roomy(1000);
        fill(roomy);
        roomy.write(buf, sizeof buf);
        QCOMPARE(QString::fromUtf8(buf).count(QLatin1Char(0x0A)), 8); // seven whole lines and the mark
        QVERIFY(QString::fromUtf8(buf).endsWith(QString::fromUtf8("（以下省略）\n")));
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

        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const auto scan = unlha::scanArchive(fd, uint64_t(QFileInfo(path).size()));
        const auto e = std::find_if(scan.entries.begin(), scan.entries.end(),
                                    [&](const unlha::Entry &x) { return x.rawName == file.toStdString(); });
        QVERIFY(e != scan.entries.end());
        const unlha::Method *method = unlha::methodOf(*e);
        QVERIFY(method && method->coder != unlha::Coder::Fast && method->coder != unlha::Coder::Lhasa);
        unlha::Entry cut = *e;
        cut.packedSize /= 2;
        const auto expected = contents.isEmpty() ? unlha::DecodeStatus::Ok : unlha::DecodeStatus::Damaged;
        for (const auto &decoder : {unlha::makeDecoder(fd), unlha::makeReferenceDecoder(fd)})
            QCOMPARE(decoder->decode(cut, [](const uint8_t *, size_t) { return true; }), expected);
        ::close(fd);
    }

    void exportedInterface()
    {
        // Only the two entry points leave the library.
        QProcess nm;
        nm.start("nm", {"-D", "--defined-only", UNLHA32_SO_PATH});
        QVERIFY(nm.waitForFinished(30000));
        QStringList names;
        for (const auto &line : QString::fromLocal8Bit(nm.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            names << line.section(' ', -1);
        names.sort();
        QCOMPARE(names, (QStringList{"Unlha", "UnlhaGetVersion"}));

        void *lib = dlopen(UNLHA32_SO_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(lib, dlerror());
        auto version = reinterpret_cast<UnlhaGetVersionFn>(dlsym(lib, "UnlhaGetVersion"));
        auto unlhaFn = reinterpret_cast<UnlhaFn>(dlsym(lib, "Unlha"));
        QVERIFY(version && unlhaFn);
        QCOMPARE(version(), uint16_t(110));
        Run run;
        writeFile(run.arc, testlzh::archive({Item{"hello.txt", {}, "hello"}}, 2));
        // The program's own form: unquoted, '\' after the folder, and an
        // empty buffer of size 0.
        char empty[1] = {'\0'};
        const QByteArray cmd = "e " + QFile::encodeName(run.arc) + " " + QFile::encodeName(run.out) + "\\";
        QCOMPARE(unlhaFn(0, cmd.constData(), empty, 0), UNLHA_OK);
        QCOMPARE(readAll(run.out + "/hello.txt"), QByteArray("hello"));
        QCOMPARE(unlhaFn(0, "l whatever", empty, 0), UNLHA_ERR_COMMAND);
        dlclose(lib);
    }
};

QTEST_GUILESS_MAIN(ExtractTest)
#include "tst_unlha32_extract.moc"
