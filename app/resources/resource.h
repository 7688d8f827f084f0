// Identifiers of the program's resources and commands. The framework's
// standard identifiers, which the program's menus, toolbars, accelerators and
// status bar refer to as well, come from the framework (afxres.h).
#pragma once

#include "afxres.h"

// Resources shared by id 128: main menu, accelerators, toolbar, icon, device
// bar template and the document template string.
constexpr int IDR_MAINFRAME = 128;
constexpr int IDR_QORVELTYPE = 129;         // document-type icon
constexpr int IDR_QORVELTYPE_SRVR_IP = 130; // in-place device bar template
constexpr int IDB_ABOUT_PICTURE = 132;      // 64 by 64 picture of the About box
constexpr int IDB_ITEM_IMAGES = 133;        // 14 images of 16 by 16: tree and list
constexpr int IDR_SRVR_INPLACE = 4;         // in-place menu, accelerators and toolbar
constexpr int IDR_SRVR_EMBEDDED = 5;        // opened-embedded menu and accelerators

// Strings and commands of the program's own.
constexpr int IDP_OLE_INIT_FAILED = 100;
constexpr int ID_INDICATOR_POSITION = 101;
constexpr int ID_OPTIONS_AUTOPLAY = 108;
constexpr int ID_OPTIONS_REVERB = 109;
constexpr int IDC_DEVICE_COMBO = 1000;
constexpr int ID_CANCEL_EDIT_SRVR = 32769;
constexpr int ID_PLAY_MIDI = 32771;
constexpr int ID_PAUSE_PLAYING = 32772;
constexpr int ID_STOP_PLAYING = 32773;
constexpr int ID_VIEW_DEVICE_COMBO = 32779;
constexpr int ID_OPTIONS_LOOP = 32780;
constexpr int ID_OPTIONS_PLAY_DIRECTORY = 32781;
constexpr int ID_PLAY_NEXT_FILE = 32782;
constexpr int ID_PLAY_NEXT_FILE_PROMPT = 32783; // a prompt string with no command behind it
constexpr int ID_OPTIONS_GM_RESET = 32784;

// Prefix and suffix around the class identifier of the embedded document.
inline constexpr const char kDocumentClassId[] = "{EC90EAA3-9532-11D3-814A-444553540000}";
