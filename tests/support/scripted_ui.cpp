#include "tests/support/scripted_ui.h"

#include <gtest/gtest.h>

namespace qv::test {

CDialogDriver::CDialogDriver(CDialog& dialog, IModalUI& ui) : m_dialog(dialog), m_ui(ui) {
    for (const ControlTemplate& c : dialog.GetTemplate().controls)
        if (c.id != -1) m_controls[c.id] = Control{c.kind, c.kind == ControlKind::Edit ? "" : c.text};
}

CDialogDriver::~CDialogDriver() { m_dialog.m_pWnd = nullptr; }

bool CDialogDriver::Start() {
    m_dialog.m_pWnd = this;
    m_dialog.OnInitDialog();
    return !m_bEnded;
}

CDialogDriver::Control& CDialogDriver::At(int id) {
    auto it = m_controls.find(id);
    if (it == m_controls.end()) {
        ADD_FAILURE() << "dialog " << m_dialog.GetTemplateId() << " has no control " << id;
        static Control dummy{ControlKind::Static, ""};
        return dummy;
    }
    return it->second;
}

const CDialogDriver::Control& CDialogDriver::At(int id) const {
    return const_cast<CDialogDriver*>(this)->At(id);
}

void CDialogDriver::Click(int id) {
    if (m_bEnded) {
        ADD_FAILURE() << "click on " << id << " after the dialog ended";
        return;
    }
    Control& c = At(id);
    if (!c.enabled) {
        ADD_FAILURE() << "click on disabled control " << id;
        return;
    }
    if (c.kind == ControlKind::RadioButton) {
        const DialogTemplate& t = m_dialog.GetTemplate();
        // Find the group the button belongs to: from its group start onwards.
        int groupStart = id;
        for (const ControlTemplate& ct : t.controls) {
            if (ct.kind == ControlKind::RadioButton && (ct.style & csGroup)) groupStart = ct.id;
            if (ct.id == id) break;
        }
        for (int member : RadioGroupIds(t, groupStart)) At(member).check = 0;
        c.check = 1;
    } else if (c.kind == ControlKind::CheckBox) {
        c.check = c.check ? 0 : 1;
    }
    m_dialog.OnCommand(id);
}

void CDialogDriver::Type(int id, const std::string& text) {
    Control& c = At(id);
    if (!c.enabled) ADD_FAILURE() << "typing into disabled control " << id;
    c.text = text;
}

std::string CDialogDriver::GetDlgItemText(int id) const { return At(id).text; }
void CDialogDriver::SetDlgItemText(int id, const std::string& text) { At(id).text = text; }
int CDialogDriver::IsDlgButtonChecked(int id) const { return At(id).check; }
void CDialogDriver::CheckDlgButton(int id, int check) { At(id).check = check; }
void CDialogDriver::EnableDlgItem(int id, bool enable) { At(id).enabled = enable; }
bool CDialogDriver::IsDlgItemEnabled(int id) const { return At(id).enabled; }

void CDialogDriver::EndDialog(int result) {
    m_bEnded = true;
    m_nResult = result;
}

int CScriptedUI::MessageBox(const std::string& text, unsigned type) {
    events.push_back({Event::Message, text, type});
    if (whileMessageShown) whileMessageShown();
    if ((type & MB_TYPEMASK) == MB_OK) return IDOK;
    if (m_answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text;
        return IDNO;
    }
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

int CScriptedUI::DoModal(CDialog& dialog) {
    events.push_back({Event::Dialog, dialog.GetTemplate().caption, dialog.GetTemplateId()});
    if (m_dialogs.empty()) {
        ADD_FAILURE() << "unexpected dialog: " << dialog.GetTemplate().caption;
        return IDCANCEL;
    }
    DialogScript script = std::move(m_dialogs.front());
    m_dialogs.pop_front();
    CDialogDriver driver(dialog, *this);
    if (driver.Start()) script(dialog, driver);
    if (!driver.Ended()) return IDCANCEL;
    return driver.Result();
}

bool CScriptedUI::GetFileName(const FileDialogRequest& request, std::string& path) {
    events.push_back({Event::FileDialog, request.filterPattern, request.bOpen ? 1u : 0u});
    fileRequests.push_back(request);
    if (m_files.empty()) {
        ADD_FAILURE() << "unexpected file dialog";
        return false;
    }
    std::optional<std::string> answer = std::move(m_files.front());
    m_files.pop_front();
    if (!answer) return false;
    path = *answer;
    return true;
}

bool CScriptedUI::Print(const PrintJob& job, PrintMode mode) {
    printModes.push_back(mode);
    if (m_prints.empty()) {
        ADD_FAILURE() << "unexpected print dialog";
        return false;
    }
    const bool ok = m_prints.front();
    m_prints.pop_front();
    if (ok && printer != nullptr) job(*printer);
    return ok;
}

void CScriptedUI::BeginWaitCursor() {
    ++waitDepth;
    events.push_back({Event::WaitCursor, "begin", 0});
}

void CScriptedUI::EndWaitCursor() {
    --waitDepth;
    events.push_back({Event::WaitCursor, "end", 0});
}

void CScriptedUI::RunWithProgress(const std::string&, const std::function<void(IProgress&)>& work) {
    struct Recorder : IProgress {
        CScriptedUI& ui;
        explicit Recorder(CScriptedUI& owner) : ui(owner) {}
        bool Step(std::size_t keysDone) override {
            ui.progressSteps.push_back(keysDone);
            if (!ui.cancelAtStep || ui.progressSteps.size() < *ui.cancelAtStep) return true;
            ui.cancelAtStep.reset();
            return false;
        }
    } recorder(*this);
    work(recorder);
}

void CScriptedUI::ShowData(const DataView& view) {
    events.push_back({Event::Data, view.caption, 0});
    dataViews.push_back(view);
}

std::vector<std::string> CScriptedUI::Messages() const {
    std::vector<std::string> texts;
    for (const Event& e : events)
        if (e.kind == Event::Message) texts.push_back(e.text);
    return texts;
}

void CScriptedUI::ExpectAllAnswersUsed() const {
    EXPECT_TRUE(m_answers.empty()) << m_answers.size() << " question answers unused";
    EXPECT_TRUE(m_dialogs.empty()) << m_dialogs.size() << " dialog scripts unused";
    EXPECT_TRUE(m_files.empty()) << m_files.size() << " file answers unused";
    EXPECT_TRUE(m_prints.empty()) << m_prints.size() << " print answers unused";
}

}  // namespace qv::test
