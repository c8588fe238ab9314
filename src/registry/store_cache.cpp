// Reading the tree through the snapshots: paths, subkey lists and value
// lists, each answered from memory while the change stamp says nothing was
// committed since it was read, and from the file otherwise. Nothing here
// writes to the file.
#include <optional>

#include "registry/store_internal.h"

namespace qv::store {

void KnownTree::RememberList(std::uint64_t now, std::int64_t parent, const std::shared_ptr<const ChildList>& list) {
    // A bound on memory for huge registries; the cache fills up again.
    constexpr std::size_t kMaxListedEntries = std::size_t{1} << 18;
    // Empty lists are many (every leaf) and spare no query when opening.
    if (list->entries.empty() || list->readAt != now || !Usable(now)) return;
    if (listed.contains(parent)) return;
    if (listedEntries + list->entries.size() > kMaxListedEntries) {
        listed.clear();
        listedEntries = 0;
    }
    listed.emplace(parent, list);
    listedEntries += list->entries.size();
}

bool KnownTree::TakeReadAhead(std::int64_t id, std::int64_t parent, KeyCache& cache, std::uint64_t now) {
    if (!Usable(now)) return false;
    for (auto window = windows.begin(); window != windows.end(); ++window) {
        if (window->parent != parent) continue;
        const std::size_t count = window->lists.size();
        for (std::size_t i = 0; i < count; ++i) {
            auto& [key, list] = window->lists[(window->next + i) % count];
            if (key != id || list == nullptr) continue;
            cache.values = std::move(list);
            window->next = (window->next + i + 1) % count;
            if (--window->left == 0) windows.erase(window);
            return true;
        }
    }
    return false;
}

}  // namespace qv::store

namespace qv {

using namespace store;

void CStoreRegistry::Impl::DropCaches() {
    for (auto& cache : rootCaches) cache.Clear();
    for (auto& [value, handle] : handles) handle.cache.Clear();
    known.Forget();
}

// Follows `names` from `from` as far as they exist. A key that still has
// a child is alive (keys with subkeys cannot be deleted), so the base key
// is checked only when its first child is missing. Steps through a
// subkey list or a subkey already found need no query.
LONG CStoreRegistry::Impl::Walk(const KeyRef& from, const std::vector<std::string_view>& names, WalkResult& walk) {
    walk = {};
    walk.id = from.id;
    walk.parent = from.parent;
    const std::uint64_t now = stamp.Current();
    const bool usable = known.Usable(now);
    std::optional<CRead> read;
    for (; walk.reached < names.size(); ++walk.reached) {
        const std::string_view name = names[walk.reached];
        std::int64_t child = 0, noSubkeysAt = -1;
        bool answered = false;
        if (usable) {
            if (const auto list = known.listed.find(walk.id); list != known.listed.end()) {
                answered = true;
                if (const ChildList::Entry* entry = list->second->Find(name)) {
                    child = entry->id;
                    noSubkeysAt = entry->noSubkeysAt;
                }
            } else {
                FoldInto(name, folded);
                if (const auto hit = known.found.find(ChildNameView{walk.id, folded}); hit != known.found.end()) {
                    answered = true;
                    child = hit->second;
                }
            }
        }
        if (!answered) {
            if (!read) read.emplace(*this);
            FoldInto(name, folded);
            if (const LONG status = FindChild(walk.id, folded, child); status != ERROR_SUCCESS) return status;
            if (child != 0 && usable) {
                if (known.found.size() >= (std::size_t{1} << 16)) known.found.clear();
                known.found.try_emplace(ChildName{walk.id, folded}, child);
            }
        }
        if (child == 0) break;
        walk.parent = walk.id;
        walk.id = child;
        walk.noSubkeysAt = noSubkeysAt;
    }
    if (walk.reached == 0 && !from.predefined) return KeyState(from.id, nullptr, nullptr, nullptr);
    return ERROR_SUCCESS;
}

// Makes the key's subkey snapshot current, going to the file only when
// something may have been committed since it was last checked. The list
// also serves opening the subkeys by path.
LONG CStoreRegistry::Impl::FreshChildren(const KeyRef& ref) {
    const std::uint64_t now = stamp.Current();
    KeyCache& cache = *ref.cache;
    if (cache.children != nullptr && now != 0 && cache.childrenStamp == now) {
        // Back in the path cache if it was emptied for room.
        known.RememberList(now, ref.id, cache.children);
        return ERROR_SUCCESS;
    }
    if (known.Usable(now)) {
        if (const auto list = known.listed.find(ref.id); list != known.listed.end()) {
            cache.children = list->second;
            cache.childrenStamp = now;
            return ERROR_SUCCESS;
        }
    }
    CRun run(listChildren);
    run.Int(1, ref.id);
    int rc = run.Step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return Fail(rc);
    const std::int64_t generation = run.Column(0);
    if (cache.children == nullptr || cache.children->generation != generation) {
        auto fresh = std::make_shared<ChildList>();
        fresh->generation = generation;
        fresh->readAt = now;
        for (; rc == SQLITE_ROW && !run.IsNull(1); rc = run.Step()) {
            const std::string_view name = run.ColumnBytes(2);
            const std::string_view keyClass = run.ColumnBytes(3);
            ChildList::Entry entry{run.Column(1),
                                   fresh->text.size(),
                                   name.size(),
                                   0,
                                   keyClass.size(),
                                   run.Column(4),
                                   run.Column(6) ? -1 : run.Column(5)};
            fresh->text.append(name);
            entry.classAt = fresh->text.size();
            fresh->text.append(keyClass);
            fresh->entries.push_back(entry);
        }
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc);
        cache.children = std::move(fresh);
    }
    cache.childrenStamp = now;
    known.RememberList(now, ref.id, cache.children);
    return ERROR_SUCCESS;
}

namespace {

// Appends the value in columns first.. (id, name, type, size, data or NULL).
void AppendValue(ValueList& list, const CRun& run, int first) {
    const std::string_view name = run.ColumnBytes(first + 1);
    ValueList::Entry entry{run.Column(first),
                           list.bytes.size(),
                           name.size(),
                           static_cast<DWORD>(run.Column(first + 2)),
                           static_cast<std::uint64_t>(run.Column(first + 3)),
                           0,
                           !run.IsNull(first + 4)};
    list.bytes.append(name);
    entry.dataAt = list.bytes.size();
    if (entry.inlined) list.bytes.append(run.ColumnBytes(first + 4));
    list.entries.push_back(entry);
}

}  // namespace

// Reads the values of the key and of the subkeys of its parent that
// follow it, whole keys up to about kReadAheadRows values or
// kReadAheadBytes: one query instead of one per key for a caller that
// goes through the subkeys in order. `now` is not 0.
LONG CStoreRegistry::Impl::ReadValuesAhead(const KeyRef& ref, std::uint64_t now) {
    constexpr std::size_t kReadAheadRows = 2048;
    constexpr std::size_t kReadAheadBytes = std::size_t{1} << 20;
    constexpr std::size_t kMaxWindows = 8;
    auto& windows = known.windows;
    std::erase_if(windows, [&](const KnownTree::ReadAhead& window) { return window.parent == ref.parent; });
    if (windows.size() >= kMaxWindows) windows.erase(windows.begin());
    KnownTree::ReadAhead& window = windows.emplace_back();
    window.parent = ref.parent;
    CRun run(listSiblingValues);
    run.Int(1, ref.parent).Int(2, ref.id).Int(3, kInlineDataLimit);
    std::unique_ptr<ValueList> list;
    std::int64_t key = 0;
    std::size_t rows = 0, bytes = 0;
    int rc;
    while ((rc = run.Step()) == SQLITE_ROW) {
        if (run.Column(0) != key) {
            if (list != nullptr) {
                bytes += list->bytes.size();
                window.lists.emplace_back(key, std::move(list));
            }
            if (rows >= kReadAheadRows || bytes >= kReadAheadBytes) break;
            key = run.Column(0);
            list = std::make_unique<ValueList>();
            list->generation = run.Column(1);
            list->stamp = now;
        }
        ++rows;
        if (!run.IsNull(2)) AppendValue(*list, run, 2);
    }
    if (list != nullptr) window.lists.emplace_back(key, std::move(list));
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        windows.pop_back();
        return Fail(rc);
    }
    window.left = window.lists.size();
    // The key itself comes first, unless it was deleted.
    if (known.TakeReadAhead(ref.id, ref.parent, *ref.cache, now)) return ERROR_SUCCESS;
    windows.pop_back();
    return ERROR_KEY_DELETED;
}

LONG CStoreRegistry::Impl::FreshValues(const KeyRef& ref) {
    const std::uint64_t now = stamp.Current();
    ValueList* list = ref.cache->values.get();
    if (list != nullptr && now != 0 && list->stamp == now) return ERROR_SUCCESS;
    if (list == nullptr && now != 0 && ref.parent != 0) {
        // After its parent or a sibling: likely all the siblings follow.
        const bool walking = ref.parent == known.lastValuesKey || ref.parent == known.lastValuesParent;
        known.lastValuesKey = ref.id;
        known.lastValuesParent = ref.parent;
        if (known.TakeReadAhead(ref.id, ref.parent, *ref.cache, now)) return ERROR_SUCCESS;
        if (walking) return ReadValuesAhead(ref, now);
    }
    CRun run(listValues);
    run.Int(1, ref.id).Int(2, kInlineDataLimit);
    int rc = run.Step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return Fail(rc);
    const std::int64_t generation = run.Column(0);
    if (list == nullptr || list->generation != generation) {
        auto fresh = std::make_unique<ValueList>();
        fresh->generation = generation;
        for (; rc == SQLITE_ROW && !run.IsNull(1); rc = run.Step()) AppendValue(*fresh, run, 1);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc);
        list = fresh.get();
        ref.cache->values = std::move(fresh);
    }
    list->stamp = now;
    return ERROR_SUCCESS;
}

}  // namespace qv
