#pragma once
// Whole files in and out, for tests that check what landed on disk or what
// a fake wrote to its log.
#include <QFile>
#include <QStringList>
#include <QTest>

// A file's bytes; "<missing>" where it cannot be read, so that a comparison
// says so instead of matching an expected empty file.
inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The lines of a UTF-8 text file, empty ones left out; none when it is absent.
inline QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

inline void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(data);
}
