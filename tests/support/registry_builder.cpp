#include "tests/support/registry_builder.h"

#include <algorithm>
#include <string>

#include "model/key_node.h"
#include "model/open_key.h"

namespace qv {

namespace {

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

HKEY Root(std::string_view name) {
    const std::pair<std::string_view, std::string_view> shortNames[] = {
        {"HKCR", "HKEY_CLASSES_ROOT"}, {"HKCU", "HKEY_CURRENT_USER"}, {"HKLM", "HKEY_LOCAL_MACHINE"},
        {"HKU", "HKEY_USERS"},         {"HKCC", "HKEY_CURRENT_CONFIG"}};
    for (const auto& [shortName, longName] : shortNames)
        if (name == shortName) name = longName;
    return RootHandle(name);
}

// "TYPE:DATA" as the type and bytes of a value; false on a mistake.
bool ParseData(std::string_view text, DWORD& type, std::string& data) {
    const std::size_t colon = text.find(':');
    const std::string_view kind = text.substr(0, colon), rest = text.substr(colon + 1);
    data.clear();
    if (colon == std::string_view::npos) return false;
    if (kind == "sz" || kind == "expand_sz") {
        type = kind == "sz" ? REG_SZ : REG_EXPAND_SZ;
        (data = rest) += '\0';
    } else if (kind == "dword" || kind == "qword") {
        type = kind == "dword" ? REG_DWORD : REG_QWORD;
        const unsigned long long number = std::stoull(std::string(rest), nullptr, 0);
        for (int i = 0; i < (type == REG_DWORD ? 4 : 8); ++i) data += static_cast<char>(number >> (8 * i));
    } else if (kind == "hex") {
        type = REG_BINARY;
        for (std::size_t at = 0; at < rest.size(); at += 3)  // two digits a byte
            data += static_cast<char>(std::stoi(std::string(rest.substr(at, 2)), nullptr, 16));
    } else if (kind == "multi_sz") {
        type = REG_MULTI_SZ;
        for (std::size_t open = rest.find('"'), close = 0; open != std::string_view::npos; open = rest.find('"', close + 1)) {
            close = rest.find('"', open + 1);
            (data += rest.substr(open + 1, close - open - 1)) += '\0';
        }
        data += '\0';
    } else {
        return false;
    }
    return true;
}

}  // namespace

LONG BuildRegistry(IRegistry& registry, std::string_view text, HKEY base, std::string* error) {
    CRegHandle key(registry);
    LONG status = ERROR_SUCCESS;
    std::string what;
    for (std::size_t number = 1, end = 0; status == ERROR_SUCCESS && !text.empty(); ++number, text.remove_prefix(end)) {
        end = std::min(text.find('\n'), text.size() - 1) + 1;
        const std::string_view line = text.substr(0, end), content = Trim(line);
        if (content.empty()) continue;
        what = "line " + std::to_string(number) + ": " + std::string(content);
        if (line[0] != ' ' && line[0] != '\t') {  // a key
            const std::size_t cut = content.find('\\');
            HKEY parent = Root(content.substr(0, cut));
            std::string path(parent == nullptr ? content : cut == std::string_view::npos ? "" : content.substr(cut + 1));
            if (parent == nullptr) parent = base;
            status = registry.RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr);
            continue;
        }
        const std::size_t equals = content.find('=');
        std::string name(Trim(content.substr(0, equals)));
        DWORD type = REG_NONE;
        std::string data;
        if (key.Get() == nullptr || equals == std::string_view::npos || !ParseData(Trim(content.substr(equals + 1)), type, data))
            status = ERROR_INVALID_PARAMETER;
        else
            status = registry.RegSetValueExA(key.Get(), name == "@" ? "" : name.c_str(), 0, type,
                                             reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    }
    if (status != ERROR_SUCCESS && error != nullptr) *error = what + " failed with " + std::to_string(status);
    return status;
}

}  // namespace qv
