#include <gtest/gtest.h>

#include <cstring>

#include "model/key_node.h"

namespace qv {
namespace {

TEST(ParseHex, DigitsCaseAndGarbage) {
    EXPECT_EQ(ParseHex(""), 0u);
    EXPECT_EQ(ParseHex("1a"), 26u);
    EXPECT_EQ(ParseHex("1A"), 26u);
    EXPECT_EQ(ParseHex("0000001d"), 29u);
    EXPECT_EQ(ParseHex("ffffffff"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseHex("12G"), 0u);
    EXPECT_EQ(ParseHex(" 1"), 0u);
    EXPECT_EQ(ParseHex("0x1"), 0u);
    EXPECT_EQ(ParseHex("-1"), 0u);
    // Nine digits: the first is shifted out.
    EXPECT_EQ(ParseHex("912345678"), 0x12345678u);
}

TEST(RootHandle, ExactNamesOnly) {
    EXPECT_EQ(RootHandle("HKEY_CURRENT_CONFIG"), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(RootHandle("HKEY_PERFORMANCE_DATA"), HKEY_PERFORMANCE_DATA);
    EXPECT_EQ(RootHandle("hkey_current_config"), nullptr);
    EXPECT_EQ(RootHandle(""), nullptr);
    EXPECT_EQ(RootHandle("HKEY_CURRENT_CONFIG "), nullptr);
}

struct SmallTree {
    KeyNode top{"local_computer"};
    KeyNode* hklm = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_LOCAL_MACHINE"));
    KeyNode* a = hklm->AppendSubkey(std::make_unique<KeyNode>("A"));
    KeyNode* b = a->AppendSubkey(std::make_unique<KeyNode>("B"));
    KeyNode* other = top.AppendSubkey(std::make_unique<KeyNode>("Elsewhere"));
    KeyNode* below = other->AppendSubkey(std::make_unique<KeyNode>("x"));
};

TEST(PathOf, RootsAndPaths) {
    SmallTree t;
    HKEY root = nullptr;
    std::string path = "stale";
    PathOf(t.b, root, path);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(path, "A\\B");

    PathOf(t.hklm, root = nullptr, path);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(path, "");

    // The top node leaves the caller's root alone.
    root = HKEY_USERS;
    PathOf(&t.top, root, path);
    EXPECT_EQ(root, HKEY_USERS);
    EXPECT_EQ(path, "");

    // A level-1 name outside the root table has no registry location.
    root = nullptr;
    PathOf(t.below, root, path);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(path, "x");
}

TEST(LeafName, KeyLines) {
    EXPECT_EQ(LeafName("[\\HKEY_LOCAL_MACHINE\\SOFTWARE]"), "SOFTWARE");
    EXPECT_EQ(LeafName("[HKEY_LOCAL_MACHINE]"), "");
    EXPECT_EQ(LeafName("[\\A\\   spaced]"), "spaced");
    EXPECT_EQ(LeafName("[\\A\\]"), "");
    EXPECT_EQ(LeafName("[\\A\\b]]"), "b]");
    EXPECT_EQ(LeafName("[\\A\\b"), "b");
}

TEST(FindParent, FollowsTheChainOfLastSubkeys) {
    KeyNode top("file");
    KeyNode* r = top.AppendSubkey(std::make_unique<KeyNode>("R"));
    KeyNode* a = r->AppendSubkey(std::make_unique<KeyNode>("A"));
    EXPECT_EQ(FindParent(&top, "[\\R\\A\\X]"), a);
    EXPECT_EQ(FindParent(&top, "[\\R\\X]"), r);

    // Once A is no longer R's last subkey, it is not found.
    KeyNode* d = r->AppendSubkey(std::make_unique<KeyNode>("D"));
    EXPECT_EQ(FindParent(&top, "[\\R\\A\\X]"), nullptr);
    // ... unless a node named A lies on D's chain.
    KeyNode* a2 = d->AppendSubkey(std::make_unique<KeyNode>("A"));
    EXPECT_EQ(FindParent(&top, "[\\R\\A\\X]"), a2);

    // Case counts.
    EXPECT_EQ(FindParent(&top, "[\\r\\X]"), nullptr);
    // A level-1 line looks for the empty name (what a "[]" line creates).
    EXPECT_EQ(FindParent(&top, "[\\HKEY_USERS]"), nullptr);
}

TEST(ValueEntry, Construction) {
    const DWORD n = 29;
    ValueEntry number("Size", REG_DWORD, &n);
    EXPECT_EQ(number.type, REG_DWORD);
    EXPECT_EQ(number.Number(), 29u);
    EXPECT_EQ(number.WriteSize(), 4u);

    ValueEntry text("Title", REG_SZ, "x y");
    EXPECT_EQ(text.Text(), "x y");
    EXPECT_EQ(text.Name(), "Title");
    EXPECT_EQ(text.WriteSize(), 4u);

    ValueEntry other("v", 7, "ignored");
    EXPECT_EQ(other.type, 7u);
    EXPECT_EQ(other.Text(), "");
    EXPECT_EQ(other.Name(), "v");

    const std::string longName(300, 'n');
    ValueEntry cut(longName.c_str(), REG_SZ, longName.c_str());
    EXPECT_EQ(cut.Name(), longName.substr(0, 255));
    EXPECT_EQ(cut.Text(), longName.substr(0, 255));

    // Null data leaves the data field alone.
    ValueEntry bare("b", REG_SZ, nullptr);
    EXPECT_EQ(bare.Text(), "");
}

TEST(ValueEntry, CutsNeverSplitUtf8) {
    // 254 ASCII bytes then a two-byte "é": the cut at 255 would split it.
    std::string name(254, 'a');
    name += "\xC3\xA9";
    ValueEntry e(name.c_str(), REG_SZ, name.c_str());
    EXPECT_EQ(e.Name(), std::string(254, 'a'));
    EXPECT_EQ(e.Text(), std::string(254, 'a'));

    // A three-byte character ending exactly at 255 is kept whole.
    std::string fits(252, 'a');
    fits += "\xE2\x82\xAC";  // euro sign
    fits += "tail";
    ValueEntry f(fits.c_str(), REG_SZ, nullptr);
    EXPECT_EQ(f.Name(), fits.substr(0, 255));

    // Bytes that are not UTF-8 are cut where they stand.
    std::string latin(300, '\xE9');
    ValueEntry g(latin.c_str(), REG_SZ, nullptr);
    EXPECT_EQ(g.Name().size(), 255u);
}

TEST(ValueEntry, BinaryWritesItsStoredLength) {
    ValueEntry e;
    e.type = REG_BINARY;
    const BYTE bytes[] = {1, 0, 2, 0, 3};
    std::memcpy(e.data, bytes, sizeof bytes);
    e.cbData = sizeof bytes;
    EXPECT_EQ(e.WriteSize(), 5u);
}

TEST(KeyNode, DeepAndWideTreesAreDestroyedWithoutRecursion) {
    // Far deeper than any accepted tree: a recursive destructor would
    // exhaust the stack here.
    auto top = std::make_unique<KeyNode>("top");
    KeyNode* cur = top.get();
    for (int i = 0; i < 300000; ++i) {
        cur->AppendValue(std::make_unique<ValueEntry>("v", REG_SZ, "x"));
        cur = cur->AppendSubkey(std::make_unique<KeyNode>("k"));
    }
    for (int i = 0; i < 1000; ++i) top->AppendSubkey(std::make_unique<KeyNode>("w"));
    top.reset();
    SUCCEED();
}

TEST(KeyNode, ClearKeepsTheNodeAttached) {
    SmallTree t;
    t.a->AppendValue(std::make_unique<ValueEntry>("v", REG_SZ, "x"));
    t.a->Clear();
    EXPECT_FALSE(t.a->IsLoaded());
    ASSERT_EQ(t.hklm->subkeys.size(), 1u);
    EXPECT_EQ(t.hklm->subkeys[0].get(), t.a);
    EXPECT_EQ(t.a->Level(), 2);

    auto detached = t.top.DetachSubkey(t.hklm);
    ASSERT_NE(detached, nullptr);
    EXPECT_EQ(t.top.subkeys.size(), 1u);
    EXPECT_EQ(t.top.subkeys[0]->name, "Elsewhere");
}

}  // namespace
}  // namespace qv
