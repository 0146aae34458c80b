// Numeric ids of the program's commands, as the menus, toolbar, accelerators and the status-bar prompts use
// them.
#pragma once

namespace calvora {

enum CommandId : int {
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_PREVIEW_FRAMEWORK = 57609,
    ID_FILE_MRU_FILE1 = 57616,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE_HORZ = 57651,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_START_RECORDING = 32775,
    ID_FILE_PRINT_PREVIEW = 32771,
    ID_RESCAN = 32772,
    ID_STOP_RECORDING = 32778,
    ID_SAVE_DATA = 32780,
    ID_HELP_TOPICS = 32785,
    ID_VIEW_INSTRUMENT = 32787,
    ID_OPEN_DATA = 32789,
    ID_COMPORT = 32790,
    ID_RECONNECT = 32791,
    ID_PAIR = 32795,
    ID_EXPORT_CHART = 32810,
};

} // namespace calvora
