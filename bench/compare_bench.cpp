// quorvane-reg compare of two tree files of 200,000 keys and 1,000,000
// values that differ in 1,000 values, next to GNU diff of the same two files,
// in one run: wall time (median of five) and peak memory of each.
//   bench_compare [KEYS VALUES]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_trees.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Run {
    double seconds = 0;
    long peakKb = 0;
};

// Runs `argv` with its output thrown away; the child's own peak memory.
Run Measure(const std::vector<std::string>& argv) {
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {std::chrono::duration<double>(Clock::now() - start).count(), usage.ru_maxrss};
}

Run Median(const std::vector<std::string>& argv, int runs) {
    std::vector<Run> all;
    for (int i = 0; i < runs; ++i) all.push_back(Measure(argv));
    std::sort(all.begin(), all.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
    return all[all.size() / 2];
}

void Save(const qv::KeyNode& top, const std::string& path) {
    qv::CStdioFile file(path, qv::CStdioFile::modeCreate | qv::CStdioFile::modeWrite | qv::CStdioFile::typeText);
    qv::SaveTree(&top, file);
    file.Close();
}

}  // namespace

int main(int argc, char** argv) {
    const long keys = argc > 2 ? std::atol(argv[1]) : 200000;
    const long values = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path dir = fs::temp_directory_path() / ("quorvane-bench-compare-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string a = (dir / "a.qvf").string(), b = (dir / "b.qvf").string();
    {
        auto tree = qv::bench::GenerateTree(keys, values);
        Save(*tree, a);
        // 1,000 values spread over the tree get other data.
        std::vector<qv::KeyNode*> pending{tree.get()};
        std::size_t changed = 0, seen = 0;
        const std::size_t every = static_cast<std::size_t>(std::max(1L, values / 1000));
        while (!pending.empty() && changed < 1000) {
            qv::KeyNode* k = pending.back();
            pending.pop_back();
            for (auto& v : k->values)
                if (seen++ % every == 0 && changed < 1000 && v->type == REG_SZ) v->SetText("changed"), ++changed;
            for (auto& s : k->subkeys) pending.push_back(s.get());
        }
        Save(*tree, b);
    }
    const double mb = static_cast<double>(fs::file_size(a) + fs::file_size(b)) / 1e6;
    const Run ours = Median({QV_REG_TOOL, "compare", a, b, "/s", "/noignore"}, 5);
    const Run diff = Median({"diff", a, b}, 5);
    std::printf("two tree files of %ld keys, %ld values (%.0f MB together), 1,000 values changed:\n", keys, values, mb);
    std::printf("  quorvane-reg compare /s  %.2f s, peak %.0f MB (%.2fx the files)\n", ours.seconds,
                static_cast<double>(ours.peakKb) / 1024, static_cast<double>(ours.peakKb) * 1024 / 1e6 / mb);
    std::printf("  diff                     %.2f s, peak %.0f MB\n", diff.seconds, static_cast<double>(diff.peakKb) / 1024);
    std::printf("  targets: time <= diff's, peak <= 2x the files\n");
    fs::remove_all(dir);
    return 0;
}
