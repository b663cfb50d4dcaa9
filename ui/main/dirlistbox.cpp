#include "ui/main/dirlistbox.h"

#include "ui/resources/texts_destination.h"
#include "ui/windows/msgbox.h"

#include <QIcon>
#include <QKeyEvent>
#include <QStyledItemDelegate>

namespace {

constexpr int kIndentPerLevel = 9;  // pixels

// Indents each entry by its depth, so the chain reads as a tree.
class IndentDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem o(option);
        o.rect.setLeft(o.rect.left() + indent(option, index));
        QStyledItemDelegate::paint(painter, o, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.rwidth() += index.data(DirListBox::DepthRole).toInt() * kIndentPerLevel;
        return s;
    }

private:
    // Deep trees would push the names out of sight; keep half the width free.
    static int indent(const QStyleOptionViewItem &option, const QModelIndex &index)
    {
        const int wanted = index.data(DirListBox::DepthRole).toInt() * kIndentPerLevel;
        return std::min(wanted, option.rect.width() / 2);
    }
};

const QIcon &openFolderIcon()
{
    static const QIcon icon(QStringLiteral(":/icons/folder-open.png"));
    return icon;
}

const QIcon &closedFolderIcon()
{
    static const QIcon icon(QStringLiteral(":/icons/folder-closed.png"));
    return icon;
}

QString childPath(const QString &parent, const QString &name)
{
    return parent.endsWith(QLatin1Char('/')) ? parent + name : parent + QLatin1Char('/') + name;
}

} // namespace

DirListBox::DirListBox(QWidget *parent) : DirListBox(volumeModel(), parent) {}

DirListBox::DirListBox(VolumeModel &model, QWidget *parent) : QListWidget(parent), m_model(model)
{
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(this, &QListWidget::itemDoubleClicked, this, &DirListBox::openEntry);

    // The working folder; if that cannot be read, its volume's root, then "/".
    const QString work = normalisedPath(m_model.fileSystem().workingFolder());
    m_path = work;
    if (setPath(work) != 0 && setPath(m_model.volumeOf(work).mountPoint) != 0)
        setPath(QStringLiteral("/"));
}

QString DirListBox::path() const { return m_path; }

int DirListBox::setPath(const QString &path)
{
    const VolumeModel::Listing listing = m_model.openFolder(path);
    if (listing.error)
        return listing.error;
    fill(listing);
    return 0;
}

int DirListBox::setVolume(const QString &mountPoint)
{
    return setPath(m_model.currentFolder(mountPoint));
}

void DirListBox::fill(const VolumeModel::Listing &listing)
{
    m_path = listing.path;
    const QString &root = listing.volume;

    // The chain: the volume's root, shown whole, then one entry per folder.
    QStringList chainPaths{root};
    QStringList chainNames{root};
    if (m_path != root) {
        const QString rest = m_path.mid(root == QLatin1String("/") ? 1 : root.size() + 1);
        QString p = root;
        for (const QString &part : rest.split(QLatin1Char('/'))) {
            p = childPath(p, part);
            chainPaths.append(p);
            chainNames.append(part);
        }
    }

    setUpdatesEnabled(false);
    clear();
    for (qsizetype i = 0; i < chainPaths.size(); ++i) {
        auto *item = new QListWidgetItem(openFolderIcon(), chainNames[i]);
        item->setData(PathRole, chainPaths[i]);
        item->setData(DepthRole, int(i));
        item->setData(ChainRole, true);
        addItem(item);
    }
    const int depth = int(chainPaths.size());
    for (const QString &name : listing.folders) {
        auto *item = new QListWidgetItem(closedFolderIcon(), name);
        item->setData(PathRole, childPath(m_path, name));
        item->setData(DepthRole, depth);
        item->setData(ChainRole, false);
        addItem(item);
    }
    m_currentRow = depth - 1;
    setCurrentRow(m_currentRow);
    showCurrent();
    setUpdatesEnabled(true);
}

void DirListBox::showCurrent()
{
    // The chain from the root when that leaves room for two sub-folders; in
    // a deep tree, the current folder with two of its ancestors above it.
    const int rowHeight = std::max(1, sizeHintForRow(0));
    // The list's own height: its viewport is laid out only after this runs.
    const int rows = std::max(4, (height() - 2 * frameWidth()) / rowHeight);
    const int first = m_currentRow + 3 <= rows ? 0 : m_currentRow - 2;
    if (QListWidgetItem *top = item(first))
        scrollToItem(top, QAbstractItemView::PositionAtTop);
}

void DirListBox::resizeEvent(QResizeEvent *event)
{
    QListWidget::resizeEvent(event);
    showCurrent();  // the list is filled before the window lays it out
}

void DirListBox::openEntry(QListWidgetItem *item)
{
    if (!item)
        return;
    const int err = setPath(item->data(PathRole).toString());
    if (err == 0)
        return;
    using namespace texts::destination;
    const QString &reason = err == kErrDeviceUnavailable ? kOpenDeviceNotReady
        : err == kErrPathAccess                          ? kOpenRefused
                                                         : kOpenNotFound;
    msgBox(kOpenFailed + QChar(13) + reason, kMbOk, kErrorTitle);
}

void DirListBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openEntry(currentItem());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}
