// A document with both tree panes and both value panes over fake controls,
// a store in a temporary folder for the live sides (seen through the
// counting registry, so every test also proves no handle is left open), and
// a scripted UI.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "model/loader.h"
#include "registry/store_registry.h"
#include "tests/support/counting_registry.h"
#include "tests/support/document_fixture.h"
#include "tests/support/registry_builder.h"

namespace qv {

namespace fs = std::filesystem;

class PaneFixture : public DocumentFixture {
protected:
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::string error;
        store = CStoreRegistry::Open((dir / "registry.db").string(), &error);
        ASSERT_NE(store, nullptr) << error;
        counting = std::make_unique<CCountingRegistry>(*store);
        Attach(*counting);
        ASSERT_EQ(BuildRegistry(*store, RegistryText(), &error), ERROR_SUCCESS) << error;
    }
    // What the store holds at the start (.reg text; hex(2) is "%TEMP%", expandable).
    virtual std::string RegistryText() const {
        return R"([HKLM\Software\Demo]
"Title"="old"
"Size"=dword:1d
"Blob"=hex:00,01
"Path"=hex(2):25,54,45,4d,50,25,00
[HKLM\Software\Demo\Sub]
"v"="1"
[HKLM\Software\Other]
)";
    }
    void TearDown() override {
        doc.reset();
        if (counting) {
            EXPECT_EQ(counting->OpenHandles(), 0u);
            EXPECT_TRUE(counting->Errors().empty()) << counting->Errors().front();
        }
        counting.reset();
        store.reset();
        fs::remove_all(dir);
    }

    std::string File(const std::string& name, const std::string& text) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // The node for HKEY_LOCAL_MACHINE\<keyPath> below a fresh top node, made
    // by hand (not loaded).
    KeyNode* Node(const std::string& keyPath) {
        tops.push_back(std::make_unique<KeyNode>("local_computer"));
        KeyNode* cur = tops.back()->AppendSubkey(std::make_unique<KeyNode>("HKEY_LOCAL_MACHINE"));
        for (std::size_t start = 0; start <= keyPath.size();) {
            const std::size_t end = std::min(keyPath.find('\\', start), keyPath.size());
            cur = cur->AppendSubkey(std::make_unique<KeyNode>(keyPath.substr(start, end - start)));
            start = end + 1;
        }
        return cur;
    }
    // Whether HKEY_LOCAL_MACHINE\<path> is in the store.
    bool Exists(const std::string& path) {
        HKEY key = nullptr;
        if (store->RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != 0) return false;
        store->RegCloseKey(key);
        return true;
    }

    // The key at `path` below HKLM as the store holds it now, whole, as Dump() shows it.
    std::string Registry(const std::string& path) {
        if (!Exists(path)) return "(missing)";
        KeyNode* n = Node(path);
        LoadLevel(n, *store, "", true);
        return Dump(n);
    }

    const fs::path dir = fs::temp_directory_path() /
                         ("qv-panes-" + std::to_string(::getpid()) + "-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::unique_ptr<CStoreRegistry> store;
    std::unique_ptr<CCountingRegistry> counting;
    std::vector<std::unique_ptr<KeyNode>> tops;  // of the nodes made by Node()
};

}  // namespace qv
