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

struct _TREEITEM;
using HTREEITEM = _TREEITEM*;

namespace qv {

// One value as a fixed record. Type 1 (REG_SZ) holds zero-terminated text in
// `data`, type 4 (REG_DWORD) a native-order 32-bit number in its first four
// bytes, anything else raw bytes. `cbData` is the length the registry reported
// for a loaded value; writes of types other than REG_SZ and REG_DWORD use it so
// binary data is never cut at a zero byte.
struct ValueEntry {
    static constexpr std::size_t kFieldSize = 256;
    static constexpr std::size_t kMaxText = kFieldSize - 1;

    DWORD type = 0;
    BYTE data[kFieldSize] = {};
    char name[kFieldSize] = {};
    DWORD cbData = 0;

    ValueEntry() = default;
    // `name` may be null; `data` points to text (type 1), to a 32-bit number
    // (type 4), or is null. Texts keep their first 255 bytes, never cut
    // inside a UTF-8 sequence.
    ValueEntry(const char* name, DWORD type, const void* data);

    std::string_view Name() const;
    std::string_view Text() const;  // `data` read as a zero-terminated string
    DWORD Number() const;
    // Bytes to hand to RegSetValueExA: 4 for REG_DWORD, text plus terminator
    // for REG_SZ, the stored length for everything else.
    DWORD WriteSize() const;
};

// The longest prefix of `src` of at most `limit` bytes that does not end
// inside a UTF-8 sequence.
std::size_t Utf8SafeLength(std::string_view src, std::size_t limit);

// Copies at most 255 bytes of `src` into a 256-byte field, zero-terminated,
// without splitting a UTF-8 sequence.
void CopyField(char* dest, std::string_view src);

class KeyNode {
public:
    explicit KeyNode(std::string name);
    virtual ~KeyNode();  // frees the whole subtree, iteratively

    KeyNode(const KeyNode&) = delete;
    KeyNode& operator=(const KeyNode&) = delete;

    KeyNode* parent = nullptr;
    HTREEITEM treeItem = nullptr;
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
KeyNode* FindParent(KeyNode* start, std::string_view keyLine);
std::uint32_t ParseHex(std::string_view text);

// The deepest level a key may have below the top node, as in the registry.
constexpr int kMaxKeyDepth = 512;

}  // namespace qv
