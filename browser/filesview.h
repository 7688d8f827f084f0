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

namespace framework {
class Profile;
}

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
    // "Default Directory" and "Loop" are read from `profile`.
    explicit CFilesView(const framework::Profile& profile, QWidget* parent = nullptr);
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
    // Makes the Size column wide enough for `longest`'s number (null: no rows).
    void FitSizeColumn(QTreeWidgetItem* longest);

    // Marks the row of the file at `path` (bytes of a file name) as the one
    // that plays, in bold, while it is listed; empty: none. The selection
    // is left as it is.
    void SetPlayingFile(const std::string& path);
    // Whether the row named `name` (its bytes) is the playing file's.
    bool IsPlayingFileName(const QByteArray& name) const
    {
        return !m_playingName.isEmpty() && name == m_playingName;
    }

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
    static constexpr int kSizeColumnWidth = 80;
    void OnDblclk();
    void FindPlayingFile();

    const framework::Profile& m_profile;
    QIcon m_note;                  // every row's picture
    std::string m_listedDirectory; // the folder the rows are of
    std::string m_playingFile;     // the path of the file that plays; empty: none
    QByteArray m_playingName;      // its name, while it is in the folder listed
};
