// Keys: names, order, paths, limits, creation and deletion.
#include "tests/conformance/conformance.h"

namespace qv::conformance {
namespace {

using Names = std::vector<std::string>;

TEST_F(RegistryConformance, KeyNamesIgnoreCaseAndKeepTheirFirstSpelling) {
    DWORD disposition = 0;
    Create(Scratch(), "MixedCase", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
    Create(Scratch(), "MIXEDCASE\\Child", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});  // the child is new, its parent is not
    Create(Scratch(), "mixedcase", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
    EXPECT_TRUE(Exists(Scratch(), "mIxEdCaSe\\CHILD"));
    EXPECT_EQ(Subkeys(Scratch()), Names{"MixedCase"});
    HKEY parent = Create(Scratch(), "mixedcase");
    EXPECT_EQ(Subkeys(parent), Names{"Child"});
}

TEST_F(RegistryConformance, SubkeysEnumerateSortedIgnoringCase) {
    for (const char* name : {"delta", "Bravo", "alpha", "Charlie", "bravo2", "ALPHA2", "a1", "9"})
        Create(Scratch(), name);
    if (!Traits().sortsSubkeys) {
        EXPECT_EQ(Subkeys(Scratch()), (Names{"delta", "Bravo", "alpha", "Charlie", "bravo2", "ALPHA2", "a1", "9"}));
        return;
    }
    EXPECT_EQ(Subkeys(Scratch()),
              (Names{"9", "a1", "alpha", "ALPHA2", "Bravo", "bravo2", "Charlie", "delta"}));

    // The characters between 'Z' and 'a' tell which way names are folded.
    HKEY punct = Create(Scratch(), "punct");
    for (const char* name : {"_under", "Zed", "[bracket", "apple"}) Create(punct, name);
    if (Traits().foldsToLowerCase)
        EXPECT_EQ(Subkeys(punct), (Names{"[bracket", "_under", "apple", "Zed"}));
    else
        EXPECT_EQ(Subkeys(punct), (Names{"apple", "Zed", "[bracket", "_under"}));
}

// One handle enumerates what another one changes between its calls.
TEST_F(RegistryConformance, EnumerationSeesChangesMadeMeanwhile) {
    HKEY reader = Create(Scratch(), "list");
    HKEY writer = Create(Scratch(), "list");
    Create(writer, "m");
    std::string name;
    ASSERT_EQ(EnumKey(reader, 0, 16, &name), 0);
    EXPECT_EQ(name, "m");
    Create(writer, "a");
    ASSERT_EQ(EnumKey(reader, Traits().sortsSubkeys ? 0 : 1, 16, &name), 0);
    EXPECT_EQ(name, "a");
    ASSERT_EQ(Reg().RegDeleteKeyA(writer, "a"), ERROR_SUCCESS);
    ASSERT_EQ(Reg().RegDeleteKeyA(writer, "m"), ERROR_SUCCESS);
    EXPECT_EQ(EnumKey(reader, 0), ERROR_NO_MORE_ITEMS);

    std::string big(10000, 'b');
    ASSERT_EQ(SetValue(writer, "one", REG_BINARY, big), 0);
    EXPECT_EQ(Values(reader), Names{"one"});
    big[0] = 'c';
    ASSERT_EQ(SetValue(writer, "one", REG_BINARY, big), 0);
    EXPECT_TRUE(ValueAt(reader, 0).data == big);
    ASSERT_EQ(SetValue(writer, "two", REG_SZ, std::string("text", 5)), 0);
    EXPECT_EQ(Values(reader), (Names{"one", "two"}));
    ASSERT_EQ(Reg().RegDeleteValueA(writer, "one"), 0);
    EXPECT_EQ(Values(reader), Names{"two"});
}

TEST_F(RegistryConformance, CreateMakesMissingIntermediateKeys) {
    DWORD disposition = 0;
    char keyClass[] = "Cls";
    HKEY leaf = nullptr;
    ASSERT_EQ(Reg().RegCreateKeyExA(Scratch(), "one\\two\\three", 0, keyClass, REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &leaf, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
    Close(leaf);
    HKEY one = Create(Scratch(), "one");
    HKEY two = Create(one, "two");
    EXPECT_EQ(Subkeys(one), Names{"two"});
    EXPECT_EQ(Subkeys(two), Names{"three"});

    // The class belongs to the key asked for, not to the ones made on the way.
    if (!Traits().keepsClassNames) return;
    char name[16], got[16];
    DWORD nameLength = sizeof name, classLength = sizeof got;
    ASSERT_EQ(Reg().RegEnumKeyExA(two, 0, name, &nameLength, nullptr, got, &classLength, nullptr), 0);
    EXPECT_EQ(std::string(got, classLength), "Cls");
    nameLength = sizeof name, classLength = sizeof got;
    ASSERT_EQ(Reg().RegEnumKeyExA(one, 0, name, &nameLength, nullptr, got, &classLength, nullptr), 0);
    EXPECT_EQ(classLength, 0u);

    Create(Scratch(), "one\\two\\three", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
}

TEST_F(RegistryConformance, PathSyntax) {
    HKEY key = nullptr;
    // A leading backslash is refused by create and open alike.
    EXPECT_EQ(CreateStatus(Scratch(), "\\lead"), kErrorBadPathname);
    EXPECT_EQ(Open(Scratch(), "\\lead", KEY_READ, &key), kErrorBadPathname);
    // A trailing backslash, or a doubled one, separates as a single one does.
    Create(Scratch(), "trail\\");
    EXPECT_TRUE(Exists(Scratch(), "trail\\"));
    Create(Scratch(), "x\\\\y");
    EXPECT_TRUE(Exists(Scratch(), "x\\y"));
    EXPECT_TRUE(Exists(Scratch(), "X\\\\Y"));
    EXPECT_EQ(Subkeys(Create(Scratch(), "x")), Names{"y"});
    EXPECT_EQ(Subkeys(Scratch()), (Names{"trail", "x"}));

    // An empty or missing path opens the key itself.
    for (const char* same : {"", static_cast<const char*>(nullptr)}) {
        ASSERT_EQ(Open(Scratch(), same, KEY_READ, &key), ERROR_SUCCESS);
        EXPECT_EQ(Subkeys(key), (Names{"trail", "x"}));
    }
    EXPECT_EQ(Open(Scratch(), "absent", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(Scratch(), "x\\absent", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, KeyAndValueNameLengthLimits) {
    const std::string longest(Traits().maxKeyNameLength, 'k');
    Create(Scratch(), longest);
    std::string name;
    ASSERT_EQ(EnumKey(Scratch(), 0, static_cast<DWORD>(longest.size() + 1), &name), ERROR_SUCCESS);
    EXPECT_EQ(name, longest);
    const std::string tooLong = longest + "k";
    EXPECT_EQ(CreateStatus(Scratch(), tooLong), Traits().keyNameTooLongStatus);
    // Wine (and Windows, which creates one level at a time) may leave "a"
    // behind here; the store makes nothing.
    EXPECT_EQ(CreateStatus(Scratch(), "a\\" + tooLong), Traits().keyNameTooLongStatus);
    EXPECT_FALSE(Exists(Scratch(), tooLong));

    const std::string longestValue(Traits().maxValueNameLength, 'v');
    EXPECT_EQ(SetValue(Scratch(), longestValue.c_str(), REG_SZ, std::string("x", 2)), ERROR_SUCCESS);
    EXPECT_EQ(FindValue(Scratch(), longestValue).status, ERROR_SUCCESS);
    EXPECT_EQ(SetValue(Scratch(), (longestValue + "v").c_str(), REG_SZ, std::string("x", 2)),
              Traits().valueNameTooLongStatus);
    EXPECT_EQ(Values(Scratch()).size(), 1u);
}

TEST_F(RegistryConformance, KeysNestToTheDepthLimit) {
    if (Traits().maxKeyDepth == 0) GTEST_SKIP() << "no depth limit on this back end";
    std::size_t depth = 1;  // the scratch key's own depth below the root
    for (const char c : ScratchPath()) depth += c == '\\';
    ASSERT_LT(depth, Traits().maxKeyDepth);
    // Windows makes at most 32 levels in one call.
    HKEY deepest = Scratch();
    while (depth < Traits().maxKeyDepth) {
        std::string path = "d";
        for (int level = 1; level < 30 && depth + level < Traits().maxKeyDepth; ++level) path += "\\d";
        depth += (path.size() + 1) / 2;
        deepest = Create(deepest, path);
        ASSERT_NE(deepest, nullptr);
    }
    EXPECT_EQ(CreateStatus(deepest, "deeper"), Traits().keyTooDeepStatus);
    EXPECT_TRUE(Subkeys(deepest).empty());
    EXPECT_EQ(SetValue(deepest, "v", REG_DWORD, std::string(4, '\1')), ERROR_SUCCESS);
}

TEST_F(RegistryConformance, DeleteKeyRules) {
    Create(Scratch(), "parent\\child");
    EXPECT_EQ(Reg().RegDeleteKeyA(Scratch(), "parent"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Exists(Scratch(), "parent\\child"));
    EXPECT_EQ(Reg().RegDeleteKeyA(Scratch(), "absent"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Reg().RegDeleteKeyA(Scratch(), "parent\\absent"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Reg().RegDeleteKeyA(Scratch(), nullptr), ERROR_INVALID_PARAMETER);

    // A path deletes its last key only; case does not matter.
    EXPECT_EQ(Reg().RegDeleteKeyA(Scratch(), "PARENT\\CHILD"), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(Scratch(), "parent"));
    SetValue(Create(Scratch(), "parent"), "v", REG_SZ, std::string("x", 2));
    EXPECT_EQ(Reg().RegDeleteKeyA(Scratch(), "parent"), ERROR_SUCCESS) << "values do not hold a key";
    EXPECT_TRUE(Subkeys(Scratch()).empty());

    // An empty path deletes the handle's own key.
    HKEY self = Create(Scratch(), "self");
    EXPECT_EQ(Reg().RegDeleteKeyA(self, ""), ERROR_SUCCESS);
    EXPECT_FALSE(Exists(Scratch(), "self"));
}

}  // namespace
}  // namespace qv::conformance
