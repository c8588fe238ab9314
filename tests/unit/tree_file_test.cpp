#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/tree_file.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

class TreeFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("qv-treefile-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string PathFor(const std::string& name) const { return (dir / name).string(); }

    std::string WriteRaw(const std::string& bytes, const std::string& name = "in.qvf") {
        const std::string path = PathFor(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Reads `bytes` as a tree file; returns the reader's result.
    int Read(const std::string& bytes, KeyNode& top) {
        CStdioFile file(WriteRaw(bytes), CStdioFile::modeRead | CStdioFile::typeText);
        return ReadTreeFile(&top, file);
    }

    std::string Save(const KeyNode* chosen) {
        const std::string path = PathFor("out.qvf");
        CStdioFile file(path, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::typeText);
        SaveTree(chosen, file);
        file.Close();
        return Slurp(path);
    }

    fs::path dir;
};

// The example tree: HKEY_LOCAL_MACHINE holding Alpha (Title "x y", Size 29,
// subkey Beta) and Gamma.
struct ExampleTree {
    KeyNode top{"example.qvf"};
    KeyNode* hklm = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_LOCAL_MACHINE"));
    KeyNode* alpha = hklm->AppendSubkey(std::make_unique<KeyNode>("Alpha"));
    KeyNode* beta = alpha->AppendSubkey(std::make_unique<KeyNode>("Beta"));
    KeyNode* gamma = hklm->AppendSubkey(std::make_unique<KeyNode>("Gamma"));
    ExampleTree() {
        alpha->AppendValue(std::make_unique<ValueEntry>("Title", REG_SZ, "x y"));
        const DWORD size = 29;
        alpha->AppendValue(std::make_unique<ValueEntry>("Size", REG_DWORD, &size));
    }
};

constexpr char kExampleFile[] =
    "[\\HKEY_LOCAL_MACHINE]\r\n"
    "\r\n"
    "[\\HKEY_LOCAL_MACHINE\\Alpha]\r\n"
    "\"Title\"=\"x y\"\r\n"
    "\"Size\"=dword:0000001d\r\n"
    "\r\n"
    "[\\HKEY_LOCAL_MACHINE\\Alpha\\Beta]\r\n"
    "\r\n"
    "[\\HKEY_LOCAL_MACHINE\\Gamma]\r\n"
    "\r\n";

TEST_F(TreeFileTest, ExampleSavesByteForByteAndReadsBack) {
    ExampleTree t;
    EXPECT_EQ(Save(&t.top), kExampleFile);

    KeyNode back("again");
    ASSERT_EQ(Read(kExampleFile, back), 0);
    ASSERT_EQ(back.subkeys.size(), 1u);
    const KeyNode& hklm = *back.subkeys[0];
    EXPECT_EQ(hklm.name, "HKEY_LOCAL_MACHINE");
    ASSERT_EQ(hklm.subkeys.size(), 2u);
    const KeyNode& alpha = *hklm.subkeys[0];
    EXPECT_EQ(alpha.name, "Alpha");
    ASSERT_EQ(alpha.values.size(), 2u);
    EXPECT_EQ(alpha.values[0]->type, REG_SZ);
    EXPECT_EQ(alpha.values[0]->Name(), "Title");
    EXPECT_EQ(alpha.values[0]->Text(), "x y");
    EXPECT_EQ(alpha.values[1]->type, REG_DWORD);
    EXPECT_EQ(alpha.values[1]->Number(), 29u);
    ASSERT_EQ(alpha.subkeys.size(), 1u);
    EXPECT_EQ(alpha.subkeys[0]->name, "Beta");
    EXPECT_EQ(hklm.subkeys[1]->name, "Gamma");
}

TEST_F(TreeFileTest, SubtreeSaveWritesAncestorsAndReadsBackOneLevelDeeper) {
    ExampleTree t;
    EXPECT_EQ(Save(t.alpha),
              "[]\r\n\r\n"
              "[\\HKEY_LOCAL_MACHINE]\r\n\r\n"
              "[\\HKEY_LOCAL_MACHINE\\Alpha]\r\n\r\n"
              "[\\HKEY_LOCAL_MACHINE\\Alpha\\Beta]\r\n\r\n");
    EXPECT_EQ(Save(t.hklm),
              "[]\r\n\r\n"
              "[\\HKEY_LOCAL_MACHINE]\r\n\r\n"
              "[\\HKEY_LOCAL_MACHINE\\Alpha]\r\n\"Title\"=\"x y\"\r\n\"Size\"=dword:0000001d\r\n\r\n"
              "[\\HKEY_LOCAL_MACHINE\\Alpha\\Beta]\r\n\r\n"
              "[\\HKEY_LOCAL_MACHINE\\Gamma]\r\n\r\n");

    KeyNode back("again");
    ASSERT_EQ(Read(Save(t.alpha), back), 0);
    ASSERT_EQ(back.subkeys.size(), 1u);
    const KeyNode& empty = *back.subkeys[0];
    EXPECT_EQ(empty.name, "");
    ASSERT_EQ(empty.subkeys.size(), 1u);
    const KeyNode& hklm = *empty.subkeys[0];
    ASSERT_EQ(hklm.subkeys.size(), 1u);
    EXPECT_EQ(hklm.subkeys[0]->name, "Alpha");
    EXPECT_TRUE(hklm.subkeys[0]->values.empty());
    EXPECT_EQ(hklm.subkeys[0]->subkeys[0]->name, "Beta");
}

TEST_F(TreeFileTest, WriterValueForms) {
    KeyNode top("t");
    KeyNode* k = top.AppendSubkey(std::make_unique<KeyNode>("K"));
    const DWORD zero = 0, all = 0xFFFFFFFF;
    k->AppendValue(std::make_unique<ValueEntry>("z", REG_DWORD, &zero));
    k->AppendValue(std::make_unique<ValueEntry>("f", REG_DWORD, &all));
    k->AppendValue(std::make_unique<ValueEntry>("b", REG_BINARY, "x"));
    k->AppendValue(std::make_unique<ValueEntry>("e", REG_SZ, ""));
    EXPECT_EQ(Save(&top),
              "[\\K]\r\n\"z\"=dword:00000000\r\n\"f\"=dword:ffffffff\r\n\"b\"=\r\n\"e\"=\"\"\r\n\r\n");

    KeyNode empty("nothing");
    EXPECT_EQ(Save(&empty), "");
}

TEST_F(TreeFileTest, ValueLinesAsTheReaderTakesThem) {
    KeyNode top("t");
    ASSERT_EQ(Read("[\\HKEY_USERS\\K]\n"
                   "\"n221\"=dword:000000dd\n"
                   "\"path\"=\"C:\\Program Files\\x\"\n"
                   "\"quoted\"=\"say \"hi\"\"\n"
                   "\"bin\"=\n"
                   "no equals sign\n"
                   "\"key=x\"=\"v\"\n"
                   "\"lost\"=\"  \"=lead\"\n"
                   "\"spaced\" = dword:  0000001d\n"
                   "\"bad\"=dword:12G\n",
                   top),
              0);
    const auto& v = top.subkeys[0]->values;
    ASSERT_EQ(v.size(), 9u);
    EXPECT_EQ(v[0]->Number(), 221u);
    EXPECT_EQ(v[1]->Text(), "C:\\Program Files\\x");
    EXPECT_EQ(v[2]->Text(), "say \"hi\"");
    EXPECT_EQ(v[3]->type, REG_SZ);
    EXPECT_EQ(v[3]->Name(), "bin");
    EXPECT_EQ(v[3]->Text(), "");
    EXPECT_EQ(v[4]->Name(), "");
    EXPECT_EQ(v[4]->Text(), "");
    EXPECT_EQ(v[5]->Name(), "ke");  // a name is cut at its first "="
    EXPECT_EQ(v[6]->Text(), "lead");  // leading quotes, blanks and "=" of a text are lost
    // The name runs to just before the "="; the quote and the blank are dropped.
    EXPECT_EQ(v[7]->Name(), "spaced\"");
    EXPECT_EQ(v[7]->type, REG_DWORD);
    EXPECT_EQ(v[7]->Number(), 29u);
    EXPECT_EQ(v[8]->type, REG_DWORD);
    EXPECT_EQ(v[8]->Number(), 0u);
}

TEST_F(TreeFileTest, DwordInsideAStringStaysAString) {
    KeyNode top("t");
    ASSERT_EQ(Read("[\\K]\n"
                   "\"note\"=\"set dword:1 here\"\n"
                   "\"dword:name\"=\"text\"\n"
                   "\"num\"=\t dword:0000000a\n",
                   top),
              0);
    const auto& v = top.subkeys[0]->values;
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0]->type, REG_SZ);
    EXPECT_EQ(v[0]->Text(), "set dword:1 here");
    EXPECT_EQ(v[1]->type, REG_SZ);
    EXPECT_EQ(v[1]->Name(), "dword:name");
    EXPECT_EQ(v[1]->Text(), "text");
    EXPECT_EQ(v[2]->type, REG_DWORD);
    EXPECT_EQ(v[2]->Number(), 10u);
}

TEST_F(TreeFileTest, KeyLinesAsTheReaderTakesThem) {
    KeyNode top("t");
    ASSERT_EQ(Read("[HKEY_LOCAL_MACHINE]\n"
                   "[\\HKEY_LOCAL_MACHINE\\A]   \t\n"
                   "[\\HKEY_LOCAL_MACHINE\\A\\A]\n"
                   "[\\HKEY_LOCAL_MACHINE\\A\\A\\X]\n"
                   " [\\indented]=\"v\"\n"
                   "[\\Twice]\n"
                   "[\\Twice]\n"
                   "[\\A]\n"
                   "[\\A\\Foo]\n"
                   "[\\A\\FOO\\x]\n",
                   top),
              0);
    ASSERT_EQ(top.subkeys.size(), 6u);
    EXPECT_EQ(top.subkeys[0]->name, "");  // no backslash: the empty name
    // [\HKEY_LOCAL_MACHINE\A] found no HKEY_LOCAL_MACHINE on the chain.
    const KeyNode& upperA = *top.subkeys[1];
    EXPECT_EQ(upperA.name, "A");
    ASSERT_EQ(upperA.subkeys.size(), 2u);  // the inner A and X: X goes below the upper A
    EXPECT_EQ(upperA.subkeys[0]->name, "A");
    EXPECT_EQ(upperA.subkeys[1]->name, "X");
    ASSERT_EQ(upperA.subkeys[1]->values.size(), 1u);  // the indented key line is a value
    EXPECT_EQ(top.subkeys[2]->name, "Twice");
    EXPECT_EQ(top.subkeys[3]->name, "Twice");
    const KeyNode& a = *top.subkeys[4];
    ASSERT_EQ(a.subkeys.size(), 1u);
    EXPECT_EQ(a.subkeys[0]->name, "Foo");
    EXPECT_TRUE(a.subkeys[0]->subkeys.empty());  // case counts: x is not below Foo
    EXPECT_EQ(top.subkeys[5]->name, "x");
}

TEST_F(TreeFileTest, LineEndsAndBlankLines) {
    KeyNode lf("t"), crlf("t");
    ASSERT_EQ(Read("[\\K]\n\"v\"=\"1\"\n\n", lf), 0);
    ASSERT_EQ(Read("[\\K]\r\n\"v\"=\"1\"\r\n\r\n", crlf), 0);
    ASSERT_EQ(lf.subkeys[0]->values.size(), 1u);
    EXPECT_EQ(lf.subkeys[0]->values[0]->Text(), crlf.subkeys[0]->values[0]->Text());
    KeyNode noFinalEnd("t");
    ASSERT_EQ(Read("  \t\r\n[\\K]\r\n\"v\"=\"last\"", noFinalEnd), 0);
    EXPECT_EQ(noFinalEnd.subkeys[0]->values[0]->Text(), "last");
}

TEST_F(TreeFileTest, RefusesWhatIsNotATreeFile) {
    KeyNode header("t");
    EXPECT_NE(Read("REGEDIT4\n[\\HKEY_USERS]\n", header), 0);

    // Keys may nest as deep as the registry allows, and no deeper.
    std::string deep;
    std::string path;
    for (int level = 1; level <= kMaxKeyDepth; ++level) {
        path += "\\k" + std::to_string(level);
        deep += "[" + path + "]\n";
    }
    KeyNode ok("t");
    ASSERT_EQ(Read(deep, ok), 0);
    const KeyNode* bottom = &ok;
    while (!bottom->subkeys.empty()) bottom = bottom->subkeys.back().get();
    EXPECT_EQ(bottom->Level(), kMaxKeyDepth);
    KeyNode tooDeep("t");
    EXPECT_NE(Read(deep + "[" + path + "\\more]\n", tooDeep), 0);
}

TEST_F(TreeFileTest, WholeTreeRoundTripKeepsShapeAndValues) {
    KeyNode top("t");
    KeyNode* cur = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_CURRENT_USER"));
    for (int i = 0; i < 50; ++i) {
        KeyNode* k = cur->AppendSubkey(std::make_unique<KeyNode>("k" + std::to_string(i)));
        const DWORD n = static_cast<DWORD>(i * 7919);
        k->AppendValue(std::make_unique<ValueEntry>("n", REG_DWORD, &n));
        k->AppendValue(std::make_unique<ValueEntry>("s", REG_SZ, ("text " + std::to_string(i)).c_str()));
        if (i % 3 == 0) cur = k;
    }
    const std::string first = Save(&top);
    KeyNode back("t");
    ASSERT_EQ(Read(first, back), 0);
    EXPECT_EQ(Save(&back), first);
}

TEST_F(TreeFileTest, FileErrorsCarryTheReasonAndTheName) {
    const std::string missing = PathFor("missing.qvf");
    try {
        CStdioFile file(missing, CStdioFile::modeRead | CStdioFile::typeText);
        FAIL() << "opened a missing file";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
        EXPECT_NE(e.GetErrorMessage().find(missing), std::string::npos);
        EXPECT_NE(e.GetErrorMessage().find("No such file"), std::string::npos);
    }
    // A folder is not a tree file.
    CStdioFile folder;
    CFileException error(CFileException::none, 0, "");
    EXPECT_FALSE(folder.Open(dir.string(), CStdioFile::modeRead, &error));
    EXPECT_NE(error.GetErrorMessage().find(dir.string()), std::string::npos);
    // A full disk surfaces when the data is written, not silently.
    if (fs::exists("/dev/full")) {
        EXPECT_THROW(
            {
                CStdioFile full("/dev/full", CStdioFile::modeWrite | CStdioFile::typeText);
                full.WriteString("[\\K]\n");
                full.Close();
            },
            CFileException);
    }
}

}  // namespace
}  // namespace qv
