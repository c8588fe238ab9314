#include "tests/support/registry_builder.h"

#include "files/reg_file.h"
#include "model/open_key.h"

namespace qv {

LONG BuildRegistry(IRegistry& registry, std::string_view text, std::string* error) {
    RegFileContent content;
    std::string reason;
    if (!ParseRegFile("REGEDIT4\n" + std::string(text), content, reason)) {
        if (error != nullptr) *error = reason + " (the header is line 1)";
        return ERROR_INVALID_PARAMETER;
    }
    CRegHandle key(registry);
    for (const RegFileOp& op : content.ops) {
        LONG status = ERROR_INVALID_PARAMETER;  // deletions have no place here
        if (op.kind == RegFileOp::kKey)
            status = registry.RegCreateKeyExA(op.key.root, op.key.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr);
        else if (op.kind == RegFileOp::kSetValue)
            status = registry.RegSetValueExA(key.Get(), op.value.name.c_str(), 0, op.value.type,
                                             reinterpret_cast<const BYTE*>(op.value.data.data()),
                                             static_cast<DWORD>(op.value.data.size()));
        if (status != ERROR_SUCCESS) {
            if (error != nullptr) *error = "line " + std::to_string(op.line) + " failed with " + std::to_string(status);
            return status;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace qv
