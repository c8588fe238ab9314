// What the walks over two trees share: finding an entry by its exact name,
// and when two values hold the same data.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/key_node.h"

namespace qv {

// First-match look-up by exact name in a list that may only grow while it is
// used. Names are taken once; short lists are searched in order, longer ones
// through a map that keeps the first entry of each name.
template <typename List, typename NameOf>
class FirstMatchIndex {
public:
    using NameFunction = NameOf;
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

inline std::string_view ValueName(const std::unique_ptr<ValueEntry>& v) { return v->Name(); }
inline std::string_view KeyName(const std::unique_ptr<KeyNode>& k) { return k->name; }

using ValueIndex = FirstMatchIndex<Values, std::string_view (*)(const std::unique_ptr<ValueEntry>&)>;
using KeyIndex = FirstMatchIndex<Subkeys, std::string_view (*)(const std::unique_ptr<KeyNode>&)>;

// Text is compared as text (a terminator more or less is no difference);
// every other type byte for byte.
inline bool SameData(const ValueEntry& v, const ValueEntry& w) {
    if (v.type == REG_SZ) return v.Text() == w.Text();
    return v.data == w.data;
}

}  // namespace qv
