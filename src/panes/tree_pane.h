// A tree pane: one side's key tree in a tree control. It loads a live key's
// next level the first time the key is selected, reports selections to the
// document, and shows the selected key's values in the value pane beside it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "framework/cmd_target.h"
#include "model/registry_types.h"
#include "framework/view.h"
#include "panes/tree_ctrl.h"

namespace qv {

class CIgnoreList;

class CRegListView;
struct ValueEntry;
class IModalUI;
class IRegistry;

// The frame's grid of panes, as the panes find each other in it.
class IPaneGrid {
public:
    virtual ~IPaneGrid() = default;
    virtual CView* GetPane(int row, int column) const = 0;
};

class CQuorvaneView : public ITreePane, public ITreeCtrlEvents {
public:
    explicit CQuorvaneView(ITreeCtrl& ctrl);
    ~CQuorvaneView() override;

    // While 0 the pane ignores its own selection changes.
    int m_bSelNotify = 1;
    IPaneGrid* m_pGrid = nullptr;

    ITreeCtrl& GetTreeCtrl() const { return m_ctrl; }

    void PopulateTree() override;
    KeyNode* GetSelectedNode() const override { return m_ctrl.GetSelectedNode(); }
    void OnTreesDiscarding() override;
    void OnSelChanged() override;
    // Print commands; Value Data goes to the value pane beside.
    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI& cmdUI) override;

    // Items for every loaded descendant of `node`.
    void InsertChildItems(KeyNode* node, int image);
    // Shows `node`'s values in the value pane of `pane`'s row, row `row` selected.
    void ShowValues(KeyNode* node, int pane, int row);
    // The value pane in this pane's row.
    CRegListView* GetValuePane() const;

    // Walks the selected Slave key against `master`, stopping at every
    // difference; keys never read are loaded on the way, the Master's through
    // `masterPane`. Returns 1 when the walk went to its end.
    int Compare(KeyNode* master, CQuorvaneView* masterPane = nullptr, const CIgnoreList* ignore = nullptr);
    // Searches the selected key's subtree for `text`, loading keys never
    // read. Returns 1 when the search went to its end.
    int Find(const std::string& text, int matchNames, int matchData);
    // Reads the selected key's whole subtree from the registry again, with
    // a progress window. False when the user cancelled it: the tree is then
    // as it was. With `wholeOnly` (a copy must not write half a subtree),
    // false also when the read failed part way.
    bool ReadSubtree(bool wholeOnly = false);
    // Reads `node`'s subtree afresh, as Load Subtree does, without its checks.
    bool Reload(KeyNode* node, bool wholeOnly = false);
    // Loads a live key's level when it has nothing in memory, with its items;
    // says so when the registry could not give all of it.
    void LoadLevelWithItems(KeyNode* node);
    // Selects the key at the same path as `other` (a node of the other tree)
    // below `root`, loading the levels on the way. Returns 1 when found.
    int SyncTo(KeyNode* root, KeyNode* other);
    KeyNode* LocateCounterpart(KeyNode* root, KeyNode* other);
    // Selects the key at `keyPath` ("HKEY_...\\path", names exact), loading
    // levels on the way, and shows its values with the one named
    // `valueName` selected when there is one. Null when there is no such key.
    KeyNode* Reveal(const std::string& keyPath, const std::string* valueName = nullptr);
    KeyNode* FindPath(KeyNode* node, std::string_view path);

    // Editing the selected key (Slave pane).
    void DeleteKey();
    void DeleteValues(int index);
    void AddKey(const std::string& name);
    // Writes `entry` to the selected key (replacing a value of its name).
    void AddValue(std::unique_ptr<ValueEntry> entry);
    void AddStringValue(const std::string& name, const std::string& text);
    void AddNumberValue(const std::string& name, std::uint32_t number);
    // Brings the selected Slave key into line with `master`.
    void CopyFromMaster(KeyNode* master, int overwrite, int recursive);

    // The checks before an operation that rewrites a subtree: a selection, a
    // live side, not a root, and a Yes right below a root. Returns the
    // selected node when the operation may go on.
    KeyNode* GuardSubtree();

    // This pane's side.
    bool IsMaster() const { return m_nPane == 0; }
    int SideKind() const;
    bool IsLive() const;
    const std::string& Computer() const;
    KeyNode* SideRoot() const;
    int KeyImage() const;

protected:
    IRegistry& Registry() const;
    IModalUI& Ui() const;

private:
    // Tells that `node` could not be read whole (`status` non-zero).
    void TellReadFailure(const KeyNode* node, LONG status);
    // A stop of a walk at `node`: selects and expands it, shows its values
    // with `row` selected and asks Next or Stop. True for Next.
    bool StopAt(KeyNode* node, int row, UINT message);
    // The first checks of every edit: a selected key of a live side.
    KeyNode* EditableSelection();

    ITreeCtrl& m_ctrl;
};

// Depth of a node counted from its tree's top node, which has depth 1.
int NodeDepth(const KeyNode* node);
// The key's name with its root, e.g. HKEY_LOCAL_MACHINE\Software\Demo.
std::string FullKeyName(const KeyNode* node);
// A value's name as shown: "(Default)" for the unnamed one.
std::string DisplayValueName(const ValueEntry& entry);

}  // namespace qv
