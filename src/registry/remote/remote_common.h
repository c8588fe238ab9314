// What the registry service and its client agree on beyond the schema: the
// default port, the bounds of a request, key paths and root numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/registry_types.h"

namespace qv::remote {

// quorvane-regd listens here unless told otherwise; a computer name
// without ":port" means this port.
constexpr int kDefaultPort = 7787;

// Requests larger than this are refused by the transport.
constexpr int kMaxRequestBytes = 4 << 20;
// A reply may carry a page of a big key plus keys read ahead.
constexpr int kMaxReplyBytes = 64 << 20;
// Bounds of one request's fields; beyond them the service answers
// INVALID_ARGUMENT, which the client reports as ERROR_INVALID_PARAMETER.
constexpr std::size_t kMaxPathBytes = 32767;
constexpr std::size_t kMaxNameBytes = 16383;
constexpr std::size_t kMaxDataBytes = 1 << 20;
// Room for one reply's snapshot page and for the keys read ahead.
constexpr std::size_t kSnapshotPageBytes = 2 << 20;
constexpr std::size_t kMaxReadAheadBytes = 2 << 20;
// Value data up to this size travels inside a snapshot; larger data is
// fetched when a caller asks for it with a buffer that holds it.
constexpr std::size_t kInlineDataBytes = 16384;

constexpr LONG kErrorNotSupported = 50;
constexpr LONG kErrorUnexpectedNetError = 59;
constexpr LONG kErrorNoAccess = 998;
constexpr LONG kErrorRegistryIoFailed = 1016;
// The service did not answer in time, could not be reached, or had no room
// for the call (a flood, say): asking again later may work.
constexpr LONG kErrorServiceBusy = 1723;

// True for "localhost", 127.0.0.0/8 and ::1 (with or without brackets).
bool IsLoopbackHost(std::string_view host);

// The names of `path`: runs of backslashes, a leading or a trailing one
// separate like a single one.
inline void SplitKeyPath(std::string_view path, std::vector<std::string_view>& parts) {
    parts.clear();
    while (!path.empty()) {
        const std::size_t cut = path.find('\\');
        const std::string_view part = path.substr(0, cut);
        if (!part.empty()) parts.push_back(part);
        if (cut == std::string_view::npos) break;
        path.remove_prefix(cut + 1);
    }
}

// `base` and the names of `subkey`, joined with single backslashes.
inline std::string JoinKeyPath(std::string_view base, std::string_view subkey) {
    std::string joined(base);
    std::vector<std::string_view> parts;
    SplitKeyPath(subkey, parts);
    for (std::string_view part : parts) {
        if (!joined.empty()) joined += '\\';
        joined += part;
    }
    return joined;
}

// Registry names compare with ASCII letters folded to lower case.
inline std::string FoldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// The schema's root number (1..7: the predefined handles in their order)
// of a predefined handle; 0 for any other handle.
inline int RootNumber(HKEY key) {
    const auto v = reinterpret_cast<std::intptr_t>(key);
    const auto first = reinterpret_cast<std::intptr_t>(HKEY_CLASSES_ROOT);
    if (v < first || v > reinterpret_cast<std::intptr_t>(HKEY_DYN_DATA)) return 0;
    return static_cast<int>(v - first) + 1;
}

inline HKEY RootHandle(int number) {
    return reinterpret_cast<HKEY>(reinterpret_cast<std::intptr_t>(HKEY_CLASSES_ROOT) + number - 1);
}

}  // namespace qv::remote
