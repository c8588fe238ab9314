// The menu bar, the tool bar and the accelerator table.
#include "res/templates.h"

namespace qv {

const std::vector<MenuTemplate>& MainMenu() {
    static const std::vector<MenuTemplate> menus = {
        {"&File",
         {{ID_FILE_SELECT, "&Open"},
          {0, nullptr},
          {ID_FILE_SAVE_TREE, "&Save"},
          {0, nullptr},
          {ID_FILE_PRINT, "&Print...\tCtrl+P"},
          {ID_FILE_PRINT_SETUP, "P&rint Setup..."},
          {0, nullptr},
          {ID_APP_EXIT, "E&xit"}}},
        {"&Action",
         {{ID_ADD_KEY, "&Add Key"},
          {ID_ADD_VALUE, "&Add Value"},
          {0, nullptr},
          {ID_DELETE_KEY, "&Delete Key"},
          {ID_DELETE_VALUE, "Delete Value"},
          {ID_DELETE_ALL_VALUES, "Delete All Values"}}},
        {"&Update",
         {{ID_SYNC, "S&ync"},
          {0, nullptr},
          {ID_COPY, "&Copy Master->Slave"},
          {0, nullptr},
          {ID_READ_SUBTREE, "&Load Subtree"},
          {0, nullptr},
          {ID_EDIT_UNDO, "&Undo\tCtrl+Z"},
          {ID_SAVE_UNDO, "Save Undo &As..."}}},
        {"&Search",
         {{ID_FIND, "&Find"},
          {ID_COMPARE, "&Compare"},
          {ID_DIFFERENCES, "&Differences"},
          {0, nullptr},
          {ID_IGNORE_LIST, "&Ignore List..."}}},
        {"&View",
         {{ID_VIEW_DATA, "Value &Data..."},
          {0, nullptr},
          {ID_VIEW_TOOLBAR, "&Toolbar"},
          {ID_VIEW_STATUS_BAR, "&Status Bar"}}},
        {"&Help",
         {{ID_APP_ABOUT, "&About Quorvane..."},
          {0, nullptr},
          {ID_ABOUT_US, "About &Us"},
          {0, nullptr},
          {ID_HELP_WINDOWS, "&Help"}}},
    };
    return menus;
}

const std::vector<UINT>& CheckableCommands() {
    static const std::vector<UINT> ids = {ID_SYNC, ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR};
    return ids;
}

const std::vector<UINT>& ToolBarButtons() {
    static const std::vector<UINT> ids = {
        ID_FILE_SELECT, ID_FILE_SAVE_TREE, ID_FILE_PRINT, 0,
        ID_ADD_KEY, ID_ADD_VALUE, 0,
        ID_DELETE_KEY, ID_DELETE_VALUE, ID_DELETE_ALL_VALUES, 0,
        ID_SYNC, ID_READ_SUBTREE, ID_COPY, 0,
        ID_FIND, ID_COMPARE, ID_DIFFERENCES, 0,
        ID_APP_ABOUT, ID_ABOUT_US, ID_HELP_INDEX,
    };
    return ids;
}

// Kept apart from the menu items, so the menus show only the texts they are given.
const std::vector<AcceleratorTemplate>& Accelerators() {
    static const std::vector<AcceleratorTemplate> table = {
        {amCtrl, 'O', ID_FILE_SELECT},
        {amCtrl, 'S', ID_FILE_SAVE_TREE},
        {amCtrl, 'P', ID_FILE_PRINT},
        {amCtrl, 'N', ID_FILE_NEW},
        {amCtrl, 'Z', ID_EDIT_UNDO},
        {amAlt, kVkBack, ID_EDIT_UNDO},
        {amCtrl, 'X', ID_EDIT_CUT},
        {amShift, kVkDelete, ID_EDIT_CUT},
        {amCtrl, 'C', ID_EDIT_COPY},
        {amCtrl, kVkInsert, ID_EDIT_COPY},
        {amCtrl, 'V', ID_EDIT_PASTE},
        {amShift, kVkInsert, ID_EDIT_PASTE},
        {amNone, kVkF1 + 5, ID_NEXT_PANE},
        {amShift, kVkF1 + 5, ID_PREV_PANE},
    };
    return table;
}

}  // namespace qv
