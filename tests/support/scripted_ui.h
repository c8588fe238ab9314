// A modal interface answered from a script: tests queue the answers to
// questions, dialogs and file dialogs, and read back everything shown.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/modal_ui.h"

namespace qv::test {

// A dialog's window without a toolkit: the controls of its template with
// their text, check state and enabled state. Clicks run the dialog's code.
class CDialogDriver : public CDialogWindow {
public:
    CDialogDriver(CDialog& dialog, IModalUI& ui);
    ~CDialogDriver() override;

    // Creates the controls, runs OnInitDialog; returns false if the dialog
    // ended there.
    bool Start();

    // User actions. A click on an auto radio button checks it and clears the
    // rest of its group first; on a check box it toggles it.
    void Click(int id);
    void Type(int id, const std::string& text);
    bool Ended() const { return m_bEnded; }
    int Result() const { return m_nResult; }

    std::string GetDlgItemText(int id) const override;
    void SetDlgItemText(int id, const std::string& text) override;
    int IsDlgButtonChecked(int id) const override;
    void CheckDlgButton(int id, int check) override;
    void EnableDlgItem(int id, bool enable) override;
    bool IsDlgItemEnabled(int id) const override;
    void SetFocusTo(int id) override { m_nFocus = id; }
    void EndDialog(int result) override;
    IModalUI& Ui() override { return m_ui; }
    int Focus() const { return m_nFocus; }

private:
    struct Control {
        ControlKind kind;
        std::string text;
        int check = 0;
        bool enabled = true;
    };
    Control& At(int id);
    const Control& At(int id) const;

    CDialog& m_dialog;
    IModalUI& m_ui;
    std::map<int, Control> m_controls;
    bool m_bEnded = false;
    int m_nResult = 0;
    int m_nFocus = 0;
};

class CScriptedUI : public IModalUI {
public:
    using DialogScript = std::function<void(CDialog&, CDialogDriver&)>;

    struct Event {
        enum Kind { Message, Dialog, FileDialog, WaitCursor, Data } kind;
        std::string text;   // message text, or the dialog's caption
        unsigned type = 0;  // message box type, or dialog template id
    };

    // The answer to the next Yes/No question (OK boxes need none).
    void AnswerQuestion(int answer) { m_answers.push_back(answer); }
    // The next dialog is driven by `script` (it clicks, types, ends it).
    // A script that leaves the dialog running ends it with Cancel.
    void AnswerDialog(DialogScript script) { m_dialogs.push_back(std::move(script)); }
    // The next file dialog returns `path`, or is cancelled with nullopt.
    void AnswerFile(std::optional<std::string> path) { m_files.push_back(std::move(path)); }

    int MessageBox(const std::string& text, unsigned type) override;
    int DoModal(CDialog& dialog) override;
    bool GetFileName(const FileDialogRequest& request, std::string& path) override;
    // Prints onto `printer` when one is set and the next answer is true.
    bool Print(const PrintJob& job, PrintMode mode) override;
    void PrintSetup() override { events.push_back({Event::Dialog, "Print Setup", 0}); }
    void AnswerPrint(bool ok) { m_prints.push_back(ok); }
    CDC* printer = nullptr;
    std::vector<PrintMode> printModes;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    // Runs the work at once; records every step, and cancels the step that
    // makes `cancelAtStep` steps recorded (once: it is cleared then).
    void RunWithProgress(const std::string& text, const std::function<void(IProgress&)>& work) override;
    std::vector<std::size_t> progressSteps;
    std::optional<std::size_t> cancelAtStep;

    // Records the data window (its caption as the event's text); it needs no answer.
    void ShowData(const DataView& view) override;
    std::vector<DataView> dataViews;

    std::vector<Event> events;
    // Runs as each message box is shown, to look at the program under it.
    std::function<void()> whileMessageShown;
    std::vector<FileDialogRequest> fileRequests;
    int waitDepth = 0;

    // Texts of the message boxes shown, in order.
    std::vector<std::string> Messages() const;
    // Fails the test when a queued answer was never used.
    void ExpectAllAnswersUsed() const;

private:
    std::deque<int> m_answers;
    std::deque<DialogScript> m_dialogs;
    std::deque<std::optional<std::string>> m_files;
    std::deque<bool> m_prints;
};

}  // namespace qv::test
