#include "framework/win32/win32_modal_ui.h"

namespace qv {

namespace {
class CNoCancel : public IProgress {
public:
    bool Step(std::size_t) override { return true; }
};
}  // namespace

int CWin32ModalUI::MessageBox(const std::string& text, unsigned type) {
    return MessageBoxW(m_owner, Widen(text).c_str(), L"Quorvane", type);
}

void CWin32ModalUI::RunWithProgress(const std::string&, const std::function<void(IProgress&)>& work) {
    CNoCancel progress;
    work(progress);
}

}  // namespace qv
