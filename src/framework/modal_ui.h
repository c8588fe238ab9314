// Every modal interaction of the program passes through this interface:
// message boxes and questions, dialogs, file dialogs, the wait cursor. The
// desktop program implements it with Qt; tests answer it from a script.
#pragma once

#include <functional>
#include <string>

#include "framework/string_table.h"
#include "model/progress.h"
#include "res/resource.h"

namespace qv {

class CDialog;
class CDC;

// A print job: draws its pages on the printer's device context.
using PrintJob = std::function<void(CDC&)>;
enum class PrintMode { Dialog, Direct, Preview };

struct FileDialogRequest {
    bool bOpen = true;                  // file-open, else file-save
    std::string defaultExtension;       // added to a typed name that has none
    std::string initialName;            // e.g. "*.qvf"
    std::string filterName;             // the one entry of the file-type list
    std::string filterPattern;          // e.g. "*.qvf"
    bool bOverwritePrompt = false;      // ask before replacing an existing file
    bool bAllFilesToo = false;          // "All files (*)" offered after the file type
    bool bFolder = false;               // a folder is chosen, not a file
};

// The request for a tree file: "qvf" added to a typed name without an
// extension, "*.qvf" shown first, the one file type "qvf".
inline FileDialogRequest TreeFileRequest(bool open) {
    FileDialogRequest request;
    request.bOpen = open;
    request.defaultExtension = "qvf";
    request.initialName = "*.qvf";
    request.filterName = "qvf";
    request.filterPattern = "*.qvf";
    request.bOverwritePrompt = !open;
    return request;
}

// The request for a side's file: a tree file or a file that holds a
// registry (hive files often have no extension at all), or a folder.
inline FileDialogRequest SideFileRequest(bool folder) {
    FileDialogRequest request;
    request.filterName = "Registry files";
    request.filterPattern = "*.qvf *.reg *.dat *.DAT *.hiv SOFTWARE SYSTEM SAM SECURITY DEFAULT";
    request.bAllFilesToo = true;
    request.bFolder = folder;
    return request;
}

// A value's data shown to read and copy, in a window that changes nothing.
struct DataView {
    std::string caption;
    std::string heading;   // which value: its key, name, type and size
    std::string text;      // the data as read; "Copy as Text" copies it
    std::string regLine;   // what "Copy as .reg Line" copies; empty when no .reg file can hold it
    std::string regError;  // why, then
};

class IModalUI {
public:
    virtual ~IModalUI() = default;

    // Shows `text` with MB_OK or MB_YESNO (plus an icon flag); returns IDOK,
    // IDYES or IDNO.
    virtual int MessageBox(const std::string& text, unsigned type) = 0;
    // Runs the dialog modally; returns the code it ended with.
    virtual int DoModal(CDialog& dialog) = 0;
    // Returns true and the full path on OK.
    virtual bool GetFileName(const FileDialogRequest& request, std::string& path) = 0;
    // Runs the print dialog (or prints at once, or previews) and then the
    // job; false when the user cancelled.
    virtual bool Print(const PrintJob& job, PrintMode mode) = 0;
    // The printer set-up dialog.
    virtual void PrintSetup() = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    // Runs `work`, which reports each key it reads to the progress it is
    // handed. When the work takes long, a window shows `text` and the count
    // with a Cancel button, and the program's windows are repainted; after a
    // Cancel the progress answers false.
    virtual void RunWithProgress(const std::string& text, const std::function<void(IProgress&)>& work) = 0;
    // Shows the data until the user closes the window.
    virtual void ShowData(const DataView& view) = 0;
};

// A message box by string id.
inline int AfxMessageBox(IModalUI& ui, UINT id, unsigned type = MB_OK) {
    return ui.MessageBox(LoadString(id), type);
}

class CWaitCursor {
public:
    explicit CWaitCursor(IModalUI& ui) : m_ui(ui) { m_ui.BeginWaitCursor(); }
    ~CWaitCursor() { m_ui.EndWaitCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    IModalUI& m_ui;
};

}  // namespace qv
