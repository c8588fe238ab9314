// A document with both tree panes and both value panes over fake controls,
// reaching another computer: a quorvane-regd child process on 127.0.0.1
// serving a store of its own, through the program's router. This
// computer's registry is a second store.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "dialogs/open_dlg.h"
#include "app/quorvane_doc.h"
#include "panes/tree_pane.h"
#include "panes/value_pane.h"
#include "model/loader.h"
#include "registry/registry_router.h"
#include "registry/store_registry.h"
#include "tests/support/fake_controls.h"
#include "tests/support/regd_child.h"
#include "tests/support/registry_builder.h"
#include "tests/support/scripted_ui.h"

namespace qv {

namespace fs = std::filesystem;
using test::CDialogDriver;

// A fresh temporary folder per test.
inline fs::path TestFolder(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = fs::temp_directory_path() /
                         (prefix + "-" + info->test_suite_name() + "-" + info->name() + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// A subtree as text: keys indented by depth, values as name=type:data.
std::string Dump(const KeyNode* node);

// The subtree at HKEY_LOCAL_MACHINE\path of the store file, read through its own store
// object (not through the service).
std::string StoreDump(const std::string& storeFile, const std::string& path);

// A port on 127.0.0.1 that nothing listens on (bound, then let go).
int ClosedPort();

class RemoteDocument : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // What the other computer's store holds at the start (builder text).
    virtual std::string RemoteText() const {
        return "HKLM\\Software\\Demo\n  Title = sz:remote\n  Size = dword:29\n  Blob = hex:00,01\n"
               "HKLM\\Software\\Demo\\Sub\n  v = sz:1\nHKLM\\Software\\Demo\\Sub\\Deep\n  w = sz:2\n"
               "HKLM\\Software\\Other\n";
    }
    virtual std::string LocalText() const { return "HKLM\\Software\\Mine\n  m = sz:local\nHKLM\\Software\\Mine\\Kid\n"; }

    void Open(int masterKind, const std::string& master, int slaveKind, const std::string& slave);
    // Clicks down the names from the side's top node; null if one is missing.
    static KeyNode* Select(test::CFakeTreeCtrl& ctrl, KeyNode* top, std::initializer_list<const char*> names);
    static KeyNode* Child(KeyNode* node, const std::string& name);

    fs::path dir;
    std::string remoteStore, localStore;
    test::CRegdChild service;
    std::unique_ptr<CStoreRegistry> local;
    std::unique_ptr<CRegistryRouter> router;
    test::CScriptedUI ui;
    test::CFakeTreeCtrl masterCtrl, slaveCtrl;
    test::CFakeListCtrl masterList, slaveList;
    CQuorvaneView masterTree{masterCtrl}, slaveTree{slaveCtrl};
    CRegListView masterValues{masterList}, slaveValues{slaveList};
    test::CFakeGrid grid;
    std::unique_ptr<CQuorvaneDoc> doc;
};

}  // namespace qv
