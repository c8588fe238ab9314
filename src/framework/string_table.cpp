#include "framework/string_table.h"

namespace qv {

std::string LoadString(UINT id) {
    for (std::size_t i = 0; i < kStringTableSize; ++i)
        if (kStringTable[i].id == id) return kStringTable[i].text;
    return std::string();
}

std::string CommandPrompt(UINT id) {
    const std::string s = LoadString(id);
    return s.substr(0, s.find('\n'));
}

std::string CommandTip(UINT id) {
    const std::string s = LoadString(id);
    const auto nl = s.find('\n');
    return nl == std::string::npos ? std::string() : s.substr(nl + 1);
}

}  // namespace qv
