// The application object: panes joined to the document, which commands
// wait for an Open, accelerators, the about boxes, opening files from the
// command line, the recent-file list across runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QHeaderView>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QToolBar>
#include <QTreeView>
#include <QtTest/QTest>

#include "dialogs/about_dlg.h"
#include "app/command_line.h"
#include "app/qt/main_frame.h"
#include "framework/qt/qt_modal_ui.h"
#include "app/qt/quorvane_app.h"
#include "app/qt/recent_file_list.h"
#include "app/quorvane_doc.h"
#include "compare/data_text.h"
#include "files/tree_file.h"
#include "app/qt/differences_dock.h"
#include "edit/undo_journal.h"
#include "registry/registry_router.h"
#include "registry/store_registry.h"
#include "registry/unavailable_registry.h"
#include "tests/support/registry_builder.h"
#include "tests/gui/modal_driver.h"
#include "tests/support/scripted_ui.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

class AppTest : public ::testing::Test {
protected:
    AppTest() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / (std::string("qv-app-") + info->name() + "-" +
                                           std::to_string(QCoreApplication::applicationPid()));
        fs::create_directories(dir);
    }
    ~AppTest() override { fs::remove_all(dir); }

    // A tree file with one root key and one key below it.
    std::string WriteTree(const std::string& name) {
        KeyNode top("top");
        top.AppendSubkey(std::make_unique<KeyNode>("HKEY_LOCAL_MACHINE"))
            ->AppendSubkey(std::make_unique<KeyNode>(name));
        const std::string path = (dir / (name + ".qvf")).string();
        CStdioFile file(path, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::typeText);
        SaveTree(&top, file);
        file.Close();
        return path;
    }
    // Opens the two tree files in the Open dialog.
    static CScriptedUI::DialogScript OpenFiles(const std::string& master, const std::string& slave) {
        return [=](CDialog&, CDialogDriver& d) {
            d.Click(IDC_MASTER_FILE);
            d.Type(IDC_MASTER_NAME, master);
            d.Click(IDC_SLAVE_FILE);
            d.Type(IDC_SLAVE_NAME, slave);
            d.Click(IDOK);
        };
    }
    QString SettingsFile() const { return QString::fromStdString((dir / "settings.ini").string()); }
    // A store holding `tree`, and the Master file `name` holding `master`; its path.
    std::string StoreAndMaster(const std::string& tree, const std::string& name, const std::string& master) {
        std::string error;
        store = CStoreRegistry::Open((dir / "registry.db").string(), &error);
        EXPECT_TRUE(store != nullptr && BuildRegistry(*store, tree, &error) == 0) << error;
        std::ofstream((dir / name).string(), std::ios::binary) << master;
        return (dir / name).string();
    }
    // Opens `master` against this computer, both sides at the Demo key.
    void OpenDemo(CQuorvaneApp& app, const std::string& master) {
        app.InitInstance(false);
        ui.AnswerDialog([&](CDialog&, CDialogDriver& d) {
            d.Click(IDC_MASTER_FILE);
            d.Type(IDC_MASTER_NAME, master);
            d.Click(IDC_SLAVE_LOCAL);
            d.Click(IDOK);
        });
        app.GetMainFrame()->ExecuteCommand(ID_FILE_SELECT);
        ASSERT_NE(app.GetDocument()->TreeView(0)->Reveal(kDemo), nullptr) << ::testing::PrintToString(ui.Messages());
        ASSERT_NE(app.GetDocument()->TreeView(1)->Reveal(kDemo), nullptr);
    }
    // The differences list's counts once its run (or the run a change starts) has ended.
    static std::string Counts(CDifferencesDock* dock) {
        QTest::qWait(0);
        for (int i = 0; i < 250 && dock->Running(); ++i) QTest::qWait(20);
        return dock->CountsText().toStdString();
    }
    static constexpr const char* kDemo = "HKEY_LOCAL_MACHINE\\Software\\Demo";

    fs::path dir;
    ModalWatchdog watchdog;
    CScriptedUI ui;
    CUnavailableRegistry registry;
    std::unique_ptr<CStoreRegistry> store;
};

QString RootItemText(QWidget* tree) {
    auto* view = qobject_cast<QTreeView*>(tree);
    return view == nullptr ? QString() : view->model()->index(0, 0).data().toString();
}

TEST_F(AppTest, PanesJoinInGridOrderAndProgramCommandsWaitForAnOpen) {
    CQuorvaneApp app(ui, registry, SettingsFile());
    app.InitInstance(false);
    CMainFrame& frame = *app.GetMainFrame();
    const std::vector<CView*> grid = {frame.GetPane(0, 0), frame.GetPane(1, 0), frame.GetPane(0, 1),
                                      frame.GetPane(1, 1)};
    EXPECT_EQ(app.GetDocument()->GetViews(), grid);
    EXPECT_EQ(frame.GetPane(0, 0), app.GetDocument()->GetTreePane(0));
    EXPECT_EQ(frame.GetPane(1, 1), app.GetDocument()->GetValuePane(1));

    // Before the first Open, only Open and what needs no sides is enabled;
    // the document's own handlers (Compare and others) wait. Every command
    // has its prompt; the tool bar's buttons, in their order, their images.
    EXPECT_EQ(frame.windowTitle(), "Quorvane Software");
    const std::set<UINT> enabled = {ID_FILE_SELECT,  ID_FILE_PRINT_SETUP, ID_APP_EXIT,       ID_APP_ABOUT,
                                    ID_ABOUT_US,     ID_VIEW_TOOLBAR,     ID_VIEW_STATUS_BAR, ID_IGNORE_LIST};
    const QList<QAction*> tools = frame.ToolBar()->actions();
    std::vector<UINT> toolIds;  // 0 for a separator; each button's image goes by its place
    for (QAction* a : tools) toolIds.push_back(a->isSeparator() ? 0 : a->data().toUInt());
    EXPECT_EQ(toolIds, (std::vector<UINT>{32775, 32785, 57607, 0, 32794, 32803, 0, 32797, 32796, 32798, 0,
                                          32786, 32783, 32792, 0, 32779, 32793, 32810, 0, 57664, 32787, 57666}));
    EXPECT_EQ(frame.toolBarArea(frame.ToolBar()), Qt::TopToolBarArea);
    QList<QAction*> actions = tools;
    QStringList menus;
    for (QAction* menu : frame.menuBar()->actions()) {
        menus << menu->text();
        actions += menu->menu()->actions();
    }
    EXPECT_EQ(menus, QStringList({"&File", "&Action", "&Update", "&Search", "&View", "&Help"}));
    EXPECT_EQ(actions.size(), 58) << "the tool bar's and the menus' entries and separators";
    for (QAction* a : actions) {
        if (a->isSeparator()) continue;
        EXPECT_EQ(a->isEnabled(), enabled.count(a->data().toUInt()) == 1) << a->data().toUInt();
        EXPECT_FALSE(a->statusTip().isEmpty()) << a->data().toUInt();
        EXPECT_TRUE(!tools.contains(a) || a->icon().actualSize(QSize(16, 16)) == QSize(16, 16)) << a->data().toUInt();
    }
    EXPECT_EQ(frame.Action(ID_DELETE_VALUE)->toolTip(), "Delete value");  // the string table's, not the menu's

    const std::string master = WriteTree("Alpha"), slave = WriteTree("Beta");
    ui.AnswerDialog(OpenFiles(master, slave));
    frame.Action(ID_FILE_SELECT)->trigger();
    EXPECT_TRUE(frame.Action(ID_COMPARE)->isEnabled());
    EXPECT_EQ(RootItemText(frame.GetPaneWidget(0, 0)), Q(master));
    EXPECT_EQ(RootItemText(frame.GetPaneWidget(1, 0)), Q(slave));
    ui.ExpectAllAnswersUsed();
}

TEST_F(AppTest, AcceleratorsRunOnlyEnabledCommands) {
    CQuorvaneApp app(ui, registry, SettingsFile());
    app.InitInstance();
    CMainFrame& frame = *app.GetMainFrame();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    // The standard edit keys are there (with nothing to do yet).
    QList<QKeySequence> keys;
    for (const QShortcut* s : frame.findChildren<QShortcut*>()) keys << s->key();
    for (const char* k : {"Ctrl+Z", "Alt+Backspace", "Ctrl+X", "Shift+Del", "Ctrl+C", "Ctrl+Ins", "Ctrl+V", "Shift+Ins"})
        EXPECT_TRUE(keys.contains(QKeySequence(QString::fromLatin1(k)))) << k;
    for (Qt::Key key : {Qt::Key_N, Qt::Key_P, Qt::Key_S, Qt::Key_Z, Qt::Key_C})
        QTest::keyClick(&frame, key, Qt::ControlModifier);
    EXPECT_TRUE(ui.events.empty());
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(IDCANCEL); });
    QTest::keyClick(&frame, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(ui.events.size(), 1u);
    EXPECT_EQ(ui.events[0].type, unsigned{IDD_OPEN});
}

TEST_F(AppTest, AboutBoxesAndPrintSetupBelongToTheApplication) {
    CQuorvaneApp app(ui, registry, SettingsFile());
    app.InitInstance(false);
    for (int i = 0; i < 2; ++i) ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(IDOK); });
    for (UINT id : {ID_APP_ABOUT, ID_ABOUT_US, ID_FILE_PRINT_SETUP}) app.GetMainFrame()->Action(id)->trigger();
    ASSERT_EQ(ui.events.size(), 3u);
    EXPECT_EQ(ui.events[0].type, unsigned{IDD_ABOUTBOX});
    EXPECT_EQ(ui.events[1].type, unsigned{IDD_ABOUT_US});
    EXPECT_EQ(ui.events[2].text, "Print Setup");

    // On screen, without a main window to own it.
    CQtModalUI qtUi;
    QStringList shown;
    WhenModal([&](QWidget* w) {
        for (QLabel* label : w->findChildren<QLabel*>()) shown << label->text();
        ClickOn(Ctl<QPushButton>(w, IDOK));
    });
    CAboutDlg about;
    EXPECT_EQ(qtUi.DoModal(about), IDOK);
    EXPECT_TRUE(shown.contains("Quorvane 1.3") && shown.contains("Version 2000")) << shown.join('|').toStdString();
    EXPECT_EQ(shown.filter("Quorvane Software").size(), 1);
}

// Sides named on the command line reach the document as the Open dialog
// hands them over; one side alone starts the dialog with the Master set.
TEST_F(AppTest, CommandLineSidesOpenAsTheOpenDialogOpensThem) {
    const std::string master = WriteTree("Alpha"), slave = WriteTree("Beta");
    using Script = CScriptedUI::DialogScript;
    const struct {
        std::vector<std::string> args;
        Script dialog;
    } cases[] = {
        {{master, slave}, OpenFiles(master, slave)},
        {{"\\\\box:7788", "local"}, [&](CDialog&, CDialogDriver& d) {
             d.Click(IDC_MASTER_NETWORK);
             d.Type(IDC_MASTER_NAME, "box:7788");
             d.Click(IDOK);
         }},
    };
    for (const auto& c : cases) {
        const auto sides = [](CQuorvaneApp& app, CScriptedUI& ui) {
            const CQuorvaneDoc& doc = *app.GetDocument();
            return std::make_tuple(doc.m_nMasterKind, doc.m_strMaster, doc.m_nSlaveKind, doc.m_strSlave,
                                   RootItemText(app.GetMainFrame()->GetPaneWidget(0, 0)),
                                   RootItemText(app.GetMainFrame()->GetPaneWidget(1, 0)), ui.Messages());
        };
        CScriptedUI byDialog, byArgs;
        CQuorvaneApp viaDialog(byDialog, registry, SettingsFile());
        viaDialog.InitInstance(false);
        byDialog.AnswerDialog(c.dialog);
        viaDialog.GetMainFrame()->ExecuteCommand(ID_FILE_SELECT);
        CQuorvaneApp viaArgs(byArgs, registry, SettingsFile());
        viaArgs.InitInstance(false, ParseCommandLine(c.args));
        QCoreApplication::processEvents();  // the command line runs from the event loop
        EXPECT_EQ(sides(viaArgs, byArgs), sides(viaDialog, byDialog)) << c.args[0];
    }
    QSettings settings(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(CRecentFileList(settings).List(), QStringList({Q(master), Q(slave)}));

    CQuorvaneApp app(ui, registry, SettingsFile());
    app.InitInstance(false);
    ui.AnswerDialog([&](CDialog&, CDialogDriver& d) {
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_MASTER_FILE), 1);
        EXPECT_EQ(d.GetDlgItemText(IDC_MASTER_NAME), master);
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_SLAVE_LOCAL), 1);
    });
    app.RunCommandLine(ParseCommandLine({master}));
    ui.ExpectAllAnswersUsed();
    EXPECT_EQ(app.GetDocument()->m_pMasterRoot, nullptr);  // cancelled: nothing opened
}

TEST_F(AppTest, TheWindowAndItsDividersAreWhereTheyWereLastTime) {
    QRect geometry;
    QList<int> rows, columns;
    {
        CQuorvaneApp app(ui, registry, SettingsFile());
        app.InitInstance();
        CMainFrame& frame = *app.GetMainFrame();
        frame.setGeometry(60, 70, 800, 600);
        frame.RowsSplitter()->setSizes({150, 350});
        frame.RowSplitter(0)->setSizes({300, 400});
        geometry = frame.geometry();
        rows = frame.RowsSplitter()->sizes();
        columns = frame.RowSplitter(0)->sizes();
        frame.close();
    }
    CQuorvaneApp app(ui, registry, SettingsFile());
    app.InitInstance();
    CMainFrame& frame = *app.GetMainFrame();
    EXPECT_EQ(frame.geometry(), geometry);
    EXPECT_EQ(frame.RowsSplitter()->sizes(), rows);
    EXPECT_EQ(frame.RowSplitter(1)->sizes(), columns);
}

TEST_F(AppTest, RecentFilesKeepTheFourNewestFirstAcrossRuns) {
    {
        QSettings settings(SettingsFile(), QSettings::IniFormat);
        CRecentFileList list(settings);
        for (const char* path : {"a", "b", "c", "d", "e", ""}) list.Add(path);
        EXPECT_EQ(list.List(), QStringList({"e", "d", "c", "b"}));
        list.Add("c");
        EXPECT_EQ(list.List(), QStringList({"c", "e", "d", "b"}));
    }
    QSettings again(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(CRecentFileList(again).List(), QStringList({"c", "e", "d", "b"}));
}

// The differences list on screen: its header names the pair it compared; it
// runs again after every change to the Slave, its own Copy and Undo alike;
// Undo's key works while the focus is in the list.
TEST_F(AppTest, TheDifferencesListNamesItsPairRunsAgainAfterEachChangeAndTakesUndoKeys) {
    const std::string master = StoreAndMaster("[HKLM\\Software\\Demo]\n\"Title\"=\"old\"\n[HKLM\\Software\\Demo\\Gone]\n", "m.qvf",
                                              "[\\HKEY_LOCAL_MACHINE]\r\n[\\HKEY_LOCAL_MACHINE\\Software]\r\n"
                                              "[\\HKEY_LOCAL_MACHINE\\Software\\Demo]\r\n\"Title\"=\"new\"\r\n");
    CUndoJournal journal;
    std::string error;
    ASSERT_TRUE(journal.Open((dir / "journal").string(), error)) << error;
    CQuorvaneApp app(ui, *store, SettingsFile());
    ASSERT_NO_FATAL_FAILURE(OpenDemo(app, master));
    CMainFrame& frame = *app.GetMainFrame();
    CQuorvaneDoc& doc = *app.GetDocument();
    doc.m_pJournal = &journal;
    const std::string demo = kDemo;
    frame.show();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    auto* dock = frame.findChild<CDifferencesDock*>();
    auto* table = dock->findChild<QTableView*>();
    frame.ExecuteCommand(ID_DIFFERENCES);
    EXPECT_EQ(Counts(dock), "2 difference(s): 1 key only in Slave, 1 data differs");
    QStringList labels;
    for (const QLabel* l : dock->findChildren<QLabel*>()) labels << l->text();
    EXPECT_TRUE(labels.contains(Q("Master: " + demo + "\nSlave:  " + demo))) << labels.join('|').toStdString();

    // Copy to Slave from the list: it runs again and finds nothing left.
    table->setFocus();
    table->selectAll();
    ui.AnswerQuestion(IDYES);
    for (QPushButton* b : dock->findChildren<QPushButton*>())
        if (b->text() == "Copy to Slave") b->click();
    EXPECT_EQ(Counts(dock), "No differences");
    // Ctrl+Z with the focus in the list's filter undoes it, and the list shows both again.
    auto* filter = dock->findChild<QLineEdit*>();
    filter->setFocus();
    ui.AnswerQuestion(IDYES);
    QTest::keyClick(filter, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Counts(dock), "2 difference(s): 1 key only in Slave, 1 data differs");
    EXPECT_TRUE(journal.Undoable().empty());
    // A change made in the Slave's panes outside the list is seen as well.
    ASSERT_NE(doc.TreeView(1)->Reveal(demo + "\\Gone"), nullptr);
    ui.AnswerQuestion(IDYES);
    doc.OnCmdMsg(ID_DELETE_KEY);
    EXPECT_EQ(Counts(dock), "1 difference(s): 1 data differs");
    ui.ExpectAllAnswersUsed();
    frame.close();
}

TEST_F(AppTest, AnyValuesDataReadsInTheValuePanesAndSideBySideInTheDifferencesList) {
    const std::string longText(300, 'x');
    const std::string master = StoreAndMaster("[HKLM\\Software\\Demo]\n\"Blob\"=hex:41,41,41,41,41,41,41,41,41,41,41,41,41,41,"
                                              "41,41,42\n\"Long\"=\"" + longText + "\"\n", "m.reg",
                                              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Demo]\r\n"
                                              "\"Blob\"=hex:41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,41\r\n"
                                              "\"Long\"=\"short\"\r\n\r\n");
    CRegistryRouter router(*store, RemoteOptions{});  // mounts the .reg file side
    CQuorvaneApp app(ui, router, SettingsFile());
    ASSERT_NO_FATAL_FAILURE(OpenDemo(app, master));
    CMainFrame& frame = *app.GetMainFrame();
    const std::string demo = kDemo;
    frame.resize(900, 700);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));

    // The Slave's binary value: its row's tip and Value Data from the value pane and from the tree beside it.
    const std::string slaveBlob = std::string(16, 'A') + 'B';
    const std::string dump = ReadableData(REG_BINARY, slaveBlob, ProcessEnvironment());
    auto* values = static_cast<QTreeView*>(frame.GetPaneWidget(1, 1));
    EXPECT_EQ(values->model()->index(0, 1).data().toString(), "It is Binary !!!");
    EXPECT_TRUE(values->model()->index(0, 1).data(Qt::ToolTipRole).toString().contains(Q(dump.substr(0, 40))));
    for (int column : {1, 0}) {
        frame.SetActivePane(1, column);
        EXPECT_TRUE(frame.ExecuteCommand(ID_VIEW_DATA));
        ASSERT_EQ(ui.dataViews.size(), column == 1 ? 1u : 2u);
        EXPECT_EQ(ui.dataViews.back().caption, "Slave Value Data");
        EXPECT_EQ(ui.dataViews.back().heading, demo + "\nBlob    REG_BINARY, 17 bytes");
        EXPECT_EQ(ui.dataViews.back().text, dump);
        EXPECT_EQ(ui.dataViews.back().regLine, "\"Blob\"=hex:41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,42");
    }

    // The differences list: both data columns in the window however long the data, the whole in tips,
    // and the row's details with the first differing byte marked on each side.
    frame.ExecuteCommand(ID_DIFFERENCES);
    auto* dock = frame.findChild<CDifferencesDock*>();
    EXPECT_EQ(Counts(dock), "2 difference(s): 2 data differs");
    auto* table = dock->findChild<QTableView*>();
    QTest::qWait(0);
    const QHeaderView* head = table->horizontalHeader();
    EXPECT_LE(head->sectionPosition(4) + head->sectionSize(4), table->viewport()->width());
    EXPECT_EQ(head->sectionSize(3), head->sectionSize(4));
    const int longRow = table->model()->index(0, 2).data().toString() == "Long" ? 0 : 1;
    EXPECT_EQ(table->model()->index(longRow, 1).data(Qt::ToolTipRole).toString(), Q(demo));
    EXPECT_TRUE(table->model()->index(longRow, 4).data(Qt::ToolTipRole).toString().contains(Q(longText.substr(0, 100))));
    EXPECT_TRUE(table->model()->index(longRow, 3).data(Qt::ToolTipRole).toString().contains("short"));
    table->setCurrentIndex(table->model()->index(1 - longRow, 0));
    const QString details = dock->findChild<QPlainTextEdit*>("differenceDetails")->toPlainText();
    EXPECT_TRUE(details.contains("The data first differ at byte 0x10 (16)")) << details.toStdString();
    EXPECT_TRUE(details.contains("0010 [41]")) << details.toStdString();
    EXPECT_TRUE(details.contains("0010 [42]")) << details.toStdString();
    ui.ExpectAllAnswersUsed();
    frame.close();
}

}  // namespace
}  // namespace qv::test
