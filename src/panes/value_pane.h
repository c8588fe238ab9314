// A value pane: the values of one key in two columns, name and value text,
// each row's data readable in its tip and, in full, through Value Data.
// A double-click in the Slave's pane edits a string or number value in place,
// in the registry and in memory.
#pragma once

#include <cstdint>
#include <string>

#include "compare/data_text.h"
#include "framework/view.h"
#include "panes/list_ctrl.h"
#include "model/key_node.h"
#include "model/registry.h"

namespace qv {

// The display text of a value: its text, "(%X)  %lu" for a number, or
// "It is Binary !!!".
std::string ValueText(const ValueEntry& value);

// Writes value `index` of `node` (all values for -1) to the registry key of
// the node, creating the key when missing. Returns 1 on success, 0 on failure.
int WriteValues(KeyNode* node, IRegistry& registry, const std::string& computer, int index);

class CRegListView : public IValuePane, public IListCtrlEvents {
public:
    explicit CRegListView(IListCtrl& ctrl);
    ~CRegListView() override;

    KeyNode* m_pNode = nullptr;  // the key whose values are shown; not owned

    IListCtrl& GetListCtrl() const { return m_ctrl; }
    KeyNode* GetNode() const override { return m_pNode; }
    void OnTreesDiscarding() override;

    // Rebuilds every row from m_pNode: row i is value i.
    void FillValues();
    // Shows `node` (may be null) with `row` selected and focused.
    void ShowNode(KeyNode* node, int row);
    // The first selected row, or -1.
    int GetFirstSelectedRow() const;

    void OnDblClick() override;
    // Print commands, and Value Data on the selected row.
    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI& cmdUI) override;

    // Where an expandable string's variables are looked up.
    EnvironmentLookup m_environment = ProcessEnvironment();

private:
    const ValueEntry* SelectedValue() const;
    void ViewData();

    IListCtrl& m_ctrl;
};

}  // namespace qv
