// The framework's standard identifiers: its commands, its strings and its
// windows. A program's resources use them beside its own identifiers; the
// framework knows no others.
#pragma once

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
