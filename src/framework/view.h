// The panes as the document sees them. The desktop panes implement these;
// tests use small fakes.
#pragma once

#include "framework/cmd_target.h"

namespace qv {

class CDocument;
class KeyNode;

class CView : public CCmdTarget {
public:
    // A pane that goes first leaves the document's list.
    virtual ~CView();

    // Handed out by the document at every accepted Open; -1 before the first.
    int m_nPane = -1;
    CDocument* m_pDocument = nullptr;

    // The trees are about to be discarded: drop every pointer into them.
    virtual void OnTreesDiscarding() = 0;
};

// A tree pane (Master tree, Slave tree).
class ITreePane : public CView {
public:
    // Rebuilds every item from the side's tree and empties the value pane beside.
    virtual void PopulateTree() = 0;
    // The node of the selected item, or null.
    virtual KeyNode* GetSelectedNode() const = 0;
};

// A value pane (Master values, Slave values).
class IValuePane : public CView {
public:
    virtual KeyNode* GetNode() const = 0;
};

}  // namespace qv
