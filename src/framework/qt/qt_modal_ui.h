// The desktop program's modal interaction: Qt message boxes, dialogs run by
// CQtDialogHost, Qt file dialogs and the override cursor.
#pragma once

#include <QPointer>
#include <QPrinter>
#include <chrono>
#include <memory>

#include "framework/modal_ui.h"

class QWidget;

namespace qv {

class CQtModalUI : public IModalUI {
public:
    CQtModalUI() = default;
    ~CQtModalUI() override;

    // The owner of modal windows while no other modal window is up.
    void SetMainWindow(QWidget* window) { m_mainWindow = window; }
    QWidget* MainWindow() const { return m_mainWindow; }

    int MessageBox(const std::string& text, unsigned type) override;
    int DoModal(CDialog& dialog) override;
    bool GetFileName(const FileDialogRequest& request, std::string& path) override;
    bool Print(const PrintJob& job, PrintMode mode) override;
    void PrintSetup() override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    // The progress window shows once the work has taken `delay` (400 ms
    // unless set).
    void RunWithProgress(const std::string& text, const std::function<void(IProgress&)>& work) override;
    // A dialog of a read-only text with buttons that copy it, or the .reg line, to the clipboard.
    void ShowData(const DataView& view) override;
    void SetProgressDelay(std::chrono::milliseconds delay) { m_progressDelay = delay; }

    int WaitDepth() const { return m_nWaitDepth; }

private:
    // The modal window on top, else the main window.
    QWidget* Owner() const;

    QPointer<QWidget> m_mainWindow;
    std::unique_ptr<QPrinter> m_printer;  // kept between jobs, as Print Setup left it
    int m_nWaitDepth = 0;
    std::chrono::milliseconds m_progressDelay{400};
};

}  // namespace qv
