// The document as its panes see it. A pane holds a CDocument*, never the
// program's own document class, so the panes build below the application.
// The document owns the list of its panes and tells each one, by its pane
// number, which side of the comparison it shows.
#pragma once

#include <string>
#include <vector>

#include "framework/cmd_target.h"
#include "framework/view.h"
#include "model/change_scope.h"
#include "model/registry.h"

namespace qv {

class IModalUI;
class KeyNode;

// Where a side comes from; the first three are also the radio positions in
// the Open dialog. A file that holds a registry (a hive, a .reg file, a
// Windows installation, a Wine prefix) becomes a side of kind
// kSourceRegistryFile, loaded level by level like a live side; a tree file
// stays kSourceFile, read whole.
enum SourceKind : int { kSourceLocal = 0, kSourceNetwork = 1, kSourceFile = 2, kSourceRegistryFile = 3 };

inline bool IsLiveKind(int kind) { return kind != kSourceFile; }

class CDocument : public CCmdTarget {
public:
    CDocument() = default;
    // Panes that outlive the document are told to forget it.
    ~CDocument() override;

    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;

    // Panes, in the order they joined.
    void AddView(CView* view);
    void RemoveView(CView* view);
    const std::vector<CView*>& GetViews() const { return m_viewList; }
    // The first (0) or second (1) tree pane, value pane; null if absent.
    ITreePane* GetTreePane(int index) const;
    IValuePane* GetValuePane(int index) const;

    // The side shown by the pane with number `pane`.
    virtual int SideKind(int pane) const = 0;
    virtual const std::string& SideName(int pane) const = 0;
    virtual KeyNode* SideRoot(int pane) const = 0;

    // Why the side cannot be written, as a message; empty when it can.
    virtual std::string ReadOnlyReason(int pane) const = 0;
    // Shows why the side of `pane` takes no change and returns true, or
    // returns false when it takes them.
    bool RefuseWrite(int pane) const;

    // A change to the registry of the side of `pane`: what it may touch is
    // recorded before it writes (false: it must not go ahead, and the
    // reason was shown) and what it left when it ends. Changes nest; only
    // the outermost is recorded. Without a journal nothing is recorded.
    virtual bool BeginChange(int /*pane*/, const std::string& /*description*/, std::vector<ChangeScope> /*scopes*/) {
        return true;
    }
    virtual void EndChange(int /*pane*/) {}

    virtual IRegistry& Registry() const = 0;
    virtual IModalUI& Ui() const = 0;

    // The print commands, as the panes receive them.
    virtual bool OnPrintCommand(UINT id) = 0;
    // A tree pane's selection changed.
    virtual void FollowSelection(KeyNode* node, int pane) = 0;

protected:
    std::vector<CView*> m_viewList;
};

// Brackets one change: BeginChange now, EndChange when the guard goes.
class CChangeGuard {
public:
    CChangeGuard(CDocument* doc, int pane, const std::string& description, std::vector<ChangeScope> scopes)
        : m_doc(doc), m_pane(pane), m_ok(doc == nullptr || doc->BeginChange(pane, description, std::move(scopes))) {}
    ~CChangeGuard() {
        if (m_ok && m_doc != nullptr) m_doc->EndChange(m_pane);
    }
    CChangeGuard(const CChangeGuard&) = delete;
    CChangeGuard& operator=(const CChangeGuard&) = delete;
    bool Ok() const { return m_ok; }

private:
    CDocument* m_doc;
    int m_pane;
    bool m_ok;
};

}  // namespace qv
