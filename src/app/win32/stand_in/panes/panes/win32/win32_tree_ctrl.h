// Stand-in: a plain SysTreeView32 holding every item in memory at once.
#pragma once

#include <map>

#include "framework/win32/win32_api.h"
#include "panes/tree_ctrl.h"

namespace qv {

class CWin32TreeCtrl : public ITreeCtrl {
public:
    CWin32TreeCtrl(HWND parent, int id);
    ~CWin32TreeCtrl() override;
    HWND Hwnd() const { return m_hWnd; }
    void SetImageList(HIMAGELIST images);
    bool OnNotify(const NMHDR& header, LRESULT& result);

    void SetEvents(ITreeCtrlEvents* events) override { m_events = events; }
    void DeleteAllItems() override;
    void InsertRootItem(KeyNode* top, int image, int selectedImage) override;
    void InsertChildItems(KeyNode* node, int image) override;
    void InsertItem(KeyNode* node, int image) override;
    void DeleteChildItems(KeyNode* node) override;
    void DeleteItem(KeyNode* node) override;
    KeyNode* GetSelectedNode() const override;
    void SelectItem(KeyNode* node) override;
    void Expand(KeyNode* node) override;
    bool HasItem(const KeyNode* node) const override { return m_items.count(node) != 0; }
    void SetVisible(bool visible) override;

private:
    HTREEITEM Add(HTREEITEM parent, KeyNode* node, int image, int selectedImage, bool below = true);
    void Forget(HTREEITEM item);

    HWND m_hWnd = nullptr;
    ITreeCtrlEvents* m_events = nullptr;
    std::map<const KeyNode*, HTREEITEM> m_items;
    bool m_bDeleting = false;
};

}  // namespace qv
