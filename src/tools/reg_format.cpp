#include "tools/reg_format.h"

namespace qv {

std::string QueryValueLine(const RegValue& value) {
    return "    " + DisplayName(value.name) + "    " + TypeName(value.type) + "    " + DataText(value.type, value.data);
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

}  // namespace qv
