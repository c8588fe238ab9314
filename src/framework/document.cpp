#include "framework/document.h"

#include <algorithm>

#include "framework/modal_ui.h"

namespace qv {

CView::~CView() {
    if (m_pDocument != nullptr) m_pDocument->RemoveView(this);
}

CDocument::~CDocument() {
    for (CView* view : m_viewList) view->m_pDocument = nullptr;
}

void CDocument::AddView(CView* view) {
    m_viewList.push_back(view);
    view->m_pDocument = this;
}

void CDocument::RemoveView(CView* view) {
    m_viewList.erase(std::remove(m_viewList.begin(), m_viewList.end(), view), m_viewList.end());
    view->m_pDocument = nullptr;
}

bool CDocument::RefuseWrite(int pane) const {
    const std::string reason = ReadOnlyReason(pane);
    if (reason.empty()) return false;
    Ui().MessageBox(reason, MB_OK | MB_ICONERROR);
    return true;
}

ITreePane* CDocument::GetTreePane(int index) const {
    for (CView* view : m_viewList)
        if (auto* pane = dynamic_cast<ITreePane*>(view); pane != nullptr && index-- == 0) return pane;
    return nullptr;
}

IValuePane* CDocument::GetValuePane(int index) const {
    for (CView* view : m_viewList)
        if (auto* pane = dynamic_cast<IValuePane*>(view); pane != nullptr && index-- == 0) return pane;
    return nullptr;
}

}  // namespace qv
