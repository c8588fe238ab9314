// Times a forced load (every key and value read) of one key's subtree on a
// Windows computer or Samba over MS-RRP, as a side loads it, and counts the
// winreg calls it took. bench/rrp_load_bench.sh seeds the tree and sets
// the figure beside Samba's own export of the same key.
//   bench_rrp_load smb://HOST[:PORT] 'KEY BELOW HKLM'    (credentials: QUORVANE_SMB_*)
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "model/key_node.h"
#include "model/loader.h"
#include "registry/rrp/rrp_registry.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s smb://HOST[:PORT] 'PATH BELOW HKLM'\n", argv[0]);
        return 2;
    }
    const std::string computer = argv[1], path = argv[2];
    qv::CRrpRegistry registry(qv::RrpOptions::FromEnvironment());
    qv::KeyNode top(computer);
    qv::KeyNode* node = top.AppendSubkey(std::make_unique<qv::KeyNode>("HKEY_LOCAL_MACHINE"));
    node = node->AppendSubkey(std::make_unique<qv::KeyNode>(path));
    const auto start = std::chrono::steady_clock::now();
    const LONG status = qv::ReloadSubtree(node, registry, computer, HKEY_LOCAL_MACHINE, path);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::size_t keys = 0, values = 0;
    std::vector<const qv::KeyNode*> stack{node};
    while (!stack.empty()) {
        const qv::KeyNode* k = stack.back();
        stack.pop_back();
        ++keys;
        values += k->values.size();
        for (const auto& s : k->subkeys) stack.push_back(s.get());
    }
    std::printf("quorvane over MS-RRP: %.2f s for %zu keys and %zu values, %zu winreg calls (status %d, %zu handles open)\n",
                seconds, keys, values, registry.CallCount(), static_cast<int>(status), registry.OpenHandleCount());
    return status == 0 ? 0 : 1;
}
