// regedit's .reg files: "Windows Registry Editor Version 5.00" (UTF-16LE
// with a byte-order mark) and "REGEDIT4" (8-bit). Text in the registry store
// is UTF-8, so version 5 text (strings, names, and the data of hex(1),
// hex(2), hex(6), hex(7)) is converted at the file boundary; REGEDIT4 text
// is taken byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files/key_name.h"
#include "model/registry_types.h"
#include "model/text_encoding.h"

namespace qv {

struct RegValue {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;  // the registry's bytes

    bool operator==(const RegValue&) const = default;
};

// One key with its values and, as far as it was read, its subkeys.
struct RegTree {
    std::string name;
    std::vector<RegValue> values;
    std::vector<std::unique_ptr<RegTree>> subkeys;
};

// kWine: Wine's own registry files (system.reg, user.reg, userdef.reg), read only.
enum class RegFileFormat { kVersion5, kRegedit4, kWine };

struct RegFileOp {
    enum Kind { kKey, kDeleteKey, kSetValue, kDeleteValue };
    Kind kind = kKey;
    RegKeyName key;  // kKey, kDeleteKey: the section's key
    RegValue value;  // kSetValue; the name only for kDeleteValue
    std::size_t line = 0;
};

struct RegFileContent {
    RegFileFormat format = RegFileFormat::kVersion5;
    std::vector<RegFileOp> ops;  // in file order; values follow their key
};

// Reads a whole .reg file. False, with "line N: reason" in `error`, on the
// first mistake.
bool ParseRegFile(std::string_view bytes, RegFileContent& content, std::string& error);

// The file regedit writes for `tree`, whose key is called `fullName`
// ("HKEY_...\path"): header, a section per key depth first, each followed by
// an empty line. False, naming the value, when version 5 is asked for and a
// name or text is not UTF-8.
bool WriteRegFile(const RegTree& tree, const std::string& fullName, RegFileFormat format,
                  std::string& bytes, std::string& error);

// The line (wrapped as regedit wraps it, "\n" between its parts) that sets
// `value` in a version 5 file, as text to read or paste. False, naming the
// value of `keyName`, when that file could not hold it.
bool WriteRegValueLine(const RegValue& value, const std::string& keyName, std::string& line, std::string& error);

// One section of a patch: the key deleted with everything below it
// ([-KEY]), or the key made if missing, with values deleted ("name"=-) and
// set.
struct RegPatchSection {
    std::string key;  // "HKEY_...\path"
    bool deleteKey = false;
    std::vector<std::string> deleteValues;
    std::vector<RegValue> setValues;
};

// A file of the sections in their order, as regedit and "quorvane-reg
// import" apply it. False, naming the entry, where version 5 is asked for
// and a name or text is not UTF-8.
bool WriteRegPatch(const std::vector<RegPatchSection>& sections, std::string& bytes, std::string& error,
                   RegFileFormat format = RegFileFormat::kVersion5);

// More than the largest export of a whole registry hive.
constexpr std::uintmax_t kMaxImportFileBytes = std::uintmax_t{1} << 30;

// Reads the whole file at `path` for an import: only a regular file of a size
// an export can have (a folder, a pipe or a device would fail, block or never
// end). False with the reason otherwise.
bool ReadImportFile(const std::string& path, std::string& bytes, std::string& reason);
// The same for a .reg file, whose first line is checked before the rest is
// read: a file that is no registry file is refused at once, whatever its size.
bool ReadRegFileBytes(const std::string& path, std::string& bytes, std::string& reason);

}  // namespace qv
