// The command language: operands quoted or not, what each command names,
// and what the entry point says about one it refuses. "@" in a command
// stands for a scratch folder holding files and folders with awkward names,
// which is also the working folder.
#include "unlha32_support.h"

#include "unlha32/command.h"
#include "unlha32/unlha32.h"

#include <QTest>

#include <sys/stat.h>

using unlha::CommandError;

Q_DECLARE_METATYPE(CommandError)

class CommandsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QByteArray at(QByteArray text) const { return text.replace('@', QFile::encodeName(m_tmp.path())); }

private slots:
    void initTestCase()
    {
        for (const char *d : {"out dir", "dest", "back\\", "folder.lzh"})
            QVERIFY(QDir(m_tmp.path()).mkpath(d));
        QVERIFY(mkfifo(QFile::encodeName(m_tmp.path() + "/fifo.lzh").constData(), 0600) == 0);
        for (const char *f : {"my archive.lzh", "plain.lzh", "a", "a b", "say\"hi\".lzh", "-x.lzh"})
            writeFile(m_tmp.path() + "/" + f, {});
        QVERIFY(QDir::setCurrent(m_tmp.path()));
    }

    void commands_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<CommandError>("error");
        QTest::addColumn<QByteArray>("archive");     // of an accepted command
        QTest::addColumn<QByteArray>("destination"); // of an accepted command
        // Unquoted operands with blanks are split where the archive exists.
        QTest::newRow("unquoted, blanks in both, '\\' at the end")
            << QByteArray("e @/my archive.lzh @/out dir\\") << CommandError::None << QByteArray("@/my archive.lzh")
            << QByteArray("@/out dir");
        QTest::newRow("quoted, command in capitals")
            << QByteArray("X \"@/my archive.lzh\" \"@/out dir/\"") << CommandError::None
            << QByteArray("@/my archive.lzh") << QByteArray("@/out dir");
        QTest::newRow("quoted folder without a separator") << QByteArray("e @/plain.lzh \"@/out dir\"")
                                                           << CommandError::None << QByteArray("@/plain.lzh")
                                                           << QByteArray("@/out dir");
        QTest::newRow("root") << QByteArray("e @/plain.lzh /") << CommandError::None << QByteArray("@/plain.lzh")
                              << QByteArray("/");
        QTest::newRow("root and a separator") << QByteArray("e @/plain.lzh //") << CommandError::None
                                              << QByteArray("@/plain.lzh") << QByteArray("/");
        // Inside quotation marks a doubled one is a quotation mark, and a
        // leading '-' is a name; only the appended separator is dropped, so
        // a folder whose own name ends in '\' is the destination.
        QTest::newRow("doubled quotation marks, folder ending in '\\'")
            << QByteArray("e \"@/say\"\"hi\"\".lzh\" \"@/back\\/\"") << CommandError::None
            << QByteArray("@/say\"hi\".lzh") << QByteArray("@/back\\");
        QTest::newRow("quoted leading '-', relative paths")
            << QByteArray("e \"-x.lzh\" dest/") << CommandError::None << QByteArray("-x.lzh") << QByteArray("dest");
        QTest::newRow("unquoted leading '-'") << QByteArray("e -x.lzh dest/") << CommandError::Syntax << QByteArray()
                                              << QByteArray();
        // "a b dest" splits two ways that both name a file: refuse to guess.
        QTest::newRow("two splits name a file") << QByteArray("e @/a b @/dest/") << CommandError::Syntax
                                                << QByteArray() << QByteArray();
        QTest::newRow("two splits, quoted") << QByteArray("e \"@/a b\" @/dest/") << CommandError::None
                                            << QByteArray("@/a b") << QByteArray("@/dest");
        QTest::newRow("no archive") << QByteArray("e @/nothing.lzh @/dest/") << CommandError::NoArchive
                                    << QByteArray() << QByteArray();
        QTest::newRow("no folder") << QByteArray("e @/plain.lzh @/missing/") << CommandError::NoDestination
                                   << QByteArray() << QByteArray();
        QTest::newRow("a file for the folder") << QByteArray("e @/plain.lzh @/a/") << CommandError::NoDestination
                                               << QByteArray() << QByteArray();
    }

    void commands()
    {
        QFETCH(QByteArray, command);
        QFETCH(CommandError, error);
        QFETCH(QByteArray, archive);
        QFETCH(QByteArray, destination);
        unlha::Command c;
        QCOMPARE(unlha::parseCommand(at(command).toStdString(), c), error);
        if (error != CommandError::None)
            return;
        QCOMPARE(QByteArray::fromStdString(c.archive), at(archive));
        QCOMPARE(QByteArray::fromStdString(c.destination), at(destination));
    }

    void malformedCommands_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("unknown command") << QByteArray("l @/plain.lzh @/dest/");
        QTest::newRow("a switch") << QByteArray("e -x @/plain.lzh @/dest/");
        QTest::newRow("a switch with '/'") << QByteArray("e /x @/plain.lzh @/dest/");
        QTest::newRow("quotation mark left open") << QByteArray("e \"@/plain.lzh @/dest/");
        QTest::newRow("no folder") << QByteArray("e @/plain.lzh");
        QTest::newRow("no operands") << QByteArray("e");
        QTest::newRow("empty") << QByteArray("");
    }

    void malformedCommands()
    {
        QFETCH(QByteArray, command);
        unlha::Command c;
        QVERIFY(unlha::parseCommand(at(command).toStdString(), c) != CommandError::None);
    }

    // Through the entry point: a command refused, nothing created, and the
    // cause says what is wrong with which path.
    void refusedWithCause_data()
    {
        QTest::addColumn<QByteArray>("command"); // null: none at all
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QByteArray>("path"); // named in the cause
        QTest::newRow("no command") << QByteArray() << QString::fromUtf8("コマンドが正しくありません") << QByteArray();
        QTest::newRow("no folder") << QByteArray("e \"@/plain.lzh\" \"@/new/\"")
                                   << QString::fromUtf8("解凍先のフォルダがありません") << QByteArray("@/new");
        QTest::newRow("no archive") << QByteArray("e \"@/nothing.lzh\" \"@/dest/\"")
                                    << QString::fromUtf8("書庫が見つかりません") << QByteArray("@/nothing.lzh");
        QTest::newRow("a folder for the archive") << QByteArray("e \"@/folder.lzh\" \"@/dest/\"")
                                                  << QString::fromUtf8("書庫ではなくフォルダです")
                                                  << QByteArray("@/folder.lzh");
        QTest::newRow("a FIFO for the archive") << QByteArray("e \"@/fifo.lzh\" \"@/dest/\"")
                                                << QString::fromUtf8("書庫が普通のファイルではありません")
                                                << QByteArray("@/fifo.lzh");
        const QByteArray longName = "@/" + QByteArray(300, 'n') + ".lzh";
        QTest::newRow("archive name too long") << "e \"" + longName + "\" \"@/dest/\""
                                               << QString::fromUtf8("書庫を開けません（名前が長すぎます）") << longName;
    }

    void refusedWithCause()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, cause);
        QFETCH(QByteArray, path);
        const auto before = fileTree(m_tmp.path());
        char buf[1024];
        const QByteArray text = at(command);
        QCOMPARE(unlha::runCommand(0, command.isNull() ? nullptr : text.constData(), buf, sizeof buf),
                 UNLHA_ERR_COMMAND);
        QVERIFY2(QString::fromUtf8(buf).startsWith(cause), buf);
        if (!path.isEmpty())
            QVERIFY2(QString::fromUtf8(buf).contains(QString::fromUtf8(at(path))), buf);
        QCOMPARE(fileTree(m_tmp.path()).keys(), before.keys());
    }
};

QTEST_GUILESS_MAIN(CommandsTest)
#include "tst_unlha32_commands.moc"
