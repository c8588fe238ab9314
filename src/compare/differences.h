// Every difference between two keys at once, both ways: what only the Master
// has, what only the Slave has, values whose type or data differ. Names are
// matched exactly (as the step-by-step Compare and the undo journal match
// them) or whatever their case, as the registry itself matches them (the
// differences list, its report and patch, quorvane-reg's compare); REG_SZ
// data is compared as text, everything else byte for byte.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "compare/ignore_list.h"
#include "model/key_node.h"

namespace qv {

enum class DiffKind {
    kKeyOnlyInMaster,
    kKeyOnlyInSlave,
    kValueOnlyInMaster,
    kValueOnlyInSlave,
    kTypeDiffers,
    kDataDiffers,
    // One key or value to the registry, spelled in another case on each
    // side (names matched whatever their case); what lies below it is
    // compared as usual.
    kNameCase,
    kSameKey,    // only with DiffOptions::reportSame
    kSameValue,  // likewise
};

struct Difference {
    DiffKind kind;
    // The key the entry is in, below the compared keys ("" for them; joined
    // with '\'), as the Master spells it where it has the key.
    std::string_view path;
    // The same path as the Slave spells it where it has the key.
    std::string_view slavePath;
    // Key kinds: the key on each side, null on the side without it; value
    // kinds: the keys holding the values.
    const KeyNode* masterKey = nullptr;
    const KeyNode* slaveKey = nullptr;
    // Value kinds: the value on each side, null on the side without it.
    const ValueEntry* master = nullptr;
    const ValueEntry* slave = nullptr;
};

// How names are matched: exactly, ASCII letters in either case (the store
// and the network service, like the registry's 8-bit calls), or letters of
// every script in either case (registries kept in files, as Windows does).
enum class NameMatch { kExact, kAscii, kAnyScript };

struct DiffOptions {
    NameMatch names = NameMatch::kExact;
    bool recurse = true;     // the whole subtrees, not only the compared keys' own entries
    bool reportSame = false; // equal keys and values too (in walk order), for listings
    // Only the value of this name (case ignored), in the compared keys alone.
    bool oneValue = false;
    std::string valueName;
    // Left out of the compare, matched against `masterPath` + path.
    const CIgnoreList* ignore = nullptr;
    std::string masterPath;  // "HKEY_LOCAL_MACHINE\SOFTWARE\..." of the Master key
    // Called as each pair of keys is entered; false stops the walk (a
    // background run's Cancel, its progress count).
    std::function<bool()> keyEntered;
};

// Called for each difference in walk order: per key, the Master's values in
// their order, then values only the Slave has, then the Master's subkeys
// (each matched one followed by its own subtree), then subkeys only the
// Slave has. Returns false to stop.
using DiffSink = std::function<bool(const Difference&)>;

// Whether a difference is about a value (else about a key).
inline bool IsValueDifference(DiffKind kind, const ValueEntry* master, const ValueEntry* slave) {
    if (kind == DiffKind::kNameCase) return master != nullptr || slave != nullptr;
    return kind != DiffKind::kKeyOnlyInMaster && kind != DiffKind::kKeyOnlyInSlave && kind != DiffKind::kSameKey;
}

// One difference, kept with the names it was found under.
struct DiffRow {
    DiffKind kind;
    std::string path;       // below the compared keys
    std::string slavePath;  // as the Slave spells it
    const KeyNode* masterKey = nullptr;
    const KeyNode* slaveKey = nullptr;
    const ValueEntry* master = nullptr;
    const ValueEntry* slave = nullptr;

    Difference View() const { return {kind, path, slavePath, masterKey, slaveKey, master, slave}; }
    bool IsValue() const { return IsValueDifference(kind, master, slave); }
    std::string ValueName() const;
};

constexpr std::size_t kDiffKinds = 7;  // the kinds before kSameKey

// Returns false when the sink stopped the walk.
bool DiffTrees(const KeyNode& master, const KeyNode& slave, const DiffOptions& options, const DiffSink& sink);

const char* DiffKindName(DiffKind kind);  // "key only in Master", ...

}  // namespace qv
