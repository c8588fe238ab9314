#include "app/main_frame.h"

#include <cstddef>
#include <vector>

#include <QAction>
#include <QKeySequence>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>

#include "app/qt_modal_ui.h"
#include "app/quorvane_doc.h"

namespace qv {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Keys in memory below the top node; iterative, trees may be deep.
std::size_t CountKeys(const KeyNode& top) {
    std::size_t count = 0;
    std::vector<const KeyNode*> pending{&top};
    while (!pending.empty()) {
        const KeyNode* node = pending.back();
        pending.pop_back();
        for (const auto& child : node->subkeys) {
            ++count;
            pending.push_back(child.get());
        }
    }
    return count;
}

QString DescribeSide(const char* side, int kind, const std::string& name, const KeyNode* root) {
    static const char* const kKinds[] = {"local", "network", "file"};
    QString line = QString::fromLatin1(side) + QStringLiteral(": ") +
                   QString::fromLatin1(kind >= 0 && kind <= 2 ? kKinds[kind] : "unknown");
    if (!name.empty()) line += QStringLiteral(" \"") + FromUtf8(name) + u'"';
    if (root == nullptr) return line + QStringLiteral(", no tree");
    return line + QStringLiteral(", tree with %1 keys in memory").arg(CountKeys(*root));
}

}  // namespace

CMainFrame::CMainFrame(CQuorvaneDoc& doc, CQtModalUI& ui, QWidget* parent)
    : QMainWindow(parent), m_doc(doc), m_ui(ui) {
    setWindowTitle(QStringLiteral("Quorvane"));

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    m_pOpenAction = file->addAction(QStringLiteral("&Open"));
    m_pOpenAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_pOpenAction->setStatusTip(FromUtf8(CommandPrompt(ID_FILE_SELECT)));
    connect(m_pOpenAction, &QAction::triggered, this, [this] { OnFileSelect(); });
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setStatusTip(FromUtf8(CommandPrompt(ID_APP_EXIT)));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    m_pSummary = new QPlainTextEdit(this);
    m_pSummary->setReadOnly(true);
    setCentralWidget(m_pSummary);

    // Menu prompts replace the idle text for a moment; it comes back after.
    const QString idle = FromUtf8(LoadString(AFX_IDS_IDLEMESSAGE));
    connect(statusBar(), &QStatusBar::messageChanged, this, [this, idle](const QString& text) {
        if (text.isEmpty()) statusBar()->showMessage(idle);
    });
    statusBar()->showMessage(idle);

    m_ui.SetMainWindow(this);
    UpdateSummary();
}

CMainFrame::~CMainFrame() {
    if (m_ui.MainWindow() == this) m_ui.SetMainWindow(nullptr);
}

void CMainFrame::OnFileSelect() {
    m_doc.OnFileSelect();
    UpdateSummary();
}

void CMainFrame::UpdateSummary() { m_pSummary->setPlainText(DescribeSides(m_doc)); }

QString CMainFrame::DescribeSides(const CQuorvaneDoc& doc) {
    return DescribeSide("Master", doc.m_nMasterKind, doc.m_strMaster, doc.m_pMasterRoot.get()) + u'\n' +
           DescribeSide("Slave", doc.m_nSlaveKind, doc.m_strSlave, doc.m_pSlaveRoot.get());
}

}  // namespace qv
