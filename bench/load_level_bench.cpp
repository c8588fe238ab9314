// Times a forced load of a stored subtree of 100,000 keys and 500,000 values
// (and of twice that, to show the load grows linearly), next to the time the
// sqlite3 shell takes to dump the same rows.
//   bench_load_level [KEYS VALUES]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "model/loader.h"
#include "registry/store_registry.h"
#include "bench/synthetic_tree.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Result {
    double load = 0;
    double dump = 0;
    std::size_t keys = 0;
    std::size_t values = 0;
};

bool Measure(std::size_t keys, std::size_t values, Result& result) {
    const fs::path db = fs::temp_directory_path() / ("quorvane-bench-" + std::to_string(::getpid()) + "-" + std::to_string(keys) + ".db");
    for (const char* suffix : {"", "-wal", "-shm", "-qvstamp"}) fs::remove(db.string() + suffix);
    std::string error;
    auto store = qv::CStoreRegistry::Open(db.string(), &error);
    if (!store) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    qv::SyntheticTreeOptions options;
    options.keys = keys;
    options.values = values;
    options.depth = 5;
    options.fanOut = 20;
    if (qv::GenerateSyntheticTree(*store, options) != 0) {
        std::fprintf(stderr, "could not generate the tree: %s\n", store->LastError().c_str());
        return false;
    }

    qv::KeyNode top("local_computer");
    qv::KeyNode* node = top.AppendSubkey(std::make_unique<qv::KeyNode>("HKEY_LOCAL_MACHINE"));
    node = node->AppendSubkey(std::make_unique<qv::KeyNode>("Software"));
    node = node->AppendSubkey(std::make_unique<qv::KeyNode>("Synthetic"));
    auto start = Clock::now();
    qv::LoadLevel(node, *store, "", true);
    result.load = Seconds(start);

    std::vector<const qv::KeyNode*> stack{node};
    while (!stack.empty()) {
        const qv::KeyNode* k = stack.back();
        stack.pop_back();
        ++result.keys;
        result.values += k->values.size();
        for (const auto& s : k->subkeys) stack.push_back(s.get());
    }
    store.reset();

    const std::string command = "sqlite3 '" + db.string() + "' .dump > /dev/null";
    start = Clock::now();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "the sqlite3 shell failed\n");
    result.dump = Seconds(start);
    for (const char* suffix : {"", "-wal", "-shm", "-qvstamp"}) fs::remove(db.string() + suffix);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t keys = argc > 2 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const std::size_t values = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 500000;
    Result one, two;
    if (!Measure(keys, values, one) || !Measure(2 * keys, 2 * values, two)) return 1;
    std::printf("forced load of %zu keys, %zu values: %.3f s (sqlite3 .dump of the same store: %.3f s, ratio %.2f)\n",
                one.keys, one.values, one.load, one.dump, one.load / one.dump);
    std::printf("forced load of %zu keys, %zu values: %.3f s (sqlite3 .dump: %.3f s)\n", two.keys,
                two.values, two.load, two.dump);
    std::printf("twice the keys take %.2f times as long\n", two.load / one.load);
    return 0;
}
