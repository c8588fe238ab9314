#include <gtest/gtest.h>

#include <filesystem>

#include <QAction>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>

#include "app/main_frame.h"
#include "app/qt_modal_ui.h"
#include "app/quorvane_doc.h"
#include "files/tree_file.h"
#include "tests/gui/modal_driver.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

// Opening file sides never reaches the registry.
class NoRegistry : public IRegistry {
public:
    LONG RegConnectRegistryA(LPCSTR, HKEY, HKEY*) override { return Unexpected(); }
    LONG RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, HKEY*) override { return Unexpected(); }
    LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, char*, DWORD, REGSAM, SECURITY_ATTRIBUTES*, HKEY*, DWORD*) override {
        return Unexpected();
    }
    LONG RegEnumValueA(HKEY, DWORD, char*, DWORD*, DWORD*, DWORD*, BYTE*, DWORD*) override { return Unexpected(); }
    LONG RegEnumKeyExA(HKEY, DWORD, char*, DWORD*, DWORD*, char*, DWORD*, FILETIME*) override {
        return Unexpected();
    }
    LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) override { return Unexpected(); }
    LONG RegDeleteValueA(HKEY, LPCSTR) override { return Unexpected(); }
    LONG RegDeleteKeyA(HKEY, LPCSTR) override { return Unexpected(); }
    LONG RegCloseKey(HKEY) override { return Unexpected(); }

private:
    static LONG Unexpected() {
        ADD_FAILURE() << "registry used";
        return 2;
    }
};

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("qv-frame-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A tree file of HKEY_LOCAL_MACHINE with Alpha (holding Beta) and Gamma.
    std::string WriteTree() {
        KeyNode top("top");
        KeyNode* hklm = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_LOCAL_MACHINE"));
        hklm->AppendSubkey(std::make_unique<KeyNode>("Alpha"))->AppendSubkey(std::make_unique<KeyNode>("Beta"));
        hklm->AppendSubkey(std::make_unique<KeyNode>("Gamma"));
        const std::string path = (dir / "master.qvf").string();
        CStdioFile file(path, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::typeText);
        SaveTree(&top, file);
        file.Close();
        return path;
    }

    ModalWatchdog watchdog;
    NoRegistry registry;
    CQtModalUI ui;
    CQuorvaneDoc doc{registry, ui};
    fs::path dir;
};

TEST_F(MainFrameTest, HasTitleFileMenuAndIdleStatus) {
    CMainFrame frame(doc, ui);
    EXPECT_EQ(frame.windowTitle(), "Quorvane");
    EXPECT_EQ(ui.MainWindow(), &frame);
    EXPECT_EQ(frame.statusBar()->currentMessage(), "Ready");
    ASSERT_EQ(frame.menuBar()->actions().size(), 1);
    EXPECT_EQ(frame.menuBar()->actions()[0]->text(), "&File");
    EXPECT_EQ(frame.OpenAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_TRUE(frame.Summary()->isReadOnly());
    EXPECT_EQ(frame.Summary()->toPlainText(), "Master: local, no tree\nSlave: local, no tree");
}

TEST_F(MainFrameTest, OpenShowsEachSideAndItsMessages) {
    const std::string master = WriteTree();
    const std::string slave = (dir / "missing.qvf").string();
    CMainFrame frame(doc, ui);
    frame.show();

    QString message;
    WhenModal([&](QWidget* w) {
        ClickOn(Ctl<QRadioButton>(w, IDC_MASTER_FILE));
        Retype(Ctl<QLineEdit>(w, IDC_MASTER_NAME), Q(master));
        ClickOn(Ctl<QRadioButton>(w, IDC_SLAVE_FILE));
        Retype(Ctl<QLineEdit>(w, IDC_SLAVE_NAME), Q(slave));
        // The Slave's failure is reported while the Open runs, over the main window.
        WhenModal(
            [&](QWidget* box) {
                auto* b = qobject_cast<QMessageBox*>(box);
                ASSERT_NE(b, nullptr);
                message = b->text();
                EXPECT_EQ(b->parentWidget(), &frame);
                ClickOn(b->button(QMessageBox::Ok));
            },
            w);
        ClickOn(Ctl<QPushButton>(w, IDOK));
    });
    frame.OpenAction()->trigger();

    EXPECT_FALSE(message.isEmpty());
    EXPECT_EQ(frame.Summary()->toPlainText(), "Master: file \"" + Q(master) + "\", tree with 4 keys in memory\n" +
                                                  "Slave: file \"" + Q(slave) + "\", no tree");
}

}  // namespace
}  // namespace qv::test
