// The writer's safety rules: nothing is created outside the destination or
// written through a link, nothing unsafe is created inside it, and no
// temporary file stays behind.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/unlha32.h"
#include "unlha32/writer.h"

#include <QTest>

#include <poll.h>
#include <signal.h>
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

    }

    // Only what is provably a leftover of this machine's dead runs is swept:
    // never a file an extraction placed, nor one that merely looks alike.
    void sweepTakesOnlyLeftovers()
    {
        Run first;
        QDir().mkdir(first.out + "/sub");
        // A real leftover: a run killed while writing under a temporary name,
        // as it does where the file system has no unnamed files.
        int names[2];
        QVERIFY(::pipe(names) == 0);
        const int killed = inChild([&] {
            unlha::SafeWriter w;
            unlha::WriteError err;
            int sysError = 0;
            unlha::TempFile t;
            if (!w.open((first.out + "/sub").toStdString()))
                return 1;
            const unlha::Folder dir = w.parentFolder({"x"}, err, sysError);
            if (!w.createNamedTemp(dir, t, sysError) || ::write(t.fd, "left", 4) != 4
                || ::write(names[1], t.name.data(), t.name.size()) != ssize_t(t.name.size()))
                return 2;
            ::raise(SIGKILL);
            return 3;
        });
        ::close(names[1]);
        QCOMPARE(killed, 128 + SIGKILL);
        char buf[128] = {};
        QVERIFY(::read(names[0], buf, sizeof buf - 1) > 0);
        ::close(names[0]);
        const QString leftover = QString::fromLatin1(buf);
        QCOMPARE(readAll(first.out + "/sub/" + leftover), QByteArray("left"));
        const pid_t dead = unlha::tempOwner(buf);
        QVERIFY(dead > 0);

        QString forged = leftover;
        forged[forged.size() - 5] = forged[forged.size() - 5] == u'0' ? u'1' : u'0';
        const QString running = QString::fromStdString(unlha::tempName(::getppid(), 42));
        const QString ownTagged = QString::fromStdString(unlha::tempName(dead, 7));
        writeFile(first.out + "/" + running, "a running process's");
        writeFile(first.out + "/sub/" + forged, "looks alike");
        // Archive entries named like temporary files: the old form is a name
        // like any other; one with this machine's tag is never placed, as a
        // later run would remove it.
        const QByteArray oldForm = ".unlha-4000000-000000000000.tmp";
        QCOMPARE(first(testlzh::archive({Item{oldForm, {}, "entry"}, Item{ownTagged.toLatin1(), {}, "entry"}}, 2)),
                 UNLHA_ERR_SKIPPED);
        QVERIFY2(first.report.contains(QString::fromUtf8("スキップ（安全でないパス）：") + ownTagged),
                 qPrintable(first.report));
        QVERIFY(!QFileInfo::exists(first.out + "/" + ownTagged));
        // The leftover is still there: this run did not write into sub.
        QVERIFY(QFileInfo::exists(first.out + "/sub/" + leftover));

        QCOMPARE(first(testlzh::archive({Item{"sub/a.txt", {}, "a"}}, 1)), UNLHA_OK);
        QStringList expected{first.out + "/" + oldForm, first.out + "/" + running, first.out + "/sub/" + forged};
        QStringList left = leftovers(first.out);
        left.sort();
        expected.sort();
        QCOMPARE(left, expected);
        QCOMPARE(readAll(first.out + "/" + oldForm), QByteArray("entry"));
    }

    // The process's table of named temporary files, full and one beyond:
    // refused as a lack of descriptors is, and usable again once one goes.
    void namedTempsAtTheirLimit()
    {
        QTemporaryDir dir;
        unlha::SafeWriter w;
        QVERIFY(w.open(dir.path().toStdString()));
        unlha::WriteError err;
        int sysError = 0;
        const unlha::Folder root = w.parentFolder({"x"}, err, sysError);
        std::vector<unlha::TempFile> temps(unlha::kMaxNamedTemps + 1);
        for (int i = 0; i < unlha::kMaxNamedTemps; ++i) {
            QVERIFY(w.createNamedTemp(root, temps[i], sysError));
            ::close(temps[i].fd); // the name stays recorded; the descriptor is not needed
            temps[i].fd = -1;
        }
        QVERIFY(!w.createNamedTemp(root, temps.back(), sysError));
        QCOMPARE(sysError, EMFILE);
        QVERIFY(w.discard(temps.front()));
        QVERIFY(w.createNamedTemp(root, temps.back(), sysError));
        QCOMPARE(leftovers(dir.path()).size(), unlha::kMaxNamedTemps);
        for (auto &t : temps)
            QVERIFY(w.discard(t));
        QCOMPARE(leftovers(dir.path()), QStringList());
    }

    // A finished file given its name, written unnamed or under a temporary
    // name: the same answer either way, what stood there untouched unless
    // replaced, and no temporary name left.
    void commitGivesTheName_data()
    {
        using unlha::WriteError;
        QTest::addColumn<bool>("named");
        QTest::addColumn<QString>("standing"); // at the name beforehand: "", "file" or "folder"
        QTest::addColumn<bool>("replace");
        QTest::addColumn<bool>("tempLike"); // the name is one of this machine's temporary names
        QTest::addColumn<int>("expected");
        for (const bool named : {false, true}) {
            const char *how = named ? "named" : "unnamed";
            QTest::addRow("%s, free name", how) << named << "" << false << false << int(WriteError::None);
            QTest::addRow("%s, a file kept", how) << named << "file" << false << false << int(WriteError::Exists);
            QTest::addRow("%s, a file replaced", how) << named << "file" << true << false << int(WriteError::None);
            QTest::addRow("%s, a folder kept", how) << named << "folder" << false << false << int(WriteError::Exists);
            QTest::addRow("%s, a folder not replaced", how)
                << named << "folder" << true << false << int(WriteError::DirExists);
            QTest::addRow("%s, a temporary name", how) << named << "" << true << true << int(WriteError::Unsafe);
        }
    }

    void commitGivesTheName()
    {
        QFETCH(bool, named);
        QFETCH(QString, standing);
        QFETCH(bool, replace);
        QFETCH(bool, tempLike);
        QFETCH(int, expected);
        QTemporaryDir dir;
        const std::string name = tempLike ? unlha::tempName(::getpid(), 1) : "f.txt";
        const QString path = dir.path() + "/" + QString::fromStdString(name);
        if (standing == "file")
            writeFile(path, "old");
        else if (standing == "folder")
            QVERIFY(QDir().mkdir(path));
        unlha::SafeWriter w;
        QVERIFY(w.open(dir.path().toStdString()));
        unlha::WriteError err;
        int sysError = 0;
        const unlha::Folder root = w.parentFolder({"x"}, err, sysError);
        unlha::TempFile t;
        QVERIFY(named ? w.createNamedTemp(root, t, sysError) : w.createTemp(root, t, sysError));
        if (t.named() != named)
            QSKIP("this file system has no unnamed files");
        QCOMPARE(::write(t.fd, "new", 3), ssize_t(3));
        err = w.commit(root.fd(), t, name, 0644, true, 0, false, replace, sysError);
        QCOMPARE(int(err), expected);
        QCOMPARE(t.live(), err != unlha::WriteError::None);
        QVERIFY(w.discard(t));
        if (err == unlha::WriteError::None)
            QCOMPARE(readAll(path), QByteArray("new"));
        else if (standing == "file")
            QCOMPARE(readAll(path), QByteArray("old"));
        else if (standing == "folder")
            QVERIFY(QDir(path).isEmpty());
        else
            QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(leftovers(dir.path()), QStringList());
    }

    // A run killed in the middle of an entry (SIGKILL: nothing of the
    // library runs) leaves no file, half written or otherwise.
    void killedRunLeavesNothing_data()
    {
        QTest::addColumn<QString>("base");
        QTest::newRow("temporary folder") << QDir::tempPath();
        QTest::newRow("tmpfs") << QStringLiteral("/dev/shm");
    }

    void killedRunLeavesNothing()
    {
        QFETCH(QString, base);
        if (!QFileInfo(base).isDir() || !QFileInfo(base).isWritable())
            QSKIP("no such folder to write into");
        QTemporaryDir dir(base + "/killed-XXXXXX");
        QVERIFY(dir.isValid());
        const QString out = dir.path() + "/out";
        const QString arc = dir.path() + "/big.lzh";
        QDir().mkdir(out);
        writeFile(arc, testlzh::archive({Item{"big.bin", {}, QByteArray(8 << 20, 'k')}}, 2));
        int ready[2], hold[2];
        QVERIFY(::pipe(ready) == 0 && ::pipe(hold) == 0);
        QStringList seen;
        const int code = inChild(
            [&] {
                Scripted obs;
                obs.onProgress = [&] {
                    // Mid-entry: say so, then wait for the end.
                    if (obs.lastProgress > 0 && obs.lastProgress < (8u << 20)) {
                        char c = 'r';
                        char x;
                        if (::write(ready[1], &c, 1) == 1)
                            (void)!::read(hold[0], &x, 1);
                    }
                };
                unlha::Report rep;
                unlha::extractArchive(arc.toStdString(), out.toStdString(), obs, rep, 1);
                return 0;
            },
            [&](pid_t pid) {
                pollfd p{ready[0], POLLIN, 0};
                if (::poll(&p, 1, 20000) == 1) {
                    seen = QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
                    seen << "(mid-entry)";
                }
                ::kill(pid, SIGKILL);
            });
        for (int fd : {ready[0], ready[1], hold[0], hold[1]})
            ::close(fd);
        QCOMPARE(code, 128 + SIGKILL);
        // Nothing shows while the file is written, and nothing stays.
        QCOMPARE(seen, QStringList{"(mid-entry)"});
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // A link checked after many folders were opened, from deep folders, on
    // one worker or several: the folder it is made in stays the one that
    // was checked, however many folders the checks open.
    void linksAfterManyFolders_data()
    {
        QTest::addColumn<int>("folders"); // files in folders of their own, before the link
        QTest::addColumn<int>("depth");   // of the link's folder
        QTest::addColumn<int>("ups");     // ".." in its target
        QTest::addColumn<int>("workers");
        const int cache = int(unlha::kMaxCachedFolders);
        for (int workers : {1, 2}) {
            // The link's folder and the others fill the kept folders to their
            // limit, to one less, and to one more.
            for (int folders : {cache - 2, cache - 1, cache}) {
                QTest::addRow("%d folders, inside, %d worker(s)", folders, workers) << folders << 3 << 3 << workers;
                QTest::addRow("%d folders, outside, %d worker(s)", folders, workers) << folders << 3 << 4 << workers;
            }
        }
        // Every folder up from as deep as the folders kept, and one deeper.
        for (int depth : {cache, cache + 1}) {
            QTest::addRow("depth %d, to the top", depth) << 0 << depth << depth << 1;
            QTest::addRow("depth %d, one above the top", depth) << 0 << depth << depth + 1 << 1;
        }
    }

    void linksAfterManyFolders()
    {
        QFETCH(int, folders);
        QFETCH(int, depth);
        QFETCH(int, ups);
        QFETCH(int, workers);
        QByteArray dir = "b\xFF";
        QString where = "b/";
        for (int i = 1; i < depth; ++i) {
            dir += "c" + QByteArray::number(i) + "\xFF";
            where += QString("c%1/").arg(i);
        }
        QList<Item> items;
        if (workers == 1)
            items << Item{"big", {}, QByteArray(4000, 'B')}; // one entry after the other
        items << Item{"g", dir, "g"};
        for (int i = 0; i < folders; ++i)
            items << Item{"x", "f" + QByteArray::number(i) + "\xFF", "x"};
        QByteArray target;
        for (int i = 0; i < ups; ++i)
            target += "../";
        target += "t";
        Item link = testlzh::linkItem("l", target);
        link.dir = dir;
        items << link;

        Run run;
        Scripted obs;
        const bool inside = ups <= depth;
        QCOMPARE(run.with(obs, testlzh::archive(items, 2), workers), inside ? UNLHA_OK : UNLHA_ERR_SKIPPED);
        QMap<QString, QByteArray> links;
        const auto tree = fileTree(run.out);
        for (auto it = tree.cbegin(); it != tree.cend(); ++it)
            if (it.value().startsWith("link:"))
                links.insert(it.key(), it.value());
        if (inside) {
            QCOMPARE(links, (QMap<QString, QByteArray>{{where + "l", "link:" + target}}));
            QVERIFY2(run.report.contains(QString::fromUtf8("解凍：") + where + "l"), qPrintable(run.report));
        } else {
            QCOMPARE(links, (QMap<QString, QByteArray>{}));
            QVERIFY2(run.report.contains(QString::fromUtf8("スキップ（解凍先の外を指すリンク）：") + where + "l"),
                     qPrintable(run.report));
        }
        QCOMPARE(tree.value(where + "g"), QByteArray("g"));
        QCOMPARE(tree.value(QString("f%1/x").arg(folders - 1)), folders ? QByteArray("x") : QByteArray());
        QCOMPARE(QDir(run.tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 (QStringList{"out", "test.lzh"}));
    }
};

QTEST_GUILESS_MAIN(SafetyTest)
#include "tst_unlha32_safety.moc"
