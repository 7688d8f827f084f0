#include "directoryview.h"

#include "drives.h"

#include "images.h"
#include "profilenames.h"
#include "resource.h"
#include "winapp.h"

#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace {

// What items carry: 0 for a drive root, 1 for a directory; and the name's bytes.
constexpr int kDataRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kSelectedImageRole = Qt::UserRole + 2;
constexpr int kImageRole = Qt::UserRole + 3;

struct DriveImages
{
    int image;
    int selected;
};

// Pictures of a drive root by its type.
DriveImages imagesFor(int type)
{
    switch (type) {
    case DRIVE_REMOVABLE:
        return {res::kImageRemovableDrive, res::kImageRemovableDrive};
    case DRIVE_REMOTE:
        return {res::kImageNetworkDrive, res::kImageNetworkDrive};
    case DRIVE_CDROM:
        return {res::kImageCdRomDrive, res::kImageCdRomDrive};
    case DRIVE_NO_ROOT_DIR:
    case DRIVE_RAMDISK:
        return {res::kImageClosedFolder, res::kImageClosedFolder};
    default:
        return {res::kImageFixedDrive, res::kImageFixedDriveSelected};
    }
}

} // namespace

CDirectoryView::CDirectoryView(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("directoryView"));
    header()->hide();
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    // Names deep down stay whole: the one column is as wide as the widest
    // name shown (at least the pane), and the tree scrolls sideways.
    header()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(this, &QTreeWidget::itemExpanded, this, [this] { fitColumn(); });
    connect(this, &QTreeWidget::itemCollapsed, this, [this] { fitColumn(); });
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* now, QTreeWidgetItem* before) { OnSelchanged(now, before); });
    // The selected picture of an item follows the selection.
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* now, QTreeWidgetItem* before) {
                for (QTreeWidgetItem* item : {before, now}) {
                    if (!item || m_imageList.isEmpty())
                        continue;
                    const int index =
                        item->data(0, item == now ? kSelectedImageRole : kImageRole).toInt();
                    item->setIcon(0, QIcon(m_imageList.value(index)));
                }
            });
}

CDirectoryView::~CDirectoryView() = default;

void CDirectoryView::OnInitialUpdate()
{
    framework::View::OnInitialUpdate();
    InitTree();
}

void CDirectoryView::OnUpdate(framework::View*, std::intptr_t, QObject*)
{
    InitTree();
}

void CDirectoryView::InitTree()
{
    if (!m_bFirstUpdate)
        return;
    // Buttons, lines and lines at the root.
    setRootIsDecorated(true);
    setItemsExpandable(true);
    m_imageList = res::splitStrip(res::loadBitmap(IDB_ITEM_IMAGES), res::kItemImageSize);
    setIconSize(QSize(res::kItemImageSize, res::kItemImageSize));
    FillDrives();
    m_bFirstUpdate = false;
}

namespace {

// Items sort as the tree control sorts: alphabetically, letter case aside.
class DirectoryItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
    }
};

} // namespace

HTREEITEM CDirectoryView::insertItem(HTREEITEM parent, const std::string& name, int image,
                                     int selectedImage, int itemData)
{
    auto* item = parent ? new DirectoryItem(parent) : new DirectoryItem(this);
    item->setText(0, QFile::decodeName(QByteArray::fromStdString(name)));
    item->setData(0, kNameRole, QByteArray::fromStdString(name));
    item->setData(0, kDataRole, itemData);
    item->setData(0, kImageRole, image);
    item->setData(0, kSelectedImageRole, selectedImage);
    item->setIcon(0, QIcon(m_imageList.value(image)));
    return item;
}

void CDirectoryView::sortChildren(HTREEITEM parent)
{
    // Sorting in place keeps what is expanded and selected below.
    if (parent)
        parent->sortChildren(0, Qt::AscendingOrder);
    else
        sortItems(0, Qt::AscendingOrder);
}

bool CDirectoryView::listDirectory(const std::string& path, std::vector<FindEntry>& entries)
{
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        FindEntry found;
        found.name = entry->d_name;
        found.hidden = !found.name.empty() && found.name.front() == '.';
        // Links count as what they point at; a dangling link is skipped.
        struct stat st
        {
        };
        if (::stat((path + found.name).c_str(), &st) != 0)
            continue;
        found.directory = S_ISDIR(st.st_mode);
        found.system = !found.directory && !S_ISREG(st.st_mode);
        entries.push_back(std::move(found));
    }
    ::closedir(dir);
    return true;
}

void CDirectoryView::HideNonDirectories(FindEntry& entry)
{
    if (!entry.directory || entry.name == "." || entry.name == "..")
        entry.hidden = true;
}

void CDirectoryView::FillDrives()
{
    std::string start = DefaultDirectory();
    const std::vector<DriveRoot> drives = GetLogicalDrives();
    // Mount points nest: the start path opens along the longest root it begins with.
    const DriveRoot* longest = nullptr;
    for (const DriveRoot& drive : drives) {
        if (start.compare(0, drive.root.size(), drive.root) == 0 &&
            (!longest || drive.root.size() > longest->root.size()))
            longest = &drive;
    }
    for (const DriveRoot& drive : drives) {
        const DriveImages images = imagesFor(drive.type);
        HTREEITEM item = insertItem(nullptr, drive.root, images.image, images.selected, 0);
        if (&drive == longest) {
            std::string rest = start.substr(drive.root.size());
            OpenStartPath(item, rest);
        }
    }
    sortChildren(nullptr);
}

void CDirectoryView::fitColumn()
{
    const int width = std::max(sizeHintForColumn(0), viewport()->width());
    if (columnWidth(0) != width) {
        setColumnWidth(0, width);
        // The scroll range follows at once, not on the next pass of the event loop.
        updateGeometries();
    }
}

void CDirectoryView::scrollItemIntoView(HTREEITEM item)
{
    fitColumn();
    // (QTreeWidget::scrollToItem would pass by scrollTo below.)
    scrollTo(indexFromItem(item));
}

void CDirectoryView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    // The view shows a column wider than the pane from its left edge, where
    // a deep name is out of sight: keep the sideways position where the
    // name shows, or else show it from one level above its own, so that the
    // user sees where it hangs.
    QScrollBar* bar = horizontalScrollBar();
    const int sideways = bar->value();
    QTreeWidget::scrollTo(index, hint);
    const HTREEITEM item = itemFromIndex(index);
    if (!item)
        return;
    bar->setValue(sideways);
    const QRect row = visualItemRect(item);
    const int name = iconSize().width() + fontMetrics().horizontalAdvance(item->text(0));
    if (row.left() < 0 || row.left() + name > viewport()->width())
        bar->setValue(bar->value() + row.left() - indentation());
}

void CDirectoryView::resizeEvent(QResizeEvent* event)
{
    QTreeWidget::resizeEvent(event);
    fitColumn();
}

void CDirectoryView::OpenStartPath(HTREEITEM hDrive, std::string& rest)
{
    hDrive->setExpanded(true);
    if (HTREEITEM deepest = ExpandPathLevel(hDrive, rest)) {
        setCurrentItem(deepest);
        scrollItemIntoView(deepest);
    }
}

HTREEITEM CDirectoryView::ExpandPathLevel(HTREEITEM hParent, std::string& rest)
{
    HTREEITEM result = hParent;
    std::string path;
    BuildItemPath(hParent, path);
    const std::size_t slash = rest.find('/');
    const std::string component = rest.substr(0, slash);
    std::string remainder = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    rest = component;

    std::vector<FindEntry> entries;
    if (listDirectory(path, entries)) {
        for (FindEntry& entry : entries) {
            HideNonDirectories(entry);
            if (entry.hidden || entry.system)
                continue;
            HTREEITEM item =
                insertItem(hParent, entry.name, res::kImageClosedFolder, res::kImageOpenFolder, 1);
            // The descent happens at once, in the middle of the parent's listing.
            if (!component.empty() && entry.name == component)
                result = ExpandPathLevel(item, remainder);
        }
    }
    sortChildren(hParent);
    hParent->setExpanded(true);
    return result;
}

void CDirectoryView::AddSubdirectories(HTREEITEM hItem)
{
    std::string path;
    BuildItemPath(hItem, path);
    std::vector<FindEntry> entries;
    if (listDirectory(path, entries)) {
        for (FindEntry& entry : entries) {
            HideNonDirectories(entry);
            if (!entry.hidden && !entry.system)
                insertItem(hItem, entry.name, res::kImageClosedFolder, res::kImageOpenFolder, 1);
        }
    }
    sortChildren(hItem);
}

void CDirectoryView::BuildItemPath(HTREEITEM hItem, std::string& path) const
{
    if (!hItem)
        return;
    BuildItemPath(hItem->parent(), path);
    path += hItem->data(0, kNameRole).toByteArray().toStdString();
    if (hItem->data(0, kDataRole).toInt() == 1)
        path += '/';
}

void CDirectoryView::StoreClickedPath(const QPoint& position)
{
    // Anywhere on an item's row counts: its button, picture, label, indentation
    // or the free space after the label.
    const QModelIndex index = indexAt(QPoint(viewport()->width() / 2, position.y()));
    HTREEITEM item = itemFromIndex(index);
    if (!item)
        item = itemAt(position);
    if (!item)
        return;
    std::string path;
    BuildItemPath(item, path);
    if (framework::WinApp* app = framework::AfxGetApp())
        app->WriteProfileString(profile::kSettings, profile::kDefaultDirectory, path);
}

void CDirectoryView::OnClick(const QPoint& position)
{
    StoreClickedPath(position);
    if (framework::Document* document = GetDocument())
        document->UpdateAllViews(this, 0, nullptr);
}

void CDirectoryView::OnDblclk(const QPoint& position)
{
    OnClick(position);
}

void CDirectoryView::mousePressEvent(QMouseEvent* event)
{
    // Only the left button chooses: a right-click would move the selection
    // without storing or listing it, and the two panes would disagree.
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void CDirectoryView::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeWidget::mouseReleaseEvent(event);
    // The release that ends a double click is part of it, not a click of its own.
    if (m_ignoreNextRelease) {
        m_ignoreNextRelease = false;
        return;
    }
    if (event->button() == Qt::LeftButton)
        OnClick(event->position().toPoint());
}

void CDirectoryView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
    m_ignoreNextRelease = true;
    OnDblclk(event->position().toPoint());
}

void CDirectoryView::OnSelchanged(HTREEITEM newItem, HTREEITEM oldItem)
{
    if (newItem && newItem != oldItem)
        OnItemSelected(newItem);
}

void CDirectoryView::OnItemSelected(HTREEITEM hItem)
{
    // Disabled while RebuildTree deletes the items and the selection moves.
    if (!isEnabled())
        return;
    if (hItem->childCount() > 0)
        return;
    AddSubdirectories(hItem);
    setCurrentItem(hItem);
    scrollItemIntoView(hItem);
}

void CDirectoryView::RebuildTree()
{
    if (m_bFirstUpdate)
        return;
    setEnabled(false);
    clear();
    setEnabled(true);
    FillDrives();
}
