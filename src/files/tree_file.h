// The tree file: a key line per key ("[" file path "]"), a line per value,
// an empty line after each key's values, keys depth first.
#pragma once

#include <string>

#include "files/stdio_file.h"
#include "model/key_node.h"
#include "model/progress.h"

namespace qv {

// Reads every line of `file` into nodes below `top`. Returns 0, or 1 when the
// file is not a tree file (a value line before the first key line, keys nested
// deeper than the registry allows), or kTreeFileCancelled when `progress`
// (told of every key line) cancelled. File errors are thrown as CFileException.
constexpr int kTreeFileCancelled = 2;
int ReadTreeFile(KeyNode* top, CStdioFile& file, IProgress* progress = nullptr);

// "" for the top node, else the parent's file path, a backslash and the name.
std::string FilePathOf(const KeyNode* node);

// Writes `chosen`'s ancestors as bare key lines and its subkeys in full.
void SaveTree(const KeyNode* chosen, CStdioFile& file);
void WriteAncestors(const KeyNode* node, CStdioFile& file, std::string& path);
void WriteSubtree(const KeyNode* node, CStdioFile& file, const std::string& parentPath);

// How many values SaveTree(chosen, ...) writes that do not read back whole:
// a tree file keeps REG_SZ text on one line (nothing after its terminator)
// and REG_DWORD numbers; names must be on one line and hold no quote
// followed by '='.
std::size_t CountUnkeptValues(const KeyNode* chosen);

// The text of one value line, as written and printed: "name"="text",
// "name"=dword:0000001d or "name"=.
void AppendValueLine(std::string& out, const ValueEntry& value);

}  // namespace qv
