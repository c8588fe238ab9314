// The formats of the program's resources: dialog templates and the string
// table, as a resource compiler would lay them out. Plain data, no behaviour:
// the framework reads them, res/ fills them.
#pragma once

#include <cstddef>
#include <vector>

#include "res/resource.h"

namespace qv {

enum class ControlKind { Static, GroupBox, RadioButton, CheckBox, Edit, PushButton };

enum ControlStyle : unsigned {
    csNone = 0,
    csGroup = 1u << 0,       // starts a group (radio buttons: a new radio group)
    csTabStop = 1u << 1,
    csDefault = 1u << 2,     // the default push button
    csCenter = 1u << 3,      // centred static text
    csBorder = 1u << 4,
    csAutoHScroll = 1u << 5,
    csReadOnly = 1u << 6,
    csPassword = 1u << 7,    // an edit that shows bullets for what is typed
};

struct ControlTemplate {
    ControlKind kind;
    int id;  // -1 for controls the program never addresses
    const char* text;
    int x, y, cx, cy;  // dialog units
    unsigned style;
};

struct DialogTemplate {
    UINT id;
    const char* caption;
    int x, y, cx, cy;  // dialog units
    std::vector<ControlTemplate> controls;
};

// Every dialog template of the program.
const std::vector<DialogTemplate>& DialogTemplates();

// The program's texts by id; LoadString looks them up.
struct StringResource {
    UINT id;
    const char* text;
};
extern const StringResource kStringTable[];
extern const std::size_t kStringTableSize;

// The menu bar: menus in order, each a list of items; id 0 is a separator.
struct MenuItemTemplate {
    UINT id;
    const char* text;  // with & before the mnemonic and \t before the keys shown
};
struct MenuTemplate {
    const char* title;
    std::vector<MenuItemTemplate> items;
};
const std::vector<MenuTemplate>& MainMenu();

// Commands shown with a check mark.
const std::vector<UINT>& CheckableCommands();

// The tool bar's commands in button order; 0 is a separator. Button n
// shows tool bar image n, counting buttons only.
const std::vector<UINT>& ToolBarButtons();

// Accelerators as a resource compiler keeps them: modifiers and a
// Windows virtual-key code (letters are their capital, 'O').
enum AccelModifier : unsigned { amNone = 0, amShift = 1u << 0, amCtrl = 1u << 1, amAlt = 1u << 2 };
constexpr unsigned kVkBack = 0x08, kVkInsert = 0x2D, kVkDelete = 0x2E, kVkF1 = 0x70;
struct AcceleratorTemplate {
    unsigned modifiers;
    unsigned key;
    UINT id;
};
const std::vector<AcceleratorTemplate>& Accelerators();

}  // namespace qv
