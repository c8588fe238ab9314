// What differences are written as: lines in the layout of quorvane-reg's
// compare (a report), and a .reg patch that makes the Slave equal the Master.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compare/differences.h"
#include "files/reg_file.h"

namespace qv {

// REG_SZ, REG_DWORD, ...; "REG_UNKNOWN" for numbers without a name.
std::string TypeName(DWORD type);

// The data as reg.exe prints it: text up to its terminator, multi-strings
// joined by "\0", numbers as 0x hex, everything else as upper-case hex bytes.
std::string DataText(DWORD type, std::string_view data);

// The text up to its first zero, as the registry's text types end.
inline std::string_view UpToZero(std::string_view data) { return data.substr(0, data.find('\0')); }

// A REG_MULTI_SZ's strings: the list ends at an empty string or at the
// data's end, terminated or not.
std::vector<std::string_view> MultiStrings(std::string_view data);

// A value's name as listed: "(Default)" for the unnamed one.
inline std::string DisplayName(std::string_view name) { return name.empty() ? "(Default)" : std::string(name); }

// The lines of one difference: "< " for the Master's side (the first key),
// "> " for the Slave's, "= " for an equal item, then "Key: name" or
// "Value: key  name  TYPE  data"; "~ " for a name spelled in another case
// on each side, then "Key: master-key  slave-key" or "Value: key  master-name
// slave-name". `masterName` and `slaveName` are the
// compared keys as they are to be shown.
void AppendDiffLines(const Difference& d, const std::string& masterName, const std::string& slaveName,
                     std::string& out);

// Collects a patch from the differences it is handed (in walk order), to
// turn the Slave key `slaveKey` ("HKEY_...\path") into the Master: every
// deletion first ([-KEY] and "name"=-), then the keys to make (with their
// whole subtree) and values to set. Keys are named as the Slave spells them;
// a name that differs only in case is one name to the registry, so what is
// already equal below it is left alone.
class CPatchBuilder {
public:
    explicit CPatchBuilder(std::string slaveKey) : m_slaveKey(std::move(slaveKey)) {}
    void Add(const Difference& d);
    std::vector<RegPatchSection> Sections() const;

private:
    RegPatchSection& Section(std::vector<RegPatchSection>& list, const std::string& key);
    void AddSubtree(const KeyNode& key, const std::string& name);

    std::string m_slaveKey;
    std::vector<RegPatchSection> m_deletions;
    std::vector<RegPatchSection> m_additions;
};

}  // namespace qv
