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

}  // namespace qv
