// A large, varied registry tree for the benchmarks, the same for the same
// options.
#include "bench/synthetic_tree.h"

#include <algorithm>
#include <string>
#include <vector>

#include "registry/registry_batch.h"

namespace qv {

namespace {

struct ValueSpec {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

// SplitMix64: small, fast and the same everywhere.
class CRandom {
public:
    explicit CRandom(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }

private:
    std::uint64_t m_state;
};

// Letters only, distinct without regard to case, so word + number is unique.
const char* const kWords[] = {"Alpha", "bravo", "Charlie", "delta", "Echo", "foxtrot", "Golf", "hotel"};

ValueSpec MakeValue(CRandom& random, std::size_t ordinal) {
    ValueSpec value;
    value.name = std::string(kWords[random.Below(8)]) + "Value" + std::to_string(ordinal);
    const std::size_t kind = random.Below(20);
    if (kind < 8 || kind == 19) {
        value.type = kind == 19 ? REG_EXPAND_SZ : REG_SZ;
        const std::size_t length = 1 + random.Below(40);
        for (std::size_t i = 0; i < length; ++i) value.data += static_cast<char>('a' + random.Below(26));
        value.data += '\0';
    } else if (kind < 12 || kind == 18) {
        value.type = kind == 18 ? REG_QWORD : REG_DWORD;
        const std::uint64_t number = random.Next();
        for (int i = 0; i < (kind == 18 ? 8 : 4); ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xff);
    } else if (kind < 16) {
        value.type = REG_BINARY;
        const std::size_t length = random.Below(97) == 0 ? 300 + random.Below(4000) : random.Below(64);
        for (std::size_t i = 0; i < length; ++i) value.data += static_cast<char>(random.Next() & 0xff);
    } else {
        value.type = REG_MULTI_SZ;
        for (std::size_t item = 0, items = random.Below(4); item < items; ++item) {
            value.data += kWords[random.Below(8)];
            value.data += '\0';
        }
        value.data += '\0';
    }
    return value;
}

}  // namespace

LONG GenerateSyntheticTree(IRegistry& registry, const SyntheticTreeOptions& options, SyntheticTreeStats* stats) {
    if (options.keys > 0 && (options.depth == 0 || options.fanOut == 0)) return ERROR_INVALID_PARAMETER;

    // The shape: node 0 is root\path, the others its keys, breadth first.
    const std::size_t count = options.keys + 1;
    std::vector<std::size_t> level(count, 0);
    std::vector<std::vector<std::size_t>> children(count);
    std::vector<std::size_t> parents{0};  // nodes that may take children, in order
    std::size_t cursor = 0, overflowFrom = 0, overflow = 0;
    bool overflowing = false;
    for (std::size_t node = 1; node < count; ++node) {
        while (!overflowing && children[parents[cursor]].size() >= options.fanOut) {
            if (++cursor == parents.size()) {
                // Full down to the last level: the keys just above it take the rest.
                overflowing = true;
                overflowFrom = parents.size();
                while (overflowFrom > 0 && level[parents[overflowFrom - 1]] == level[parents.back()]) --overflowFrom;
            }
        }
        const std::size_t parent =
            overflowing ? parents[overflowFrom + overflow++ % (parents.size() - overflowFrom)] : parents[cursor];
        level[node] = level[parent] + 1;
        children[parent].push_back(node);
        if (level[node] < options.depth && !overflowing) parents.push_back(node);
    }

    CRandom random(options.seed);
    std::vector<std::size_t> valuesOf(count, 0);
    for (std::size_t v = 0; v < options.values; ++v) ++valuesOf[options.keys == 0 ? 0 : 1 + v % options.keys];

    SyntheticTreeStats made;
    auto* batch = dynamic_cast<IRegistryBatch*>(&registry);
    std::size_t callsInBatch = 0;
    constexpr std::size_t kCallsPerBatch = 50000;
    if (batch != nullptr) {
        if (const LONG status = batch->BeginBatch(); status != ERROR_SUCCESS) return status;
    }
    const auto counted = [&](LONG status) {
        if (status == ERROR_SUCCESS && batch != nullptr && ++callsInBatch >= kCallsPerBatch) {
            callsInBatch = 0;
            status = batch->CommitBatch();
            if (status == ERROR_SUCCESS) status = batch->BeginBatch();
        }
        return status;
    };

    // Depth first, keeping only the handles of the current branch open.
    struct Frame {
        std::size_t node;
        HKEY key;
        std::size_t next;
    };
    std::vector<Frame> stack;
    LONG status = ERROR_SUCCESS;
    const auto createNode = [&](HKEY parent, const std::string& name, std::size_t node) {
        HKEY key = nullptr;
        status = counted(registry.RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
        if (status != ERROR_SUCCESS) return;
        stack.push_back({node, key, 0});
        made.maxDepth = std::max(made.maxDepth, level[node]);
        for (std::size_t v = 0; v < valuesOf[node] && status == ERROR_SUCCESS; ++v) {
            const ValueSpec value = MakeValue(random, v);
            status = counted(registry.RegSetValueExA(key, value.name.c_str(), 0, value.type,
                                                     reinterpret_cast<const BYTE*>(value.data.data()),
                                                     static_cast<DWORD>(value.data.size())));
            if (status == ERROR_SUCCESS) {
                ++made.values;
                made.dataBytes += value.data.size();
            }
        }
    };
    createNode(options.root, options.path, 0);
    while (!stack.empty() && status == ERROR_SUCCESS) {
        Frame& top = stack.back();
        if (top.next == children[top.node].size()) {
            registry.RegCloseKey(top.key);
            stack.pop_back();
            continue;
        }
        const std::size_t child = children[top.node][top.next];
        const std::string name = kWords[random.Below(8)] + std::to_string(top.next++);
        createNode(top.key, name, child);
        if (status == ERROR_SUCCESS) ++made.keys;
    }
    for (const Frame& frame : stack) registry.RegCloseKey(frame.key);
    if (batch != nullptr) {
        if (status == ERROR_SUCCESS) status = batch->CommitBatch();
        else batch->RollbackBatch();
    }
    if (stats != nullptr) *stats = made;
    return status;
}

}  // namespace qv
