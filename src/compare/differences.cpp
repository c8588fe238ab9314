#include "compare/differences.h"

#include "compare/name_index.h"

namespace qv {

namespace {

class CDiffWalk {
public:
    CDiffWalk(const DiffOptions& options, const DiffSink& sink) : m_options(options), m_sink(sink) {}

    bool Keys(const KeyNode& master, const KeyNode& slave) {
        if (m_options.keyEntered && !m_options.keyEntered()) return false;
        if (m_options.oneValue) return OneValue(master, slave);
        if (!Values(master, slave)) return false;
        KeyIndex slaveKeys(slave.subkeys, &KeyName);
        std::vector<bool> matched(slave.subkeys.size(), false);
        for (const auto& k : master.subkeys) {
            const std::ptrdiff_t found = slaveKeys.Find(k->name);
            const std::size_t mark = Enter(k->name);
            if (Ignored()) {
                if (found >= 0) matched[static_cast<std::size_t>(found)] = true;
                Leave(mark);
                continue;
            }
            bool go;
            if (found < 0) {
                go = Emit({DiffKind::kKeyOnlyInMaster, m_path, k.get(), nullptr});
            } else {
                const KeyNode& other = *slave.subkeys[static_cast<std::size_t>(found)];
                matched[static_cast<std::size_t>(found)] = true;
                go = (!m_options.reportSame || Emit({DiffKind::kSameKey, m_path, k.get(), &other})) &&
                     (!m_options.recurse || Keys(*k, other));  // depth bounded by the registry's limit
            }
            Leave(mark);
            if (!go) return false;
        }
        for (std::size_t i = 0; i < slave.subkeys.size(); ++i) {
            if (matched[i]) continue;
            const KeyNode& k = *slave.subkeys[i];
            const std::size_t mark = Enter(k.name);
            const bool go = Ignored() || Emit({DiffKind::kKeyOnlyInSlave, m_path, nullptr, &k});
            Leave(mark);
            if (!go) return false;
        }
        return true;
    }

private:
    bool Emit(const Difference& d) { return m_sink(d); }

    bool Values(const KeyNode& master, const KeyNode& slave) {
        ValueIndex slaveValues(slave.values, &ValueName);
        std::vector<bool> matched(slave.values.size(), false);
        for (const auto& v : master.values) {
            const std::ptrdiff_t found = slaveValues.Find(v->Name());
            const ValueEntry* w = found < 0 ? nullptr : slave.values[static_cast<std::size_t>(found)].get();
            if (w != nullptr) matched[static_cast<std::size_t>(found)] = true;
            if (!Pair(master, slave, v.get(), w)) return false;
        }
        for (std::size_t i = 0; i < slave.values.size(); ++i)
            if (!matched[i] && !Pair(master, slave, nullptr, slave.values[i].get())) return false;
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
        DiffKind kind;
        if (v == nullptr) kind = DiffKind::kValueOnlyInSlave;
        else if (w == nullptr) kind = DiffKind::kValueOnlyInMaster;
        else if (v->type != w->type) kind = DiffKind::kTypeDiffers;
        else if (!SameData(*v, *w)) kind = DiffKind::kDataDiffers;
        else if (m_options.reportSame) kind = DiffKind::kSameValue;
        else return true;
        return Emit({kind, m_path, &masterKey, &slaveKey, v, w});
    }

    std::size_t Enter(const std::string& name) {
        const std::size_t mark = m_path.size();
        if (!m_path.empty()) m_path += '\\';
        m_path += name;
        return mark;
    }
    void Leave(std::size_t mark) { m_path.resize(mark); }

    std::string FullPath() const {
        if (m_path.empty()) return m_options.masterPath;
        return m_options.masterPath.empty() ? m_path : m_options.masterPath + '\\' + m_path;
    }

    bool Ignored() const {
        return m_options.ignore != nullptr && !m_options.ignore->Empty() && m_options.ignore->IgnoresKey(FullPath());
    }

    const DiffOptions& m_options;
    const DiffSink& m_sink;
    std::string m_path;
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
    case DiffKind::kSameKey: return "same key";
    case DiffKind::kSameValue: return "same value";
    }
    return "";
}

}  // namespace qv
