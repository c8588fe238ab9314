// Trees for benchmarks, generated the same way every time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "files/tree_file.h"
#include "model/key_node.h"

namespace qv::bench {

// A tree shaped like a real registry: a few roots, wide levels near the top,
// narrower below, five values per key on average (strings and numbers).
inline std::unique_ptr<qv::KeyNode> GenerateTree(long keys, long values) {
    auto top = std::make_unique<qv::KeyNode>("bench.qvf");
    qv::KeyNode* roots[] = {
        top->AppendSubkey(std::make_unique<qv::KeyNode>("HKEY_LOCAL_MACHINE")),
        top->AppendSubkey(std::make_unique<qv::KeyNode>("HKEY_CURRENT_USER")),
    };
    std::vector<qv::KeyNode*> all;
    all.reserve(static_cast<std::size_t>(keys));
    unsigned long long seed = 42;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<unsigned>(seed >> 33);
    };
    for (long i = 0; i < keys; ++i) {
        qv::KeyNode* parent =
            all.size() < 50 ? roots[i % 2] : all[next() % all.size()];
        all.push_back(parent->AppendSubkey(
            std::make_unique<qv::KeyNode>("Key " + std::to_string(i) + " {" + std::to_string(next()) + "}")));
    }
    for (long v = 0; v < values; ++v) {
        qv::KeyNode* key = all[next() % all.size()];
        const std::string name = "Value" + std::to_string(v);
        if (v % 3 == 0) {
            const DWORD n = next();
            key->AppendValue(std::make_unique<qv::ValueEntry>(name.c_str(), REG_DWORD, &n));
        } else {
            const std::string text = "C:\\Program Files\\Vendor " + std::to_string(next()) + "\\bin\\tool.exe";
            key->AppendValue(std::make_unique<qv::ValueEntry>(name.c_str(), REG_SZ, text.c_str()));
        }
    }
    return top;
}


// The same tree as a program side holds it: written to a tree file and read
// back, so that keys and values lie in memory in file order.
inline std::unique_ptr<qv::KeyNode> ReadBackTree(long keys, long values, const std::string& path) {
    {
        auto generated = GenerateTree(keys, values);
        qv::CStdioFile file(path, qv::CStdioFile::modeCreate | qv::CStdioFile::modeWrite);
        qv::SaveTree(generated.get(), file);
        file.Close();
    }
    auto top = std::make_unique<qv::KeyNode>(path);
    qv::CStdioFile file(path, qv::CStdioFile::modeRead);
    qv::ReadTreeFile(top.get(), file);
    return top;
}

}  // namespace qv::bench
