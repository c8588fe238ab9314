// Dialog templates: controls in template order (also the tab order), with
// positions in dialog units.
#include "res/templates.h"

namespace qv {

namespace {
using K = ControlKind;
constexpr unsigned kEdit = csBorder | csTabStop | csAutoHScroll;
constexpr unsigned kButton = csTabStop;
constexpr unsigned kDefButton = csTabStop | csDefault;
constexpr unsigned kChoice = csTabStop | csDefault;  // the tree-choice buttons
}  // namespace

const std::vector<DialogTemplate>& DialogTemplates() {
    static const std::vector<DialogTemplate> templates = {
        {IDD_OPEN, "Open", 0, 0, 220, 138,
         {
             {K::GroupBox, -1, "&Master type", 9, 4, 57, 55, csNone},
             {K::RadioButton, IDC_MASTER_LOCAL, "local", 19, 16, 39, 10, csGroup | csTabStop},
             {K::RadioButton, IDC_MASTER_NETWORK, "network", 19, 30, 39, 10, csNone},
             {K::RadioButton, IDC_MASTER_FILE, "file", 19, 44, 39, 10, csNone},
             {K::Static, -1, "Enter Master Machine Name...", 77, 13, 107, 8, csGroup},
             {K::Edit, IDC_MASTER_NAME, "", 76, 29, 116, 12, kEdit},
             {K::PushButton, IDC_MASTER_BROWSE, "...", 192, 29, 11, 13, kButton},
             {K::GroupBox, -1, "&Slave type", 9, 63, 58, 59, csNone},
             {K::RadioButton, IDC_SLAVE_LOCAL, "local", 19, 76, 39, 10, csGroup | csTabStop},
             {K::RadioButton, IDC_SLAVE_NETWORK, "network", 19, 90, 39, 10, csNone},
             {K::RadioButton, IDC_SLAVE_FILE, "file", 19, 103, 39, 10, csNone},
             {K::Static, -1, "Enter Slave Machine Name...", 77, 67, 107, 8, csGroup},
             {K::Edit, IDC_SLAVE_NAME, "", 76, 83, 116, 13, kEdit},
             {K::PushButton, IDC_SLAVE_BROWSE, "...", 192, 83, 11, 14, kButton},
             {K::PushButton, IDOK, "&Ok", 153, 113, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Cancel", 85, 113, 50, 14, kButton},
         }},
        {IDD_ABOUTBOX, "About Quorvane", 0, 0, 190, 82,
         {
             {K::Static, IDC_ABOUT_PRODUCT, "", 12, 10, 166, 8, csNone},
             {K::Static, IDC_ABOUT_VERSION, "", 12, 22, 166, 8, csNone},
             {K::Static, -1, "Copyright (C) 2000 Quorvane Software", 12, 34, 166, 8, csNone},
             {K::Static, -1, "Free software under the GNU GPL, version 3 or later.", 12, 46, 166, 8, csNone},
             {K::PushButton, IDOK, "OK", 128, 62, 50, 14, kDefButton | csGroup},
         }},
        {IDD_ABOUT_US, "About Us", 0, 0, 190, 78,
         {
             {K::Static, -1, "Quorvane Software", 12, 10, 166, 8, csNone},
             {K::Static, -1, "We make tools that compare and synchronise", 12, 24, 166, 8, csNone},
             {K::Static, -1, "the registries of the computers on a network.", 12, 34, 166, 8, csNone},
             {K::PushButton, IDOK, "OK", 128, 56, 50, 14, kDefButton | csGroup},
         }},
        {IDD_NET_BROWSER, "Network Computer", 0, 0, 220, 182,
         {
             {K::Static, -1, "&Computer (host, or host:port for a service's own port)", 9, 8, 202, 8, csNone},
             {K::Edit, IDC_NET_COMPUTER, "", 9, 19, 150, 13, kEdit},
             {K::PushButton, IDC_NET_CHECK, "C&heck", 165, 18, 46, 14, kButton},
             {K::RadioButton, IDC_NET_KIND_SERVICE, "&Quorvane service (quorvane-regd)", 9, 37, 202, 10,
              csGroup | csTabStop},
             {K::RadioButton, IDC_NET_KIND_WINDOWS, "&Windows computer (Remote Registry, smb://)", 9, 49, 202, 10,
              csNone},
             {K::Static, IDC_NET_STATUS, "", 9, 63, 202, 8, csGroup},
             {K::GroupBox, IDC_NET_RECENT, "Reached &before", 9, 75, 202, 80, csNone},
             {K::PushButton, IDC_NET_RECENT_FIRST + 0, "", 15, 87, 92, 14, kButton},
             {K::PushButton, IDC_NET_RECENT_FIRST + 1, "", 113, 87, 92, 14, kButton},
             {K::PushButton, IDC_NET_RECENT_FIRST + 2, "", 15, 104, 92, 14, kButton},
             {K::PushButton, IDC_NET_RECENT_FIRST + 3, "", 113, 104, 92, 14, kButton},
             {K::PushButton, IDC_NET_RECENT_FIRST + 4, "", 15, 121, 92, 14, kButton},
             {K::PushButton, IDC_NET_RECENT_FIRST + 5, "", 113, 121, 92, 14, kButton},
             {K::PushButton, IDC_NET_RECENT_FIRST + 6, "", 15, 138, 92, 14, kButton},
             {K::PushButton, IDC_NET_RECENT_FIRST + 7, "", 113, 138, 92, 14, kButton},
             {K::PushButton, IDOK, "&OK", 161, 162, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Cancel", 105, 162, 50, 14, kButton},
         }},
        {IDD_LOGON, "Log On", 0, 0, 220, 104,
         {
             {K::Static, IDC_LOGON_PROMPT, "", 9, 8, 202, 16, csNone},
             {K::Static, -1, "&User:", 9, 30, 50, 8, csNone},
             {K::Edit, IDC_LOGON_USER, "", 62, 28, 149, 13, kEdit},
             {K::Static, -1, "&Domain:", 9, 47, 50, 8, csNone},
             {K::Edit, IDC_LOGON_DOMAIN, "", 62, 45, 149, 13, kEdit},
             {K::Static, -1, "&Password:", 9, 64, 50, 8, csNone},
             {K::Edit, IDC_LOGON_PASSWORD, "", 62, 62, 149, 13, kEdit | csPassword},
             {K::PushButton, IDOK, "&OK", 161, 84, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Cancel", 105, 84, 50, 14, kButton},
         }},
        {IDD_COMPARE, "Compare", 0, 0, 191, 82,
         {
             {K::Static, -1, "This operation can take resonable amount of time.", 12, 8, 167, 8, csNone},
             {K::CheckBox, 1009, "&Load subtree before compare.", 34, 27, 111, 10, csTabStop},
             {K::PushButton, IDOK, "&Ok", 108, 57, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Cancel", 35, 57, 50, 14, kButton},
         }},
        {IDD_FIND_RESULT, "Find Result", 200, 200, 197, 66,
         {
             {K::PushButton, IDOK, "&Next", 115, 42, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Stop", 39, 42, 50, 14, kButton},
             {K::Static, 1026, "Find entry matching criteria.", 11, 14, 171, 8, csCenter},
         }},
        {IDD_FIND, "Find", 0, 0, 197, 118,
         {
             {K::Static, -1, "&Data to search", 9, 3, 50, 8, csNone},
             {K::Edit, 1006, "", 9, 15, 175, 12, kEdit},
             {K::CheckBox, 1009, "&Load subtree before find.", 10, 33, 136, 10, csTabStop},
             {K::GroupBox, -1, "Master/Slave", 9, 47, 94, 30, csNone},
             {K::RadioButton, 1007, "&Master", 16, 60, 33, 10, csGroup | csTabStop},
             {K::RadioButton, 1008, "&Slave", 59, 60, 30, 10, csNone},
             {K::CheckBox, 1024, "Find &Key", 10, 85, 43, 10, csGroup | csTabStop},
             {K::CheckBox, 1025, "Find &Value", 10, 98, 49, 10, csTabStop},
             {K::PushButton, IDOK, "&OK", 132, 95, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Cancel", 132, 74, 50, 14, kButton},
         }},
        {IDD_COPY, "Copy", 0, 0, 157, 103,
         {
             {K::GroupBox, -1, "&Type", 12, 5, 130, 60, csNone},
             {K::CheckBox, 1016, "&Load subtree before copy", 25, 20, 102, 10, csTabStop},
             {K::CheckBox, 1009, "&Overwrite or Append", 25, 34, 102, 10, csTabStop},
             {K::CheckBox, 1017, "&Recursive (Include subkeys)", 25, 48, 102, 10, csTabStop},
             {K::PushButton, IDOK, "&Ok", 89, 75, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Cancel", 18, 75, 50, 14, kButton},
         }},
        {IDD_ADD_KEY, "Add Key", 0, 0, 172, 87,
         {
             {K::Static, -1, "Key &name", 10, 11, 91, 10, csNone},
             {K::Edit, 1019, "", 10, 26, 153, 14, kEdit},
             {K::PushButton, IDOK, "&OK", 111, 58, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Cancel", 41, 58, 50, 14, kButton},
         }},
        {IDD_ADD_VALUE, "Add Value", 0, 0, 172, 121,
         {
             {K::Static, -1, "&Name", 9, 8, 91, 10, csNone},
             {K::Edit, 1019, "", 8, 20, 153, 14, kEdit},
             {K::Static, -1, "&Value", 9, 40, 91, 10, csNone},
             {K::Edit, 1020, "", 9, 51, 153, 14, kEdit},
             {K::GroupBox, -1, "Type", 9, 70, 60, 42, csNone},
             {K::RadioButton, 1021, "&String", 20, 82, 34, 10, csGroup | csTabStop},
             {K::RadioButton, 1022, "N&umber", 20, 96, 36, 10, csNone},
             {K::PushButton, IDOK, "&OK", 113, 98, 50, 14, kDefButton | csGroup},
             {K::PushButton, IDCANCEL, "&Cancel", 113, 74, 50, 14, kButton},
         }},
        {IDD_MODIFY_STRING, "Modify String", 0, 0, 172, 79,
         {
             {K::Static, -1, "&Value", 10, 9, 91, 10, csNone},
             {K::Edit, 1019, "", 10, 25, 153, 14, kEdit},
             {K::PushButton, IDOK, "&OK", 111, 51, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Cancel", 46, 51, 50, 14, kButton},
         }},
        {IDD_MODIFY_NUMBER, "Modify Number", 0, 0, 172, 79,
         {
             {K::Static, -1, "&Value", 10, 9, 91, 10, csNone},
             {K::Edit, 1019, "", 10, 25, 153, 14, kEdit},
             {K::PushButton, IDOK, "&OK", 111, 51, 50, 14, kDefButton},
             {K::PushButton, IDCANCEL, "&Cancel", 46, 51, 50, 14, kButton},
         }},
        {IDD_SAVE_TREE, "Save Tree", 0, 0, 167, 87,
         {
             {K::PushButton, IDCANCEL, "&Cancel", 99, 66, 60, 14, kChoice},
             {K::PushButton, 1013, "&Master subtree", 6, 30, 60, 14, kChoice},
             {K::PushButton, 1015, "&Slave subtree", 99, 30, 60, 14, kChoice},
             {K::PushButton, 1012, "Master tree", 6, 7, 60, 14, kChoice},
             {K::PushButton, 1014, "Slave tree", 99, 7, 60, 14, kChoice},
         }},
        {IDD_PRINT_TREE, "Print Tree", 0, 0, 166, 82,
         {
             {K::PushButton, IDCANCEL, "&Cancel", 98, 61, 60, 14, kChoice},
             {K::PushButton, 1013, "Master &subtree", 8, 30, 60, 14, kChoice},
             {K::PushButton, 1015, "Slave &subtree", 98, 30, 60, 14, kChoice},
             {K::PushButton, 1012, "Master tree", 8, 7, 60, 14, kChoice},
             {K::PushButton, 1014, "Slave tree", 98, 7, 60, 14, kChoice},
         }},
        {IDD_READ_TREE, "Read Tree", 0, 0, 175, 106,
         {
             {K::PushButton, IDCANCEL, "&Cancel", 107, 87, 60, 14, kChoice},
             {K::PushButton, 1013, "&Master subtree", 8, 56, 60, 14, kChoice},
             {K::PushButton, 1015, "&Slave subtree", 107, 56, 60, 14, kChoice},
             {K::Static, -1, "This operation can take resonable amount of time.", 14, 13, 149, 8, csNone},
             {K::Static, -1, "Please Wait  !!!", 59, 32, 45, 8, csNone},
         }},
    };
    return templates;
}

}  // namespace qv
