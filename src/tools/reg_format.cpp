#include "tools/reg_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace qv {

namespace {

std::string HexNumber(std::uint64_t n) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(n));
    return text;
}

std::uint64_t LittleEndian(std::string_view bytes) {
    std::uint64_t n = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) n = (n << 8) | static_cast<unsigned char>(bytes[i]);
    return n;
}

std::string_view UpToZero(std::string_view data) { return data.substr(0, data.find('\0')); }

std::string DisplayName(const std::string& name) { return name.empty() ? "(Default)" : name; }

class CComparer {
public:
    CComparer(const CompareOptions& options, std::string& out) : m_options(options), m_out(out) {}

    bool Run(const RegTree& a, const std::string& aName, const RegTree& b, const std::string& bName) {
        Keys(a, aName, b, bName);
        return m_identical;
    }

private:
    static const RegValue* Exact(const std::vector<RegValue>& values, const std::string& name) {
        for (const RegValue& v : values)
            if (v.name == name) return &v;
        return nullptr;
    }

    static const RegTree* ExactKey(const RegTree& node, const std::string& name) {
        for (const auto& k : node.subkeys)
            if (k->name == name) return k.get();
        return nullptr;
    }

    void Line(char marker, const std::string& text, bool same) {
        if (!same) m_identical = false;
        const CompareOutput o = m_options.output;
        const bool shown = same ? (o == CompareOutput::kAll || o == CompareOutput::kSame)
                                : (o == CompareOutput::kAll || o == CompareOutput::kDifferences);
        if (!shown) return;
        m_out += marker;
        m_out += ' ';
        m_out += text;
        m_out += '\n';
    }

    static std::string ValueText(const std::string& key, const RegValue& v) {
        return "Value: " + key + "  " + DisplayName(v.name) + "  " + TypeName(v.type) + "  " + DataText(v);
    }

    void Pair(const RegValue* x, const std::string& aName, const RegValue* y, const std::string& bName) {
        if (x != nullptr && y != nullptr && x->type == y->type && x->data == y->data) {
            Line('=', ValueText(aName, *x), true);
            return;
        }
        if (x != nullptr) Line('<', ValueText(aName, *x), false);
        if (y != nullptr) Line('>', ValueText(bName, *y), false);
    }

    // The registry's depth limit (and the tree file's) bounds the recursion.
    void Keys(const RegTree& a, const std::string& aName, const RegTree& b, const std::string& bName) {
        if (m_options.oneValue) {
            Pair(FindValue(a.values, m_options.valueName), aName, FindValue(b.values, m_options.valueName), bName);
        } else {
            for (const RegValue& v : a.values) Pair(&v, aName, Exact(b.values, v.name), bName);
            for (const RegValue& w : b.values)
                if (Exact(a.values, w.name) == nullptr) Pair(nullptr, aName, &w, bName);
        }
        for (const auto& k : a.subkeys) {
            const RegTree* other = ExactKey(b, k->name);
            if (other == nullptr) {
                if (!m_options.oneValue) Line('<', "Key: " + JoinKey(aName, k->name), false);
                continue;
            }
            if (!m_options.oneValue) Line('=', "Key: " + JoinKey(aName, k->name), true);
            if (m_options.recurse) Keys(*k, JoinKey(aName, k->name), *other, JoinKey(bName, other->name));
        }
        if (m_options.oneValue) return;
        for (const auto& l : b.subkeys)
            if (ExactKey(a, l->name) == nullptr) Line('>', "Key: " + JoinKey(bName, l->name), false);
    }

    const CompareOptions& m_options;
    std::string& m_out;
    bool m_identical = true;
};

}  // namespace

std::string TypeName(DWORD type) {
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case 8: return "REG_RESOURCE_LIST";
    case 9: return "REG_FULL_RESOURCE_DESCRIPTOR";
    case 10: return "REG_RESOURCE_REQUIREMENTS_LIST";
    case REG_QWORD: return "REG_QWORD";
    default: return "REG_UNKNOWN";
    }
}

std::string DataText(const RegValue& value) {
    const std::string_view data = value.data;
    switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK:
        return std::string(UpToZero(data));
    case REG_MULTI_SZ: {
        std::string out;
        std::string_view rest = data;
        while (!rest.empty() && rest.front() != '\0') {
            const std::string_view item = UpToZero(rest);
            if (!out.empty()) out += "\\0";
            out += item;
            rest.remove_prefix(std::min(rest.size(), item.size() + 1));
        }
        return out;
    }
    case REG_DWORD:
        if (data.size() == 4) return HexNumber(LittleEndian(data));
        break;
    case REG_DWORD_BIG_ENDIAN:
        if (data.size() == 4) {
            const std::string reversed(data.rbegin(), data.rend());
            return HexNumber(LittleEndian(reversed));
        }
        break;
    case REG_QWORD:
        if (data.size() == 8) return HexNumber(LittleEndian(data));
        break;
    default:
        break;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : data) {
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 15];
    }
    return out;
}

std::string QueryValueLine(const RegValue& value) {
    return "    " + DisplayName(value.name) + "    " + TypeName(value.type) + "    " + DataText(value);
}

void FormatQuery(const RegTree& node, const std::string& fullName, bool recurse, std::string& out) {
    out += fullName;
    out += '\n';
    for (const RegValue& v : node.values) {
        out += QueryValueLine(v);
        out += '\n';
    }
    if (!node.values.empty()) out += '\n';
    for (const auto& sub : node.subkeys) {
        if (recurse) {
            FormatQuery(*sub, JoinKey(fullName, sub->name), true, out);
        } else {
            out += JoinKey(fullName, sub->name);
            out += '\n';
        }
    }
}

std::size_t FormatValueSearch(const RegTree& node, const std::string& fullName, std::string_view name,
                              bool recurse, std::string& out) {
    std::size_t matches = 0;
    if (const RegValue* v = FindValue(node.values, name)) {
        out += fullName + '\n' + QueryValueLine(*v) + "\n\n";
        ++matches;
    }
    if (recurse)
        for (const auto& sub : node.subkeys)
            matches += FormatValueSearch(*sub, JoinKey(fullName, sub->name), name, true, out);
    return matches;
}

bool CompareTrees(const RegTree& first, const std::string& firstName, const RegTree& second,
                  const std::string& secondName, const CompareOptions& options, std::string& out) {
    CComparer comparer(options, out);
    return comparer.Run(first, firstName, second, secondName);
}

}  // namespace qv
