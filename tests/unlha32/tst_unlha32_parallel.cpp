// Extraction on several workers against extraction on one: the same files,
// result, report and questions, whatever order the workers finish in.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/lzhheader.h"
#include "unlha32/unlha32.h"

#include <QTest>

#include "unlha32/writer.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using testlzh::Item;

namespace {

// Bytes that differ from file to file, so that a mix-up between entries shows.
QByteArray content(int i, int size)
{
    QByteArray b(size, '\0');
    quint32 x = 2654435761u * quint32(i + 1);
    for (int k = 0; k < size; ++k) {
        x = x * 1103515245u + 12345u;
        b[k] = char(x >> 24);
    }
    return b;
}

// One extraction into a fresh folder; `prepare` may put files there first.
struct Outcome {
    int result = 0;
    QString report;
    QMap<QString, QByteArray> files;
};

Outcome extract(const QString &archive, int workers, unlha::Observer &obs,
                const std::function<void(const QString &)> &prepare = {})
{
    QTemporaryDir dir;
    const QString out = dir.path() + "/out";
    QDir().mkdir(out);
    if (prepare)
        prepare(out);
    unlha::Report rep;
    Outcome o;
    o.result = unlha::extractArchive(archive.toStdString(), out.toStdString(), obs, rep, workers);
    o.report = QString::fromStdString(rep.text());
    o.files = fileTree(out);
    return o;
}

Outcome extract(const QString &archive, int workers, const std::function<void(const QString &)> &prepare = {})
{
    Scripted quiet;
    return extract(archive, workers, quiet, prepare);
}

// Many files of many sizes in a few folders.
QList<Item> manyFiles(int count)
{
    QList<Item> items;
    for (int i = 0; i < count; ++i) {
        const int size = (i % 7 == 0) ? 150000 + i * 10 : (i * 997) % 5000;
        items << Item{QByteArray("f") + QByteArray::number(i) + ".bin", "d" + QByteArray::number(i % 5) + "\xFF",
                      content(i, size)};
    }
    return items;
}

void compareOutcomes(const Outcome &seq, const Outcome &par)
{
    QCOMPARE(par.result, seq.result);
    QCOMPARE(par.report, seq.report);
    QCOMPARE(par.files.keys(), seq.files.keys());
    for (auto it = seq.files.cbegin(); it != seq.files.cend(); ++it)
        QVERIFY2(par.files.value(it.key()) == it.value(), qPrintable(it.key()));
}

} // namespace

class ParallelTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString save(const QString &name, const QByteArray &data)
    {
        const QString p = dir_.path() + "/" + name;
        writeFile(p, data);
        return p;
    }

private slots:
    // Archives whose entries depend on one another or fail in different ways:
    // the workers must not change what ends up on disk or in the report.
    void sameOutcomeAsOneWorker()
    {
        QList<Item> items = manyFiles(120);
        Item folder{"d1"};
        folder.directory = true;
        items.insert(3, folder);
        // The same name again later: the later copy replaces the file this
        // run wrote for the first, once that is on disk, never a race
        // between two workers.
        items.insert(60, Item{"f2.bin", "d2\xFF", "second copy"});
        // A file, then an entry below it: refused, never a folder made first.
        items.insert(10, Item{"plain", {}, content(900, 200000)});
        items.insert(80, Item{"x.txt", "plain\xFF", "below a file"});
        // A folder entry where a file is being written.
        Item shadow{"f8.bin", "d3\xFF"};
        shadow.directory = true;
        items.insert(20, shadow);
        Item bad{"bad.bin", {}, content(901, 30000)};
        bad.badCrc = true;
        items.insert(40, bad);
        items.insert(50, Item{"odd.bin", {}, "???", "-lh9-"});
        items.insert(70, Item{"fifo", {}, {}, "-lh0-", quint16(testlzh::kFifo | 0644)});
        Item link = testlzh::linkItem("ln", "f0.bin");
        link.dir = "d0\xFF";
        items.insert(30, link);

        for (int level : {1, 2}) {
            const QString arc = save(QString("mixed%1.lzh").arg(level), testlzh::archive(items, level));
            const Outcome seq = extract(arc, 1);
            QVERIFY(seq.result == UNLHA_ERR_DAMAGED || seq.result == UNLHA_ERR_METHOD);
            QVERIFY(seq.report.contains("bad.bin"));
            QCOMPARE(seq.files.value("d2/f2.bin"), QByteArray("second copy"));
            QVERIFY(seq.files.value("plain").size() == 200000);
            QVERIFY(!seq.files.contains("plain/x.txt"));
            QVERIFY(seq.files.contains("d0/ln"));
            for (int workers : {2, 4, 8}) {
                const Outcome par = extract(arc, workers);
                compareOutcomes(seq, par);
                if (QTest::currentTestFailed())
                    qWarning("level %d, %d workers", level, workers);
            }
        }

        // Cut inside the data of an entry near the end.
        const QByteArray whole = testlzh::archive(manyFiles(60), 2);
        const QString cut = save("cut.lzh", whole.left(whole.size() - 40000));
        const Outcome seq = extract(cut, 1);
        QCOMPARE(seq.result, UNLHA_ERR_DAMAGED);
        compareOutcomes(seq, extract(cut, 4));

        // Many more entries than the workers look ahead.
        QList<Item> tiny;
        for (int i = 0; i < 700; ++i)
            tiny << Item{"t" + QByteArray::number(i), {}, content(i, i % 50)};
        const QString many = save("tiny.lzh", testlzh::archive(tiny, 0));
        const Outcome seqTiny = extract(many, 1);
        QCOMPARE(seqTiny.result, UNLHA_OK);
        QCOMPARE(seqTiny.files.size(), 700);
        compareOutcomes(seqTiny, extract(many, 4));
    }

    void corpusArchives()
    {
        const QString corpus = qEnvironmentVariable("HOGUREN_CORPUS");
        if (corpus.isEmpty() || !QFileInfo(corpus + "/MANIFEST.tsv").exists())
            QSKIP(qPrintable("no compatibility corpus at '" + corpus
                             + "' (HOGUREN_CORPUS): the corpus's archives are not compared"));
        int compared = 0;
        QDirIterator it(corpus, {"*.lzh", "*.lzs", "*.pma"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString arc = it.next();
            // Only archives that give the workers something to share, and
            // small enough to extract twice.
            uint64_t total = 0;
            int files = 0;
            for (const auto &e : entriesOf(arc)) {
                total += e.originalSize;
                files += e.kind == unlha::EntryKind::File;
            }
            if (files < 2 || total > 64u * 1024 * 1024)
                continue;
            const Outcome seq = extract(arc, 1);
            const Outcome par = extract(arc, 4);
            compareOutcomes(seq, par);
            if (QTest::currentTestFailed())
                qWarning("%s", qPrintable(arc));
            ++compared;
        }
        QVERIFY(compared > 0);
    }

    void overwriteQuestionsInArchiveOrder()
    {
        const QList<Item> items = manyFiles(80);
        const QString arc = save("over.lzh", testlzh::archive(items, 2));
        // Every fifth file exists already.
        auto prepare = [&](const QString &out) {
            for (int i = 0; i < 80; i += 5) {
                QDir().mkpath(out + QString("/d%1").arg(i % 5));
                writeFile(out + QString("/d%1/f%2.bin").arg(i % 5).arg(i), "old");
            }
        };
        QStringList expected;
        for (int i = 0; i < 80; i += 5)
            expected << QString("d%1/f%2.bin").arg(i % 5).arg(i);

        using A = unlha::OverwriteAnswer;
        const QList<QList<A>> scripts{{A::Replace, A::Skip, A::ReplaceAll},
                                      {A::Skip, A::Replace, A::SkipAll},
                                      {A::Replace, A::Replace, A::Skip, A::Cancel}};
        for (const auto &script : scripts) {
            Scripted seqObs;
            seqObs.answers = script;
            const Outcome seq = extract(arc, 1, seqObs, prepare);
            // "All" answers end the questions; Cancel ends the run.
            QCOMPARE(seqObs.asked, expected.mid(0, script.size()));
            for (int workers : {2, 4}) {
                Scripted parObs;
                parObs.answers = script;
                const Outcome par = extract(arc, workers, parObs, prepare);
                QCOMPARE(parObs.asked, seqObs.asked);
                compareOutcomes(seq, par);
            }
            if (script.last() == A::Cancel) {
                QCOMPARE(seq.result, UNLHA_ERR_CANCELLED);
                // Everything before the fourth question is done, nothing after.
                QCOMPARE(seq.files.value("d4/f14.bin"), content(14, 150000 + 140));
                QVERIFY(!seq.files.contains("d1/f16.bin"));
                QCOMPARE(seq.files.value("d0/f15.bin"), QByteArray("old"));
            } else if (script.last() == A::ReplaceAll) {
                QCOMPARE(seq.files.value("d0/f5.bin"), QByteArray("old"));
                QCOMPARE(seq.files.value("d0/f75.bin"), content(75, (75 * 997) % 5000));
            } else {
                QCOMPARE(seq.files.value("d0/f5.bin"), content(5, (5 * 997) % 5000));
                QCOMPARE(seq.files.value("d0/f75.bin"), QByteArray("old"));
            }
        }
    }

    void cancelMidway()
    {
        const QList<Item> items = manyFiles(200);
        const QString arc = save("cancel.lzh", testlzh::archive(items, 2));
        QMap<QString, QByteArray> source;
        for (const Item &it : items)
            source.insert(QString::fromLatin1(it.dir.left(2) + "/" + it.name), it.data);
        for (int workers : {1, 4}) {
            for (int after : {1, 40, 150}) {
                Scripted obs;
                obs.cancelWhen = [after](const Scripted &o) { return o.entries.size() >= after; };
                const Outcome o = extract(arc, workers, obs);
                QCOMPARE(o.result, UNLHA_ERR_CANCELLED);
                QVERIFY(o.report.endsWith(QString::fromUtf8("解凍を中止しました。\n")));
                int files = 0;
                for (auto it = o.files.cbegin(); it != o.files.cend(); ++it) {
                    QVERIFY2(!it.key().contains(".unlha-"), qPrintable(it.key()));
                    if (it.value() == "dir")
                        continue;
                    ++files;
                    // Whatever is there is whole.
                    QVERIFY2(source.value(it.key()) == it.value(), qPrintable(it.key()));
                }
                QVERIFY(files < 200);
                QVERIFY(!obs.progressWentBack);
            }
        }
    }

    // Files in flight up to the window and one beyond, each in a folder of
    // its own, with a folder entry and a link after them: the same outcome
    // as one worker.
    void windowEdges_data()
    {
        QTest::addColumn<int>("workers");
        QTest::addColumn<int>("files");
        for (int workers : {2, 4}) {
            const int window = 16 * workers;
            QTest::addRow("%d workers, %d files", workers, window) << workers << window;
            QTest::addRow("%d workers, %d files", workers, window + 1) << workers << window + 1;
        }
    }

    void windowEdges()
    {
        QFETCH(int, workers);
        QFETCH(int, files);
        QList<Item> items;
        for (int i = 0; i < files; ++i)
            items << Item{"x.bin", "w" + QByteArray::number(i) + "\xFF", content(i, 3000 + i)};
        Item folder{"w0"};
        folder.directory = true;
        folder.mode = 040750;
        items << folder;
        Item link = testlzh::linkItem("l", "../w" + QByteArray::number(files - 1) + "/x.bin");
        link.dir = "w0\xFF";
        items << link;
        const QString arc = save(QString("window%1.lzh").arg(files), testlzh::archive(items, 2));
        const Outcome seq = extract(arc, 1);
        QCOMPARE(seq.result, UNLHA_OK);
        QCOMPARE(seq.files.size(), 2 * files + 1);
        QCOMPARE(seq.files.value("w0/l"), "link:../w" + QByteArray::number(files - 1) + "/x.bin");
        compareOutcomes(seq, extract(arc, workers));
    }

    // Under a low limit of descriptors the run takes fewer files at once and
    // extracts everything; with too few for even one file it stops with
    // that cause, leaving nothing half written.
    void descriptorLimits_data()
    {
        QTest::addColumn<int>("spare"); // descriptors beyond those open, or the whole limit when negative
        QTest::addColumn<int>("expected");
        QTest::newRow("limit of 64") << -64 << UNLHA_OK;
        // The archive's and the destination's, and what one file needs.
        const int fewest = 2 + int(unlha::kFewestDescriptors);
        QTest::newRow("the fewest") << fewest << UNLHA_OK;
        QTest::newRow("the fewest and one") << fewest + 1 << UNLHA_OK;
        QTest::newRow("one beyond the archive's and the destination's") << 3 << UNLHA_ERR_WRITE;
    }

    void descriptorLimits()
    {
        QFETCH(int, spare);
        QFETCH(int, expected);
        QList<Item> items;
        QMap<QString, QByteArray> source;
        for (int i = 0; i < 3000; ++i) {
            const QByteArray dir = "d" + QByteArray::number(i % 30);
            items << Item{"f" + QByteArray::number(i), dir + "\xFF", content(i, i % 300)};
            source.insert(QString::fromLatin1(dir + "/f" + QByteArray::number(i)), items.last().data);
        }
        const QString arc = save("limits.lzh", testlzh::archive(items, 2));
        QTemporaryDir dir;
        const QString out = dir.path() + "/out";
        QDir().mkdir(out);
        QString report;
        int pipeFds[2];
        QVERIFY(::pipe(pipeFds) == 0);
        const int code = inChild([&] {
            ::close(pipeFds[0]);
            rlimit rl{};
            ::getrlimit(RLIMIT_NOFILE, &rl);
            // Counted here, in the child, just before the run.
            int open = -1; // the listing's own
            for (const auto &e : QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
                Q_UNUSED(e);
                ++open;
            }
            rl.rlim_cur = rlim_t(spare < 0 ? -spare : open + spare);
            if (::setrlimit(RLIMIT_NOFILE, &rl) != 0)
                return 100;
            Scripted obs;
            unlha::Report rep;
            const int r = unlha::extractArchive(arc.toStdString(), out.toStdString(), obs, rep, 2);
            const std::string text = rep.text();
            (void)!::write(pipeFds[1], text.data(), text.size());
            return r == UNLHA_OK ? 0 : r - 0x8000;
        });
        ::close(pipeFds[1]);
        QByteArray text;
        char buf[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
            text.append(buf, int(n));
        ::close(pipeFds[0]);
        report = QString::fromUtf8(text);
        QCOMPARE(code, expected == UNLHA_OK ? 0 : expected - 0x8000);
        const auto files = fileTree(out);
        int whole = 0;
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            if (it.value() == "dir")
                continue;
            QVERIFY2(source.value(it.key()) == it.value(), qPrintable(it.key())); // nothing half written or stray
            ++whole;
        }
        if (expected == UNLHA_OK)
            QCOMPARE(whole, 3000);
        else
            QVERIFY2(report.endsWith(QString::fromUtf8("開いているファイルが多すぎます）。\n")), qPrintable(report.right(200)));
    }

    void progressReachesTheTotal()
    {
        const QString arc = save("progress.lzh", testlzh::archive(manyFiles(50), 2));
        Scripted obs;
        const Outcome o = extract(arc, 4, obs);
        QCOMPARE(o.result, UNLHA_OK);
        QVERIFY(obs.total > 0);
        QCOMPARE(obs.lastProgress, obs.total);
        QVERIFY(!obs.progressWentBack);
    }
};

QTEST_GUILESS_MAIN(ParallelTest)
#include "tst_unlha32_parallel.moc"
