// The one document: both sides of the comparison, their trees, the panes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "compare/differences.h"
#include "edit/undo_journal.h"
#include "framework/document.h"
#include "framework/modal_ui.h"
#include "model/key_node.h"
#include "model/registry.h"

namespace qv {

class CQuorvaneView;

class CQuorvaneDoc : public CDocument {
public:
    CQuorvaneDoc(IRegistry& registry, IModalUI& ui);
    ~CQuorvaneDoc();

    std::string m_strMaster;  // computer name or file path; empty for local
    std::string m_strSlave;
    int m_nMasterKind = kSourceLocal;
    int m_nSlaveKind = kSourceLocal;
    std::unique_ptr<KeyNode> m_pMasterRoot;  // null while the side has no tree
    std::unique_ptr<KeyNode> m_pSlaveRoot;
    KeyNode* m_pPrintRoot = nullptr;  // set by the print choice, not owned
    int m_bSync = 0;

    // Computers a network side reached, latest first; the network browser
    // offers them. The program fills the list from its settings and keeps
    // it through m_onRecentComputers, called when a name is added.
    static constexpr std::size_t kMaxRecentComputers = 8;
    std::vector<std::string> m_recentComputers;
    std::function<void(const std::vector<std::string>&)> m_onRecentComputers;
    // Tells whether a computer's registry answers: 0 or the reason's
    // status. Without one, a connect through the registry tells.
    std::function<LONG(const std::string&)> m_checkComputer;
    LONG CheckComputer(const std::string& computer);
    void RememberComputer(const std::string& computer);

    // Opens a file that holds a registry (a hive, a .reg file, a Windows
    // installation, a Wine prefix) for a side. Returns false when `path` is
    // a tree file, to be read whole; else true, with `registry` set (and
    // `readOnly` saying why it takes no writes, if it does not), or null with
    // `error` set. The program sets it; without it every file is a tree file.
    std::function<bool(const std::string& path, std::unique_ptr<IRegistry>& registry, std::string& readOnly,
                       std::string& error)>
        m_openRegistryFile;

    // Discards the side's tree and builds a new one. Returns the side's
    // kind: a file side that holds a registry becomes kSourceRegistryFile,
    // and `*readOnly` then says why it takes no writes, if it does not.
    int BuildSide(std::unique_ptr<KeyNode>& root, const std::string& name, int kind, std::string* readOnly = nullptr);
    // Reads the tree file at `path` into `top`, with a progress window;
    // reports failures itself. False when it failed or was cancelled.
    bool LoadFromFile(const std::string& path, KeyNode* top);

    // The Open command.
    void OnFileSelect();
    // What an accepted Open does with the choice: new sides, both trees
    // rebuilt, the panes numbered and filled.
    void OpenSides(int masterKind, const std::string& master, int slaveKind, const std::string& slave);
    // A tree pane's selection changed; in Sync mode the other pane follows.
    void FollowSelection(KeyNode* node, int pane) override;

    // Command handlers.
    void OnCompare();
    void OnFind();
    void OnReadSubtree();
    void OnSync();
    void OnAddKey();
    void OnAddValue();
    void OnDeleteKey();
    void OnDeleteValue();
    void OnDeleteAllValues();
    void OnCopy();
    void OnFileSaveTree();

    // Asks which tree to print; sets m_pPrintRoot. 1 to go on printing.
    int ChoosePrintRoot();
    // Writes the tree below `node` to the file at `path`; reports failures.
    void SaveToFile(const std::string& path, KeyNode* node);
    // The print commands, as the panes receive them.
    bool OnPrintCommand(UINT id) override;

    // The undo journal every change to a side is recorded in; the program
    // sets it (tests may), and without one nothing is recorded.
    CUndoJournal* m_pJournal = nullptr;
    bool BeginChange(int pane, const std::string& description, std::vector<ChangeScope> scopes) override;
    void EndChange(int pane) override;
    // Update > Undo: takes back the last recorded change, then shows the
    // keys it touched as the registry holds them.
    void OnEditUndo();
    // Update > Save Undo As: a .reg file that restores the state before the
    // last recorded change.
    void OnSaveUndo();
    // At start: changes an earlier run began and never ended are offered
    // for restoring (Yes) or saving as a .reg file that restores them (No).
    void OfferRecovery();

    // The ignore list kept in the settings, for a compare; false (with the
    // reason shown) when it cannot be read.
    bool LoadIgnoreList(CIgnoreList& list);

    // The differences list's side of the document. Called before the sides
    // are replaced or the document goes: a run reading them must end first.
    std::function<void()> m_onSidesChanging;
    // Called when a change to the Slave has ended (a command, a list action,
    // Undo): what the list shows may no longer hold.
    std::function<void()> m_onSlaveChanged;
    // The pair of keys ("HKEY_...\\path" on each side) the list compares
    // next: the keys selected in the two trees, or the last run's pair again
    // while the trees still show what revealing one of its rows selected.
    // Keys whose own names differ are compared only after a Yes to a
    // question naming both. False, having said why, when there is no pair.
    bool ChooseDifferencesPair(std::string& masterKey, std::string& slaveKey);
    // The key at `keyPath` in side `side`'s tree (levels loaded on the way), or null.
    const KeyNode* FindSideKey(int side, const std::string& keyPath);
    // Selects the row's key in both trees, loading levels on the way, and
    // its value in both value panes. `masterKey` and `slaveKey` are the
    // compared keys ("HKEY_...\\path").
    void RevealDifference(const DiffRow& row, const std::string& masterKey, const std::string& slaveKey);
    // Acts on rows of the list after one question that says what will be
    // deleted, made and set: with `copy`, makes each Slave entry equal the
    // Master's (an entry only the Slave has is deleted; a name spelled in
    // another case is left as it is); else deletes each Slave entry.
    // Returns the indices (into `rows`) of the rows the Slave now agrees with.
    std::vector<std::size_t> ActOnDifferences(const std::vector<const DiffRow*>& rows, bool copy,
                                              const std::string& masterKey, const std::string& slaveKey);

    // The Master (0) or Slave (1) tree pane.
    CQuorvaneView* TreeView(int index) const;
    bool BothTrees() const { return m_pMasterRoot != nullptr && m_pSlaveRoot != nullptr; }
    bool SlaveWritable() const { return IsLiveKind(m_nSlaveKind) && m_pSlaveRoot != nullptr; }

    // The side's data by pane number: 1 and 3 are the Slave, the rest the Master.
    int SideKind(int pane) const override { return IsSlavePane(pane) ? m_nSlaveKind : m_nMasterKind; }
    const std::string& SideName(int pane) const override { return IsSlavePane(pane) ? m_strSlave : m_strMaster; }
    KeyNode* SideRoot(int pane) const override {
        return IsSlavePane(pane) ? m_pSlaveRoot.get() : m_pMasterRoot.get();
    }
    static bool IsSlavePane(int pane) { return pane == 1 || pane == 3; }

    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI& cmdUI) override;

    std::string ReadOnlyReason(int pane) const override;

    IRegistry& Registry() const override { return m_registry; }
    IModalUI& Ui() const override { return m_ui; }

private:
    IRegistry& m_registry;
    IModalUI& m_ui;
    std::string m_masterReadOnly, m_slaveReadOnly;  // why a registry file side takes no writes
    std::vector<std::string> m_mounted;              // registry files reachable by their path
    int m_nChangeDepth = 0;                          // changes running, nested ones counted
    std::string m_diffPair[2];                       // the list's last pair of keys
    std::string m_diffRevealed[2];                   // the keys a row's reveal selected since
};

}  // namespace qv
