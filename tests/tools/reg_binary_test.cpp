// A few runs of the real quorvane-reg on a temporary store.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "tests/tools/tool_fixture.h"

namespace qv {
namespace {

class RegBinary : public ToolTest {
protected:
    // Runs the program with `arguments` (shell words), standard input from
    // /dev/null; returns its exit code.
    int Program(const std::string& arguments) {
        const std::string command = "QUORVANE_REGISTRY='" + PathFor("registry.db") + "' '" QV_REG_TOOL "' " +
                                    arguments + " </dev/null >'" + PathFor("out") + "' 2>'" + PathFor("err") + "'";
        const int status = std::system(command.c_str());
        out = Slurp(PathFor("out"));
        err = Slurp(PathFor("err"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// The command logic is tested in reg_commands_test.cpp; here only what the
// program adds: the store from the environment, exit codes, no questions
// without a terminal.
TEST_F(RegBinary, WorksOnTheStoreNamedByTheEnvironment) {
    store.reset();  // the program opens the same file
    EXPECT_EQ(Program(""), 1);
    EXPECT_NE(out.find("OPERATION"), std::string::npos);
    ASSERT_EQ(Program("add 'HKCU\\Software\\B' /v n /t REG_DWORD /d 42"), 0) << err;
    ASSERT_EQ(Program("query 'HKCU\\Software\\B'"), 0) << err;
    EXPECT_EQ(out, "\nHKEY_CURRENT_USER\\Software\\B\n    n    REG_DWORD    0x2a\n\n");
    EXPECT_EQ(Program("add 'HKCU\\Software\\B' /v n /d 1"), 1) << "standard input is /dev/null";
    EXPECT_NE(err.find("/f"), std::string::npos);
    ASSERT_EQ(Program("add 'HKCU\\Software\\C' /v n /t REG_DWORD /d 41"), 0);
    EXPECT_EQ(Program("compare 'HKCU\\Software\\B' 'HKCU\\Software\\B'"), 0);
    EXPECT_EQ(Program("compare 'HKCU\\Software\\B' 'HKCU\\Software\\C'"), 2);
    EXPECT_EQ(Program("compare 'HKCU\\Software\\B' '\\\\elsewhere\\HKCU\\Software\\B'"), 1);
    EXPECT_NE(err.find("(status 53)"), std::string::npos) << err;
}

}  // namespace
}  // namespace qv
