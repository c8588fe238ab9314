// A Windows computer through its Remote Registry service, as the program
// and quorvane-reg reach it: Samba's smbd on loopback plays the computer
// (the peer the CTest fixture starts, seeded with HKLM\Software\Quorvane
// Test). The document asks for the logon in its dialog, opens the computer
// as a side and writes it; quorvane-reg queries, exports and compares it.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "dialogs/edit_dialogs.h"
#include "dialogs/logon_dlg.h"
#include "files/reg_file.h"
#include "tests/integration/remote_fixture.h"
#include "tests/support/tool_runner.h"

namespace qv {
namespace {

std::string Env(const char* name, const char* otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : otherwise;
}

const std::string kPeer = "smb://127.0.0.1:" + Env("QV_RRP_PORT", "4450");
const std::string kUser = Env("QV_RRP_USER", "qv-rrp");
const std::string kPassword = Env("QV_RRP_PASSWORD", "Qv-Rrp-Test-2026");
constexpr const char* kKey = "Software\\Quorvane Test";

class RrpDocument : public DocumentFixture {
protected:
    void SetUp() override {
        dir = TestFolder("qv-rrp");
        std::string error;
        local = CStoreRegistry::Open((dir / "local.db").string(), &error);
        ASSERT_NE(local, nullptr) << error;
        ASSERT_EQ(BuildRegistry(*local, "[HKLM\\Software\\Mine]\n\"m\"=\"свой\"\n[HKLM\\Software\\Mine\\Kid]\n", &error),
                  ERROR_SUCCESS) << error;
        RrpOptions windows;  // nothing from the environment: the dialog asks
        windows.askCredentials = [this](const std::string& computer, RrpCredentials& c) {
            return AskLogon(ui, computer, c.user, c.domain, c.password);
        };
        router = std::make_unique<CRegistryRouter>(*local, RemoteOptions{}, std::move(windows));
        Attach(*router);
    }
    void TearDown() override {
        doc.reset();
        if (router) {
            EXPECT_EQ(router->OpenHandleCount(), 0u) << "handles left open";
            EXPECT_EQ(router->Windows().OpenHandleCount(), 0u);
        }
        router.reset();
        local.reset();
        fs::remove_all(dir);
        // The peer outlives the test: what it wrote goes.
        RrpOptions logon;
        logon.credentials = {kUser, "", kPassword};
        CRrpRegistry windows(logon);
        HKEY root = nullptr;
        if (windows.RegConnectRegistryA(kPeer.c_str(), HKEY_LOCAL_MACHINE, &root) == ERROR_SUCCESS) {
            DeleteRegistryTree(windows, root, std::string(kKey) + "\\Mine");
            windows.RegCloseKey(root);
        }
    }
    // File > Open with the computer as the Slave, the Log On dialog then
    // answered with each of `passwords` in turn.
    void OpenAnswering(std::initializer_list<std::pair<std::string, int>> logons) {
        ui.AnswerDialog([](CDialog& d, CDialogDriver&) {
            auto& open = static_cast<COpenDlg&>(d);
            open.m_nMasterKind = kSourceLocal;
            open.m_nSlaveKind = kSourceNetwork;
            open.m_strSlave = kPeer;
            open.EndDialog(IDOK);
        });
        for (const auto& [password, again] : logons) AnswerLogon(password, again);
        doc->OnFileSelect();
    }
    // The Log On dialog answered with `password` (Cancel for none); checks
    // the prompt says whether the last logon was refused (-1: either).
    void AnswerLogon(const std::string& password, int again) {
        ui.AnswerDialog([=](CDialog& d, CDialogDriver& drv) {
            if (again >= 0) {
                EXPECT_EQ(drv.GetDlgItemText(IDC_LOGON_PROMPT).starts_with("The logon was refused."), again == 1);
            }
            if (password.empty()) return d.OnCommand(IDCANCEL);
            drv.Type(IDC_LOGON_USER, kUser);
            drv.Type(IDC_LOGON_PASSWORD, password);
            d.OnCommand(IDOK);
        });
    }

    fs::path dir;
    std::unique_ptr<CStoreRegistry> local;
    std::unique_ptr<CRegistryRouter> router;
};

TEST_F(RrpDocument, TheComputerOpensAfterItsLogonAndTakesACopy) {
    // A wrong password is refused and asked again; giving up opens nothing.
    OpenAnswering({{"wrong", 0}, {"", 1}});
    EXPECT_EQ(ui.Messages(), Names{"Unable to open Registry."});
    EXPECT_EQ(doc->m_pSlaveRoot, nullptr);
    ui.ExpectAllAnswersUsed();

    OpenAnswering({{kPassword, -1}});
    ASSERT_NE(doc->m_pSlaveRoot, nullptr);
    KeyNode* test = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Quorvane Test"});
    ASSERT_NE(test, nullptr);
    const std::string seeded = Dump(test);
    EXPECT_NE(seeded.find("Text=1:Привет, мир"), std::string::npos) << seeded;
    EXPECT_NE(seeded.find("Number=4:305419896"), std::string::npos) << seeded;
    EXPECT_EQ(doc->m_recentComputers, Names{kPeer});

    KeyNode* mine = Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Mine"});
    ASSERT_NE(mine, nullptr);
    slaveCtrl.Click(test);
    masterCtrl.Click(mine);
    ui.AnswerDialog([](CDialog& d, CDialogDriver&) {
        static_cast<CCopyDlg&>(d).m_bRecursive = 1;
        d.EndDialog(IDOK);
    });
    doc->OnCmdMsg(ID_COPY);
    EXPECT_EQ(ui.Messages(), Names{"Unable to open Registry."}) << "no new message";
    // What a fresh connection reads back.
    std::string out;
    EXPECT_EQ(testing::RunTool(*router, {"query", kPeer + "\\HKLM\\" + kKey + "\\Mine", "/s"}, out), 0) << out;
    EXPECT_NE(out.find("m    REG_SZ    свой"), std::string::npos) << out;
    EXPECT_NE(out.find("Mine\\Kid"), std::string::npos) << out;
    ui.ExpectAllAnswersUsed();
}

// quorvane-reg: an export of the computer's key compares identical to it.
TEST_F(RrpDocument, QuorvaneRegExportsAndComparesTheComputersKey) {
    AnswerLogon(kPassword, 0);
    const std::string key = kPeer + "\\HKLM\\" + kKey;
    const std::string file = (dir / "peer.reg").string();
    std::string out;
    ASSERT_EQ(testing::RunTool(*router, {"export", key, file, "/y"}, out), 0) << out;
    EXPECT_EQ(testing::RunTool(*router, {"compare", key, file + "::HKLM\\" + kKey, "/s"}, out), 0) << out;
    EXPECT_NE(out.find("Identical"), std::string::npos) << out;
    ui.ExpectAllAnswersUsed();
}

// The program itself takes the logon from the environment (the password
// from a file), and without a terminal never asks: a wrong one fails.
TEST_F(RrpDocument, QuorvaneRegTakesTheLogonFromTheEnvironment) {
    const auto run = [this](const std::string& password) {
        std::ofstream((dir / "password").string()) << password << "\n";
        const std::string command = "QUORVANE_REGISTRY='" + (dir / "reg.db").string() + "' QUORVANE_SMB_USER='" +
                                    kUser + "' QUORVANE_SMB_PASSWORD_FILE='" + (dir / "password").string() + "' '" +
                                    QV_REG_TOOL "' query '" + kPeer + "\\HKLM\\" + kKey + "' </dev/null >'" +
                                    (dir / "out").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream in((dir / "out").string());
        return std::pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                         std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    };
    auto [code, out] = run(kPassword);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("Text    REG_SZ    Привет, мир"), std::string::npos) << out;
    std::tie(code, out) = run("wrong");
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find("(status 5)"), std::string::npos) << out;
}

}  // namespace
}  // namespace qv
