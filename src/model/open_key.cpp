#include "model/open_key.h"

#include "model/key_node.h"

#include <cctype>

namespace qv {

LONG OpenKey(IRegistry& registry, const std::string& computer, HKEY root, HKEY& key, HKEY& base,
             const std::string& path, REGSAM access) {
    key = nullptr;
    base = nullptr;
    HKEY connected = root;
    if (!computer.empty()) {
        const LONG status = registry.RegConnectRegistryA(computer.c_str(), root, &connected);
        if (status != ERROR_SUCCESS) return status;
    }
    HKEY opened = nullptr;
    const LONG openStatus = registry.RegOpenKeyExA(connected, path.c_str(), 0, access, &opened);
    if (openStatus == ERROR_SUCCESS) {
        key = opened;
        base = connected;
        return 0;
    }
    if (access == KEY_READ) {
        registry.RegCloseKey(connected);
        return openStatus;
    }
    char keyClass[] = "REG_SZ";
    DWORD disposition = 0;
    const LONG status = registry.RegCreateKeyExA(connected, path.c_str(), 0, keyClass,
                                                 REG_OPTION_NON_VOLATILE, access, nullptr, &opened,
                                                 &disposition);
    if (status == ERROR_SUCCESS) {
        key = opened;
        base = connected;
        return 0;
    }
    registry.RegCloseKey(connected);
    return status;
}

LONG COpenedKey::OpenNode(const std::string& computer, const KeyNode* node, REGSAM access) {
    HKEY root = nullptr;
    std::string path;
    PathOf(node, root, path);
    if (root == nullptr) return ERROR_INVALID_PARAMETER;
    return Open(computer, root, path, access);
}

REGSAM EffectiveAccess(REGSAM sam) {
    constexpr REGSAM kMaximumAllowed = 0x02000000;
    constexpr REGSAM kGenericAll = 0x10000000;
    constexpr REGSAM kGenericExecute = 0x20000000;
    constexpr REGSAM kGenericWrite = 0x40000000;
    constexpr REGSAM kGenericRead = 0x80000000;
    if (sam & (kMaximumAllowed | kGenericAll)) sam |= KEY_ALL_ACCESS;
    if (sam & (kGenericRead | kGenericExecute)) sam |= KEY_READ;
    if (sam & kGenericWrite) sam |= KEY_WRITE;
    return sam;
}

namespace {

// UTF-16 code units of UTF-8 text: one a sequence, two for a four-byte one.
std::size_t Utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units;
}

}  // namespace

LONG SplitKeyPath(const char* path, std::vector<std::string_view>& parts, NameLimit limit) {
    constexpr LONG kErrorBadPathname = 161;
    constexpr std::size_t kMaxNameLength = 255;
    parts.clear();
    if (path == nullptr || *path == '\0') return ERROR_SUCCESS;
    if (*path == '\\') return kErrorBadPathname;
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        if (!part.empty()) {
            const std::size_t length = limit == NameLimit::kUtf16Characters ? Utf16Length(part) : part.size();
            if (limit != NameLimit::kNone && length > kMaxNameLength) return ERROR_INVALID_PARAMETER;
            parts.push_back(part);
        }
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    return ERROR_SUCCESS;
}

bool IsRemoteRegistryName(std::string_view computer) {
    if (computer.size() < kRemoteRegistryScheme.size()) return false;
    for (std::size_t i = 0; i < kRemoteRegistryScheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(computer[i])) != kRemoteRegistryScheme[i]) return false;
    return true;
}

bool IsPredefinedKey(HKEY hKey) {
    const auto v = reinterpret_cast<std::intptr_t>(hKey);
    return v >= reinterpret_cast<std::intptr_t>(HKEY_CLASSES_ROOT) &&
           v <= reinterpret_cast<std::intptr_t>(HKEY_DYN_DATA);
}

}  // namespace qv
