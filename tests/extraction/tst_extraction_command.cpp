// The archiver command, the failure message and the library binding, without
// any window.
#include "app/extraction.h"
#include "archive/unlha32library.h"
#include "tests/common/files.h"
#include "ui/resources/texts_extraction.h"
#include "unlha32/unlha32.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace texts::extraction;

class TestExtractionCommand : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        archive::unloadForTesting();
        archive::setCandidatesForTesting({});
        qunsetenv("FAKE_UNLHA_LOG");
        qunsetenv("FAKE_UNLHA_RESULT");
        qunsetenv("FAKE_UNLHA_REPORT");
    }

    void command_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ordinary folder")
            << "/home/user/a.LZH" << "/home/user/work" << "e /home/user/a.LZH /home/user/work/";
        QTest::newRow("root gets a second separator") << "/a.LZH" << "/" << "e /a.LZH //";
        QTest::newRow("blanks in both")
            << "/tmp/my files/a b.LZH" << "/tmp/out dir"
            << "e \"/tmp/my files/a b.LZH\" \"/tmp/out dir/\"";
        QTest::newRow("blank in the folder only")
            << "/tmp/a.LZH" << "/media/USB DISK" << "e /tmp/a.LZH \"/media/USB DISK/\"";
        // Several paths in the argument string stay together as one operand.
        QTest::newRow("several paths")
            << "/a/x.LZH /b/y.LZH" << "/dest" << "e \"/a/x.LZH /b/y.LZH\" /dest/";
        // Any other operand is left exactly as it is: no trimming, no
        // quoting of non-ASCII names or of a dash inside.
        QTest::newRow("untouched otherwise")
            << "圧縮-1/日本語.LZH" << "/tmp/解凍先" << "e 圧縮-1/日本語.LZH /tmp/解凍先/";
        // A leading dash would be a switch; a quotation mark is doubled.
        QTest::newRow("leading dash") << "-x.LZH" << "-out" << "e \"-x.LZH\" \"-out/\"";
        QTest::newRow("quotation marks")
            << "/tmp/say\"hi\".LZH" << "/tmp/\"a b\"" << "e \"/tmp/say\"\"hi\"\".LZH\" \"/tmp/\"\"a b\"\"/\"";
        QTest::newRow("empty caption") << "" << "/tmp" << "e  /tmp/";
    }
    void command()
    {
        QFETCH(QString, archive);
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(extractCommand(archive, folder), expected);
    }

    void failureMessage_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("text");
        // The cause is the report's last line that says anything; the item
        // lines before it are left out.
        QTest::newRow("cause on the last line")
            << UNLHA_ERR_DAMAGED
            << QStringLiteral("展開: a.txt\n展開: sub/b.txt\r\n  CRC エラー: sub/d.txt — データが壊れています \r\n\n")
            << kFailed + "\rCRC エラー: sub/d.txt — データが壊れています";
        // A cancel is said once, without the library's own words for it.
        QTest::newRow("cancelled") << UNLHA_ERR_CANCELLED << QStringLiteral("展開: a.txt\n中止しました") << kCancelled;
        // A silent library still gets a cause, chosen by its result.
        QTest::newRow("silent, cannot write") << UNLHA_ERR_WRITE << QString() << kFailed + u'\r' + kCauseWrite;
        QTest::newRow("silent, unknown result") << -1 << QString() << kFailed + u'\r' + kCauseOther;
    }
    void failureMessage()
    {
        QFETCH(int, code);
        QFETCH(QString, report);
        QFETCH(QString, text);
        QCOMPARE(failureText(code, report), text);
    }

    void searchOrder()
    {
        const QString own = QCoreApplication::applicationDirPath();
        const QStringList c = archive::defaultCandidates();
        QVERIFY(c.size() >= 3);
        QCOMPARE(c.at(0), own + "/libunlha32.so");
        QCOMPARE(c.at(1), QDir::cleanPath(own + "/../lib/hoguren/libunlha32.so"));
        QVERIFY(c.contains(QStringLiteral(HOGUREN_LIBDIR "/libunlha32.so")));
        // The system's own search comes last, by the bare file name.
        QCOMPARE(c.last(), QStringLiteral("libunlha32.so"));
    }

    void loadsAndCalls()
    {
        QTemporaryDir tmp;
        const QString log = tmp.filePath("calls.log");
        qputenv("FAKE_UNLHA_LOG", QFile::encodeName(log));
        qputenv("FAKE_UNLHA_RESULT", QByteArray::number(UNLHA_ERR_SKIPPED));
        qputenv("FAKE_UNLHA_REPORT", QStringLiteral("既存のファイルを飛ばしました。").toUtf8());

        // Missing files and a library without Unlha() are passed over.
        archive::setCandidatesForTesting(
            {tmp.filePath("nowhere/libunlha32.so"), FAKE_UNLHA32_NOENTRY, FAKE_UNLHA32});
        QCOMPARE(archive::version(), std::optional<uint16_t>(123));

        const QString command = QStringLiteral("e \"/tmp/日本 語.LZH\" /tmp/解凍先/");
        const auto result = archive::run(0x4a0001, command);
        QVERIFY(result);
        QCOMPARE(result->code, UNLHA_ERR_SKIPPED);
        QCOMPARE(result->report, QStringLiteral("既存のファイルを飛ばしました。"));
        const QStringList calls = readLines(log);
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls.at(0), QStringLiteral("UnlhaGetVersion"));
        QVERIFY2(calls.at(1).startsWith(QStringLiteral("Unlha owner=%1 size=").arg(0x4a0001)), qPrintable(calls.at(1)));
        // The command arrives as the system's 8-bit text, byte for byte.
        QVERIFY(calls.at(1).endsWith(QStringLiteral(" command=") + command));
        QVERIFY(!calls.at(1).contains(QStringLiteral("size=0 ")));

        // Once loaded, the library stays: the search list no longer matters.
        archive::setCandidatesForTesting({tmp.filePath("nowhere/libunlha32.so")});
        QCOMPARE(archive::version(), std::optional<uint16_t>(123));
    }

    void missingLibrary()
    {
        QTemporaryDir tmp;
        archive::setCandidatesForTesting({tmp.filePath("libunlha32.so")});
        QVERIFY(!archive::version());
        QVERIFY(!archive::run(0, QStringLiteral("e a.LZH /tmp/")));

        archive::setCandidatesForTesting({FAKE_UNLHA32_NOENTRY});
        QVERIFY(!archive::version());

        // A failed attempt is not final: once the library is there, it loads.
        archive::setCandidatesForTesting({FAKE_UNLHA32_NOENTRY, FAKE_UNLHA32});
        QVERIFY(archive::version());
    }
};

QTEST_GUILESS_MAIN(TestExtractionCommand)
#include "tst_extraction_command.moc"
