// Tree files: the file form byte for byte, what the program writes reading
// back to the same tree (values of any length kept whole), how the reader
// takes hand-written lines, what it refuses, and file errors.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "files/tree_file.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

// The key names below `node`, nested: "A{B C} D"; '' for the empty name.
std::string Shape(const KeyNode& node) {
    std::string out;
    for (const auto& k : node.subkeys) {
        out += (out.empty() ? "" : " ") + (k->name.empty() ? "''" : k->name);
        if (!k->subkeys.empty()) out += "{" + Shape(*k) + "}";
    }
    return out;
}

// The values of `key` as "name=text|" or "name=#number|".
std::string Values(const KeyNode& key) {
    std::string out;
    for (const auto& v : key.values)
        out += std::string(v->Name()) + "=" +
               (v->type == REG_DWORD ? "#" + std::to_string(v->Number()) : std::string(v->Text())) + "|";
    return out;
}

class TreeFileTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    // Reads `bytes` as a tree file into `top`; the reader's result.
    int Read(const std::string& bytes, KeyNode& top) {
        std::ofstream(dir / "in.qvf", std::ios::binary) << bytes;
        CStdioFile file((dir / "in.qvf").string(), CStdioFile::modeRead | CStdioFile::typeText);
        return ReadTreeFile(&top, file);
    }
    std::string Save(const KeyNode* chosen) {
        const std::string path = (dir / "out.qvf").string();
        CStdioFile file(path, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::typeText);
        SaveTree(chosen, file);
        file.Close();
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    const fs::path dir = fs::temp_directory_path() /
                         ("qv-treefile-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
};

// HKEY_LOCAL_MACHINE holding Alpha (Title "x y", Size 29, subkey Beta) and Gamma.
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
    "[\\HKEY_LOCAL_MACHINE]\r\n\r\n"
    "[\\HKEY_LOCAL_MACHINE\\Alpha]\r\n\"Title\"=\"x y\"\r\n\"Size\"=dword:0000001d\r\n\r\n"
    "[\\HKEY_LOCAL_MACHINE\\Alpha\\Beta]\r\n\r\n"
    "[\\HKEY_LOCAL_MACHINE\\Gamma]\r\n\r\n";

// A subtree is saved with the chain of keys above it ("[]" the top) and reads
// back at its own place.
TEST_F(TreeFileTest, ExampleSavesByteForByteAndReadsBackTheSame) {
    ExampleTree t;
    EXPECT_EQ(Save(&t.top), kExampleFile);
    KeyNode back("again");
    ASSERT_EQ(Read(kExampleFile, back), 0);
    EXPECT_EQ(Shape(back), "HKEY_LOCAL_MACHINE{Alpha{Beta} Gamma}");
    EXPECT_EQ(Values(*back.subkeys[0]->subkeys[0]), "Title=x y|Size=#29|");
    EXPECT_EQ(Save(&back), kExampleFile);

    const std::string alpha = Save(t.alpha);
    EXPECT_EQ(alpha,
              "[]\r\n\r\n[\\HKEY_LOCAL_MACHINE]\r\n\r\n[\\HKEY_LOCAL_MACHINE\\Alpha]\r\n\r\n"
              "[\\HKEY_LOCAL_MACHINE\\Alpha\\Beta]\r\n\r\n");
    EXPECT_EQ(Save(t.hklm), "[]\r\n\r\n" + std::string(kExampleFile));
    KeyNode subtree("again");
    ASSERT_EQ(Read(alpha, subtree), 0);
    EXPECT_EQ(Shape(subtree), "HKEY_LOCAL_MACHINE{Alpha{Beta}}");

    // The forms of the other values, and a tree with no keys.
    KeyNode top("t");
    KeyNode* k = top.AppendSubkey(std::make_unique<KeyNode>("K"));
    const DWORD zero = 0, all = 0xFFFFFFFF;
    k->AppendValue(std::make_unique<ValueEntry>("z", REG_DWORD, &zero));
    k->AppendValue(std::make_unique<ValueEntry>("f", REG_DWORD, &all));
    k->AppendValue(std::make_unique<ValueEntry>("b", REG_BINARY, "x"));
    k->AppendValue(std::make_unique<ValueEntry>("e", REG_SZ, ""));
    EXPECT_EQ(Save(&top), "[\\K]\r\n\"z\"=dword:00000000\r\n\"f\"=dword:ffffffff\r\n\"b\"=\r\n\"e\"=\"\"\r\n\r\n");
    KeyNode empty("nothing");
    EXPECT_EQ(Save(&empty), "");
}

// Names and texts that the line form could mistake for something else, long
// values, and a subtree saved from the deepest level the registry allows: the
// tree read back equals the source, compared entry by entry.
TEST_F(TreeFileTest, WhatTheProgramWritesReadsBackAsTheSameTree) {
    KeyNode top("t");
    KeyNode* root = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_CURRENT_USER"));
    KeyNode* odd = root->AppendSubkey(std::make_unique<KeyNode>(" leading blank"));
    odd->AppendSubkey(std::make_unique<KeyNode>("ends]"))->AppendSubkey(std::make_unique<KeyNode>("a=b]]"));
    // A name met twice on one path: S\T\S\X.
    KeyNode* s = root->AppendSubkey(std::make_unique<KeyNode>("S"));
    s->AppendSubkey(std::make_unique<KeyNode>("T"))
        ->AppendSubkey(std::make_unique<KeyNode>("S"))
        ->AppendSubkey(std::make_unique<KeyNode>("X"));
    s->AppendSubkey(std::make_unique<KeyNode>("Y"));
    const DWORD all = 0xFFFFFFFF;
    const std::pair<std::string, std::string> texts[] = {
        {"a=dword:", "not a number"}, {"blank", "  indented "}, {"quote", "\"quoted"}, {"eq", "x\"=\"y"},
        {"", "default"},              {"=first", "x"}, {std::string(300, 'n'), std::string(70000, 'L')},
    };
    for (const auto& [name, text] : texts) odd->AppendValue(std::make_unique<ValueEntry>(name.c_str(), REG_SZ, text.c_str()));
    odd->AppendValue(std::make_unique<ValueEntry>("n=1", REG_DWORD, &all));
    KeyNode* deep = root;
    for (int level = 2; level <= kMaxKeyDepth; ++level)
        deep = deep->AppendSubkey(std::make_unique<KeyNode>(std::string("d").append(std::to_string(level))));

    for (const KeyNode* chosen : {static_cast<const KeyNode*>(&top), static_cast<const KeyNode*>(deep)}) {
        KeyNode back("again");
        ASSERT_EQ(Read(Save(chosen), back), 0);
        // Walk both trees side by side.
        std::vector<std::pair<const KeyNode*, const KeyNode*>> pending{{&top, &back}};
        while (!pending.empty()) {
            auto [a, b] = pending.back();
            pending.pop_back();
            ASSERT_EQ(a->values.size(), b->values.size()) << a->name;
            for (std::size_t i = 0; i < a->values.size(); ++i) {
                EXPECT_EQ(a->values[i]->Name(), b->values[i]->Name());
                EXPECT_EQ(a->values[i]->type, b->values[i]->type);
                EXPECT_EQ(a->values[i]->Text(), b->values[i]->Text()) << a->values[i]->Name();
                EXPECT_EQ(a->values[i]->Number(), b->values[i]->Number());
            }
            // A saved subtree holds only the chain down to it.
            const bool whole = chosen == &top;
            ASSERT_EQ(whole ? a->subkeys.size() : std::min<std::size_t>(a->subkeys.size(), 1), b->subkeys.size());
            for (std::size_t i = 0; i < b->subkeys.size(); ++i) {
                const KeyNode* sa = whole ? a->subkeys[i].get() : a->subkeys.back().get();
                EXPECT_EQ(sa->name, b->subkeys[i]->name);
                pending.push_back({sa, b->subkeys[i].get()});
            }
        }
    }
}

TEST_F(TreeFileTest, ValueLinesAsTheReaderTakesThem) {
    KeyNode top("t");
    ASSERT_EQ(Read("[\\HKEY_USERS\\K]\n"
                   "\"n221\"=dword:000000dd\r\n"
                   "\"upper\"=dword:0000001D\n"
                   "\"path\"=\"C:\\Program Files\\x\"\n"
                   "\"quoted\"=\"say \"hi\"\"\n"
                   "\"bin\"=\n"
                   "no equals sign\n"
                   "\"key=x\"=\"v\"\n"
                   "\"lost\"=\"  \"=lead\"\n"
                   "\"spaced\" = dword:  0000001d\n"  // the name runs to just before the "="
                   "\"bad\"=dword:12G\n"
                   "\"note\"=\"set dword:1 here\"\n"  // a string holding "dword:" stays a string
                   "\"dword:name\"=\"text\"\n"
                   "\"num\"=\t dword:0000000a\n"
                   "  \t\r\n\r\n"
                   "\"last\"=\"no line end\"",
                   top),
              0);
    ASSERT_EQ(top.subkeys.size(), 1u);
    EXPECT_EQ(Values(*top.subkeys[0]),
              "n221=#221|upper=#29|path=C:\\Program Files\\x|quoted=say \"hi\"|bin=|=|key=x=v|lost=  \"=lead|"
              "spaced\"=#29|bad=#0|note=set dword:1 here|dword:name=text|num=#10|last=no line end|");
    for (const auto& v : top.subkeys[0]->values) EXPECT_TRUE(v->type == REG_SZ || v->type == REG_DWORD);
}

TEST_F(TreeFileTest, KeyLinesAsTheReaderTakesThemAndWhatItRefuses) {
    // A key goes below the last key on the chain of last subkeys whose name
    // is its parent's leaf name (case counts), else below the top.
    KeyNode top("t");
    ASSERT_EQ(Read("[HKEY_LOCAL_MACHINE]\n"
                   "[\\HKEY_LOCAL_MACHINE\\A]   \t\n"
                   "[\\HKEY_LOCAL_MACHINE\\A\\A]\n"
                   "[\\HKEY_LOCAL_MACHINE\\A\\A\\X]\n"
                   " [\\indented]=\"v\"\n"
                   "[\\Twice]\n[\\Twice]\n"
                   "[\\A]\n[\\A\\Foo]\n[\\A\\FOO\\x]\n"
                   "[\\B\\   spaced]\n[\\B\\c]]\n[\\B\\open\n",
                   top),
              0);
    EXPECT_EQ(Shape(top), "'' A{A X} Twice Twice A{Foo} x    spaced c] open");
    EXPECT_EQ(Values(*top.subkeys[1]->subkeys[1]), "[\\indented=v|");  // an indented key line is a value

    // What is not a tree file is refused.
    KeyNode header("t");
    EXPECT_NE(Read("REGEDIT4\n[\\HKEY_USERS]\n", header), 0);
    // Keys may nest as deep as the registry allows, and no deeper.
    std::string deep, path;
    for (int level = 1; level <= kMaxKeyDepth; ++level) {
        path += "\\k" + std::to_string(level);
        deep += "[" + path + "]\n";
    }
    KeyNode ok("t");
    EXPECT_EQ(Read(deep, ok), 0);
    KeyNode tooDeep("t");
    EXPECT_NE(Read(deep + "[" + path + "\\more]\n", tooDeep), 0);
}

TEST_F(TreeFileTest, FileErrorsCarryTheReasonAndTheName) {
    const std::string missing = (dir / "missing.qvf").string();
    try {
        CStdioFile file(missing, CStdioFile::modeRead | CStdioFile::typeText);
        FAIL() << "opened a missing file";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
        EXPECT_NE(e.GetErrorMessage().find(missing), std::string::npos);
        EXPECT_NE(e.GetErrorMessage().find("No such file"), std::string::npos);
    }
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

#ifndef _WIN32
// Saving over a file writes a temporary file beside it and renames it over
// the file only when complete: a write that fails part way (here the file
// size limit) leaves the old file whole and no temporary file behind.
TEST_F(TreeFileTest, ReplacingAFileKeepsTheOldOneUntilTheNewOneIsWhole) {
    const std::string path = (dir / "kept.qvf").string();
    std::ofstream(path, std::ios::binary) << kExampleFile;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const auto replace = [&](const std::string& text) {
        CStdioFile out(path, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::modeReplace |
                                 CStdioFile::typeText);
        out.WriteString(text);
        out.Close();
    };
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            replace(std::string(100000, 'x'));
        } catch (const CFileException&) {
            _exit(0);
        }
        _exit(1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failed write was not reported";
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kExampleFile);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    replace("[\\K]\n");
    std::ifstream again(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), "[\\K]\r\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    if (geteuid() != 0) {  // a file its owner made read-only is not replaced (root may write anything)
        fs::permissions(path, fs::perms::owner_read);
        EXPECT_THROW(replace("x"), CFileException);
    }
}
#endif

// Progress says how far where the whole is known, and guesses the time left
// only once the guess has settled; reading a tree file goes by its bytes.
TEST_F(TreeFileTest, ProgressSaysHowFarWhereTheWholeIsKnown) {
    const struct {
        std::size_t keys;
        std::uint64_t done, total;
        double seconds;
        const char* text;
    } cases[] = {
        {1, 0, 0, 5, "1 key read"},
        {1234567, 0, 0, 5, "1,234,567 keys read"},
        {10, 50, 100, 0.5, "50% (10 keys read)"},
        {10, 50, 100, 2.5, "50% (10 keys read), about 3 s left"},
        {10, 10, 1000, 100, "1% (10 keys read), about 165 min left"},
        {10, 5, 1000, 3, "0% (10 keys read)"},
        {10, 100, 100, 3, "100% (10 keys read)"},
    };
    for (const auto& c : cases) EXPECT_EQ(ProgressText(c.keys, c.done, c.total, c.seconds), c.text) << c.text;

    struct CRecorder : IProgress {
        std::vector<std::uint64_t> done;
        std::uint64_t total = 0;
        bool Step(std::size_t) override { return true; }
        bool StepOf(std::size_t, std::uint64_t d, std::uint64_t t) override {
            done.push_back(d);
            total = t;
            return true;
        }
    } progress;
    const std::string bytes = "[\\HKEY_LOCAL_MACHINE]\r\n[\\HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"1\"\r\n"
                              "[\\HKEY_LOCAL_MACHINE\\B]\r\n\"big\"=\"" + std::string(200000, 'x') +
                              "\"\r\n[\\HKEY_LOCAL_MACHINE\\C]\r\n";
    std::ofstream(dir / "in.qvf", std::ios::binary) << bytes;
    CStdioFile file((dir / "in.qvf").string(), CStdioFile::modeRead | CStdioFile::typeText);
    KeyNode top("in.qvf");
    ASSERT_EQ(ReadTreeFile(&top, file, &progress), 0);
    EXPECT_EQ(progress.total, bytes.size());
    EXPECT_EQ(progress.done, (std::vector<std::uint64_t>{23, 48, 82, bytes.size()})) << "the bytes read at each key";
}

}  // namespace
}  // namespace qv
