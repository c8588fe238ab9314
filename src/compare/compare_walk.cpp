#include "compare/compare_walk.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "res/resource.h"

namespace qv {

namespace {

// First-match look-up by exact name in a list that may only grow while it is
// used. Names are taken once; short lists are searched in order, longer ones
// through a map that keeps the first entry of each name.
template <typename List, typename NameOf>
class FirstMatchIndex {
public:
    FirstMatchIndex(const List& list, NameOf nameOf) : m_list(list), m_nameOf(nameOf) {}

    // Index of the first entry named `name`, or -1.
    std::ptrdiff_t Find(std::string_view name) {
        while (m_names.size() < m_list.size()) m_names.push_back(m_nameOf(m_list[m_names.size()]));
        if (m_names.size() <= kLinearLimit) {
            for (std::size_t i = 0; i < m_names.size(); ++i)
                if (m_names[i] == name) return static_cast<std::ptrdiff_t>(i);
            return -1;
        }
        for (; m_mapped < m_names.size(); ++m_mapped) m_map.emplace(m_names[m_mapped], m_mapped);
        auto it = m_map.find(name);
        return it == m_map.end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
    }

private:
    static constexpr std::size_t kLinearLimit = 16;
    const List& m_list;
    NameOf m_nameOf;
    std::vector<std::string_view> m_names;
    std::unordered_map<std::string_view, std::size_t> m_map;
    std::size_t m_mapped = 0;
};

using Values = std::vector<std::unique_ptr<ValueEntry>>;
using Subkeys = std::vector<std::unique_ptr<KeyNode>>;

std::string_view ValueName(const std::unique_ptr<ValueEntry>& v) { return v->Name(); }
std::string_view KeyName(const std::unique_ptr<KeyNode>& k) { return k->name; }

using ValueIndex = FirstMatchIndex<Values, std::string_view (*)(const std::unique_ptr<ValueEntry>&)>;
using KeyIndex = FirstMatchIndex<Subkeys, std::string_view (*)(const std::unique_ptr<KeyNode>&)>;

// Text is compared as text (a terminator more or less is no difference);
// every other type byte for byte.
bool SameData(const ValueEntry& v, const ValueEntry& w) {
    if (v.type == REG_SZ) return v.Text() == w.Text();
    return v.data == w.data;
}

// Compares the values of one pair of keys; false when a stop ended the walk.
bool CompareValues(KeyNode* slave, KeyNode* master, const WalkStop& stop) {
    if (master->values.size() != slave->values.size() && !stop(slave, 0, IDS_DIFF_VALUE_COUNT)) return false;
    ValueIndex index(master->values, &ValueName);
    for (std::size_t i = 0; i < slave->values.size(); ++i) {
        const ValueEntry& v = *slave->values[i];
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
                 const WalkLoad& loadMaster) {
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
    load(slave, master);
    if (!CompareValues(slave, master, stop)) return 0;
    if (master->subkeys.size() != slave->subkeys.size() && !stop(slave, 0, IDS_DIFF_KEY_COUNT)) return 0;
    std::vector<Frame> stack;
    stack.push_back({slave, master, 0, std::make_unique<KeyIndex>(master->subkeys, &KeyName)});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.slave->subkeys.size()) {
            stack.pop_back();
            continue;
        }
        KeyNode* k = f.slave->subkeys[f.next++].get();
        const std::ptrdiff_t found = f.index->Find(k->name);
        if (found < 0) {
            if (!stop(k, 0, IDS_KEY_MISSING)) return 0;
            continue;
        }
        KeyNode* l = f.master->subkeys[static_cast<std::size_t>(found)].get();
        load(k, l);
        if (!CompareValues(k, l, stop)) return 0;
        if (l->subkeys.size() != k->subkeys.size() && !stop(k, 0, IDS_DIFF_KEY_COUNT)) return 0;
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
