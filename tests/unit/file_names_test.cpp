// Names in any script: a tree file and a .reg file in a folder named in
// Cyrillic are saved (replacing what was there), read back and, the .reg
// file, opened as a side; the folder then holds them under those very names
// (a name passed through Windows' ANSI code page would arrive mangled). On
// Windows the journal and the ignore list follow %LOCALAPPDATA% and %APPDATA%.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "compare/ignore_list.h"
#include "edit/undo_journal.h"
#include "files/file_names.h"
#include "files/reg_file.h"
#include "files/stdio_file.h"
#include "files/tree_file.h"
#include "model/open_key.h"
#include "sources/registry_source.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

TEST(FileNames, CyrillicFolderHoldsTreeAndRegFiles) {
    const std::string folder =
        Utf8FromPath(fs::temp_directory_path()) + "/qv-Папка-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    fs::remove_all(PathFromUtf8(folder));
    ASSERT_TRUE(fs::create_directories(PathFromUtf8(folder)));
    const std::string tree = folder + "/Дерево.qvf", reg = folder + "/Ключи.reg";
    std::string error, bytes;

    // A tree file written twice (the second replaces the first), then read.
    for (const char* value : {"\"Имя\"=\"старое\"\n", "\"Имя\"=\"Значение\"\n"}) {
        CStdioFile out(tree, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::modeReplace);
        out.WriteString(std::string("[\\HKEY_CURRENT_USER]\n\n[\\HKEY_CURRENT_USER\\Раздел]\n") + value);
        out.Close();
    }
    KeyNode top("t");
    {
        CStdioFile in(tree, CStdioFile::modeRead);
        ASSERT_EQ(ReadTreeFile(&top, in), 0);
    }
    ASSERT_EQ(top.subkeys.size(), 1u);
    const KeyNode& key = *top.subkeys.front()->subkeys.at(0);
    EXPECT_EQ(key.name, "Раздел");
    ASSERT_EQ(key.values.size(), 1u);
    EXPECT_EQ(key.values.front()->Text(), "Значение");

    // A .reg file: recognised, read, opened as a registry.
    ASSERT_TRUE(ReplaceFileContents(reg, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Раздел]\r\n\"Имя\"=\"Значение\"\r\n", error)) << error;
    EXPECT_EQ(DetectSource(reg), SourceFormat::kRegFile);
    ASSERT_TRUE(ReadRegFileBytes(reg, bytes, error)) << error;
    const auto registry = OpenRegistrySource(reg, false, error);
    ASSERT_NE(registry, nullptr) << error;
    HKEY opened = nullptr;
    EXPECT_EQ(registry->RegOpenKeyExA(HKEY_CURRENT_USER, "Раздел", 0, KEY_READ, &opened), ERROR_SUCCESS);
    if (opened != nullptr) registry->RegCloseKey(opened);

    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(PathFromUtf8(folder))) names.insert(Utf8FromPath(entry.path().filename()));
    EXPECT_EQ(names, (std::set<std::string>{"Дерево.qvf", "Ключи.reg"}));

#ifdef _WIN32
    ASSERT_EQ(::_wputenv_s(L"LOCALAPPDATA", PathFromUtf8(folder).c_str()), 0);
    ASSERT_EQ(::_wputenv_s(L"APPDATA", PathFromUtf8(folder).c_str()), 0);
    EXPECT_EQ(CUndoJournal::DefaultFolder(), folder + "\\Quorvane\\journal");
    CUndoJournal journal;
    EXPECT_TRUE(journal.Open(CUndoJournal::DefaultFolder(), error)) << error;
    CIgnoreList ignore;
    ASSERT_TRUE(ignore.Parse("key HKLM\\Игнор*\n", error)) << error;
    ASSERT_TRUE(ignore.Save(DefaultIgnoreListPath(), error)) << error;
    CIgnoreList loaded;
    ASSERT_TRUE(loaded.Load("", error)) << error;
    EXPECT_EQ(loaded.Text(), ignore.Text());
    EXPECT_TRUE(fs::is_directory(PathFromUtf8(folder) / u8"Quorvane" / u8"journal"));
    EXPECT_TRUE(fs::is_regular_file(PathFromUtf8(folder) / u8"Quorvane" / u8"ignore.txt"));
#endif
    fs::remove_all(PathFromUtf8(folder));
}

}  // namespace
}  // namespace qv
