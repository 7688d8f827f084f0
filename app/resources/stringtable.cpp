#include "stringtable.h"

#include "resource.h"

#include <algorithm>
#include <array>

namespace res {
namespace {

// Sorted by id so that lookups can bisect.
constexpr std::array kStrings{
    StringEntry{IDP_OLE_INIT_FAILED,
                "OLE initialization failed.  Make sure that the OLE libraries are the correct "
                "version."},
    StringEntry{ID_INDICATOR_POSITION, "Brisolde MIDI player - Tolvern Midi Applications"},
    StringEntry{ID_OPTIONS_AUTOPLAY, "Start Playing file after opening"},
    StringEntry{IDR_MAINFRAME, "Brisolde\n\nQorvel\nBrisolde Files (*.mid)\n.mid\nBrisolde."
                               "Document\nQorvel Document"},
    StringEntry{ID_PLAY_MIDI, "Play Midi"},
    StringEntry{ID_PAUSE_PLAYING, "Pause Playing"},
    StringEntry{ID_STOP_PLAYING, "Stop Playing"},
    StringEntry{ID_VIEW_DEVICE_COMBO, "View or Hide Device Combo Box"},
    StringEntry{ID_OPTIONS_LOOP, "Loop When Playing File"},
    StringEntry{ID_OPTIONS_PLAY_DIRECTORY, "Play Directory viewed in the Right Pane"},
    StringEntry{ID_PLAY_NEXT_FILE, "Play Next File"},
    StringEntry{ID_PLAY_NEXT_FILE_PROMPT, "Play Next File"},
    StringEntry{ID_OPTIONS_GM_RESET, "Send a GM Reset before Playing"},
    StringEntry{AFX_IDS_APP_TITLE, "Brisolde"},
    StringEntry{AFX_IDS_IDLEMESSAGE, "Ready"},
    StringEntry{AFX_IDS_APP_TITLE_EMBEDDING, "%1 in %2"},
    StringEntry{AFX_IDS_OBJ_TITLE_INPLACE, "%1 - %2"},
    StringEntry{ID_FILE_NEW, "Create a new document\nNew"},
    StringEntry{ID_FILE_OPEN, "Open an existing document\nOpen"},
    StringEntry{ID_FILE_CLOSE, "Close the active document\nClose"},
    StringEntry{ID_FILE_SAVE, "Save the active document\nSave"},
    StringEntry{ID_FILE_SAVE_AS, "Save the active document under a new name\nSave As"},
    StringEntry{ID_FILE_PRINT_SETUP, "Change the printer and printing options\nPrint Setup"},
    StringEntry{ID_FILE_PRINT, "Print the active document\nPrint"},
    StringEntry{ID_FILE_PRINT_PREVIEW, "Show whole pages as they will print\nPrint Preview"},
    StringEntry{ID_FILE_UPDATE, "Show the latest changes in the container\nUpdate"},
    StringEntry{ID_FILE_SAVE_COPY_AS, "Save a copy of the active document under a new name\nSave "
                                      "Copy As"},
    StringEntry{ID_FILE_MRU_FILE1, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 1, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 2, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 3, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 4, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 5, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 6, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 7, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 8, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 9, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 10, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 11, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 12, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 13, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE1 + 14, "Open this document"},
    StringEntry{ID_FILE_MRU_FILE16, "Open this document"},
    StringEntry{ID_EDIT_COPY, "Copy the selection to the clipboard\nCopy"},
    StringEntry{ID_EDIT_CUT, "Move the selection to the clipboard\nCut"},
    StringEntry{ID_EDIT_PASTE, "Insert the clipboard's contents\nPaste"},
    StringEntry{ID_EDIT_UNDO, "Undo the last action\nUndo"},
    StringEntry{ID_APP_ABOUT, "Show the program's name, version and copyright\nAbout"},
    StringEntry{ID_APP_EXIT, "Quit the program\nExit"},
    StringEntry{ID_NEXT_PANE, "Move to the next pane of the window\nNext Pane"},
    StringEntry{ID_PREV_PANE, "Move back to the previous pane of the window\nPrevious Pane"},
    StringEntry{ID_INDICATOR_CAPS, "CAP"},
    StringEntry{ID_INDICATOR_NUM, "NUM"},
    StringEntry{ID_INDICATOR_SCRL, "SCRL"},
    StringEntry{ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToolbar"},
    StringEntry{ID_VIEW_STATUS_BAR, "Show or hide the status bar\nStatus Bar"},
    StringEntry{AFX_IDS_OPENFILE, "Open"},
    StringEntry{AFX_IDS_ALLFILTER, "All Files (*.*)"},
    StringEntry{AFX_IDS_UNTITLED, "Untitled"},
    StringEntry{AFX_IDP_FAILED_TO_CREATE_DOC, "Failed to create empty document."},
};

constexpr bool sortedById()
{
    for (std::size_t i = 1; i < kStrings.size(); ++i) {
        if (kStrings[i - 1].id >= kStrings[i].id)
            return false;
    }
    return true;
}
static_assert(sortedById(), "the string table must stay sorted by id");

} // namespace

QString loadString(int id)
{
    const auto it = std::lower_bound(kStrings.begin(), kStrings.end(), id,
                                     [](const StringEntry& e, int key) { return e.id < key; });
    if (it == kStrings.end() || it->id != id)
        return {};
    return QString::fromUtf8(it->text);
}

std::span<const StringEntry> stringTable()
{
    return kStrings;
}

QString docTemplateField(const QString& templateString, DocField field)
{
    const auto parts = templateString.split(QLatin1Char('\n'));
    const auto index = static_cast<qsizetype>(field);
    return index < parts.size() ? parts.at(index) : QString();
}

} // namespace res
