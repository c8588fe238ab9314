// The differences list on two trees of 200,000 keys and 1,000,000 values
// with 10,000 planted differences, already in memory (file sides): how long
// the background run takes to fill the list, and how soon a Cancel is
// answered while it runs (median of five each).
//   bench_differences [KEYS VALUES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "app/differences_run.h"
#include "bench/bench_trees.h"
#include "registry/unavailable_registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const long keys = argc > 2 ? std::atol(argv[1]) : 200000;
    const long values = argc > 2 ? std::atol(argv[2]) : 1000000;
    auto master = qv::bench::GenerateTree(keys, values);
    auto slave = qv::bench::GenerateTree(keys, values);
    // 10,000 differences: data changed, values and keys taken away.
    std::vector<qv::KeyNode*> all{slave.get()};
    for (std::size_t i = 0; i < all.size(); ++i)
        for (auto& k : all[i]->subkeys) all.push_back(k.get());
    std::size_t planted = 0;
    for (std::size_t i = 1; i < all.size() && planted < 10000; i += all.size() / 12000 + 1) {
        qv::KeyNode* k = all[i];
        if (!k->values.empty()) {
            k->values.front()->SetText("planted");
            ++planted;
        } else if (k->subkeys.empty() && k->parent != nullptr && k->parent->parent != nullptr) {
            k->AppendValue(std::make_unique<qv::ValueEntry>("Extra", REG_SZ, std::string("x\0", 2)));
            ++planted;
        }
    }
    qv::CUnavailableRegistry registry;  // file sides: nothing is read from a registry
    const qv::KeyNode* m = master.get();
    const qv::KeyNode* s = slave.get();

    std::vector<double> fill, cancel;
    std::size_t rows = 0;
    for (int i = 0; i < 5; ++i) {
        qv::CDifferencesRun run;
        const auto start = Clock::now();
        run.Start(registry, {m, false, ""}, {s, false, ""}, qv::CIgnoreList());
        run.Finish();
        fill.push_back(Seconds(start));
        rows = run.Rows().size();

        qv::CDifferencesRun stopped;
        stopped.Start(registry, {m, false, ""}, {s, false, ""}, qv::CIgnoreList());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto asked = Clock::now();
        stopped.Cancel();
        stopped.Finish();
        cancel.push_back(Seconds(asked));
    }
    std::printf("differences list, %ld keys / %ld values per side, %zu rows found (%zu planted):\n", keys, values, rows,
                planted);
    std::printf("  filled in %.3f s (target <= 1 s); Cancel answered in %.1f ms (target <= 100 ms)\n", Median(fill),
                Median(cancel) * 1000);
    return 0;
}
