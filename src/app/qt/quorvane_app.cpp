#include "app/qt/quorvane_app.h"

#include "sources/registry_source.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <QApplication>
#include <QSettings>
#include <QStringList>
#include <QTimer>

#include "framework/qt/icons.h"
#include "framework/qt/qt_text.h"
#include "app/qt/main_frame.h"
#include "framework/qt/qt_modal_ui.h"
#include "app/frame_commands.h"
#include "app/quorvane_doc.h"
#include "app/qt/recent_file_list.h"
#include "dialogs/logon_dlg.h"
#include "panes/qt/qt_tree_ctrl.h"
#include "panes/tree_pane.h"
#include "panes/qt/qt_list_ctrl.h"
#include "panes/value_pane.h"
#include "registry/registry_router.h"
#include "registry/store_registry.h"
#include "registry/unavailable_registry.h"

namespace qv {

CQuorvaneApp::CQuorvaneApp() : m_bDesktop(true) {
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    m_pSettings = std::make_unique<QSettings>();
    m_pRecentFiles = std::make_unique<CRecentFileList>(*m_pSettings);

    m_pQtUi = std::make_unique<CQtModalUI>();
    m_pUi = m_pQtUi.get();
    // Without this computer's registry, tree files still open.
    std::string error;
    // What the store has to say while the program runs (a wait for another
    // program's lock) goes to standard error: the window may not be painted
    // during the wait. Opening for reading only is said in a message box.
    auto store = CStoreRegistry::Open(DefaultStorePath(), &error, [](const std::string& text) {
        std::fprintf(stderr, "quorvane: %s\n", text.c_str());
    });
    if (store && store->ReadOnly())
        m_pUi->MessageBox("This computer's registry store " + store->Path() +
                              " is in a folder you cannot write to: it is open for reading only, and every change "
                              "is refused.",
                          MB_OK | MB_ICONWARNING);
    m_pOwnRegistry = std::move(store);
    if (!m_pOwnRegistry) {
        m_pUi->MessageBox("This computer's registry store cannot be opened: " + error, MB_OK | MB_ICONWARNING);
        m_pOwnRegistry = std::make_unique<CUnavailableRegistry>();
    }
    // Other computers' registries through their quorvane-regd; the
    // environment overrides the settings.
    RemoteOptions remote;
    remote.token = m_pSettings->value(QStringLiteral("Remote/Token")).toString().toStdString();
    remote.caFile = m_pSettings->value(QStringLiteral("Remote/CaFile")).toString().toStdString();
    remote.certFile = m_pSettings->value(QStringLiteral("Remote/CertFile")).toString().toStdString();
    remote.keyFile = m_pSettings->value(QStringLiteral("Remote/KeyFile")).toString().toStdString();
    // Windows computers ask who the user is in the Log On dialog, unless
    // the environment says it; what is typed is kept for this run only.
    RrpOptions windows = RrpOptions::FromEnvironment();
    windows.askCredentials = [this](const std::string& computer, RrpCredentials& credentials) {
        return AskLogon(*m_pUi, computer, credentials.user, credentials.domain, credentials.password);
    };
    m_pRouter = std::make_unique<CRegistryRouter>(*m_pOwnRegistry, RemoteOptions::FromEnvironment(remote),
                                                  std::move(windows));
    m_pRegistry = m_pRouter.get();
}

CQuorvaneApp::CQuorvaneApp(IModalUI& ui, IRegistry& registry, const QString& settingsFile)
    : m_bDesktop(false), m_pUi(&ui), m_pRegistry(&registry) {
    m_pSettings = std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
    m_pRecentFiles = std::make_unique<CRecentFileList>(*m_pSettings);
}

CQuorvaneApp::~CQuorvaneApp() {
    // The frame's panes leave the document; the document then goes.
    m_pFrame.reset();
    m_pDoc.reset();
}

void CQuorvaneApp::InitInstance(bool show, const CommandLine& commandLine) {
    QApplication::setWindowIcon(ToolbarIcon(12));
    m_pDoc = std::make_unique<CQuorvaneDoc>(*m_pRegistry, *m_pUi);
    for (const QString& name : m_pSettings->value(QStringLiteral("Remote/Recent")).toStringList())
        m_pDoc->m_recentComputers.push_back(name.toStdString());
    m_pDoc->m_onRecentComputers = [this](const std::vector<std::string>& names) {
        QStringList list;
        for (const std::string& name : names) list.append(QString::fromStdString(name));
        m_pSettings->setValue(QStringLiteral("Remote/Recent"), list);
    };
    m_pDoc->m_openRegistryFile = [this](const std::string& path, std::unique_ptr<IRegistry>& registry,
                                        std::string& readOnly, std::string& error) {
        return OpenRegistryFileSide(path, registry, readOnly, error, [this](const std::string& message) {
            m_pUi->MessageBox(message, MB_OK | MB_ICONERROR);
        });
    };
    if (m_pRouter) m_pDoc->m_checkComputer = [this](const std::string& name) { return m_pRouter->Ping(name); };
    m_pFrame = std::make_unique<CMainFrame>(*m_pDoc, this);
    if (auto* qtUi = dynamic_cast<CQtModalUI*>(m_pUi)) qtUi->SetMainWindow(m_pFrame.get());
    CreatePanes();
    m_pFrame->SetActivePane(0, 0);
    m_pFrame->UpdateCommandUI();
    m_pFrame->KeepLayoutIn(*m_pSettings);
    if (show) m_pFrame->show();
    // The program on screen keeps the undo journal (tests run it hidden, and
    // keep journals of their own); without one, changes go unrecorded.
    std::string error;
    const bool journal = show && m_journal.Open(CUndoJournal::DefaultFolder(), error);
    if (journal) m_pDoc->m_pJournal = &m_journal;
    // From the event loop, so the window is on screen before a side opens.
    QTimer::singleShot(0, m_pFrame.get(), [this, commandLine, journal, error] {
        if (!journal && !error.empty()) m_pUi->MessageBox(error + " Changes cannot be undone.", MB_OK | MB_ICONWARNING);
        if (journal) m_pDoc->OfferRecovery();
        RunCommandLine(commandLine);
    });
}

void CQuorvaneApp::CreatePanes() {
    // The document numbers its panes in the order they join: both trees,
    // then both value lists, each pair Master first.
    const struct {
        int row, column;
        bool tree;
    } cells[] = {{0, 0, true}, {1, 0, true}, {0, 1, false}, {1, 1, false}};
    for (const auto& cell : cells) {
        std::unique_ptr<CView> view;
        QWidget* ctrl;
        if (cell.tree) {
            auto* tree = new CQtTreeCtrl;
            auto pane = std::make_unique<CQuorvaneView>(*tree);
            pane->m_pGrid = m_pFrame.get();
            ctrl = tree;
            view = std::move(pane);
        } else {
            auto* list = new CQtListCtrl;
            view = std::make_unique<CRegListView>(*list);
            m_pFrame->AddContextMenu(list, {ID_VIEW_DATA});
            ctrl = list;
        }
        m_pDoc->AddView(view.get());
        m_pFrame->SetPane(cell.row, cell.column, ctrl, std::move(view));
    }
}

void CQuorvaneApp::RunCommandLine(const CommandLine& commandLine) {
    if (commandLine.sides == 2) {
        m_pDoc->OpenSides(commandLine.masterKind, commandLine.master, commandLine.slaveKind, commandLine.slave);
        m_pFrame->UpdateCommandUI();
        if (commandLine.slaveKind == kSourceFile) m_pRecentFiles->Add(FromUtf8(commandLine.slave));
        if (commandLine.masterKind == kSourceFile) m_pRecentFiles->Add(FromUtf8(commandLine.master));
    } else if (commandLine.sides == 1) {
        // The dialog starts from the document's sides.
        m_pDoc->m_nMasterKind = commandLine.masterKind;
        m_pDoc->m_strMaster = commandLine.master;
        m_pFrame->ExecuteCommand(ID_FILE_SELECT);
    }
    if (!commandLine.select.empty()) SelectKey(commandLine.select);
    if (commandLine.differences) m_pFrame->ExecuteCommand(ID_DIFFERENCES);
    if (!commandLine.screenshot.empty()) {
        // After the first paints and once the differences list is filled (a
        // minute at most), so the picture shows what a user sees.
        const QString shot = FromUtf8(commandLine.screenshot);
        auto* poll = new QTimer(m_pFrame.get());
        const auto started = std::chrono::steady_clock::now();
        QObject::connect(poll, &QTimer::timeout, m_pFrame.get(), [this, shot, poll, started] {
            const auto waited = std::chrono::steady_clock::now() - started;
            if (waited < std::chrono::milliseconds(500)) return;
            if (m_pFrame->DifferencesRunning() && waited < std::chrono::seconds(60)) return;
            poll->stop();
            m_pFrame->UpdateCommandUI();
            if (!m_pFrame->grab().save(shot))
                std::fprintf(stderr, "quorvane: cannot save the screenshot to %s\n", shot.toLocal8Bit().constData());
            QApplication::quit();
        });
        poll->start(100);
    }
}

void CQuorvaneApp::SelectKey(const std::string& path) { SelectKeyInTrees(*m_pDoc, path); }

bool CQuorvaneApp::OnCmdMsg(UINT id) { return AppCommand(*m_pUi, id); }

bool CQuorvaneApp::OnUpdateCmdUI(CCmdUI& cmdUI) { return AppCommandState(cmdUI); }

}  // namespace qv
