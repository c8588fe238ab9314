// Dialogs in the real Qt host: the window built from a template (texts,
// arrangement, tab order, mnemonics, check states), the Open dialog through
// clicks and keys, and what any dialog relies on (validation, cancel, end
// codes, the nested UI).
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

// Each control shows its template's text, whole, and lies where the template
// puts it against the others: left of them (touching), above them, on their
// line, inside its group box.
TEST_F(QtDialogHostTest, EveryTemplateShowsItsTextsWholeInTheirPlaces) {
    const auto shown = [](QWidget* c) {
        if (auto* b = qobject_cast<QAbstractButton*>(c)) return b->text();
        if (auto* l = qobject_cast<QLabel*>(c)) return l->text();
        if (auto* g = qobject_cast<QGroupBox*>(c)) return g->title();
        return QString();
    };
    for (const DialogTemplate& t : DialogTemplates()) {
        CDialog dlg(t.id);
        Run(dlg, [&](QWidget* w) {
            EXPECT_EQ(w->windowTitle(), QString::fromUtf8(t.caption));
            const QList<QWidget*> controls = w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            ASSERT_EQ(controls.size(), static_cast<qsizetype>(t.controls.size())) << t.caption;
            for (std::size_t i = 0; i < t.controls.size(); ++i) {
                const ControlTemplate& a = t.controls[i];
                QWidget* c = controls[static_cast<qsizetype>(i)];
                const QRect place = c->geometry();
                EXPECT_TRUE(a.kind == ControlKind::Edit || shown(c) == QString::fromUtf8(a.text))
                    << t.caption << ": " << a.text;
                const int need = a.kind == ControlKind::RadioButton || a.kind == ControlKind::CheckBox
                                     ? c->sizeHint().width()
                                     : c->fontMetrics().horizontalAdvance(shown(c).remove(u'&'));
                EXPECT_LE(need, place.width()) << t.caption << ": " << a.text;
                EXPECT_TRUE(w->rect().contains(place)) << t.caption << ": " << a.text;
                for (std::size_t j = 0; j < t.controls.size(); ++j) {
                    const ControlTemplate& b = t.controls[j];
                    const QRect other = controls[static_cast<qsizetype>(j)]->geometry();
                    const bool inside = QRect(a.x, a.y, a.cx, a.cy).contains(QRect(b.x, b.y, b.cx, b.cy));
                    // Rounding may make neighbours share a pixel.
                    EXPECT_TRUE(a.x + a.cx > b.x || place.right() <= other.left()) << a.text << " / " << b.text;
                    EXPECT_TRUE(a.y + a.cy > b.y || place.bottom() <= other.top()) << a.text << " / " << b.text;
                    EXPECT_TRUE(a.x + a.cx != b.x || place.right() + 1 == other.left()) << a.text << " / " << b.text;
                    EXPECT_TRUE(a.y != b.y || place.top() == other.top()) << a.text << " / " << b.text;
                    EXPECT_TRUE(a.kind != ControlKind::GroupBox || !inside || place.contains(other))
                        << a.text << " / " << b.text;
                }
            }
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
        // A click checks a check box; a radio group may be left with none
        // checked, as the data exchange expects.
        ClickOn(Ctl<QCheckBox>(w, 1024));
        EXPECT_EQ(find.m_pWnd->IsDlgButtonChecked(1024), 1);
        find.m_pWnd->CheckDlgButton(1024, 0);
        EXPECT_FALSE(Ctl<QCheckBox>(w, 1024)->isChecked());
        find.m_pWnd->CheckDlgButton(1007, 1);
        find.m_pWnd->CheckDlgButton(1008, 1);
        EXPECT_EQ(find.m_pWnd->IsDlgButtonChecked(1007), 0);
        find.m_pWnd->CheckDlgButton(1008, 0);
        EXPECT_EQ(find.m_pWnd->IsDlgButtonChecked(1007) + find.m_pWnd->IsDlgButtonChecked(1008), 0);
        EXPECT_EQ(find.m_pWnd->GetDlgItemText(4242), "");  // ids the template lacks are harmless
        w->close();
    });
}

// The name and "..." are enabled only for network and file sides; OK and
// Enter hand the typed text and kinds to the members.
TEST_F(QtDialogHostTest, OpenDialogThroughClicksAndKeys) {
    COpenDlg dlg;
    dlg.m_strMaster = "stale";
    dlg.m_nSlaveKind = kSourceFile;
    dlg.m_strSlave = "/data/sl\xC3\xA5ve.qvf";
    EXPECT_EQ(Run(dlg, [&](QWidget* w) {
        auto* edit = Ctl<QLineEdit>(w, IDC_MASTER_NAME);
        auto* browse = Ctl<QPushButton>(w, IDC_MASTER_BROWSE);
        EXPECT_TRUE(Ctl<QRadioButton>(w, IDC_MASTER_LOCAL)->isChecked());
        EXPECT_TRUE(Ctl<QRadioButton>(w, IDC_SLAVE_FILE)->isChecked());
        EXPECT_EQ(edit->text(), "");  // a local side is emptied and disabled from the start
        EXPECT_FALSE(edit->isEnabled() || browse->isEnabled());
        EXPECT_EQ(Ctl<QLineEdit>(w, IDC_SLAVE_NAME)->text(), QString::fromUtf8("/data/sl\xC3\xA5ve.qvf"));
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

// Counts the cancels; refuses the first two.
class StubbornOpenDlg : public COpenDlg {
public:
    int cancels = 0;
    void OnCommand(int id) override {
        if (id == IDCANCEL && ++cancels <= 2) return;
        COpenDlg::OnCommand(id);
    }
};

// "..." asks the nested UI for a file, a folder or a computer. Escape and the
// close box reach the dialog as Cancel, which it may refuse; text typed since
// the dialog last read its controls is not taken.
TEST_F(QtDialogHostTest, BrowseAsksTheNestedUiAndEscapeAndCloseBoxAreTheDialogsCancel) {
    StubbornOpenDlg dlg;
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
    EXPECT_EQ(Run(dlg, [&](QWidget* w) {
        ClickOn(Ctl<QPushButton>(w, IDC_SLAVE_BROWSE));
        EXPECT_EQ(Ctl<QLineEdit>(w, IDC_SLAVE_NAME)->text(), "/srv/trees/new.qvf");
        ClickOn(Ctl<QPushButton>(w, IDC_SLAVE_BROWSE));  // cancelled: the text stays
        EXPECT_EQ(Ctl<QLineEdit>(w, IDC_SLAVE_NAME)->text(), "/srv/trees/new.qvf");
        ClickOn(Ctl<QPushButton>(w, IDC_MASTER_BROWSE));
        EXPECT_EQ(Ctl<QLineEdit>(w, IDC_MASTER_NAME)->text(), "build7:5000");
        Retype(Ctl<QLineEdit>(w, IDC_MASTER_NAME), "after");
        QTest::keyClick(Ctl<QLineEdit>(w, IDC_MASTER_NAME), Qt::Key_Escape);
        w->close();
        EXPECT_TRUE(w->isVisible()) << "the dialog refused";
        ClickOn(Ctl<QPushButton>(w, IDCANCEL));
    }), IDCANCEL);
    EXPECT_EQ(dlg.cancels, 3);
    EXPECT_EQ(dlg.m_strMaster, "build7:5000") << "what the browse took, not what was typed after it";
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

// The code a shown dialog ends with is checked with the Open dialog above.
TEST_F(QtDialogHostTest, AnEarlyEndReturnsItsCodeAndShowsNothing) {
    EarlyEndDlg early;
    CQtDialogHost host(early, nested);
    EXPECT_EQ(host.DoModal(), IDNO);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace qv::test
