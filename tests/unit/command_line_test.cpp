// The program's command line: sides as the Open dialog leaves them, the
// testing options, and a clear word for what it does not understand.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/command_line.h"
#include "framework/document.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

TEST(CommandLine, SidesAreLocalNetworkOrFilesWithFullPaths) {
    const auto here = [](const char* name) { return (fs::current_path() / name).string(); };
    CommandLine c = ParseCommandLine({"dir/../m.qvf", "local"});
    EXPECT_EQ(c.error, "");
    EXPECT_EQ(c.sides, 2);
    EXPECT_EQ(c.masterKind, kSourceFile);
    EXPECT_EQ(c.master, here("m.qvf"));
    EXPECT_EQ(c.slaveKind, kSourceLocal);
    EXPECT_EQ(c.slave, "");

    c = ParseCommandLine({"--select", "HKEY_LOCAL_MACHINE\\SOFTWARE", "\\\\ box:7788 ", "--screenshot=s.png",
                          "win/"});
    EXPECT_EQ(c.error, "");
    EXPECT_EQ(c.masterKind, kSourceNetwork);
    EXPECT_EQ(c.master, "box:7788");
    EXPECT_EQ(c.slave, here("win"));  // a folder: a Windows installation
    EXPECT_EQ(c.select, "HKEY_LOCAL_MACHINE\\SOFTWARE");
    EXPECT_EQ(c.screenshot, "s.png");

    c = ParseCommandLine({"smb://win:4450", "\\\\smb://win"});
    EXPECT_EQ(c.master, "smb://win:4450");
    EXPECT_EQ(c.slaveKind, kSourceNetwork);
    EXPECT_EQ(c.slave, "smb://win");

    c = ParseCommandLine({"--", "--select"});
    EXPECT_EQ(c.sides, 1);
    EXPECT_EQ(c.master, here("--select"));
    EXPECT_EQ(ParseCommandLine({}).sides, 0);
}

TEST(CommandLine, WhatItDoesNotUnderstandIsSaid) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"a", "b", "c"}, "at most two sides may be given, the Master and the Slave"},
        {{"a", ""}, "a side's name is empty"},
        {{"\\\\ "}, "a network side needs the computer's name after \\\\"},
        {{"\\\\a\\b"}, "\\\\a\\b: a computer's name holds no backslash"},
        {{"--select"}, "--select needs a key"},
        {{"--screenshot="}, "--screenshot needs a file"},
        {{"--selection", "k"}, "unknown option --selection"},
        {{"-x"}, "unknown option -x"},
    };
    for (const auto& [args, error] : cases) EXPECT_EQ(ParseCommandLine(args).error, error) << args[0];
    // Checked before the toolkit starts: its own options left out.
    EXPECT_EQ(WithoutToolkitOptions({"-platform", "xcb", "-reverse", "-style=fusion", "--bogus", "m", "--", "-x"}),
              (std::vector<std::string>{"--bogus", "m", "--", "-x"}));
}

}  // namespace
}  // namespace qv
