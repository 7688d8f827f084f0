// The right pane: a report-style list of the MIDI files of the directory
// stored in "Default Directory", with name, date and size. The rows are the
// data: the pane keeps no list of its own. A double click plays the selected
// row's file; the main window walks the list for Play Directory.
//
// Threads: everything runs on the user-interface thread. FillFileList has a
// thread of its own look at the files of a large folder, block by block,
// while the folder is still read; it touches nothing but those blocks, and
// is joined before any row is made.
#pragma once

#include "document.h"

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QTreeWidget>
#include <cstdint>
#include <ctime>
#include <string>

class CFilesView : public QTreeWidget, public framework::View
{
    Q_OBJECT

public:
    explicit CFilesView(QWidget* parent = nullptr);
    ~CFilesView() override;

    QWidget* widget() override { return this; }
    void OnInitialUpdate() override;
    void OnUpdate(framework::View* sender, std::intptr_t hint, QObject* hintObject) override;

    // Selects the next row and opens its file in the document.
    void PlayNextFile();
    // Moves the selection one row down, wrapping to the first row when
    // "Loop" is on; the new index, or -1.
    int SelectNextFile();
    // Opens the selected row's file in the document.
    void PlaySelectedFile();
    // The lowest selected row, or -1.
    int GetSelectedIndex() const;
    void ClearSelection();
    void InitColumns();
    void FillFileList();

    // Whether `name` ends in `ext` (the text from its last '.'), ASCII letter case aside.
    static bool HasExtension(const char* name, const char* ext);
    static bool IsMidiFile(const char* name);
    // "%d %b %Y %H:%M:%S" of a local time, in the C locale; empty when it cannot be made.
    static std::string FormatDate(std::time_t time);

    bool m_bFirstUpdate = true;
    QList<QPixmap> m_imageList;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void OnDblclk();

    QIcon m_note; // every row's picture
};
