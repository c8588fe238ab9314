// A document with both tree panes and both value panes over fake controls
// and a scripted UI, on the registry a fixture attaches; what the fixtures of
// the unit and integration tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/quorvane_doc.h"
#include "dialogs/open_dlg.h"
#include "panes/tree_pane.h"
#include "panes/value_pane.h"
#include "tests/support/fake_controls.h"
#include "tests/support/scripted_ui.h"

namespace qv {

using test::CDialogDriver;
using Names = std::vector<std::string>;

// The key reached from `n` down the named keys (the first of each name), or null.
inline KeyNode* At(KeyNode* n, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        KeyNode* next = nullptr;
        for (auto& k : n->subkeys)
            if (next == nullptr && k->name == name) next = k.get();
        if ((n = next) == nullptr) return nullptr;
    }
    return n;
}

// A subtree as text: keys indented by depth, values as name=type:data.
inline std::string Dump(const KeyNode* node) {
    std::string out;
    std::vector<std::pair<const KeyNode*, int>> stack{{node, 0}};
    while (!stack.empty()) {
        auto [n, depth] = stack.back();
        stack.pop_back();
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + "[" + n->name + "]";
        for (const auto& v : n->values)
            out += " " + v->name + "=" + std::to_string(v->type) + ":" +
                   (v->type == REG_DWORD ? std::to_string(v->Number()) : v->data);
        out += "\n";
        for (auto it = n->subkeys.rbegin(); it != n->subkeys.rend(); ++it) stack.push_back({it->get(), depth + 1});
    }
    return out;
}

class DocumentFixture : public ::testing::Test {
protected:
    // The document on `registry`, with the four panes in their grid.
    void Attach(IRegistry& registry) {
        doc = std::make_unique<CQuorvaneDoc>(registry, ui);
        grid.panes[0][0] = &masterTree;
        grid.panes[1][0] = &slaveTree;
        grid.panes[0][1] = &masterValues;
        grid.panes[1][1] = &slaveValues;
        masterTree.m_pGrid = slaveTree.m_pGrid = &grid;
        for (CView* v : std::initializer_list<CView*>{&masterTree, &slaveTree, &masterValues, &slaveValues})
            doc->AddView(v);
    }

    // File > Open with these choices made in the dialog.
    void Open(int masterKind, const std::string& master, int slaveKind, const std::string& slave) {
        ui.AnswerDialog([=](CDialog& d, CDialogDriver&) {
            auto& open = static_cast<COpenDlg&>(d);
            open.m_nMasterKind = masterKind;
            open.m_strMaster = master;
            open.m_nSlaveKind = slaveKind;
            open.m_strSlave = slave;
            open.EndDialog(IDOK);
        });
        doc->OnFileSelect();
    }

    // Clicks from `top` down the named keys as a user would (each click loads
    // a live level); returns the last key, or null where a name is missing.
    static KeyNode* Walk(test::CFakeTreeCtrl& ctrl, KeyNode* top, std::initializer_list<const char*> names) {
        KeyNode* n = top;
        for (const char* name : names) {
            ctrl.Click(n);
            if ((n = At(n, {name})) == nullptr) return nullptr;
        }
        ctrl.Click(n);
        return n;
    }

    test::CScriptedUI ui;
    test::CFakeTreeCtrl masterCtrl, slaveCtrl;
    test::CFakeListCtrl masterList, slaveList;
    CQuorvaneView masterTree{masterCtrl}, slaveTree{slaveCtrl};
    CRegListView masterValues{masterList}, slaveValues{slaveList};
    test::CFakeGrid grid;
    std::unique_ptr<CQuorvaneDoc> doc;
};

}  // namespace qv
