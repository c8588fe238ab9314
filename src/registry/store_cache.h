// What the store remembers of the tree between calls: a key's subkey and
// value snapshots, subkey lists by parent, subkeys found by name, and value
// lists read ahead for the subkeys that follow. Plain data, no SQLite: the
// reading that fills it is in store_cache.cpp. Private to the store.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/registry_types.h"

namespace qv::store {

// Orders like SQLite's comparison of folded names: bytes, then length.
inline int CompareFolded(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i] >= 'A' && a[i] <= 'Z' ? a[i] - 'A' + 'a' : a[i]);
        const auto y = static_cast<unsigned char>(b[i] >= 'A' && b[i] <= 'Z' ? b[i] - 'A' + 'a' : b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A key's subkeys or values as they were at one generation of the key,
// so that enumerating by index costs one lookup per call, not a query that
// skips `index` rows.
struct ChildList {
    struct Entry {
        std::int64_t id;
        std::size_t nameAt;
        std::size_t nameLength;
        std::size_t classAt;
        std::size_t classLength;
        std::int64_t written;
        // The subkey's generation at which it had no subkeys, -1 when it
        // had some: a leaf opened next needs no query for its subkeys.
        std::int64_t noSubkeysAt;
    };
    std::int64_t generation = 0;
    // The change stamp it was read at. Only then may it serve other handles
    // and opens: a list kept for its generation may have stale last-write
    // times, and a subkey's subkeys may change without the generation moving.
    std::uint64_t readAt = 0;
    std::string text;
    std::vector<Entry> entries;

    std::string_view Name(const Entry& entry) const { return {text.data() + entry.nameAt, entry.nameLength}; }
    const Entry* Find(std::string_view name) const {
        std::size_t low = 0, high = entries.size();
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            const int order = CompareFolded(Name(entries[middle]), name);
            if (order == 0) return &entries[middle];
            if (order < 0) low = middle + 1;
            else high = middle;
        }
        return nullptr;
    }
};

struct ValueList {
    struct Entry {
        std::int64_t id;
        std::size_t nameAt;
        std::size_t nameLength;
        DWORD type;
        std::uint64_t size;
        std::size_t dataAt;
        bool inlined;
    };
    std::int64_t generation = 0;
    std::uint64_t stamp = 0;  // the change stamp at which it was last known current
    std::string bytes;
    std::vector<Entry> entries;
};

struct KeyCache {
    // Shared with the path cache, so its stamp is kept here.
    std::shared_ptr<const ChildList> children;
    std::uint64_t childrenStamp = 0;
    std::unique_ptr<ValueList> values;
    void Clear() {
        children.reset();
        values.reset();
    }
};

// A subkey's place: its parent's id and its folded name. The view form lets
// the cache be searched without building a string.
struct ChildName {
    std::int64_t parent;
    std::string fold;
};
struct ChildNameView {
    std::int64_t parent;
    std::string_view fold;
};
struct ChildNameHash {
    using is_transparent = void;
    std::size_t operator()(const ChildNameView& name) const noexcept {
        return std::hash<std::string_view>{}(name.fold) ^
               (static_cast<std::size_t>(name.parent) * 0x9E3779B97F4A7C15ull);
    }
    std::size_t operator()(const ChildName& name) const noexcept {
        return (*this)(ChildNameView{name.parent, name.fold});
    }
};
struct ChildNameEqual {
    using is_transparent = void;
    static ChildNameView View(const ChildName& name) { return {name.parent, name.fold}; }
    static ChildNameView View(const ChildNameView& name) { return name; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
        const ChildNameView x = View(a), y = View(b);
        return x.parent == y.parent && x.fold == y.fold;
    }
};

// What was read of the tree, good while the change stamp stays at `stamp`:
// a loader opens every key by its full path, and each step would otherwise
// be a query. Whole subkey lists by parent id, and subkeys found one by one.
struct KnownTree {
    std::unordered_map<std::int64_t, std::shared_ptr<const ChildList>> listed;
    std::size_t listedEntries = 0;
    std::unordered_map<ChildName, std::int64_t, ChildNameHash, ChildNameEqual> found;
    std::uint64_t stamp = 0;
    // Value lists read ahead for the subkeys of a parent from the one asked
    // for on, in their order, each taken by the handle that enumerates it;
    // good at `stamp`. One window for each level of a walk down the tree.
    struct ReadAhead {
        std::int64_t parent = 0;
        std::vector<std::pair<std::int64_t, std::unique_ptr<ValueList>>> lists;
        std::size_t next = 0;  // where the next key is looked for first
        std::size_t left = 0;  // lists not taken yet
    };
    std::vector<ReadAhead> windows;  // oldest first; none used up
    // The last key whose values were read, and its parent.
    std::int64_t lastValuesKey = 0, lastValuesParent = 0;

    void Forget() {
        listed.clear();
        listedEntries = 0;
        found.clear();
        windows.clear();
    }
    // Whether what is known may be used at change stamp `now`; forgotten
    // first when something was written since it was read. `now` must be
    // read before the file is asked, so that a write in between makes what
    // is read stale rather than wrong.
    bool Usable(std::uint64_t now) {
        if (now == 0) return false;
        if (now != stamp) {
            Forget();
            stamp = now;
        }
        return true;
    }
    void RememberList(std::uint64_t now, std::int64_t parent, const std::shared_ptr<const ChildList>& list);
    // Hands key `id` (a subkey of `parent`) its values read ahead at stamp
    // `now`, if they were.
    bool TakeReadAhead(std::int64_t id, std::int64_t parent, KeyCache& cache, std::uint64_t now);
};

}  // namespace qv::store
