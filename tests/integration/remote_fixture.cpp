// Helpers for the network tests: subtree dumps, a closed port, and the
// document fixture with a quorvane-regd child serving the remote side.
#include "tests/integration/remote_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace qv {

std::string Dump(const KeyNode* node) {
    std::string out;
    std::vector<std::pair<const KeyNode*, int>> stack{{node, 0}};
    while (!stack.empty()) {
        auto [n, depth] = stack.back();
        stack.pop_back();
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + "[" + n->name + "]";
        for (const auto& v : n->values) {
            out += " " + std::string(v->Name()) + "=" + std::to_string(v->type) + ":";
            out += v->type == REG_DWORD ? std::to_string(v->Number())
                                        : std::string(reinterpret_cast<const char*>(v->data), v->WriteSize());
        }
        out += "\n";
        for (auto it = n->subkeys.rbegin(); it != n->subkeys.rend(); ++it) stack.push_back({it->get(), depth + 1});
    }
    return out;
}

std::string StoreDump(const std::string& storeFile, const std::string& path) {
    std::string error;
    auto store = CStoreRegistry::Open(storeFile, &error);
    if (!store) return "(store: " + error + ")";
    HKEY key = nullptr;
    if (store->RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != 0) return "(missing)";
    store->RegCloseKey(key);
    KeyNode top("x");
    KeyNode* node = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_LOCAL_MACHINE"));
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        node = node->AppendSubkey(std::make_unique<KeyNode>(path.substr(start, end - start)));
        start = end + 1;
    }
    LoadLevel(node, *store, "", true);
    return Dump(node);
}

int ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

void RemoteDocument::SetUp() {
    dir = TestFolder("qv-remote");
    remoteStore = (dir / "remote.db").string();
    localStore = (dir / "local.db").string();
    std::string error;
    {
        auto remote = CStoreRegistry::Open(remoteStore, &error);
        ASSERT_NE(remote, nullptr) << error;
        ASSERT_EQ(BuildRegistry(*remote, RemoteText(), nullptr, &error), ERROR_SUCCESS) << error;
    }
    local = CStoreRegistry::Open(localStore, &error);
    ASSERT_NE(local, nullptr) << error;
    ASSERT_EQ(BuildRegistry(*local, LocalText(), nullptr, &error), ERROR_SUCCESS) << error;
    test::RegdOptions options;
    options.store = remoteStore;
    options.exitAfter = 120;
    ASSERT_TRUE(service.Start(options, &error)) << error;

    router = std::make_unique<CRegistryRouter>(*local, RemoteOptions{});
    doc = std::make_unique<CQuorvaneDoc>(*router, ui);
    grid.panes[0][0] = &masterTree;
    grid.panes[1][0] = &slaveTree;
    grid.panes[0][1] = &masterValues;
    grid.panes[1][1] = &slaveValues;
    masterTree.m_pGrid = slaveTree.m_pGrid = &grid;
    for (CView* v : std::initializer_list<CView*>{&masterTree, &slaveTree, &masterValues, &slaveValues})
        doc->AddView(v);
}

void RemoteDocument::TearDown() {
    doc.reset();
    if (router) {
        EXPECT_EQ(router->OpenHandleCount(), 0u) << "handles left open";
        EXPECT_EQ(router->Remote().OpenHandleCount(), 0u);
    }
    router.reset();
    local.reset();
    service.Stop();
    fs::remove_all(dir);
}

void RemoteDocument::Open(int masterKind, const std::string& master, int slaveKind, const std::string& slave) {
    ui.AnswerDialog([=](CDialog& d, CDialogDriver&) {
        auto& open = static_cast<COpenDlg&>(d);
        open.m_nMasterKind = masterKind;
        open.m_strMaster = master;
        open.m_nSlaveKind = slaveKind;
        open.m_strSlave = slave;
        open.EndDialog(IDOK);
    });
    doc->OnFileSelect();
}

KeyNode* RemoteDocument::Child(KeyNode* node, const std::string& name) {
    for (auto& k : node->subkeys)
        if (k->name == name) return k.get();
    return nullptr;
}

KeyNode* RemoteDocument::Select(test::CFakeTreeCtrl& ctrl, KeyNode* top, std::initializer_list<const char*> names) {
    KeyNode* n = top;
    for (const char* name : names) {
        ctrl.Click(n);
        n = Child(n, name);
        if (n == nullptr) return nullptr;
    }
    ctrl.Click(n);
    return n;
}

}  // namespace qv
