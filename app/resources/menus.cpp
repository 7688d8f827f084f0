#include "menus.h"

#include "resource.h"

#include <array>

namespace res {
namespace {

constexpr MenuItem kSeparator{nullptr, ID_SEPARATOR};

constexpr std::array kMainFile{
    MenuItem{"&New\tCtrl+N", ID_FILE_NEW},
    MenuItem{"&Open...\tCtrl+O", ID_FILE_OPEN},
    MenuItem{"&Save\tCtrl+S", ID_FILE_SAVE},
    MenuItem{"Save &As...", ID_FILE_SAVE_AS},
    kSeparator,
    MenuItem{"&Print...\tCtrl+P", ID_FILE_PRINT},
    MenuItem{"Print Pre&view", ID_FILE_PRINT_PREVIEW},
    MenuItem{"P&rint Setup...", ID_FILE_PRINT_SETUP},
    kSeparator,
    MenuItem{"Play", ID_PLAY_MIDI},
    MenuItem{"Play Next File", ID_PLAY_NEXT_FILE},
    MenuItem{"Pause", ID_PAUSE_PLAYING},
    MenuItem{"Stop", ID_STOP_PLAYING},
    kSeparator,
    MenuItem{"Recent File", ID_FILE_MRU_FILE1, true},
    kSeparator,
    MenuItem{"E&xit", ID_APP_EXIT},
};

constexpr std::array kEdit{
    MenuItem{"&Undo\tCtrl+Z", ID_EDIT_UNDO},   kSeparator,
    MenuItem{"Cu&t\tCtrl+X", ID_EDIT_CUT},     MenuItem{"&Copy\tCtrl+C", ID_EDIT_COPY},
    MenuItem{"&Paste\tCtrl+V", ID_EDIT_PASTE},
};

constexpr std::array kMainOptions{
    MenuItem{"&Reverb On", ID_OPTIONS_REVERB},
    kSeparator,
    MenuItem{"&Autoplay files", ID_OPTIONS_AUTOPLAY},
    kSeparator,
    MenuItem{"&Loop", ID_OPTIONS_LOOP},
    MenuItem{"Play &Directory", ID_OPTIONS_PLAY_DIRECTORY},
    kSeparator,
    MenuItem{"Send a GM Reset", ID_OPTIONS_GM_RESET},
};

constexpr std::array kMainView{
    MenuItem{"&Toolbar", ID_VIEW_TOOLBAR},
    MenuItem{"Device Combo Box", ID_VIEW_DEVICE_COMBO},
    MenuItem{"&Status Bar", ID_VIEW_STATUS_BAR},
};

constexpr std::array kHelp{MenuItem{"&About Brisolde...", ID_APP_ABOUT}};

constexpr std::array kMainMenu{
    MenuPopup{"&File", kMainFile}, MenuPopup{"&Edit", kEdit}, MenuPopup{"&Options", kMainOptions},
    MenuPopup{"&View", kMainView}, MenuPopup{"&Help", kHelp},
};

constexpr std::array kInPlaceView{MenuItem{"&Toolbar", ID_VIEW_TOOLBAR}};

constexpr std::array kInPlaceMenu{
    MenuPopup{"&Edit", kEdit}, MenuPopup{"&View", kInPlaceView}, MenuPopup{nullptr, {}},
    MenuPopup{nullptr, {}},    MenuPopup{"&Help", kHelp},
};

constexpr std::array kEmbeddedFile{
    MenuItem{"&Update\tCtrl+S", ID_FILE_UPDATE},
    MenuItem{"Save Copy &As...", ID_FILE_SAVE_COPY_AS},
    kSeparator,
    MenuItem{"&Print...\tCtrl+P", ID_FILE_PRINT},
    MenuItem{"Print Pre&view", ID_FILE_PRINT_PREVIEW},
    MenuItem{"P&rint Setup...", ID_FILE_PRINT_SETUP},
    kSeparator,
    MenuItem{"E&xit", ID_APP_EXIT},
};

constexpr std::array kEmbeddedView{
    MenuItem{"&Toolbar", ID_VIEW_TOOLBAR},
    MenuItem{"&Status Bar", ID_VIEW_STATUS_BAR},
};

constexpr std::array kEmbeddedMenu{
    MenuPopup{"&File", kEmbeddedFile},
    MenuPopup{"&Edit", kEdit},
    MenuPopup{"&View", kEmbeddedView},
    MenuPopup{"&Help", kHelp},
};

constexpr std::array kMainToolbar{
    ID_FILE_NEW,   ID_FILE_OPEN,     ID_FILE_SAVE,    ID_SEPARATOR,      ID_EDIT_CUT,  ID_EDIT_COPY,
    ID_EDIT_PASTE, ID_SEPARATOR,     ID_FILE_PRINT,   ID_SEPARATOR,      ID_APP_ABOUT, ID_SEPARATOR,
    ID_PLAY_MIDI,  ID_PAUSE_PLAYING, ID_STOP_PLAYING, ID_PLAY_NEXT_FILE,
};

constexpr std::array kInPlaceToolbar{
    ID_EDIT_CUT,  ID_EDIT_COPY, ID_EDIT_PASTE,    ID_SEPARATOR,    ID_APP_ABOUT,
    ID_SEPARATOR, ID_PLAY_MIDI, ID_PAUSE_PLAYING, ID_STOP_PLAYING, ID_PLAY_NEXT_FILE,
};

// The eight editing keys shared by all three tables.
#define BRISOLDE_EDIT_KEYS                                                                         \
    Accelerator{Qt::CTRL | Qt::Key_Z, ID_EDIT_UNDO},                                               \
        Accelerator{Qt::CTRL | Qt::Key_X, ID_EDIT_CUT},                                            \
        Accelerator{Qt::CTRL | Qt::Key_C, ID_EDIT_COPY},                                           \
        Accelerator{Qt::CTRL | Qt::Key_V, ID_EDIT_PASTE},                                          \
        Accelerator{Qt::ALT | Qt::Key_Backspace, ID_EDIT_UNDO},                                    \
        Accelerator{Qt::SHIFT | Qt::Key_Delete, ID_EDIT_CUT},                                      \
        Accelerator{Qt::CTRL | Qt::Key_Insert, ID_EDIT_COPY}, Accelerator                          \
    {                                                                                              \
        Qt::SHIFT | Qt::Key_Insert, ID_EDIT_PASTE                                                  \
    }

const std::array kMainAccelerators{
    Accelerator{Qt::CTRL | Qt::Key_N, ID_FILE_NEW},
    Accelerator{Qt::CTRL | Qt::Key_O, ID_FILE_OPEN},
    Accelerator{Qt::CTRL | Qt::Key_S, ID_FILE_SAVE},
    Accelerator{Qt::CTRL | Qt::Key_P, ID_FILE_PRINT},
    BRISOLDE_EDIT_KEYS,
    Accelerator{QKeyCombination(Qt::Key_F6), ID_NEXT_PANE},
    Accelerator{Qt::SHIFT | Qt::Key_F6, ID_PREV_PANE},
};

const std::array kInPlaceAccelerators{
    BRISOLDE_EDIT_KEYS,
    Accelerator{QKeyCombination(Qt::Key_Escape), ID_CANCEL_EDIT_SRVR},
};

const std::array kEmbeddedAccelerators{
    Accelerator{Qt::CTRL | Qt::Key_S, ID_FILE_UPDATE},
    Accelerator{Qt::CTRL | Qt::Key_P, ID_FILE_PRINT},
    BRISOLDE_EDIT_KEYS,
    Accelerator{QKeyCombination(Qt::Key_F6), ID_NEXT_PANE},
    Accelerator{Qt::SHIFT | Qt::Key_F6, ID_PREV_PANE},
};

#undef BRISOLDE_EDIT_KEYS

} // namespace

std::span<const MenuPopup> menuResource(int id)
{
    switch (id) {
    case IDR_MAINFRAME:
        return kMainMenu;
    case IDR_SRVR_INPLACE:
        return kInPlaceMenu;
    case IDR_SRVR_EMBEDDED:
        return kEmbeddedMenu;
    default:
        return {};
    }
}

std::span<const int> toolbarButtons(int id)
{
    switch (id) {
    case IDR_MAINFRAME:
        return kMainToolbar;
    case IDR_SRVR_INPLACE:
        return kInPlaceToolbar;
    default:
        return {};
    }
}

std::span<const Accelerator> acceleratorTable(int id)
{
    switch (id) {
    case IDR_MAINFRAME:
        return kMainAccelerators;
    case IDR_SRVR_INPLACE:
        return kInPlaceAccelerators;
    case IDR_SRVR_EMBEDDED:
        return kEmbeddedAccelerators;
    default:
        return {};
    }
}

const DeviceBarTemplate* deviceBarTemplate(int id)
{
    switch (id) {
    case IDR_MAINFRAME:
    case IDR_QORVELTYPE_SRVR_IP:
        return &kDeviceBar;
    default:
        return nullptr;
    }
}

} // namespace res
