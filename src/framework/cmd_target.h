// Command routing in the classic manner: a command goes to the active pane,
// then the document, the frame and the application; the first target that
// handles it wins. The same route decides whether a menu item or tool bar
// button is enabled (and checked): a command nobody handles is disabled.
#pragma once

#include <string>

#include "framework/string_table.h"

namespace qv {

class CCmdUI {
public:
    explicit CCmdUI(UINT id) : m_nID(id) {}
    UINT m_nID;
    bool m_bEnabled = true;
    int m_nCheck = 0;
    std::string m_strText;  // a command's own text for now, when it has one
    void Enable(bool enable = true) { m_bEnabled = enable; }
    void SetCheck(int check = 1) { m_nCheck = check; }
    void SetText(std::string text) { m_strText = std::move(text); }
};

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    // Runs the command; false when this target has no handler for it.
    virtual bool OnCmdMsg(UINT /*id*/) { return false; }
    // Sets the command's state; false when this target has no handler for it.
    virtual bool OnUpdateCmdUI(CCmdUI& /*cmdUI*/) { return false; }
};

}  // namespace qv
