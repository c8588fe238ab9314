#include <vector>

#include "files/tree_file.h"

namespace qv {

std::string FilePathOf(const KeyNode* node) {
    std::vector<const std::string*> names;
    for (const KeyNode* n = node; n->parent != nullptr; n = n->parent) names.push_back(&n->name);
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path += '\\';
        path += **it;
    }
    return path;
}

void AppendValueLine(std::string& out, const ValueEntry& value) {
    out += '"';
    out += value.Name();
    out += "\"=";
    if (value.type == REG_SZ) {
        out += '"';
        out += value.Text();
        out += '"';
    } else if (value.type == REG_DWORD) {
        static constexpr char kHex[] = "0123456789abcdef";
        const DWORD n = value.Number();
        out += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(n >> shift) & 0xF];
    }
}

void WriteAncestors(const KeyNode* node, CStdioFile& file, std::string& path) {
    // Top down: collect the chain first (no recursion on deep trees).
    std::vector<const KeyNode*> chain;
    for (const KeyNode* n = node; n != nullptr; n = n->parent) chain.push_back(n);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if ((*it)->parent != nullptr) {
            path += '\\';
            path += (*it)->name;
        }
        file.WriteString("[" + path + "]\n\n");
    }
}

void WriteSubtree(const KeyNode* node, CStdioFile& file, const std::string& parentPath) {
    // Depth first, pre-order, with an explicit stack; `path` grows and shrinks
    // with the walk so no path is built twice.
    struct Frame {
        const KeyNode* node;
        std::size_t next;     // next subkey to visit
        std::size_t pathLen;  // length of this node's file path
    };
    std::string path = parentPath;
    std::string lines;
    std::vector<Frame> stack;
    auto visit = [&](const KeyNode* n) {
        path += '\\';
        path += n->name;
        lines.clear();
        lines += '[';
        lines += path;
        lines += "]\n";
        for (const auto& v : n->values) {
            AppendValueLine(lines, *v);
            lines += '\n';
        }
        lines += '\n';
        file.WriteString(lines);
        stack.push_back({n, 0, path.size()});
    };
    visit(node);
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.node->subkeys.size()) {
            stack.pop_back();
            continue;
        }
        const KeyNode* child = top.node->subkeys[top.next++].get();
        path.resize(top.pathLen);
        visit(child);
    }
}

std::size_t CountUnkeptValues(const KeyNode* chosen) {
    const auto kept = [](const ValueEntry& v) {
        if (v.name.find_first_of("\r\n") != std::string::npos || v.name.find("\"=") != std::string::npos) return false;
        if (v.type == REG_DWORD) return v.data.size() == sizeof(DWORD);
        // The text up to its first zero is written: nothing may follow that
        // zero but the end (a missing terminator reads back as the same text).
        const std::size_t zero = v.data.find('\0');
        return v.type == REG_SZ && (zero == std::string::npos || zero + 1 == v.data.size()) &&
               v.Text().find_first_of("\r\n") == std::string_view::npos;
    };
    std::size_t unkept = 0;
    std::vector<const KeyNode*> pending;
    for (const auto& sub : chosen->subkeys) pending.push_back(sub.get());
    while (!pending.empty()) {
        const KeyNode* n = pending.back();
        pending.pop_back();
        for (const auto& v : n->values) unkept += kept(*v) ? 0 : 1;
        for (const auto& sub : n->subkeys) pending.push_back(sub.get());
    }
    return unkept;
}

void SaveTree(const KeyNode* chosen, CStdioFile& file) {
    std::string path;
    if (chosen->parent != nullptr) WriteAncestors(chosen, file, path);
    for (const auto& sub : chosen->subkeys) WriteSubtree(sub.get(), file, path);
}

}  // namespace qv
