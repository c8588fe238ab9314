// A document with both tree panes and both value panes over fake controls,
// reaching another computer: a quorvane-regd child process on 127.0.0.1
// serving a store of its own, through the program's router. This
// computer's registry is a second store. Also subtree dumps and test folders.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "model/loader.h"
#include "registry/registry_router.h"
#include "registry/store_registry.h"
#include "tests/support/document_fixture.h"
#include "tests/support/regd_child.h"
#include "tests/support/registry_builder.h"

namespace qv {

namespace fs = std::filesystem;

// A fresh temporary folder per test.
fs::path TestFolder(const std::string& prefix);

// The subtree at HKEY_LOCAL_MACHINE\path, loaded whole from the store file
// through its own store object, or from a computer through a router.
std::string StoreDump(const std::string& storeFile, const std::string& path);
std::string RemoteDump(const std::string& computer, const std::string& path);

class RemoteDocument : public DocumentFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    fs::path dir;
    std::string remoteStore, localStore;
    test::CRegdChild service;
    std::unique_ptr<CStoreRegistry> local;
    std::unique_ptr<CRegistryRouter> router;
};

}  // namespace qv
