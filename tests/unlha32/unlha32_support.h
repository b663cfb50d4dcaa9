#pragma once
// Extractions for the library's tests: into a scratch folder through the
// command or with an observer that answers from a script, and what they
// left on disk.
#include "tests/common/files.h"

#include "unlha32/extract.h"
#include "unlha32/lzhheader.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

// Answers the overwrite questions from `answers` (Skip once they run out)
// and records what the extraction tells it.
struct Scripted : unlha::Observer {
    QList<unlha::OverwriteAnswer> answers;
    QStringList asked;
    QStringList entries;
    uint64_t total = 0;
    uint64_t lastProgress = 0;
    bool progressWentBack = false;
    std::function<bool(const Scripted &)> cancelWhen;
    std::function<void()> onBegin;
    std::function<void()> onProgress;

    void begin(uint64_t t, std::size_t) override
    {
        total = t;
        if (onBegin)
            onBegin();
    }
    void entry(const std::string &n) override { entries << QString::fromStdString(n); }
    void progress(uint64_t done) override
    {
        progressWentBack = progressWentBack || done < lastProgress;
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

// A data column "level" with a row for each header level up to `highest`.
// Every entry of the archive `path`, as the extraction's walk gives them.
inline std::vector<unlha::Entry> entriesOf(const QString &path)
{
    std::vector<unlha::Entry> entries;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return entries;
    unlha::HeaderWalker walk(fd, uint64_t(QFileInfo(path).size()));
    for (unlha::Entry e; walk.next(e);)
        entries.push_back(std::move(e));
    ::close(fd);
    return entries;
}

inline void headerLevelRows(int highest)
{
    QTest::addColumn<int>("level");
    for (int level = 0; level <= highest; ++level)
        QTest::addRow("level %d", level) << level;
}

// The command that extracts `archive` into `folder`, both quoted.
inline QByteArray extractCommand(const QString &archive, const QString &folder)
{
    return "e \"" + QFile::encodeName(archive) + "\" \"" + QFile::encodeName(folder) + "/\"";
}

// Temporary files left anywhere below `root`.
inline QStringList leftovers(const QString &root)
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

// Every file, folder and link below `root` by its relative path: a file's
// contents, "dir", "link:" and the target, or "special" for the rest.
inline QMap<QString, QByteArray> fileTree(const QString &root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        const QFileInfo fi(p);
        const QString rel = QDir(root).relativeFilePath(p);
        if (fi.isSymLink()) {
            char buf[4096];
            const ssize_t n = ::readlink(QFile::encodeName(p).constData(), buf, sizeof buf);
            out.insert(rel, "link:" + QByteArray(buf, n < 0 ? 0 : int(n)));
        } else if (fi.isDir()) {
            out.insert(rel, "dir");
        } else if (struct stat st; ::lstat(QFile::encodeName(p).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
            out.insert(rel, readAll(p));
        } else {
            out.insert(rel, "special"); // a FIFO would block the reading
        }
    }
    return out;
}

// A scratch folder holding the archive (test.lzh) and the destination (out).
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
    // Through the library's command, with no owner to ask.
    int operator()(const QByteArray &archive, uint32_t reportSize = 8192)
    {
        writeFile(arc, archive);
        std::string buf(reportSize, '\x7F');
        const int r = unlha::runCommand(0, extractCommand(arc, out).constData(), buf.data(), reportSize);
        report = QString::fromUtf8(buf.c_str());
        return r;
    }
    // Through the extraction itself; `workers` 0 is one per core.
    int with(unlha::Observer &obs, const QByteArray &archive, int workers = 0)
    {
        writeFile(arc, archive);
        unlha::Report rep;
        const int r = unlha::extractArchive(arc.toStdString(), out.toStdString(), obs, rep, workers);
        report = QString::fromStdString(rep.text());
        return r;
    }
    QString firstLine() const { return report.section('\n', 0, 0); }
    // The cause of a failure is the report's last line.
    QString causeLine() const { return report.section('\n', -2, -2); }
};

// Runs `body` in a forked child, so that what it changes (descriptor limits)
// or how it ends (killed) leaves the test process alone. Its exit code, or
// 128 plus the signal that ended it.
inline int inChild(const std::function<int()> &body, const std::function<void(pid_t)> &whileRunning = {})
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    if (pid > 0 && whileRunning)
        whileRunning(pid);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
