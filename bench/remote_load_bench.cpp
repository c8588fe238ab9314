// Times a forced load of a subtree of 100,000 keys and 500,000 values from
// another computer's quorvane-regd over loopback, next to the same load from
// the local store, and counts the requests the load made.
//   bench_remote_load [KEYS VALUES]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "model/loader.h"
#include "registry/registry_router.h"
#include "registry/store_registry.h"
#include "tests/support/regd_child.h"
#include "bench/synthetic_tree.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Load {
    double seconds = 0;
    std::size_t keys = 0;
    std::size_t values = 0;
};

// Loads HKLM\Software\Synthetic of `computer` (empty: this computer) whole.
Load Measure(qv::IRegistry& registry, const std::string& computer) {
    qv::KeyNode top(computer.empty() ? "local_computer" : computer);
    qv::KeyNode* node = top.AppendSubkey(std::make_unique<qv::KeyNode>("HKEY_LOCAL_MACHINE"));
    node = node->AppendSubkey(std::make_unique<qv::KeyNode>("Software"));
    node = node->AppendSubkey(std::make_unique<qv::KeyNode>("Synthetic"));
    Load load;
    const auto start = Clock::now();
    qv::LoadLevel(node, registry, computer, true);
    load.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<const qv::KeyNode*> stack{node};
    while (!stack.empty()) {
        const qv::KeyNode* k = stack.back();
        stack.pop_back();
        ++load.keys;
        load.values += k->values.size();
        for (const auto& s : k->subkeys) stack.push_back(s.get());
    }
    return load;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t keys = argc > 2 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const std::size_t values = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 500000;
    const fs::path folder = fs::temp_directory_path() / ("quorvane-remote-bench-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string db = (folder / "registry.db").string();
    std::string error;
    {
        auto store = qv::CStoreRegistry::Open(db, &error);
        if (!store) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        qv::SyntheticTreeOptions options;
        options.keys = keys;
        options.values = values;
        options.depth = 5;
        options.fanOut = 20;
        if (qv::GenerateSyntheticTree(*store, options) != 0) {
            std::fprintf(stderr, "could not generate the tree: %s\n", store->LastError().c_str());
            return 1;
        }
    }

    // This computer: the store as the program holds it, behind the router.
    auto store = qv::CStoreRegistry::Open(db, &error);
    qv::CRegistryRouter local(*store, qv::RemoteOptions{});
    Measure(local, "");  // the file into the page cache, as for the service below
    const Load near = Measure(local, "");

    // Another computer: the same store behind quorvane-regd on loopback.
    qv::test::CRegdChild service;
    qv::test::RegdOptions options;
    options.store = db;
    options.exitAfter = 600;
    if (!service.Start(options, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    qv::CRegistryRouter router(*store, qv::RemoteOptions{});
    const std::uint64_t before = router.Remote().RequestCount();
    const Load far = Measure(router, service.Computer());
    const std::uint64_t requests = router.Remote().RequestCount() - before;
    service.Stop();
    fs::remove_all(folder);

    if (far.keys != near.keys || far.values != near.values) {
        std::fprintf(stderr, "the loads differ: %zu keys, %zu values over the network, %zu and %zu here\n", far.keys,
                     far.values, near.keys, near.values);
        return 1;
    }
    std::printf("forced load of %zu keys, %zu values\n", near.keys, near.values);
    std::printf("  this computer's store:     %.3f s\n", near.seconds);
    std::printf("  quorvane-regd on loopback: %.3f s (%.2f times as long)\n", far.seconds, far.seconds / near.seconds);
    std::printf("  requests: %llu, %.4f per key loaded\n", static_cast<unsigned long long>(requests),
                static_cast<double>(requests) / static_cast<double>(far.keys));
    return 0;
}
