#include "framework/qt/qt_modal_ui.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include <chrono>

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

// Long work's progress: a window with the count and a Cancel button once the
// work has taken `delay`; until then events are handled without the user's
// input, so the program repaints but nothing changes under the work.
class CQtProgress : public IProgress {
public:
    using Clock = std::chrono::steady_clock;

    CQtProgress(QWidget* owner, const QString& text, std::chrono::milliseconds delay)
        : m_owner(owner), m_text(text), m_delay(delay), m_start(Clock::now()), m_last(m_start) {}

    bool Step(std::size_t keysDone) override { return StepOf(keysDone, 0, 0); }
    bool StepOf(std::size_t keysDone, std::uint64_t done, std::uint64_t total) override {
        // Looked at every 50 ms of work, which is smooth enough to the eye.
        const Clock::time_point now = Clock::now();
        if (now - m_last < std::chrono::milliseconds(50)) return !m_bCancelled;
        m_last = now;
        if (!m_dialog && now - m_start >= m_delay) {
            m_dialog = std::make_unique<QProgressDialog>(m_text, QObject::tr("Cancel"), 0, 0, m_owner);
            m_dialog->setWindowTitle(QStringLiteral("Quorvane"));
            m_dialog->setWindowModality(Qt::ApplicationModal);
            m_dialog->setMinimumDuration(0);
            m_dialog->setAutoClose(false);
            m_dialog->setAutoReset(false);
            m_dialog->show();
            // Busy, but the Cancel button takes clicks.
            QApplication::changeOverrideCursor(Qt::BusyCursor);
        }
        if (m_dialog) {
            const double seconds = std::chrono::duration<double>(now - m_start).count();
            m_dialog->setLabelText(m_text + QStringLiteral("\n") + FromUtf8(ProgressText(keysDone, done, total, seconds)));
            // A fraction where the whole is known, else the busy bar.
            const bool known = total > 0 && done <= total;
            m_dialog->setMaximum(known ? 1000 : 0);
            if (known) m_dialog->setValue(static_cast<int>(done * 1000 / total));
        }
        QApplication::processEvents(m_dialog ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        if (m_dialog && m_dialog->wasCanceled()) m_bCancelled = true;
        return !m_bCancelled;
    }
    bool Shown() const { return m_dialog != nullptr; }

private:
    QWidget* m_owner;
    QString m_text;
    std::chrono::milliseconds m_delay;
    Clock::time_point m_start, m_last;
    std::unique_ptr<QProgressDialog> m_dialog;
    bool m_bCancelled = false;
};

}  // namespace

void CQtModalUI::RunWithProgress(const std::string& text, const std::function<void(IProgress&)>& work) {
    // The busy cursor while the work runs, also when it throws.
    struct Busy {
        CQtModalUI& ui;
        CQtProgress progress;
        ~Busy() {
            if (progress.Shown()) QApplication::changeOverrideCursor(Qt::WaitCursor);
            ui.EndWaitCursor();
        }
    } busy{*this, CQtProgress(Owner(), FromUtf8(text), m_progressDelay)};
    BeginWaitCursor();
    work(busy.progress);
}

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

void CQtModalUI::ShowData(const DataView& view) {
    QDialog dialog(Owner());
    dialog.setWindowTitle(FromUtf8(view.caption));
    auto* layout = new QVBoxLayout(&dialog);
    auto* heading = new QLabel(FromUtf8(view.heading), &dialog);
    heading->setTextFormat(Qt::PlainText);  // key and value names may look like markup
    heading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(heading);
    auto* text = new QPlainTextEdit(FromUtf8(view.text), &dialog);
    text->setObjectName(QStringLiteral("dataText"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);  // hex dumps keep their columns
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(text, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QPushButton* copyText = buttons->addButton(QStringLiteral("Copy as &Text"), QDialogButtonBox::ActionRole);
    QPushButton* copyReg = buttons->addButton(QStringLiteral("Copy as .&reg Line"), QDialogButtonBox::ActionRole);
    copyText->setObjectName(QStringLiteral("copyText"));
    copyReg->setObjectName(QStringLiteral("copyReg"));
    copyReg->setEnabled(!view.regLine.empty());
    if (view.regLine.empty()) copyReg->setToolTip(FromUtf8("No .reg file can hold this value: " + view.regError + "."));
    QObject::connect(copyText, &QPushButton::clicked, &dialog,
                     [&view] { QGuiApplication::clipboard()->setText(FromUtf8(view.text)); });
    QObject::connect(copyReg, &QPushButton::clicked, &dialog,
                     [&view] { QGuiApplication::clipboard()->setText(FromUtf8(view.regLine)); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    const QFontMetrics fixed(text->font());
    dialog.resize(fixed.horizontalAdvance(QLatin1Char('0')) * 92, fixed.height() * 26);
    ArrowWhileModal arrow(*this);
    dialog.exec();
}

}  // namespace qv
