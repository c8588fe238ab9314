#include "compare/compare_walk.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "compare/name_index.h"
#include "res/resource.h"

namespace qv {

namespace {

// Compares the values of one pair of keys; false when a stop ended the walk.
// What the ignore list leaves of a key: its own path, whether a value or a
// subkey counts.
class CKept {
public:
    CKept(const CIgnoreList* ignore, const KeyNode* key) : m_ignore(ignore != nullptr && !ignore->Empty() ? ignore : nullptr) {
        if (m_ignore != nullptr) m_path = KeyPathOf(key);
    }
    bool Value(const ValueEntry& v) const { return m_ignore == nullptr || !m_ignore->IgnoresValue(m_path, v.Name()); }
    bool Key(const KeyNode& k) const { return m_ignore == nullptr || !m_ignore->IgnoresKey(m_path + '\\' + k.name); }
    std::size_t Values(const KeyNode& key) const {
        std::size_t n = 0;
        for (const auto& v : key.values) n += Value(*v);
        return n;
    }
    std::size_t Keys(const KeyNode& key) const {
        std::size_t n = 0;
        for (const auto& k : key.subkeys) n += Key(*k);
        return n;
    }

private:
    const CIgnoreList* m_ignore;
    std::string m_path;
};

bool CompareValues(KeyNode* slave, KeyNode* master, const WalkStop& stop, const CIgnoreList* ignore) {
    const CKept keptSlave(ignore, slave), keptMaster(ignore, master);
    if (keptMaster.Values(*master) != keptSlave.Values(*slave) && !stop(slave, 0, IDS_DIFF_VALUE_COUNT)) return false;
    ValueIndex index(master->values, &ValueName);
    for (std::size_t i = 0; i < slave->values.size(); ++i) {
        const ValueEntry& v = *slave->values[i];
        if (!keptSlave.Value(v)) continue;
        const int row = static_cast<int>(i);
        const std::ptrdiff_t found = index.Find(v.Name());
        if (found < 0) {
            if (!stop(slave, row, IDS_VALUE_MISSING)) return false;
            continue;
        }
        const ValueEntry& w = *master->values[static_cast<std::size_t>(found)];
        UINT difference = 0;
        if (v.type != w.type) difference = IDS_VALUE_TYPES_DIFFER;
        else if (!SameData(v, w)) difference = IDS_VALUES_DIFFER;
        if (difference != 0 && !stop(slave, row, difference)) return false;
    }
    return true;
}

}  // namespace

int CompareNodes(KeyNode* slave, KeyNode* master, const WalkStop& stop, const WalkLoad& loadSlave,
                 const WalkLoad& loadMaster, const CIgnoreList* ignore) {
    auto load = [&](KeyNode* s, KeyNode* m) {
        if (loadSlave) loadSlave(s);
        if (loadMaster) loadMaster(m);
    };
    // Depth first without recursion: a frame per pair of keys being walked.
    struct Frame {
        KeyNode* slave;
        KeyNode* master;
        std::size_t next = 0;
        std::unique_ptr<KeyIndex> index;
    };
    auto sameKeyCount = [ignore](const KeyNode* s, const KeyNode* m) {
        return CKept(ignore, m).Keys(*m) == CKept(ignore, s).Keys(*s);
    };
    load(slave, master);
    if (!CompareValues(slave, master, stop, ignore)) return 0;
    if (!sameKeyCount(slave, master) && !stop(slave, 0, IDS_DIFF_KEY_COUNT)) return 0;
    std::vector<Frame> stack;
    stack.push_back({slave, master, 0, std::make_unique<KeyIndex>(master->subkeys, &KeyName)});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.slave->subkeys.size()) {
            stack.pop_back();
            continue;
        }
        KeyNode* k = f.slave->subkeys[f.next++].get();
        if (!CKept(ignore, f.slave).Key(*k)) continue;
        const std::ptrdiff_t found = f.index->Find(k->name);
        if (found < 0) {
            if (!stop(k, 0, IDS_KEY_MISSING)) return 0;
            continue;
        }
        KeyNode* l = f.master->subkeys[static_cast<std::size_t>(found)].get();
        load(k, l);
        if (!CompareValues(k, l, stop, ignore)) return 0;
        if (!sameKeyCount(k, l) && !stop(k, 0, IDS_DIFF_KEY_COUNT)) return 0;
        stack.push_back({k, l, 0, std::make_unique<KeyIndex>(l->subkeys, &KeyName)});
    }
    return 1;
}

int FindIn(KeyNode* node, std::string_view text, bool matchNames, bool matchData, const WalkStop& stop,
           const WalkLoad& load) {
    struct Frame {
        KeyNode* node;
        std::size_t next = 0;
    };
    auto values = [&](KeyNode* n) {
        for (std::size_t i = 0; i < n->values.size(); ++i) {
            const int row = static_cast<int>(i);
            if (matchData && n->values[i]->Text() == text && !stop(n, row, IDS_FIND_MATCH)) return false;
            if (matchNames && i < n->values.size() && n->values[i]->Name() == text &&
                !stop(n, row, IDS_FIND_MATCH))
                return false;
        }
        return true;
    };
    if (load) load(node);
    if (!values(node)) return 0;
    std::vector<Frame> stack{{node, 0}};
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.node->subkeys.size()) {
            stack.pop_back();
            continue;
        }
        KeyNode* k = f.node->subkeys[f.next++].get();
        if (matchNames && k->name == text && !stop(k, 0, IDS_FIND_MATCH)) return 0;
        if (load) load(k);
        if (!values(k)) return 0;
        stack.push_back({k, 0});
    }
    return 1;
}

}  // namespace qv
