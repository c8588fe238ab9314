// One side's tree in memory: KeyNode per registry key, ValueEntry per value.
// Level 0 is the top node (the computer or the file), level 1 the root keys,
// ordinary keys below them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/registry_types.h"

namespace qv {

// One value: its name and its data as the registry holds them, whole, of any
// length. REG_SZ data is text followed by its terminating zero (Text() stops
// at the first zero), REG_DWORD a native-order 32-bit number, anything else
// raw bytes. A small value stays small: both strings keep short contents in
// place.
struct ValueEntry {
    DWORD type = 0;
    std::string name;
    std::string data;

    ValueEntry() = default;
    ValueEntry(std::string_view valueName, DWORD valueType, std::string bytes)
        : type(valueType), name(valueName), data(std::move(bytes)) {}
    // `name` may be null; `data` points to zero-terminated text (REG_SZ), to
    // a 32-bit number (REG_DWORD), or is null; any other type gets a single
    // zero byte.
    ValueEntry(const char* name, DWORD type, const void* data);

    std::string_view Name() const { return name; }
    std::string_view Text() const;  // the data up to its first zero byte
    DWORD Number() const;           // the first four bytes; missing ones are 0
    // REG_SZ: `text` and its terminator; REG_DWORD: the number.
    void SetText(std::string_view text);
    void SetNumber(DWORD number);
    // What to hand to RegSetValueExA: every byte held, and for a REG_SZ
    // without its terminating zero, a terminator.
    const BYTE* Bytes() const { return reinterpret_cast<const BYTE*>(data.c_str()); }
    DWORD WriteSize() const;
};

// The longest prefix of `src` of at most `limit` bytes that does not end
// inside a UTF-8 sequence.
std::size_t Utf8SafeLength(std::string_view src, std::size_t limit);

class KeyNode {
public:
    explicit KeyNode(std::string name);
    virtual ~KeyNode();  // frees the whole subtree, iteratively

    KeyNode(const KeyNode&) = delete;
    KeyNode& operator=(const KeyNode&) = delete;

    KeyNode* parent = nullptr;
    std::string name;
    std::vector<std::unique_ptr<KeyNode>> subkeys;
    std::vector<std::unique_ptr<ValueEntry>> values;

    // Sets the parent and appends; returns the child.
    KeyNode* AppendSubkey(std::unique_ptr<KeyNode> child);
    ValueEntry* AppendValue(std::unique_ptr<ValueEntry> entry);
    // Detaches `child` from `subkeys` (others keep their order) and hands it back.
    std::unique_ptr<KeyNode> DetachSubkey(KeyNode* child);
    // Destroys all values and all subkeys (with their subtrees).
    void Clear();

    bool IsLoaded() const { return !subkeys.empty() || !values.empty(); }
    // 0 for the top node, 1 for a root key, ...
    int Level() const;
};

// Root-key names in the order RootHandle tests them.
struct RootName {
    const char* name;
    HKEY handle;
};
extern const RootName kRootTable[7];

HKEY RootHandle(std::string_view name);
// Sets `path` to the node's path below its root key and, for a node at level 1
// or below, `root` to that root's handle. The caller nulls `root` first.
void PathOf(const KeyNode* node, HKEY& root, std::string& path);
std::string LeafName(std::string_view text);
// The names from the root key (level 1) down to `node`, joined by '\':
// "HKEY_LOCAL_MACHINE\SOFTWARE\..."; empty for the top node.
std::string KeyPathOf(const KeyNode* node);
// The key and every key below it, counted without recursion.
std::size_t CountKeys(const KeyNode& top);
KeyNode* FindParent(KeyNode* start, std::string_view keyLine);
std::uint32_t ParseHex(std::string_view text);

// Whether `name` can name a key of its own: not empty (an empty name opens
// the parent itself) and without a backslash (which would reach further down).
bool IsValidKeyName(std::string_view name);
// Names as the registry matches them: ASCII letters in either case.
bool SameName(std::string_view a, std::string_view b);

// The deepest level a key may have below the top node, as in the registry.
constexpr int kMaxKeyDepth = 512;

}  // namespace qv
