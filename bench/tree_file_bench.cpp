// Writes and reads a generated tree file of 200,000 keys and 1,000,000
// values and prints throughput and peak memory.
//   bench_tree_file [KEYS VALUES [FILE]]
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_trees.h"
#include "files/tree_file.h"

namespace {

using qv::bench::GenerateTree;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    const long keys = argc > 2 ? std::atol(argv[1]) : 200000;
    const long values = argc > 2 ? std::atol(argv[2]) : 1000000;
    const std::string path =
        argc > 3 ? argv[3] : (std::filesystem::temp_directory_path() / ("quorvane-bench-" + std::to_string(::getpid()) + ".qvf")).string();

    // The generated tree only makes the file; the timed write is of the tree
    // the reader built, laid out in memory as the program holds a side.
    {
        auto generated = GenerateTree(keys, values);
        qv::CStdioFile file(path, qv::CStdioFile::modeCreate | qv::CStdioFile::modeWrite |
                                      qv::CStdioFile::typeText);
        qv::SaveTree(generated.get(), file);
        file.Close();
    }
    const double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    // The generator's millions of small blocks are merged and given back
    // before the clock starts: the read should not pay for freeing them.
    malloc_trim(0);

    auto start = Clock::now();
    auto top = std::make_unique<qv::KeyNode>(path);
    {
        qv::CStdioFile file(path, qv::CStdioFile::modeRead | qv::CStdioFile::typeText);
        if (qv::ReadTreeFile(top.get(), file) != 0) {
            std::fprintf(stderr, "the generated file did not read back\n");
            return 1;
        }
    }
    const double readSeconds = Seconds(start);

    const std::string copy = path + ".out";
    start = Clock::now();
    {
        qv::CStdioFile file(copy, qv::CStdioFile::modeCreate | qv::CStdioFile::modeWrite |
                                      qv::CStdioFile::typeText);
        qv::SaveTree(top.get(), file);
        file.Close();
    }
    const double writeSeconds = Seconds(start);
    std::filesystem::remove(copy);

    std::printf("tree file: %ld keys, %ld values, %.1f MB\n", keys, values, mb);
    std::printf("read:  %.3f s, %.1f MB/s\n", readSeconds, mb / readSeconds);
    std::printf("write: %.3f s, %.1f MB/s\n", writeSeconds, mb / writeSeconds);
    std::printf("peak memory: %ld MiB\n", PeakRssMiB());
    std::filesystem::remove(path);
    return 0;
}
