// Dialogs in the real Qt host: the window built from a template (texts,
// arrangement, tab order, mnemonics), the Open dialog through clicks and
// keys, and what any dialog relies on (validation, cancel, end codes, the
// nested UI, the window calls).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>

#include "app/quorvane_doc.h"
#include "dialogs/edit_dialogs.h"
#include "dialogs/open_dlg.h"
#include "dialogs/tree_choice_dlg.h"
#include "framework/qt/qt_dialog_host.h"
#include "tests/gui/modal_driver.h"
#include "tests/support/scripted_ui.h"

namespace qv::test {
namespace {

class QtDialogHostTest : public ::testing::Test {
protected:
    // Runs `dlg` in the Qt host while `script` works its window.
    int Run(CDialog& dlg, std::function<void(QWidget*)> script) {
        WhenModal(std::move(script));
        CQtDialogHost host(dlg, nested);
        const int result = host.DoModal();
        EXPECT_EQ(dlg.m_pWnd, nullptr);
        return result;
    }
    ModalWatchdog watchdog;
    CScriptedUI nested;  // serves what the dialog asks for while it runs
};

TEST_F(QtDialogHostTest, OpenDialogShowsItsControlsWithTheirTextsInTheirPlaces) {
    COpenDlg dlg;
    Run(dlg, [&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Open");
        const std::pair<int, const char*> buttons[] = {
            {IDC_MASTER_LOCAL, "local"}, {IDC_MASTER_NETWORK, "network"}, {IDC_MASTER_FILE, "file"},
            {IDC_SLAVE_LOCAL, "local"},  {IDC_SLAVE_NETWORK, "network"},  {IDC_SLAVE_FILE, "file"},
            {IDC_MASTER_BROWSE, "..."},  {IDC_SLAVE_BROWSE, "..."},       {IDOK, "&Ok"}, {IDCANCEL, "&Cancel"}};
        for (const auto& [id, text] : buttons) {
            ASSERT_NE(Ctl<QAbstractButton>(w, id), nullptr) << id;
            EXPECT_EQ(Ctl<QAbstractButton>(w, id)->text(), text) << id;
        }
        QStringList boxes, labels;
        for (auto* box : w->findChildren<QGroupBox*>()) boxes << box->title();
        for (auto* label : w->findChildren<QLabel*>()) labels << label->text();
        boxes.sort();
        labels.sort();
        EXPECT_EQ(boxes, QStringList({"&Master type", "&Slave type"}));
        EXPECT_EQ(labels, QStringList({"Enter Master Machine Name...", "Enter Slave Machine Name..."}));

        // The kinds stack in their order, the names lie right of them with "..." right after,
        // OK right of Cancel below everything, the group boxes frame their kinds.
        auto rect = [&](int id) { return Ctl<QWidget>(w, id)->geometry(); };
        for (int id : {IDC_MASTER_LOCAL, IDC_MASTER_NETWORK, IDC_MASTER_FILE, IDC_SLAVE_LOCAL, IDC_SLAVE_NETWORK})
            EXPECT_LT(rect(id).bottom(), rect(id + 1).top()) << id;
        EXPECT_GT(rect(IDC_MASTER_NAME).left(), rect(IDC_MASTER_LOCAL).right());
        EXPECT_LT(rect(IDC_MASTER_NAME).bottom(), rect(IDC_SLAVE_NAME).top());
        EXPECT_EQ(rect(IDC_MASTER_BROWSE).topLeft(), rect(IDC_MASTER_NAME).topRight() + QPoint(1, 0));
        EXPECT_GT(rect(IDOK).left(), rect(IDCANCEL).right());
        EXPECT_EQ(rect(IDOK).top(), rect(IDCANCEL).top());
        EXPECT_GT(rect(IDOK).top(), rect(IDC_SLAVE_NAME).bottom());
        for (auto* box : w->findChildren<QGroupBox*>()) {
            const int first = box->title() == "&Master type" ? IDC_MASTER_LOCAL : IDC_SLAVE_LOCAL;
            for (int id = first; id < first + 3; ++id) EXPECT_TRUE(box->geometry().contains(rect(id))) << id;
        }
        ClickOn(Ctl<QPushButton>(w, IDCANCEL));
    });
}

TEST_F(QtDialogHostTest, EveryTemplateShowsItsTextsWhole) {
    for (const DialogTemplate& t : DialogTemplates()) {
        CDialog dlg(t.id);
        Run(dlg, [&](QWidget* w) {
            for (auto* b : w->findChildren<QAbstractButton*>()) {
                const int need = qobject_cast<QPushButton*>(b) ? b->fontMetrics().horizontalAdvance(b->text().remove(u'&'))
                                                                : b->sizeHint().width();
                EXPECT_LE(need, b->width()) << t.caption << ": " << b->text().toStdString();
            }
            for (auto* label : w->findChildren<QLabel*>())
                EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text().remove(u'&')), label->width())
                    << t.caption << ": " << label->text().toStdString();
            for (auto* c : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                EXPECT_TRUE(w->rect().contains(c->geometry())) << t.caption;
            w->close();
        });
    }
}

TEST_F(QtDialogHostTest, TabOrderAndMnemonicsFollowTheTemplate) {
    COpenDlg dlg;
    dlg.m_nMasterKind = kSourceNetwork;
    dlg.m_nSlaveKind = kSourceFile;
    Run(dlg, [&](QWidget* w) {
        // Tab goes in template order, entering a radio group at its checked button and leaving it at once.
        QStringList stops;
        Ctl<QWidget>(w, IDC_MASTER_NETWORK)->setFocus();
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
            stops << w->focusWidget()->objectName();
        }
        EXPECT_EQ(stops, QStringList({"ctl1000", "ctl1013", "ctl1008", "ctl1001", "ctl1014", "ctl1", "ctl2", "ctl1004"}));
        // A group box's mnemonic goes to its checked button.
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));  // shortcuts go to the active window only
        QTest::keyClick(w, Qt::Key_S, Qt::AltModifier);
        EXPECT_EQ(w->focusWidget(), Ctl<QWidget>(w, IDC_SLAVE_FILE));
        ClickOn(Ctl<QPushButton>(w, IDCANCEL));
    });
    // With nothing checked, a group is entered at its first button; a label's mnemonic reaches the next control.
    CDialog find(IDD_FIND);
    Run(find, [&](QWidget* w) {
        Ctl<QWidget>(w, 1009)->setFocus();
        QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(w->focusWidget(), Ctl<QWidget>(w, 1007));
        for (auto* l : w->findChildren<QLabel*>())
            EXPECT_TRUE(l->text() != "&Data to search" || l->buddy() == Ctl<QWidget>(w, 1006));
        w->close();
    });
}

// The name and "..." are enabled only for network and file sides; OK and
// Enter hand the typed text and kinds to the members.
TEST_F(QtDialogHostTest, OpenDialogThroughClicksAndKeys) {
    COpenDlg dlg;
    dlg.m_strMaster = "stale";
    dlg.m_nSlaveKind = kSourceFile;
    dlg.m_strSlave = "/data/slave.qvf";
    EXPECT_EQ(Run(dlg, [&](QWidget* w) {
        auto* edit = Ctl<QLineEdit>(w, IDC_MASTER_NAME);
        auto* browse = Ctl<QPushButton>(w, IDC_MASTER_BROWSE);
        EXPECT_TRUE(Ctl<QRadioButton>(w, IDC_MASTER_LOCAL)->isChecked());
        EXPECT_TRUE(Ctl<QRadioButton>(w, IDC_SLAVE_FILE)->isChecked());
        EXPECT_EQ(edit->text(), "");  // a local side is emptied and disabled from the start
        EXPECT_FALSE(edit->isEnabled() || browse->isEnabled());
        EXPECT_EQ(Ctl<QLineEdit>(w, IDC_SLAVE_NAME)->text(), "/data/slave.qvf");
        EXPECT_EQ(w->focusWidget(), Ctl<QWidget>(w, IDC_MASTER_LOCAL)) << "the first tab stop";

        ClickOn(Ctl<QRadioButton>(w, IDC_MASTER_NETWORK));
        EXPECT_FALSE(Ctl<QRadioButton>(w, IDC_MASTER_LOCAL)->isChecked());
        EXPECT_TRUE(edit->isEnabled() && browse->isEnabled());
        Retype(edit, "host1");
        ClickOn(Ctl<QRadioButton>(w, IDC_MASTER_FILE));
        EXPECT_EQ(edit->text(), "host1") << "only Local clears the text";
        ClickOn(Ctl<QRadioButton>(w, IDC_MASTER_LOCAL));
        EXPECT_EQ(edit->text(), "");
        EXPECT_FALSE(edit->isEnabled() || browse->isEnabled());
        EXPECT_TRUE(Ctl<QLineEdit>(w, IDC_SLAVE_NAME)->isEnabled()) << "the Slave side was never touched";

        ClickOn(Ctl<QRadioButton>(w, IDC_MASTER_FILE));
        Retype(edit, QString::fromUtf8("/home/jö/master.qvf"));
        ClickOn(Ctl<QRadioButton>(w, IDC_SLAVE_NETWORK));
        Retype(Ctl<QLineEdit>(w, IDC_SLAVE_NAME), "box:4711");
        ClickOn(Ctl<QPushButton>(w, IDOK));
    }), IDOK);
    EXPECT_EQ(dlg.m_nMasterKind, kSourceFile);
    EXPECT_EQ(dlg.m_strMaster, "/home/jö/master.qvf");
    EXPECT_EQ(dlg.m_nSlaveKind, kSourceNetwork);
    EXPECT_EQ(dlg.m_strSlave, "box:4711");

    EXPECT_EQ(Run(dlg, [&](QWidget* w) {
        Retype(Ctl<QLineEdit>(w, IDC_SLAVE_NAME), "peer");
        QTest::keyClick(Ctl<QLineEdit>(w, IDC_SLAVE_NAME), Qt::Key_Return);  // presses the default button
    }), IDOK);
    EXPECT_EQ(dlg.m_strSlave, "peer");
}

// Records every command; refuses the first two cancels.
class StubbornOpenDlg : public COpenDlg {
public:
    std::vector<int> commands;
    void OnCommand(int id) override {
        commands.push_back(id);
        if (id == IDCANCEL && commands.size() <= 2) return;
        COpenDlg::OnCommand(id);
    }
};

TEST_F(QtDialogHostTest, EscapeAndCloseBoxReachTheDialogAsCancelAndLeaveTheMembersAlone) {
    StubbornOpenDlg dlg;
    dlg.m_nMasterKind = kSourceNetwork;
    dlg.m_strMaster = "before";
    EXPECT_EQ(Run(dlg, [&](QWidget* w) {
        Retype(Ctl<QLineEdit>(w, IDC_MASTER_NAME), "after");
        QTest::keyClick(Ctl<QLineEdit>(w, IDC_MASTER_NAME), Qt::Key_Escape);
        w->close();
        EXPECT_TRUE(w->isVisible()) << "the dialog refused";
        ClickOn(Ctl<QPushButton>(w, IDCANCEL));
    }), IDCANCEL);
    EXPECT_EQ(dlg.commands, (std::vector<int>{IDCANCEL, IDCANCEL, IDCANCEL}));
    EXPECT_EQ(dlg.m_strMaster, "before");
}

TEST_F(QtDialogHostTest, BrowseAsksTheNestedUiForAFileOrAComputer) {
    COpenDlg dlg;
    dlg.m_nMasterKind = kSourceNetwork;
    dlg.m_nSlaveKind = kSourceFile;
    nested.AnswerQuestion(IDYES);  // a file
    nested.AnswerFile(std::string("/srv/trees/new.qvf"));
    nested.AnswerQuestion(IDNO);  // a folder
    nested.AnswerFile(std::nullopt);
    nested.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Type(IDC_NET_COMPUTER, "build7:5000");
        d.Click(IDOK);
    });
    Run(dlg, [&](QWidget* w) {
        ClickOn(Ctl<QPushButton>(w, IDC_SLAVE_BROWSE));
        EXPECT_EQ(Ctl<QLineEdit>(w, IDC_SLAVE_NAME)->text(), "/srv/trees/new.qvf");
        ClickOn(Ctl<QPushButton>(w, IDC_SLAVE_BROWSE));  // cancelled: the text stays
        EXPECT_EQ(Ctl<QLineEdit>(w, IDC_SLAVE_NAME)->text(), "/srv/trees/new.qvf");
        ClickOn(Ctl<QPushButton>(w, IDC_MASTER_BROWSE));
        EXPECT_EQ(Ctl<QLineEdit>(w, IDC_MASTER_NAME)->text(), "build7:5000");
        ClickOn(Ctl<QPushButton>(w, IDCANCEL));
    });
    EXPECT_TRUE(nested.fileRequests.at(0).bOpen);
    EXPECT_FALSE(nested.fileRequests.at(0).bFolder);
    EXPECT_TRUE(nested.fileRequests.at(1).bFolder);
    nested.ExpectAllAnswersUsed();
}

TEST_F(QtDialogHostTest, RefusedNumberKeepsTheDialogOpenWithTheEntrySelected) {
    CModifyNumberDlg dlg;
    dlg.m_dwValue = 7;
    EXPECT_EQ(Run(dlg, [&](QWidget* w) {
        auto* edit = Ctl<QLineEdit>(w, 1019);
        EXPECT_EQ(edit->text(), "7");
        Retype(edit, "12x");
        ClickOn(Ctl<QPushButton>(w, IDOK));
        EXPECT_EQ(nested.Messages(), std::vector<std::string>{"Please enter a positive integer."});
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->focusWidget(), edit);
        QTest::keyClicks(edit, "42");  // replaces the selection
        ClickOn(Ctl<QPushButton>(w, IDOK));
    }), IDOK);
    EXPECT_EQ(dlg.m_dwValue, 42u);
}

// Ends at once while initialising.
class EarlyEndDlg : public CDialog {
public:
    EarlyEndDlg() : CDialog(IDD_SAVE_TREE) {}
    void OnInitDialog() override { EndDialog(IDNO); }
};

TEST_F(QtDialogHostTest, DoModalReturnsTheCodeTheDialogEndsWithAndAnEarlyEndShowsNothing) {
    CSaveTreeDlg choice;
    EXPECT_EQ(Run(choice, [](QWidget* w) { ClickOn(Ctl<QPushButton>(w, 1015)); }), IDOK);
    EXPECT_EQ(choice.m_nChoice, kChoiceSlaveSubtree);
    EarlyEndDlg early;
    CQtDialogHost host(early, nested);
    EXPECT_EQ(host.DoModal(), IDNO);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Enabling and focus are used by the Open dialog tests above.
TEST_F(QtDialogHostTest, WindowCallsOnTextsCheckBoxesAndRadioButtons) {
    CDialog dlg(IDD_FIND);
    Run(dlg, [&](QWidget* w) {
        CDialogWindow* wnd = dlg.m_pWnd;
        ASSERT_NE(wnd, nullptr);
        const std::string text = "Schl\xC3\xBCssel \xE2\x9C\x93 <b>&x</b>";  // 8-bit text passes both ways
        wnd->SetDlgItemText(1006, text);
        EXPECT_EQ(Ctl<QLineEdit>(w, 1006)->text(), QString::fromUtf8(text.c_str()));
        EXPECT_EQ(wnd->GetDlgItemText(1006), text);
        ClickOn(Ctl<QCheckBox>(w, 1024));
        EXPECT_EQ(wnd->IsDlgButtonChecked(1024), 1);
        wnd->CheckDlgButton(1024, 0);
        EXPECT_FALSE(Ctl<QCheckBox>(w, 1024)->isChecked());
        // A radio group may be left with none checked, as the data exchange expects.
        wnd->CheckDlgButton(1007, 1);
        wnd->CheckDlgButton(1008, 1);
        EXPECT_EQ(wnd->IsDlgButtonChecked(1007), 0);
        wnd->CheckDlgButton(1008, 0);
        EXPECT_EQ(wnd->IsDlgButtonChecked(1007) + wnd->IsDlgButtonChecked(1008), 0);
        EXPECT_EQ(wnd->GetDlgItemText(4242), "");  // ids the template lacks are harmless
        wnd->EndDialog(IDYES);
    });
}

}  // namespace
}  // namespace qv::test
