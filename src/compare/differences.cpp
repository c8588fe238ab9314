#include "compare/differences.h"

#include <unordered_map>

#include "compare/name_index.h"
#include "model/text_encoding.h"

namespace qv {

namespace {

// Pairs each Master entry with the Slave entry of its name: the first one
// of exactly that name, else, where names match whatever their case, the
// first not yet paired whose name folds to the same.
template <typename List, typename Index>
class CPairing {
public:
    CPairing(const List& slave, typename Index::NameFunction nameOf, NameMatch match)
        : m_list(slave), m_nameOf(nameOf), m_exact(slave, nameOf), m_match(match), m_paired(slave.size(), false) {}

    // The index of the Slave entry `name` pairs with, or -1.
    std::ptrdiff_t Pair(std::string_view name) {
        std::ptrdiff_t found = m_exact.Find(name);
        if (m_match != NameMatch::kExact && (found < 0 || m_paired[static_cast<std::size_t>(found)])) {
            found = -1;
            if (m_folded.empty()) {
                for (std::size_t i = 0; i < m_list.size(); ++i) m_folded.emplace(Fold(m_nameOf(m_list[i])), i);
            }
            const auto [first, last] = m_folded.equal_range(Fold(name));
            for (auto it = first; it != last && found < 0; ++it)
                if (!m_paired[it->second]) found = static_cast<std::ptrdiff_t>(it->second);
        }
        if (found >= 0) m_paired[static_cast<std::size_t>(found)] = true;
        return found;
    }
    bool Paired(std::size_t i) const { return m_paired[i]; }

private:
    std::string Fold(std::string_view name) const {
        return m_match == NameMatch::kAscii ? FoldNameAscii(name) : FoldNameAnyScript(name);
    }

    const List& m_list;
    typename Index::NameFunction m_nameOf;
    Index m_exact;
    NameMatch m_match;
    std::vector<bool> m_paired;
    std::unordered_multimap<std::string, std::size_t> m_folded;
};

class CDiffWalk {
public:
    CDiffWalk(const DiffOptions& options, const DiffSink& sink) : m_options(options), m_sink(sink) {}

    bool Keys(const KeyNode& master, const KeyNode& slave) {
        if (m_options.keyEntered && !m_options.keyEntered()) return false;
        if (m_options.oneValue) return OneValue(master, slave);
        if (!Values(master, slave)) return false;
        CPairing<Subkeys, KeyIndex> slaveKeys(slave.subkeys, &KeyName, m_options.names);
        for (const auto& k : master.subkeys) {
            const std::ptrdiff_t found = slaveKeys.Pair(k->name);
            const KeyNode* other = found < 0 ? nullptr : slave.subkeys[static_cast<std::size_t>(found)].get();
            const Mark mark = Enter(k->name, other != nullptr ? other->name : k->name);
            if (Ignored()) {
                Leave(mark);
                continue;
            }
            bool go;
            if (other == nullptr) {
                go = Emit({DiffKind::kKeyOnlyInMaster, m_path, m_slavePath, k.get(), nullptr});
            } else {
                const bool sameSpelling = k->name == other->name;
                go = (sameSpelling || Emit({DiffKind::kNameCase, m_path, m_slavePath, k.get(), other})) &&
                     (!m_options.reportSame || Emit({DiffKind::kSameKey, m_path, m_slavePath, k.get(), other})) &&
                     (!m_options.recurse || Keys(*k, *other));  // depth bounded by the registry's limit
            }
            Leave(mark);
            if (!go) return false;
        }
        for (std::size_t i = 0; i < slave.subkeys.size(); ++i) {
            if (slaveKeys.Paired(i)) continue;
            const KeyNode& k = *slave.subkeys[i];
            const Mark mark = Enter(k.name, k.name);
            const bool go = Ignored() || Emit({DiffKind::kKeyOnlyInSlave, m_path, m_slavePath, nullptr, &k});
            Leave(mark);
            if (!go) return false;
        }
        return true;
    }

private:
    bool Emit(const Difference& d) { return m_sink(d); }

    bool Values(const KeyNode& master, const KeyNode& slave) {
        CPairing<qv::Values, ValueIndex> slaveValues(slave.values, &ValueName, m_options.names);
        for (const auto& v : master.values) {
            const std::ptrdiff_t found = slaveValues.Pair(v->Name());
            const ValueEntry* w = found < 0 ? nullptr : slave.values[static_cast<std::size_t>(found)].get();
            if (!Pair(master, slave, v.get(), w)) return false;
        }
        for (std::size_t i = 0; i < slave.values.size(); ++i)
            if (!slaveValues.Paired(i) && !Pair(master, slave, nullptr, slave.values[i].get())) return false;
        return true;
    }

    bool OneValue(const KeyNode& master, const KeyNode& slave) {
        auto find = [this](const KeyNode& key) -> const ValueEntry* {
            for (const auto& v : key.values)
                if (SameName(v->Name(), m_options.valueName)) return v.get();
            return nullptr;
        };
        const ValueEntry* v = find(master);
        const ValueEntry* w = find(slave);
        return (v == nullptr && w == nullptr) || Pair(master, slave, v, w);
    }

    bool Pair(const KeyNode& masterKey, const KeyNode& slaveKey, const ValueEntry* v, const ValueEntry* w) {
        if (m_options.ignore != nullptr && !m_options.ignore->Empty() &&
            m_options.ignore->IgnoresValue(FullPath(), (v != nullptr ? v : w)->Name()))
            return true;
        if (v != nullptr && w != nullptr && v->Name() != w->Name() &&
            !Emit({DiffKind::kNameCase, m_path, m_slavePath, &masterKey, &slaveKey, v, w}))
            return false;
        DiffKind kind;
        if (v == nullptr) kind = DiffKind::kValueOnlyInSlave;
        else if (w == nullptr) kind = DiffKind::kValueOnlyInMaster;
        else if (v->type != w->type) kind = DiffKind::kTypeDiffers;
        else if (!SameData(*v, *w)) kind = DiffKind::kDataDiffers;
        else if (m_options.reportSame) kind = DiffKind::kSameValue;
        else return true;
        return Emit({kind, m_path, m_slavePath, &masterKey, &slaveKey, v, w});
    }

    struct Mark {
        std::size_t path, slavePath;
    };
    Mark Enter(const std::string& name, const std::string& slaveName) {
        const Mark mark{m_path.size(), m_slavePath.size()};
        if (!m_path.empty()) m_path += '\\';
        m_path += name;
        if (!m_slavePath.empty()) m_slavePath += '\\';
        m_slavePath += slaveName;
        return mark;
    }
    void Leave(Mark mark) {
        m_path.resize(mark.path);
        m_slavePath.resize(mark.slavePath);
    }

    std::string FullPath() const {
        if (m_path.empty()) return m_options.masterPath;
        return m_options.masterPath.empty() ? m_path : m_options.masterPath + '\\' + m_path;
    }

    bool Ignored() const {
        return m_options.ignore != nullptr && !m_options.ignore->Empty() && m_options.ignore->IgnoresKey(FullPath());
    }

    const DiffOptions& m_options;
    const DiffSink& m_sink;
    std::string m_path, m_slavePath;
};

}  // namespace

std::string DiffRow::ValueName() const {
    const ValueEntry* v = master != nullptr ? master : slave;
    return v != nullptr && IsValue() ? std::string(v->Name()) : std::string();
}

bool DiffTrees(const KeyNode& master, const KeyNode& slave, const DiffOptions& options, const DiffSink& sink) {
    CDiffWalk walk(options, sink);
    return walk.Keys(master, slave);
}

const char* DiffKindName(DiffKind kind) {
    switch (kind) {
    case DiffKind::kKeyOnlyInMaster: return "key only in Master";
    case DiffKind::kKeyOnlyInSlave: return "key only in Slave";
    case DiffKind::kValueOnlyInMaster: return "value only in Master";
    case DiffKind::kValueOnlyInSlave: return "value only in Slave";
    case DiffKind::kTypeDiffers: return "type differs";
    case DiffKind::kDataDiffers: return "data differs";
    case DiffKind::kNameCase: return "name differs in case";
    case DiffKind::kSameKey: return "same key";
    case DiffKind::kSameValue: return "same value";
    }
    return "";
}

}  // namespace qv
