#include "app/intake.h"

#include "ui/main/volumes.h"
#include "ui/resources/texts.h"

#include <QCoreApplication>

namespace {
QString &storedCommandLine()
{
    static QString s;
    return s;
}
} // namespace

QString joinArguments(int argc, const char *const *argv)
{
    QStringList parts;
    for (int i = 1; i < argc; ++i)
        parts << QString::fromLocal8Bit(argv[i]);
    return parts.join(QLatin1Char(' '));
}

void setCommandLine(const QString &args) { storedCommandLine() = args; }
QString commandLine() { return storedCommandLine(); }

QString programFolder()
{
    return startFolder(volumeModel().fileSystem(), QCoreApplication::applicationDirPath());
}

QString lastThree(const QString &s) { return s.right(3); }

FirstWindow decideFirstWindow(const QString &archivePath, const QString &extension)
{
    if (archivePath.isEmpty())
        return FirstWindow::NoFileNotice;
    if (extension.compare(texts::kArchiveExtension, Qt::CaseInsensitive) == 0
        || extension.compare(texts::kArchiveExtensionOther, Qt::CaseInsensitive) == 0)
        return FirstWindow::TitleCard;
    return FirstWindow::NotArchiveNotice;
}
