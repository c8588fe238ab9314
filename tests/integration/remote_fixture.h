// A document with both tree panes and both value panes over fake controls,
// reaching another computer: a quorvane-regd child process on 127.0.0.1
// serving a store of its own, through the program's router. This
// computer's registry is a second store. Also subtree dumps and test folders.
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
fs::path TestFolder(const std::string& prefix);

// A subtree as text: keys indented by depth, values as name=type:data.
std::string Dump(const KeyNode* node);
// The subtree at HKEY_LOCAL_MACHINE\path, loaded whole from the store file
// through its own store object, or from a computer through a router.
std::string StoreDump(const std::string& storeFile, const std::string& path);
std::string RemoteDump(const std::string& computer, const std::string& path);

class RemoteDocument : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Open(int masterKind, const std::string& master, int slaveKind, const std::string& slave);
    // Clicks down the names from the side's top node; null if one is missing.
    static KeyNode* Select(test::CFakeTreeCtrl& ctrl, KeyNode* top, std::initializer_list<const char*> names);

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
