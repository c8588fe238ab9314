// The differences list on Win32: a window docked below the panes with every
// difference between the selected Master and Slave keys, filled by a
// background run (progress bar and Cancel), filtered by kind and text, the
// current row in full below, the Slave brought into line from its rows and
// the result saved as a report or a .reg patch. Its header names the two
// keys compared; after every change to the Slave it runs again over the same pair.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/win32/win32_api.h"

namespace qv {

class CDifferencesRun;
class CQuorvaneDoc;
class IModalUI;
class IRegistry;

class CDifferencesWindow {
public:
    // Control ids, for tests that click.
    enum : int {
        kPair = 10, kCounts, kKind, kFilter, kList, kDetails, kProgress, kCancel, kCopy, kDelete, kReport, kPatch, kClose,
    };

    CDifferencesWindow(HWND parent, int id, CQuorvaneDoc& doc, IRegistry& registry, IModalUI& ui);
    ~CDifferencesWindow();
    CDifferencesWindow(const CDifferencesWindow&) = delete;
    CDifferencesWindow& operator=(const CDifferencesWindow&) = delete;

    HWND Hwnd() const { return m_hWnd; }
    HWND Control(int id) const { return GetDlgItem(m_hWnd, id); }

    // Walks the Slave key against the Master key of the pair the document
    // chooses. False when there was no pair (nothing to show).
    bool Start();
    // The Slave changed: the same pair runs again once the change is over;
    // a list not `shown` (the user closed it) lets its rows go instead.
    void SlaveChanged(bool shown);
    // Stops a run and empties the list (the sides are about to change).
    void Clear();
    bool Running() const;
    // The counts by kind, as the header and the status bar show them.
    std::string CountsText() const;
    // The rows shown (after the filter), and the text of one cell.
    int RowCount() const { return static_cast<int>(m_shown.size()); }
    std::string CellText(int row, int column) const;

    std::function<void(const std::string&)> m_onCounts;  // the counts changed
    std::function<void()> m_onClose;                      // the Close button

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void Layout();
    void OnCommand(int id, int code);
    LRESULT OnNotify(const NMHDR& header);

    void Run(const std::string& masterKey, const std::string& slaveKey);
    void Rerun();
    void Poll();
    void Refilter();
    void OnRowChanged(int row);
    void Act(bool copy);
    void Save(bool patch);
    std::vector<std::size_t> SelectedRows() const;
    void ShowState();
    void SetText(int id, const std::string& text);
    void SetCounts(const std::string& text);

    CQuorvaneDoc& m_doc;
    IRegistry& m_registry;
    IModalUI& m_ui;
    HWND m_hWnd = nullptr;
    HFONT m_hFixedFont = nullptr;
    std::unique_ptr<CDifferencesRun> m_run;
    std::vector<std::size_t> m_shown;  // indices of the rows the filter lets through
    std::wstring m_cell;               // the text a list view cell is being given
    bool m_bRerunPending = false;
    bool m_bPolling = false;
    std::chrono::steady_clock::time_point m_started;
    double m_compareStart = -1;  // seconds after the start when its compare began
};

}  // namespace qv
