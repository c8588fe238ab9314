// Wine's own registry files (system.reg, user.reg, userdef.reg) kept as the
// text they were read from, so that writing one back changes only the keys
// that changed. Everything the registry calls do not model (time stamps,
// #time=, #class=, #link, #arch=, comments, the order of keys and values)
// stays byte for byte in every key left alone; a changed key keeps its
// other lines and the lines of its unchanged values, gets its time stamps
// renewed, and only its changed values are written anew, as Wine writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "files/reg_file.h"

namespace qv {

class KeyNode;

struct WineRegText {
    // One line of a key's block, or a value with its continuation lines.
    struct Line {
        std::string raw;  // as read, line ends included
        bool isValue = false;
        bool deletes = false;  // "name"=-, which Wine does not write
        bool first = false;    // where a reader puts this value in its key (its last setting holds)
        RegValue value;        // when isValue
    };
    // A "[key] time" line and what follows it up to the next key.
    struct Block {
        std::string path;    // below the file's base, as the registry names it (UTF-8)
        std::string folded;  // `path` as the registry compares names
        std::string keyLine;
        std::vector<Line> lines;
    };
    std::string header;  // everything before the first key, as read
    std::string newline = "\n";
    HKEY root = nullptr;    // where the file's keys are: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER
    std::string basePath;   // or HKEY_USERS\.Default
    std::vector<Block> blocks;
    // Each key's values as a reader ends up with them, by folded path.
    std::unordered_map<std::string, std::vector<RegValue>> loaded;
};

// Reads a whole Wine registry file. False, with "line N: reason", where it
// is not one.
bool ReadWineRegText(std::string_view bytes, WineRegText& text, std::string& error);

// Makes the file's keys and values below `base` (an empty key). False, with
// the line and reason, for a key or value no registry call could make.
bool BuildWineKeys(const WineRegText& text, KeyNode& base, std::string& error);

// The file's new bytes for the keys now below `base`, changed keys stamped
// with `now` (100 ns ticks since 1601). False, with the reason, when the
// keys hold what the file cannot (a value on the base key itself).
bool RenderWineRegText(const WineRegText& text, const KeyNode& base, std::uint64_t now, std::string& bytes,
                       std::string& error);

// A value's line as Wine writes it (with its line end, `newline`), for a
// value that is new or changed.
std::string WineValueLine(const RegValue& value, const std::string& newline);

}  // namespace qv
