#include "ui/main/dirlistbox.h"

#include <QDir>

DirListBox::DirListBox(QWidget *parent) : QListWidget(parent)
{
    setPath(QDir::currentPath());
}

QString DirListBox::path() const { return m_path; }

int DirListBox::setPath(const QString &path)
{
    QDir dir(path);
    if (!dir.exists() || !dir.isReadable())
        return kErrPathNotFound;
    m_path = QDir::cleanPath(dir.absolutePath());
    clear();
    addItem(m_path);
    return 0;
}
