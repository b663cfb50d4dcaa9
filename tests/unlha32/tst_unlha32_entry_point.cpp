// The library's entry points: only Unlha() and UnlhaGetVersion() leave the
// shared library, and the report Unlha() writes fits the caller's buffer.
#include "lzhbuilder.h"
#include "unlha32_support.h"

#include "unlha32/unlha32.h"

#include <QProcess>
#include <QTest>

#include <dlfcn.h>

using testlzh::Item;

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
};

QTEST_GUILESS_MAIN(EntryPointTest)
#include "tst_unlha32_entry_point.moc"
