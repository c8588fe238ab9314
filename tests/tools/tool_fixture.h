// A fresh registry store in a temporary folder per test, and quorvane-reg's
// commands run against it with captured output and scripted answers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "registry/store_registry.h"
#include "tools/reg_commands.h"

namespace qv {

class CScriptedInput final : public IConsoleInput {
public:
    bool terminal = false;
    std::deque<std::string> answers;

    bool IsTerminal() const override { return terminal; }
    bool ReadLine(std::string& line) override {
        if (answers.empty()) return false;
        line = answers.front();
        answers.pop_front();
        return true;
    }
};

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string folder = (std::filesystem::temp_directory_path() / "qv-regtool-XXXXXX").string();
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        dir = folder;
        std::string error;
        store = CStoreRegistry::Open((dir / "registry.db").string(), &error);
        ASSERT_TRUE(store) << error;
    }
    void TearDown() override {
        store.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // Runs one command line; the output lands in `out` and `err`.
    int Run(std::vector<std::string> args) {
        out.clear();
        err.clear();
        std::ostringstream o, e;
        ToolContext context{o, e, input, [this](std::string&) -> IRegistry* { return store.get(); },
                            [this] { return store->LastError(); }};
        const int code = RunRegTool(args, context);
        out = o.str();
        err = e.str();
        return code;
    }

    std::string PathFor(const std::string& name) const { return (dir / name).string(); }

    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(PathFor(name), std::ios::binary) << bytes;
        return PathFor(name);
    }

    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::filesystem::path dir;
    std::unique_ptr<CStoreRegistry> store;
    CScriptedInput input;
    std::string out, err;
};

// UTF-16LE with a byte-order mark for ASCII text, as regedit writes it.
inline std::string Utf16File(const std::string& ascii) {
    std::string bytes = "\xff\xfe";
    for (const char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

}  // namespace qv
