// What the undo journal costs: Overwrite with Recursive of a 10,000-key
// subtree in this computer's store, with the journal recording it (before
// and after) and without, in one run (median of three each).
//   bench_undo [KEYS]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "bench/synthetic_tree.h"
#include "edit/copy.h"
#include "edit/undo_journal.h"
#include "model/loader.h"
#include "registry/store_registry.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t keys = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
    const fs::path dir = fs::temp_directory_path() / ("quorvane-bench-undo-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string error;
    auto store = qv::CStoreRegistry::Open((dir / "registry.db").string(), &error);
    qv::SyntheticTreeOptions source;
    source.path = "Software\\Source";
    source.keys = keys;
    source.values = keys * 5;
    qv::SyntheticTreeOptions target = source;
    target.path = "Software\\Target";
    target.seed = 2;
    if (!store || qv::GenerateSyntheticTree(*store, source) != 0 || qv::GenerateSyntheticTree(*store, target) != 0) {
        std::fprintf(stderr, "could not make the store: %s\n", error.c_str());
        return 1;
    }
    qv::CUndoJournal journal;
    if (!journal.Open((dir / "journal").string(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // The Master's subtree in memory, as a loaded side holds it.
    qv::KeyNode top("local_computer");
    qv::KeyNode* master = top.AppendSubkey(std::make_unique<qv::KeyNode>("HKEY_LOCAL_MACHINE"))
                              ->AppendSubkey(std::make_unique<qv::KeyNode>("Software"))
                              ->AppendSubkey(std::make_unique<qv::KeyNode>("Source"));
    qv::LoadLevel(master, *store, "", true);

    std::vector<double> plain, recorded;
    for (int run = 0; run < 6; ++run) {
        const bool withJournal = run % 2 == 1;
        qv::KeyNode slaveTop("local_computer");
        qv::KeyNode* slave = slaveTop.AppendSubkey(std::make_unique<qv::KeyNode>("HKEY_LOCAL_MACHINE"))
                                 ->AppendSubkey(std::make_unique<qv::KeyNode>("Software"))
                                 ->AppendSubkey(std::make_unique<qv::KeyNode>("Target"));
        const auto start = Clock::now();
        if (withJournal &&
            !journal.Begin(*store, "", "Overwrite Recursive Copy", {{"HKEY_LOCAL_MACHINE\\Software\\Target", true}}, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        qv::OverwriteFrom(slave, *store, "", master, true);
        if (withJournal) journal.End(*store);
        (withJournal ? recorded : plain).push_back(std::chrono::duration<double>(Clock::now() - start).count());
        // Back to a Target unlike the Source for the next run.
        qv::DeleteRegistryTree(*store, HKEY_LOCAL_MACHINE, "Software\\Target");
        qv::GenerateSyntheticTree(*store, target);
    }
    std::printf("Overwrite Recursive of %zu keys / %zu values: %.2f s without the journal, %.2f s with it (%.2fx; target <= 1.5x)\n",
                keys, keys * 5, Median(plain), Median(recorded), Median(recorded) / Median(plain));
    store.reset();
    fs::remove_all(dir);
    return 0;
}
