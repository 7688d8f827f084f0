// Identifiers of the program's resources and commands, and the application
// framework's standard identifiers that the program's menus, toolbars,
// accelerators and status bar refer to.
#pragma once

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

// Framework strings.
constexpr int AFX_IDS_APP_TITLE = 57344;
constexpr int AFX_IDS_IDLEMESSAGE = 57345;
constexpr int AFX_IDS_APP_TITLE_EMBEDDING = 57347;
constexpr int AFX_IDS_OBJ_TITLE_INPLACE = 57349;
constexpr int AFX_IDS_ALLFILTER = 61442;
constexpr int AFX_IDS_UNTITLED = 61443;
constexpr int AFX_IDS_OPENFILE = 61441;
constexpr int AFX_IDP_FAILED_TO_CREATE_DOC = 61700;

// Framework commands.
constexpr int ID_SEPARATOR = 0;
constexpr int ID_FILE_NEW = 57600;
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_CLOSE = 57602;
constexpr int ID_FILE_SAVE = 57603;
constexpr int ID_FILE_SAVE_AS = 57604;
constexpr int ID_FILE_PAGE_SETUP = 57605;
constexpr int ID_FILE_PRINT_SETUP = 57606;
constexpr int ID_FILE_PRINT = 57607;
constexpr int ID_FILE_PRINT_DIRECT = 57608;
constexpr int ID_FILE_PRINT_PREVIEW = 57609;
constexpr int ID_FILE_UPDATE = 57610;
constexpr int ID_FILE_SAVE_COPY_AS = 57611;
constexpr int ID_FILE_MRU_FILE1 = 57616;
constexpr int ID_FILE_MRU_FILE16 = 57631;
constexpr int ID_EDIT_COPY = 57634;
constexpr int ID_EDIT_CUT = 57635;
constexpr int ID_EDIT_PASTE = 57637;
constexpr int ID_EDIT_UNDO = 57643;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_NEXT_PANE = 57680;
constexpr int ID_PREV_PANE = 57681;
constexpr int ID_VIEW_TOOLBAR = 59392;
constexpr int ID_VIEW_STATUS_BAR = 59393;
constexpr int ID_INDICATOR_CAPS = 59137;
constexpr int ID_INDICATOR_NUM = 59138;
constexpr int ID_INDICATOR_SCRL = 59139;

// Framework window identifiers.
constexpr int AFX_IDW_TOOLBAR = 59392;
constexpr int AFX_IDW_STATUS_BAR = 59393;
constexpr int AFX_IDW_RESIZE_BAR = 59395;
constexpr int AFX_IDW_REBAR = 59396;
constexpr int AFX_IDW_DIALOGBAR = 59397;
constexpr int AFX_IDW_PANE_FIRST = 59648;

// Prefix and suffix around the class identifier of the embedded document.
inline constexpr const char kDocumentClassId[] = "{EC90EAA3-9532-11D3-814A-444553540000}";
