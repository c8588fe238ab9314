#include "framework/qt/qt_modal_ui.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "framework/qt/qt_dialog_host.h"
#include "framework/qt/qt_print.h"
#include "framework/qt/qt_text.h"

#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>

namespace qv {

namespace {

// A modal window over a busy program still shows the arrow, and the busy
// cursor comes back when it closes.
class ArrowWhileModal {
public:
    explicit ArrowWhileModal(const CQtModalUI& ui) : m_ui(ui) {
        if (m_ui.WaitDepth() > 0) QApplication::changeOverrideCursor(Qt::ArrowCursor);
    }
    ~ArrowWhileModal() {
        if (m_ui.WaitDepth() > 0) QApplication::changeOverrideCursor(Qt::WaitCursor);
    }
    ArrowWhileModal(const ArrowWhileModal&) = delete;
    ArrowWhileModal& operator=(const ArrowWhileModal&) = delete;

private:
    const CQtModalUI& m_ui;
};

QMessageBox::Icon IconOf(unsigned type) {
    switch (type & 0xF0u) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

}  // namespace

CQtModalUI::~CQtModalUI() {
    if (m_nWaitDepth > 0 && QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

QWidget* CQtModalUI::Owner() const {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return m_mainWindow;
}

int CQtModalUI::MessageBox(const std::string& text, unsigned type) {
    std::string caption = LoadString(AFX_IDS_APP_TITLE);
    if (caption.empty()) caption = "Quorvane";
    const bool question = (type & MB_TYPEMASK) == MB_YESNO;

    QMessageBox box(IconOf(type), FromUtf8(caption), FromUtf8(text),
                    question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, Owner());
    box.setTextFormat(Qt::PlainText);  // key and value names may look like markup
    if (question) {
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    ArrowWhileModal arrow(*this);
    box.exec();
    if (!question) return IDOK;
    return box.clickedButton() == box.button(QMessageBox::Yes) ? IDYES : IDNO;
}

int CQtModalUI::DoModal(CDialog& dialog) {
    CQtDialogHost host(dialog, *this, Owner());
    ArrowWhileModal arrow(*this);
    return host.DoModal();
}

bool CQtModalUI::GetFileName(const FileDialogRequest& request, std::string& path) {
    QFileDialog dialog(Owner());
    dialog.setAcceptMode(request.bOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // A typed name of a missing file is taken too: whoever asked says what
    // is wrong with it (Open reports a file it cannot read).
    dialog.setFileMode(request.bFolder ? QFileDialog::Directory : QFileDialog::AnyFile);
    if (request.bFolder) dialog.setOption(QFileDialog::ShowDirsOnly);
    QStringList filters;
    if (!request.filterPattern.empty()) {
        const std::string name = request.filterName.empty() ? request.filterPattern : request.filterName;
        filters << FromUtf8(name + " (" + request.filterPattern + ")");
    }
    if (request.bAllFilesToo) filters << QStringLiteral("All files (*)");
    if (!request.bFolder && !filters.isEmpty()) dialog.setNameFilters(filters);
    if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(FromUtf8(request.defaultExtension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.bOverwritePrompt);
    // The name box starts with the initial name, a pattern such as "*.qvf" too.
    if (!request.initialName.empty()) dialog.selectFile(FromUtf8(request.initialName));

    ArrowWhileModal arrow(*this);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    path = ToUtf8(QFileInfo(files.first()).absoluteFilePath());
    return true;
}

void CQtModalUI::BeginWaitCursor() {
    // One override for the outermost wait; inner ones only count.
    if (m_nWaitDepth++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void CQtModalUI::EndWaitCursor() {
    if (m_nWaitDepth == 0) return;  // unmatched: nothing of ours to remove
    if (--m_nWaitDepth == 0) QApplication::restoreOverrideCursor();
}

bool CQtModalUI::Print(const PrintJob& job, PrintMode mode) {
    if (!m_printer) m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrinter& printer = *m_printer;
    PreparePrinter(printer);
    if (mode == PrintMode::Preview) {
        QPrintPreviewDialog preview(&printer, Owner());
        QObject::connect(&preview, &QPrintPreviewDialog::paintRequested,
                         [&job](QPrinter* p) { RunPrintJob(*p, job); });
        return preview.exec() == QDialog::Accepted;
    }
    if (mode == PrintMode::Dialog) {
        QPrintDialog dialog(&printer, Owner());
        if (dialog.exec() != QDialog::Accepted) return false;
    }
    BeginWaitCursor();
    const bool printed = RunPrintJob(printer, job);
    EndWaitCursor();
    return printed;
}

void CQtModalUI::PrintSetup() {
    if (!m_printer) m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPageSetupDialog dialog(m_printer.get(), Owner());
    dialog.exec();
}

}  // namespace qv
