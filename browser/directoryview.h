// The left pane: a tree of the machine's drive roots and directories; files
// never show. A click stores the clicked directory as "Default Directory" and
// updates the other views; at start-up the tree opens along that setting.
// Directories are listed lazily: along the start path when the tree fills,
// one level when a directory is first selected.
#pragma once

#include "document.h"

#include <QImage>
#include <QList>
#include <QPixmap>
#include <QTreeWidget>
#include <string>

using HTREEITEM = QTreeWidgetItem*;

// One entry of a directory listing, as the tree looks at it.
struct FindEntry
{
    std::string name; // bytes as the directory holds them
    bool directory = false;
    bool hidden = false; // set also for what is not a directory
    bool system = false; // neither a regular file nor a directory
};

class CDirectoryView : public QTreeWidget, public framework::View
{
    Q_OBJECT

public:
    explicit CDirectoryView(QWidget* parent = nullptr);
    ~CDirectoryView() override;

    // Scrolls down to the item and sideways to its name.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    QWidget* widget() override { return this; }
    void OnInitialUpdate() override;
    void OnUpdate(framework::View* sender, std::intptr_t hint, QObject* hintObject) override;

    // Deletes all items and fills the tree again along "Default Directory";
    // does nothing while the tree has never been filled.
    void RebuildTree();

    // The full path of an item: its parents' paths, its name, and '/' for a directory.
    void BuildItemPath(HTREEITEM hItem, std::string& path) const;
    // Marks entries that are not directories, and "." and "..", as hidden.
    static void HideNonDirectories(FindEntry& entry);

    bool m_bFirstUpdate = true;
    QList<QPixmap> m_imageList;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void InitTree();
    void FillDrives();
    void OpenStartPath(HTREEITEM hDrive, std::string& rest);
    HTREEITEM ExpandPathLevel(HTREEITEM hParent, std::string& rest);
    void AddSubdirectories(HTREEITEM hItem);
    void StoreClickedPath(const QPoint& position);
    void OnClick(const QPoint& position);
    void OnDblclk(const QPoint& position);
    void OnSelchanged(HTREEITEM newItem, HTREEITEM oldItem);
    void OnItemSelected(HTREEITEM hItem);

    HTREEITEM insertItem(HTREEITEM parent, const std::string& name, int image, int selectedImage,
                         int itemData);
    void sortChildren(HTREEITEM parent);
    // The column as wide as the widest name shown, and at least the pane.
    void fitColumn();
    // Fits the column, then scrolls `item` and its name into view.
    void scrollItemIntoView(HTREEITEM item);
    // The directory's entries in listing order; false when it cannot be listed.
    static bool listDirectory(const std::string& path, std::vector<FindEntry>& entries);

    bool m_ignoreNextRelease = false;
};
