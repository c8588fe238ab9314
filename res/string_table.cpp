// The program's string table: every text it shows, by id. Command strings
// hold the status-bar prompt and, after "\n", the tool tip.
#include "res/templates.h"

namespace qv {

const StringResource kStringTable[] = {
    {IDR_MAINFRAME, "Quorvane Software\nQuorvane"},
    {AFX_IDS_APP_TITLE, "Quorvane"},
    {AFX_IDS_IDLEMESSAGE, "Ready"},
    {ID_INDICATOR_EXT, "EXT"},
    {ID_INDICATOR_CAPS, "CAP"},
    {ID_INDICATOR_NUM, "NUM"},
    {ID_INDICATOR_SCRL, "SCRL"},
    {ID_INDICATOR_OVR, "OVR"},
    {ID_INDICATOR_REC, "REC"},

    {IDS_PRODUCT_LINE, "Quorvane 1.3"},
    {IDS_VERSION_LINE, "Version 2000"},
    {IDS_READ_ERROR, "An error occurred while attempting to read from the file."},
    {IDS_WRITE_ERROR, "An error occurred while attempting to write to the file."},
    {IDS_UNABLE_OPEN_REGISTRY, "Unable to open Registry."},
    {IDS_FILE_FORMAT_ERROR, "Error in File Format!!!!"},
    {IDS_SELECT_MASTER, "Please select from Master tree."},
    {IDS_SELECT_SLAVE, "Please select from Slave tree."},
    {IDS_SELECT_SUBTREE, "Select subtree to perform operation."},
    {IDS_CANT_UPDATE_REGISTRY, "Can't update registry."},
    {IDS_CONFIRM_DELETE, "Are you sure about deletion of this element?"},
    {IDS_CANT_MODIFY_MASTER, "Can't modify Master registry."},
    {IDS_CANT_MODIFY_FILE, "Can't modify File registry"},
    {IDS_ERROR_UPDATING, "Error during updating registry."},
    {IDS_SELECT_VALUE, "Please select value from slave subtree."},
    {IDS_CANT_OPERATE_ROOTS, "Can't operate on roots."},
    {IDS_CLOSE_TO_ROOT,
     "Selected element is close to Root. Operation may take long time. Are You sure?"},
    {IDS_SYNC_LOST, "Synchronization has been lost."},
    {IDS_CANT_MODIFY_BINARY, "Can't modify binary values."},
    {IDS_FIND_MATCH, "Find entry matching criteria."},
    {IDS_DIFF_VALUE_COUNT, "Different number of value entries."},
    {IDS_DIFF_KEY_COUNT, "Different number of key entries."},
    {IDS_KEY_MISSING, "Key missing"},
    {IDS_VALUE_MISSING, "Value entry missing."},
    {IDS_VALUE_TYPES_DIFFER, "Value types are different."},
    {IDS_VALUES_DIFFER, "Values are different."},
    {IDS_NO_MORE_DIFFERENCES, "No more differences found."},
    {IDS_ENTER_POSITIVE_NUMBER, "Please enter a positive integer."},

    {ID_FILE_SELECT, "Select Computers\nSelect"},
    {ID_FILE_SAVE_TREE, "Save Registry Tree Info\nSave"},
    {ID_FILE_PRINT, "Print the active document\nPrint"},
    {ID_FILE_PRINT_SETUP, "Change the printer and printing options\nPrint Setup"},
    {ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"},
    {ID_ADD_KEY, "Add Key Entry\nAdd Key"},
    {ID_ADD_VALUE, "Add Value Entry\nAdd Value"},
    {ID_DELETE_KEY, "Delete Key Entry\nDelete Key"},
    {ID_DELETE_VALUE, "Delete value entry\nDelete value"},
    {ID_DELETE_ALL_VALUES, "Delete all Key Values\nDelete Values"},
    {ID_SYNC, "Synchronize Master-Slave\nSynchronize"},
    {ID_READ_SUBTREE, "Read registry subtree\nRead Subtree"},
    {ID_COPY, "Copy from Master to Slave\nCopy"},
    {ID_FIND, "Find key or Value\nFind"},
    {ID_COMPARE, "Compare Subtree\nCompare"},
    {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
    {ID_ABOUT_US, "Display company Info\n Who?"},
    {ID_HELP_WINDOWS, "Windows Help\nHelp"},
    {ID_HELP_INDEX, "Help\nHelp"},
    {ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
    {ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},
};

const std::size_t kStringTableSize = sizeof kStringTable / sizeof kStringTable[0];

}  // namespace qv
