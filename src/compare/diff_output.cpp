#include "compare/diff_output.h"

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



std::string Join(const std::string& key, std::string_view path) {
    if (path.empty()) return key;
    return key.empty() ? std::string(path) : key + '\\' + std::string(path);
}

std::string ValueText(const std::string& key, const ValueEntry& v) {
    return "Value: " + key + "  " + DisplayName(v.Name()) + "  " + TypeName(v.type) + "  " + DataText(v.type, v.data);
}

RegValue ToRegValue(const ValueEntry& v) { return {std::string(v.Name()), v.type, v.data}; }

}  // namespace

std::vector<std::string_view> MultiStrings(std::string_view data) {
    std::vector<std::string_view> items;
    while (!data.empty() && data.front() != '\0') {
        items.push_back(UpToZero(data));
        data.remove_prefix(std::min(data.size(), items.back().size() + 1));
    }
    return items;
}

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

std::string DataText(DWORD type, std::string_view data) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK:
        return std::string(UpToZero(data));
    case REG_MULTI_SZ: {
        std::string out;
        for (const std::string_view item : MultiStrings(data)) {
            if (!out.empty()) out += "\\0";
            out += item;
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

void AppendDiffLines(const Difference& d, const std::string& masterName, const std::string& slaveName,
                     std::string& out) {
    auto line = [&out](char marker, const std::string& text) {
        out += marker;
        out += ' ';
        out += text;
        out += '\n';
    };
    switch (d.kind) {
    case DiffKind::kKeyOnlyInMaster: line('<', "Key: " + Join(masterName, d.path)); break;
    case DiffKind::kKeyOnlyInSlave: line('>', "Key: " + Join(slaveName, d.slavePath)); break;
    case DiffKind::kSameKey: line('=', "Key: " + Join(masterName, d.path)); break;
    case DiffKind::kNameCase:  // one entry to the registry, spelled two ways
        if (IsValueDifference(d.kind, d.master, d.slave))
            line('~', "Value: " + Join(masterName, d.path) + "  " + DisplayName(d.master->Name()) + "  " +
                          DisplayName(d.slave->Name()));
        else
            line('~', "Key: " + Join(masterName, d.path) + "  " + Join(slaveName, d.slavePath));
        break;
    case DiffKind::kSameValue: line('=', ValueText(Join(masterName, d.path), *d.master)); break;
    default:
        if (d.master != nullptr) line('<', ValueText(Join(masterName, d.path), *d.master));
        if (d.slave != nullptr) line('>', ValueText(Join(slaveName, d.slavePath), *d.slave));
        break;
    }
}

RegPatchSection& CPatchBuilder::Section(std::vector<RegPatchSection>& list, const std::string& key) {
    if (list.empty() || list.back().key != key || list.back().deleteKey) {
        list.emplace_back();
        list.back().key = key;
    }
    return list.back();
}

void CPatchBuilder::AddSubtree(const KeyNode& key, const std::string& name) {
    // Depth first without recursion: a subtree may be as deep as the registry allows.
    std::vector<std::pair<const KeyNode*, std::string>> pending{{&key, name}};
    while (!pending.empty()) {
        auto [node, path] = std::move(pending.back());
        pending.pop_back();
        RegPatchSection& section = Section(m_additions, path);
        for (const auto& v : node->values) section.setValues.push_back(ToRegValue(*v));
        for (auto it = node->subkeys.rbegin(); it != node->subkeys.rend(); ++it)
            pending.emplace_back(it->get(), path + '\\' + (*it)->name);
    }
}

void CPatchBuilder::Add(const Difference& d) {
    const std::string key = Join(m_slaveKey, d.slavePath);
    switch (d.kind) {
    case DiffKind::kKeyOnlyInSlave:
        m_deletions.emplace_back();
        m_deletions.back().key = key;
        m_deletions.back().deleteKey = true;
        break;
    case DiffKind::kKeyOnlyInMaster: AddSubtree(*d.masterKey, key); break;
    case DiffKind::kValueOnlyInSlave: Section(m_deletions, key).deleteValues.emplace_back(d.slave->Name()); break;
    case DiffKind::kValueOnlyInMaster:
    case DiffKind::kTypeDiffers:
    case DiffKind::kDataDiffers: Section(m_additions, key).setValues.push_back(ToRegValue(*d.master)); break;
    case DiffKind::kNameCase:  // one key or value to the registry: kept as the Slave has it
    case DiffKind::kSameKey:
    case DiffKind::kSameValue: break;
    }
}

std::vector<RegPatchSection> CPatchBuilder::Sections() const {
    std::vector<RegPatchSection> all = m_deletions;
    all.insert(all.end(), m_additions.begin(), m_additions.end());
    return all;
}

}  // namespace qv
