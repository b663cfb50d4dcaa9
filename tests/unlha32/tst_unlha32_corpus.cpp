// Every archive of the compatibility corpus, extracted through the library's
// command and compared with the manifest. Skipped when the corpus is absent.
#include "unlha32_support.h"

#include "unlha32/crc16.h"
#include "unlha32/decoder.h"
#include "unlha32/extract.h"
#include "unlha32/lzhheader.h"
#include "unlha32/unlha32.h"

#include <QCryptographicHash>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Row {
    QString kind, path, target;
    qint64 size = 0;
    QByteArray sha;
};

// SHA-256 of the first `limit` bytes of a file.
QByteArray sha256(const QString &path, qint64 limit)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    QByteArray buf(1 << 20, '\0');
    while (limit > 0) {
        const qint64 n = f.read(buf.data(), qMin<qint64>(buf.size(), limit));
        if (n <= 0)
            break;
        h.addData(QByteArrayView(buf.constData(), n));
        limit -= n;
    }
    return h.result().toHex();
}

// Output size and CRC of one entry through one decoder.
QPair<quint64, quint16> decodeWith(unlha::EntryDecoder &dec, const unlha::Entry &e)
{
    quint64 size = 0;
    quint16 crc = 0;
    dec.decode(e, [&](const uint8_t *d, size_t n) {
        size += n;
        crc = unlha::crc16Update(crc, d, n);
        return true;
    });
    return {size, crc};
}

} // namespace

class CorpusTest : public QObject {
    Q_OBJECT

private slots:
    void everyArchive()
    {
        // The corpus, and beside it the archives of rarer archivers' own
        // formats, in the same layout; keys are paths below their parent.
        const QString corpus = qEnvironmentVariable("HOGUREN_CORPUS");
        const QString parent = QFileInfo(corpus).path();
        QMap<QString, QList<Row>> archives;
        for (const QString &dir : {corpus, corpus + "-formats"}) {
            QFile manifest(dir + "/MANIFEST.tsv");
            if (!manifest.open(QIODevice::ReadOnly)) {
                if (dir == corpus)
                    QSKIP(qPrintable("no compatibility corpus: " + manifest.fileName()
                                     + " is missing (HOGUREN_CORPUS)"));
                continue;
            }
            while (!manifest.atEnd()) {
                const QString line = QString::fromUtf8(manifest.readLine()).trimmed();
                if (line.isEmpty() || line.startsWith('#'))
                    continue;
                const QStringList f = line.split('\t');
                QVERIFY2(f.size() == 5, qPrintable(line));
                Row r{f[1], f[2], f[4], f[3].toLongLong(), f[4].toLatin1()};
                archives[QFileInfo(dir).fileName() + "/" + f[0]] << r;
            }
        }

        QStringList failures;
        QStringList deliberate;
        int passed = 0;
        for (auto it = archives.cbegin(); it != archives.cend(); ++it) {
            const QString arc = parent + "/" + it.key();
            QTemporaryDir dest;
            char report[4096];
            const int result = unlha::runCommand(0, extractCommand(arc, dest.path()).constData(), report, sizeof report);
            const QString causeLine = QString::fromUtf8(report).section('\n', -2, -2);
            QStringList problems;
            bool differs = false;

            const bool expectFailure = std::any_of(it->begin(), it->end(), [](const Row &r) { return r.kind == "X"; });
            if (expectFailure) {
                if (result == UNLHA_OK)
                    problems << "succeeded, should fail";
            } else {
                // Names compared without letter case.
                QMap<QString, QString> onDisk;
                QDirIterator di(dest.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                QDirIterator::Subdirectories);
                while (di.hasNext()) {
                    const QString p = di.next();
                    onDisk.insert(QDir(dest.path()).relativeFilePath(p).toLower(), p);
                }
                bool onlyDeliberate = result == UNLHA_ERR_SKIPPED;
                for (const Row &r : *it) {
                    const QString got = onDisk.take(r.path.toLower());
                    if (r.kind == "l" && r.target.startsWith('/')) {
                        // A link to an absolute path leaves the destination:
                        // it must be skipped, and said so.
                        if (!got.isEmpty() || !QString::fromUtf8(report).contains(r.path, Qt::CaseInsensitive))
                            problems << "absolute link not refused: " + r.path;
                        differs = true;
                        continue;
                    }
                    if (got.isEmpty()) {
                        problems << "missing " + r.path;
                        continue;
                    }
                    const QFileInfo fi(got);
                    if (r.kind == "d" && (!fi.isDir() || fi.isSymLink()))
                        problems << "not a folder: " + r.path;
                    if (r.kind == "l") {
                        char buf[4096];
                        const ssize_t n = ::readlink(QFile::encodeName(got).constData(), buf, sizeof buf);
                        if (!fi.isSymLink() || n < 0)
                            problems << "not a link: " + r.path;
                        else if (QString::fromUtf8(buf, int(n)) != r.target)
                            problems << "link target differs: " + r.path;
                    }
                    if (r.kind == "f") {
                        if (!fi.isFile() || fi.isSymLink()) {
                            problems << "not a file: " + r.path;
                        } else if (fi.size() != r.size && fi.size() % (qint64(1) << 32) == r.size
                                   && sha256(got, r.size) == r.sha) {
                            // The manifest gives the size modulo 4 GiB where
                            // the archive's 64-bit size header says more.
                            differs = true;
                        } else if (fi.size() != r.size || sha256(got, fi.size()) != r.sha) {
                            problems << "contents differ: " + r.path;
                        }
                    }
                }
                // Anything beyond the manifest is worth seeing, not a failure:
                // the manifest lists what must be there.
                for (auto extra = onDisk.cbegin(); extra != onDisk.cend(); ++extra)
                    qInfo("%s: also extracted %s", qPrintable(it.key()), qPrintable(extra.key()));
                if (result != UNLHA_OK && !(differs && onlyDeliberate))
                    problems << QString("result 0x%1: %2").arg(result, 0, 16).arg(causeLine);
            }

            // Our decoders must decode every entry to the bytes lhasa gives.
            const int fd = ::open(QFile::encodeName(arc).constData(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                const auto ours = unlha::makeDecoder(fd);
                const auto reference = unlha::makeReferenceDecoder(fd);
                unlha::HeaderWalker walk(fd, uint64_t(QFileInfo(arc).size()));
                for (unlha::Entry e; walk.next(e);) {
                    if (e.kind == unlha::EntryKind::File && decodeWith(*ours, e) != decodeWith(*reference, e))
                        problems << "decoders differ on " + QString::fromStdString(e.rawName);
                }
                ::close(fd);
            }

            if (!problems.isEmpty())
                failures << it.key() + ": " + problems.join("; ");
            else if (differs)
                deliberate << it.key();
            else
                ++passed;
        }
        qInfo("corpus: %d of %d archives as the manifest says; %d differ on purpose (%s)", passed,
              int(archives.size()), int(deliberate.size()), qPrintable(deliberate.join(", ")));
        if (!failures.isEmpty())
            QFAIL(qPrintable("\n" + failures.join("\n")));
    }
};

QTEST_GUILESS_MAIN(CorpusTest)
#include "tst_unlha32_corpus.moc"
