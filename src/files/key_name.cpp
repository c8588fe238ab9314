#include "files/key_name.h"

#include "model/key_node.h"
#include "model/registry.h"

namespace qv {

namespace {

struct RootEntry {
    const char* longName;
    const char* shortName;
    HKEY handle;
};

const RootEntry kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE}, {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},   {"HKEY_USERS", "HKU", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG},
};

}  // namespace

std::string RegKeyName::Full() const { return path.empty() ? rootName : rootName + '\\' + path; }

const char* LongRootName(std::string_view name, HKEY* handle) {
    for (const RootEntry& r : kRoots) {
        if (SameName(name, r.longName) || SameName(name, r.shortName)) {
            if (handle != nullptr) *handle = r.handle;
            return r.longName;
        }
    }
    return nullptr;
}

bool ParseKeyName(std::string_view text, RegKeyName& key, bool allowComputer) {
    key = RegKeyName{};
    // A Windows computer's name holds "//" and so may stand without the
    // leading backslashes: smb://host\HKLM\Software.
    const bool bareComputer = IsRemoteRegistryName(text);
    if (text.substr(0, 2) == "\\\\" || bareComputer) {
        if (!allowComputer) return false;
        if (!bareComputer) text.remove_prefix(2);
        const std::size_t slash = text.find('\\');
        if (slash == 0 || slash == std::string_view::npos) return false;
        key.computer.assign(text.substr(0, slash));
        text.remove_prefix(slash + 1);
    }
    const std::size_t slash = text.find('\\');
    const char* root = LongRootName(text.substr(0, slash), &key.root);
    if (root == nullptr) return false;
    key.rootName = root;
    if (slash != std::string_view::npos) {
        std::string_view path = text.substr(slash + 1);
        while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
        // No empty part anywhere: "HKLM\\x" or "a\\b" names no key.
        if ((!path.empty() && path.front() == '\\') || path.find("\\\\") != std::string_view::npos) return false;
        key.path.assign(path);
    }
    return true;
}

std::string JoinKey(std::string_view parent, std::string_view child) {
    std::string out(parent);
    if (!out.empty() && !child.empty()) out += '\\';
    out += child;
    return out;
}

}  // namespace qv
