#include "tools/reg_sides.h"

#include <filesystem>

#include "files/file_names.h"
#include "files/tree_file.h"
#include "model/loader.h"
#include "tools/reg_access.h"

namespace qv {

std::string DisplayKey(const RegKeyName& key) {
    if (!key.source.empty()) return key.source + "::" + key.Full();
    return key.computer.empty() ? key.Full() : "\\\\" + key.computer + "\\" + key.Full();
}

std::string SourceOf(const std::string& text, std::string& keyText) {
    const std::size_t cut = text.rfind("::");
    if (cut == std::string::npos || cut == 0) return {};
    // "::" inside a computer's name is an IPv6 address (\\[::1]:7787\HKLM),
    // not the end of a file's name.
    const bool bare = IsRemoteRegistryName(text);
    if (bare || text.starts_with("\\\\")) {
        const std::size_t computerEnd = text.find('\\', bare ? 0 : 2);
        if (computerEnd == std::string::npos || cut < computerEnd) return {};
    }
    keyText = text.substr(cut + 2);
    return text.substr(0, cut);
}

bool IsTreeFilePath(const std::string& text) {
    std::error_code ignored;
    if (std::filesystem::is_regular_file(PathFromUtf8(text), ignored)) return true;
    return text.size() > 4 && SameName(std::string_view(text).substr(text.size() - 4), ".qvf");
}

LONG LoadKeySide(IRegistry& registry, const RegKeyName& key, bool recurse, std::unique_ptr<KeyNode>& top,
                 const KeyNode*& found) {
    top = std::make_unique<KeyNode>(key.computer);
    KeyNode* node = top->AppendSubkey(std::make_unique<KeyNode>(key.rootName));
    for (std::size_t start = 0; start < key.path.size();) {
        std::size_t end = key.path.find('\\', start);
        if (end == std::string::npos) end = key.path.size();
        if (end > start) node = node->AppendSubkey(std::make_unique<KeyNode>(key.path.substr(start, end - start)));
        start = end + 1;
    }
    found = node;
    CToolKey opened(registry);
    LONG status = opened.Open(key, KEY_READ);
    if (status != ERROR_SUCCESS) return status;
    if (recurse) return ReloadSubtree(node, registry, key.computer, key.root, key.path);
    status = ReadEachValue(registry, opened.Key(), [node](std::string_view n, DWORD t, std::string_view d) {
        node->AppendValue(std::make_unique<ValueEntry>(n, t, std::string(d)));
    });
    DWORD index = 0;
    std::string subkey;
    while (status == ERROR_SUCCESS && NextSubkeyName(registry, opened.Key(), index, subkey, &status))
        node->AppendSubkey(std::make_unique<KeyNode>(subkey));
    return status;
}

bool LoadTreeFileSide(const std::string& path, KeyNode& top, std::string& error) {
    try {
        CStdioFile in(path, CStdioFile::modeRead | CStdioFile::typeText);
        const int result = ReadTreeFile(&top, in);
        in.Close();
        if (result != 0) error = path + " is not a tree file.";
        return result == 0;
    } catch (const CFileException& e) {
        error = e.GetErrorMessage().empty() ? "Cannot read " + path + "." : e.GetErrorMessage();
        return false;
    }
}

const KeyNode* FindInTreeFile(const KeyNode* node, const RegKeyName& key, std::string& name) {
    std::vector<std::string> parts{key.rootName};
    for (std::size_t start = 0; start < key.path.size();) {
        std::size_t end = key.path.find('\\', start);
        if (end == std::string::npos) end = key.path.size();
        if (end > start) parts.push_back(key.path.substr(start, end - start));
        start = end + 1;
    }
    for (const std::string& part : parts) {
        const KeyNode* next = nullptr;
        for (const auto& sub : node->subkeys)
            if (next == nullptr && SameName(sub->name, part)) next = sub.get();
        if (next == nullptr) return nullptr;
        node = next;
        name = JoinKey(name, next->name);
    }
    return node;
}

}  // namespace qv
