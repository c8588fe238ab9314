// Helpers for the network tests: subtree dumps, test folders, and the
// document fixture with a quorvane-regd child serving the remote side.
#include "tests/integration/remote_fixture.h"

#include <unistd.h>

#include <vector>

#include "registry/unavailable_registry.h"

namespace qv {

fs::path TestFolder(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = fs::temp_directory_path() /
                         (prefix + "-" + info->test_suite_name() + "-" + info->name() + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

namespace {

std::string LoadDump(IRegistry& registry, const std::string& computer, const std::string& path) {
    HKEY root = HKEY_LOCAL_MACHINE, key = nullptr;
    if (!computer.empty() && registry.RegConnectRegistryA(computer.c_str(), HKEY_LOCAL_MACHINE, &root) != 0)
        return "(no connection)";
    const LONG status = registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
    if (status == 0) registry.RegCloseKey(key);
    if (root != HKEY_LOCAL_MACHINE) registry.RegCloseKey(root);
    if (status != 0) return "(missing)";
    KeyNode top("x");
    KeyNode* node = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_LOCAL_MACHINE"));
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        node = node->AppendSubkey(std::make_unique<KeyNode>(path.substr(start, end - start)));
        start = end + 1;
    }
    LoadLevel(node, registry, computer, true);
    return Dump(node);
}

}  // namespace

std::string StoreDump(const std::string& storeFile, const std::string& path) {
    std::string error;
    auto store = CStoreRegistry::Open(storeFile, &error);
    return store ? LoadDump(*store, "", path) : "(store: " + error + ")";
}

std::string RemoteDump(const std::string& computer, const std::string& path) {
    CUnavailableRegistry none;
    CRegistryRouter router(none, RemoteOptions{});
    return LoadDump(router, computer, path);
}

void RemoteDocument::SetUp() {
    dir = TestFolder("qv-remote");
    remoteStore = (dir / "remote.db").string();
    localStore = (dir / "local.db").string();
    std::string error;
    {
        auto remote = CStoreRegistry::Open(remoteStore, &error);
        ASSERT_NE(remote, nullptr) << error;
        ASSERT_EQ(BuildRegistry(*remote, R"([HKLM\Software\Demo]
"Title"="remote"
"Size"=dword:1d
"Blob"=hex:00,01
[HKLM\Software\Demo\Sub]
"v"="1"
[HKLM\Software\Demo\Sub\Deep]
"w"="2"
)", &error), ERROR_SUCCESS) << error;
    }
    local = CStoreRegistry::Open(localStore, &error);
    ASSERT_NE(local, nullptr) << error;
    ASSERT_EQ(BuildRegistry(*local, "[HKLM\\Software\\Mine]\n\"m\"=\"local\"\n[HKLM\\Software\\Mine\\Kid]\n", &error),
              ERROR_SUCCESS) << error;
    test::RegdOptions options;
    options.store = remoteStore;
    options.exitAfter = 120;
    ASSERT_TRUE(service.Start(options, &error)) << error;

    router = std::make_unique<CRegistryRouter>(*local, RemoteOptions{});
    Attach(*router);
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

}  // namespace qv
