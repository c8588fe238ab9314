// Times the Compare walk over two identical trees of 200,000 keys and
// 1,000,000 values, and Find over the same tree for a text that never matches.
// The trees are read from a tree file, as a side is held in the program.
//   bench_walks [KEYS VALUES]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bench/bench_trees.h"
#include "compare/compare_walk.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const long keys = argc > 2 ? std::atol(argv[1]) : 200000;
    const long values = argc > 2 ? std::atol(argv[2]) : 1000000;
    const std::string path = (std::filesystem::temp_directory_path() / ("quorvane-walk-bench-" + std::to_string(::getpid()) + ".qvf")).string();
    auto master = qv::bench::ReadBackTree(keys, values, path);
    auto slave = qv::bench::ReadBackTree(keys, values, path);
    std::filesystem::remove(path);
    long stops = 0;
    const qv::WalkStop count = [&stops](qv::KeyNode*, int, qv::UINT) {
        ++stops;
        return true;
    };
    auto start = Clock::now();
    qv::CompareNodes(slave.get(), master.get(), count);
    const double compare = std::chrono::duration<double>(Clock::now() - start).count();
    start = Clock::now();
    qv::FindIn(slave.get(), "no such name or text", true, true, count);
    const double find = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("compare of two identical trees (%ld keys, %ld values each): %.3f s, %ld stops\n", keys, values,
                compare, stops);
    std::printf("find (names and data) over the same tree: %.3f s\n", find);
    return stops == 0 ? 0 : 1;
}
