// The library's entry points: only Unlha() and UnlhaGetVersion() leave the
// shared library, the report Unlha() writes fits the caller's buffer, and
// nothing ends the caller's process: not a thread the system refuses, not
// memory running out, not a window side that throws.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/messages.h"
#include "unlha32/ownerlink.h"
#include "unlha32/ownerui.h"
#include "unlha32/parallel.h"
#include "unlha32/seamguard.h"
#include "unlha32/threads.h"
#include "unlha32/unlha32.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <dlfcn.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <new>
#include <stdexcept>

using testlzh::Item;

extern "C" int unlha32ui_run_with_owner(const unlha32ui_run *run);

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr bool kUnderAsan = true;
#else
constexpr bool kUnderAsan = false;
#endif

// Enough files to share out over workers, in five folders, and one larger
// than the output pipe's buffers, yet not so large that it is worked on
// alone.
QList<Item> manyFiles()
{
    QList<Item> items;
    for (int i = 0; i < 40; ++i) {
        QByteArray data = QByteArray::number(i).repeated(1000 + i * 500);
        items << Item{"f" + QByteArray::number(i) + ".txt", "d" + QByteArray::number(i % 5), data};
    }
    items << Item{"big.bin", {}, QByteArray(600 * 1024, 'z')};
    return items;
}

QMap<QString, QByteArray> treeOf(const QList<Item> &items)
{
    QMap<QString, QByteArray> tree;
    for (const Item &it : items) {
        const QString dir = QString::fromLatin1(it.dir);
        if (!dir.isEmpty())
            tree.insert(dir, "dir");
        tree.insert((dir.isEmpty() ? QString() : dir + '/') + QString::fromLatin1(it.name), it.data);
    }
    return tree;
}

// Thread starts given back to the system's say when a row ends, however.
struct StartsLeft {
    explicit StartsLeft(int n) { unlha::threadStartsLeft = n; }
    ~StartsLeft() { unlha::threadStartsLeft = -1; }
};

// The process's address space in bytes, as the limit counts it.
rlim_t addressSpace()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0)
            return rlim_t(std::stoull(line.substr(7))) * 1024;
    return 0;
}

// The windows' side of the seam with one call that throws.
struct Throwing : unlha::Observer {
    std::string where;
    bool outOfMemory = false;
    void fail(const char *call) const
    {
        if (where != call)
            return;
        if (outOfMemory)
            throw std::bad_alloc();
        throw std::runtime_error(call);
    }
    void begin(uint64_t, std::size_t) override { fail("begin"); }
    void entry(const std::string &) override { fail("entry"); }
    void filesDone(std::size_t) override { fail("filesDone"); }
    void progress(uint64_t) override { fail("progress"); }
    unlha::OverwriteAnswer askOverwrite(const std::string &) override
    {
        return fail("askOverwrite"), unlha::OverwriteAnswer::Skip;
    }
    bool asksUser() const override { return fail("asksUser"), true; }
    bool cancelled() const override { return fail("cancelled"), false; }
};

Throwing *throwing = nullptr;

// Stands in for the companion: runs the work at once with `throwing`
// behind the companion's own guard.
int throwingCompanion(const unlha32ui_run *run)
{
    const unlha32ui_observer c = unlha::seamObserver(*throwing);
    return run->work(run->context, &c);
}

} // namespace

class EntryPointTest : public QObject {
    Q_OBJECT

private slots:
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
        const QString cause = QString::fromUtf8("壊れた.txt：データが壊れています（CRC エラー）。");
        QVERIFY(whole.endsWith(cause + '\n'));
        QCOMPARE(whole.count('\n'), 51);
        // Each run into a fresh folder, so that its report is the first one's.
        const auto cut = [&](uint32_t size) {
            QTemporaryDir fresh;
            std::string buf(size, '\x7F');
            const int r = unlha::runCommand(0, extractCommand(run.arc, fresh.path()).constData(), buf.data(), size);
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
        unlha::runCommand(0, extractCommand(run.arc, run.out).constData(), &untouched, 0);
        QCOMPARE(untouched, 'u');
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
        // Operands unquoted, as the program sends paths without blanks,
        // quotation marks or a leading '-'; '\' after the folder, which ends
        // it as well as '/'; and an empty buffer of size 0.
        char empty[1] = {'\0'};
        const QByteArray cmd = "e " + QFile::encodeName(run.arc) + " " + QFile::encodeName(run.out) + "\\";
        QCOMPARE(unlhaFn(0, cmd.constData(), empty, 0), UNLHA_OK);
        QCOMPARE(readAll(run.out + "/hello.txt"), QByteArray("hello"));
        QCOMPARE(unlhaFn(0, "l whatever", empty, 0), UNLHA_ERR_COMMAND);
        dlclose(lib);
    }

    // A thread the system refuses means fewer threads, down to the calling
    // one: every file still right. Each row lets so many thread starts
    // succeed, then refuses the rest.
    void threadsRefused_data()
    {
        QTest::addColumn<int>("workers");
        QTest::addColumn<int>("startsLeft");
        QTest::addColumn<int>("poolSize");
        QTest::newRow("1 worker, output pipe's thread refused") << 1 << 0 << 0;
        QTest::newRow("1 worker, output pipe's thread given") << 1 << -1 << 1;
        QTest::newRow("16 workers, none start") << 16 << 0 << 0;
        QTest::newRow("16 workers, 1 starts") << 16 << 1 << 1;
        QTest::newRow("16 workers, 3 start") << 16 << 3 << 3;
        QTest::newRow("16 workers, 17 could start") << 16 << 17 << 16;
    }
    void threadsRefused()
    {
        QFETCH(int, workers);
        QFETCH(int, startsLeft);
        QFETCH(int, poolSize);
        {
            StartsLeft limit(startsLeft);
            std::atomic<uint64_t> progress{0};
            unlha::DecodePool pool(-1, workers, progress);
            QCOMPARE(pool.workers(), poolSize);
        }
        Run run;
        const QList<Item> items = manyFiles();
        writeFile(run.arc, testlzh::archive(items, 2));
        StartsLeft limit(startsLeft);
        unlha::Observer quiet;
        unlha::Report report;
        const int r = unlha::extractArchive(run.arc.toStdString(), run.out.toStdString(), quiet, report, workers);
        QCOMPARE(r, UNLHA_OK);
        QCOMPARE(fileTree(run.out), treeOf(items));
        QVERIFY(leftovers(run.tmp.path()).isEmpty());
    }

    // The same for real, in a child process whose address space has room
    // for `room` more thread stacks. Its extraction with 16 workers, as on a
    // 16-core machine, gets what fits. With no memory left at all the run
    // fails with its cause, and still the process does not end.
    void threadsRefusedBySystem_data()
    {
        QTest::addColumn<int>("workers");
        QTest::addColumn<int>("room");
        QTest::newRow("16 workers, room for no thread") << 16 << 0;
        QTest::newRow("1 worker, room for no thread") << 1 << 0;
        QTest::newRow("16 workers, room for 3") << 16 << 3;
        QTest::newRow("no memory to spare") << 16 << -1;
    }
    void threadsRefusedBySystem()
    {
        if (kUnderAsan)
            QSKIP("AddressSanitizer reserves terabytes of address space for its shadow memory: "
                  "a limit on the address space cannot work under it");
        QFETCH(int, workers);
        QFETCH(int, room);
        Run run;
        const QList<Item> items = manyFiles();
        writeFile(run.arc, testlzh::archive(items, 2));
        const std::string arc = run.arc.toStdString();
        const std::string out = run.out.toStdString();
        const QByteArray command = extractCommand(run.arc, run.out);

        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            // Only the library runs here; the parent judges.
            ::close(fds[0]);
            int answer[2] = {-1, -1}; // workers that started, result
            char report[512] = "";
            size_t stack = 8 << 20;
            pthread_attr_t attr;
            if (pthread_getattr_default_np(&attr) == 0) {
                pthread_attr_getstacksize(&attr, &stack);
                pthread_attr_destroy(&attr);
            }
            // The heap gets room of its own, 16 MiB that stay mapped when
            // freed.
            mallopt(M_MMAP_THRESHOLD, 4 << 20);
            mallopt(M_TRIM_THRESHOLD, 1 << 30);
            {
                std::vector<void *> heap(64);
                for (void *&p : heap)
                    p = std::malloc(256 << 10);
                for (void *p : heap)
                    std::free(p);
            }
            // Less than one more stack: threads that never end take the
            // ones glibc keeps from threads that ended, then `room` more
            // stacks fit.
            const auto limitTo = [&](int stacks) {
                const rlim_t limit = addressSpace() + rlim_t(stacks) * (stack + (64 << 10)) + stack / 2;
                const rlimit lim{limit, RLIM_INFINITY};
                return ::setrlimit(RLIMIT_AS, &lim) == 0;
            };
            if (limitTo(0)) {
                const auto hold = [](void *) -> void * {
                    for (;;)
                        ::pause();
                };
                for (pthread_t t; pthread_create(&t, nullptr, hold, nullptr) == 0;) {
                }
                if (room < 0) {
                    // And every byte of the heap taken.
                    static std::atomic<void *> taken;
                    for (size_t size = 1 << 20; size >= 16; size /= 2)
                        for (taken = std::malloc(size); taken; taken = std::malloc(size)) {
                        }
                    answer[1] = unlha::runCommand(0, command.constData(), report, sizeof report);
                } else if (limitTo(room)) {
                    std::atomic<uint64_t> progress{0};
                    {
                        unlha::DecodePool probe(-1, workers, progress);
                        answer[0] = probe.workers();
                    }
                    unlha::Observer quiet;
                    unlha::Report rep(0);
                    answer[1] = unlha::extractArchive(arc, out, quiet, rep, workers);
                }
            }
            [[maybe_unused]] ssize_t w = ::write(fds[1], answer, sizeof answer);
            w = ::write(fds[1], report, sizeof report);
            ::_exit(0);
        }
        ::close(fds[1]);
        int answer[2] = {-2, -2};
        char report[512] = "";
        // A child stuck in the library is stopped rather than waited for.
        pollfd ready{fds[0], POLLIN, 0};
        if (::poll(&ready, 1, 60000) != 1)
            ::kill(pid, SIGKILL);
        const bool got = ::read(fds[0], answer, sizeof answer) == ssize_t(sizeof answer)
                         && ::read(fds[0], report, sizeof report) == ssize_t(sizeof report);
        ::close(fds[0]);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                 qPrintable(QString("the child ended with status %1").arg(status)));
        QVERIFY(got);
        const auto [started, result] = answer;
        if (room < 0) {
            QCOMPARE(result, UNLHA_ERR_WRITE);
            const QStringList lines = QString::fromUtf8(report).split('\n', Qt::SkipEmptyParts);
            QVERIFY(!lines.isEmpty());
            QCOMPARE(lines.last(), QString::fromUtf8(unlha::msg::kCauseNoMemory));
            QVERIFY(leftovers(run.tmp.path()).isEmpty());
            return;
        }
        QCOMPARE(started, std::min(room, workers));
        QCOMPARE(result, UNLHA_OK);
        QCOMPARE(fileTree(run.out), treeOf(items));
        QVERIFY(leftovers(run.tmp.path()).isEmpty());
    }

    // A call of the windows' side that throws stops at the seam: the run
    // stops as on a cancel, nothing is replaced or left behind, and the
    // result is a failure whose cause says why.
    void observerThrowsAcrossSeam_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("outOfMemory");
        QTest::newRow("nothing throws") << "" << false;
        QTest::newRow("begin") << "begin" << false;
        QTest::newRow("entry") << "entry" << false;
        QTest::newRow("progress") << "progress" << false;
        QTest::newRow("filesDone") << "filesDone" << false;
        QTest::newRow("askOverwrite") << "askOverwrite" << false;
        QTest::newRow("asksUser") << "asksUser" << false;
        QTest::newRow("cancelled") << "cancelled" << false;
        QTest::newRow("entry, out of memory") << "entry" << true;
    }
    void observerThrowsAcrossSeam()
    {
        QFETCH(QString, where);
        QFETCH(bool, outOfMemory);
        Throwing t;
        t.where = where.toStdString();
        t.outOfMemory = outOfMemory;
        throwing = &t;
        unlha::companionStandIn = throwingCompanion;
        struct Restore {
            ~Restore() { unlha::companionStandIn = nullptr; }
        } restore;

        Run run;
        const QList<Item> items = manyFiles();
        QDir(run.out).mkpath("d0");
        writeFile(run.out + "/d0/f0.txt", "kept");
        writeFile(run.arc, testlzh::archive(items, 2));
        char report[8192];
        const int r = unlha::runCommand(1, extractCommand(run.arc, run.out).constData(), report, sizeof report);
        const QStringList lines = QString::fromUtf8(report).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(readAll(run.out + "/d0/f0.txt"), QByteArray("kept"));
        QVERIFY(leftovers(run.tmp.path()).isEmpty());
        if (where.isEmpty()) {
            // Kept by the user's answer: no failure.
            QCOMPARE(r, UNLHA_OK);
            QCOMPARE(fileTree(run.out).size(), treeOf(items).size());
            return;
        }
        QCOMPARE(r, UNLHA_ERR_WRITE);
        QCOMPARE(lines.last(), QString::fromUtf8(unlha::msg::kCauseWindowsFailed));
        QVERIFY(fileTree(run.out).size() < treeOf(items).size());
    }

    // The companion runs nothing when it cannot start the work's thread,
    // and leaves the owner window as it found it; the library then works
    // without windows.
    void companionWithoutThread_data()
    {
        QTest::addColumn<int>("startsLeft");
        QTest::newRow("no thread to start") << 0;
        QTest::newRow("threads given") << -1;
    }
    void companionWithoutThread()
    {
        QFETCH(int, startsLeft);
        unlha::companionStandIn = unlha32ui_run_with_owner;
        struct Restore {
            ~Restore() { unlha::companionStandIn = nullptr; }
        } restore;
        QWidget owner;
        auto *button = new QPushButton("OK", &owner);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));

        Run run;
        const QList<Item> items = manyFiles();
        writeFile(run.arc, testlzh::archive(items, 2));
        int r = -1;
        {
            StartsLeft limit(startsLeft);
            r = unlha::runCommand(uintptr_t(owner.winId()), extractCommand(run.arc, run.out).constData(), nullptr, 0);
        }
        QCOMPARE(r, UNLHA_OK);
        QCOMPARE(fileTree(run.out), treeOf(items));
        // The owner takes input again and shows its own cursor.
        QCOMPARE(owner.cursor().shape(), Qt::ArrowCursor);
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
    }
};

QTEST_MAIN(EntryPointTest)
#include "tst_unlha32_entry_point.moc"
