// Hives of 100,000 keys and 500,000 values: a forced load of one as a side
// next to the same load from the store, and quorvane-reg comparing two of
// them (one value changed in each of 1,000 keys) next to hivexregedit's
// export of each plus diff, in one run. Medians of five loads, of three
// compares.
//   bench_hive [KEYS VALUES]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/synthetic_tree.h"
#include "model/loader.h"
#include "model/open_key.h"
#include "registry/file_registry.h"
#include "registry/store_registry.h"
#include "tests/support/empty_hive.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// Median of `runs` forced loads of HKLM\SOFTWARE\Synthetic.
double ForcedLoad(qv::IRegistry& registry, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        qv::KeyNode top("top");
        qv::KeyNode* node = top.AppendSubkey(std::make_unique<qv::KeyNode>("HKEY_LOCAL_MACHINE"));
        node = node->AppendSubkey(std::make_unique<qv::KeyNode>("SOFTWARE"));
        node = node->AppendSubkey(std::make_unique<qv::KeyNode>("Synthetic"));
        const auto start = Clock::now();
        qv::LoadLevel(node, registry, "", true);
        times.push_back(Seconds(start));
    }
    return Median(times);
}

double Command(const std::string& command, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const int status = std::system(command.c_str());
        times.push_back(Seconds(start));
        if (status == -1) std::fprintf(stderr, "could not run: %s\n", command.c_str());
    }
    return Median(times);
}

// Changes the first value of the first `count` keys that have one.
void ChangeValues(qv::CFileRegistry& hive, std::size_t count) {
    std::vector<std::string> pending{"SOFTWARE\\Synthetic"};
    hive.BeginBatch();
    for (std::size_t at = 0; at < pending.size() && count > 0; ++at) {
        qv::CRegHandle key(hive);
        if (hive.RegOpenKeyExA(HKEY_LOCAL_MACHINE, pending[at].c_str(), 0, KEY_ALL_ACCESS, key.Receive()) != 0) continue;
        DWORD index = 0;
        std::string name;
        while (qv::NextSubkeyName(hive, key.Get(), index, name)) pending.push_back(pending[at] + "\\" + name);
        char valueName[16384];
        DWORD nameSize = sizeof valueName;
        if (hive.RegEnumValueA(key.Get(), 0, valueName, &nameSize, nullptr, nullptr, nullptr, nullptr) != 0) continue;
        const char changed[] = "changed by the benchmark";
        hive.RegSetValueExA(key.Get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(changed), sizeof changed);
        --count;
    }
    hive.CommitBatch();
}

}  // namespace

int main(int argc, char** argv) {
    qv::SyntheticTreeOptions options;
    options.root = HKEY_LOCAL_MACHINE;
    options.path = "SOFTWARE\\Synthetic";
    options.keys = argc > 2 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    options.values = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 500000;
    options.depth = 5;
    options.fanOut = 20;

    const fs::path dir = fs::temp_directory_path() / ("quorvane-bench-hive-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path a = dir / "A" / "SOFTWARE", b = dir / "B" / "SOFTWARE";
    fs::create_directories(a.parent_path());
    fs::create_directories(b.parent_path());
    std::string error;
    auto start = Clock::now();
    {
        qv::CFileRegistry hive;
        if (!qv::testing::WriteEmptyHive(a.string()) || !hive.MountHive(HKEY_LOCAL_MACHINE, "SOFTWARE", a.string(), true, error) ||
            qv::GenerateSyntheticTree(hive, options) != 0) {
            std::fprintf(stderr, "could not make the hive: %s\n", error.c_str());
            return 1;
        }
    }
    std::printf("hive of %zu keys and %zu values written in %.1f s: %.1f MB\n", options.keys, options.values,
                Seconds(start), static_cast<double>(fs::file_size(a)) / 1e6);
    fs::remove(a.string() + ".quorvane-bak");

    auto store = qv::CStoreRegistry::Open((dir / "registry.db").string(), &error);
    if (!store || qv::GenerateSyntheticTree(*store, options) != 0) {
        std::fprintf(stderr, "could not make the store: %s\n", error.c_str());
        return 1;
    }
    double fromHive;
    {
        qv::CFileRegistry hive;
        hive.MountHive(HKEY_LOCAL_MACHINE, "SOFTWARE", a.string(), false, error);
        fromHive = ForcedLoad(hive, 5);
    }
    const double fromStore = ForcedLoad(*store, 5);
    store.reset();
    std::printf("forced load as a side: hive %.2f s, store %.2f s (%.2fx the store; target <= 1.5x)\n", fromHive, fromStore,
                fromHive / fromStore);

    fs::copy_file(a, b);
    {
        qv::CFileRegistry hive;
        hive.MountHive(HKEY_LOCAL_MACHINE, "SOFTWARE", b.string(), true, error);
        ChangeValues(hive, 1000);
    }
    const std::string key = "HKLM\\SOFTWARE\\Synthetic";
    const std::string ours = "'" QV_REG_TOOL "' compare '" + a.string() + "::" + key + "' '" + b.string() + "::" + key +
                             "' /s > " + (dir / "ours.txt").string();
    const std::string hivex = "hivexregedit --export '" + a.string() + "' '\\Synthetic' > " + (dir / "a.reg").string() +
                              " && hivexregedit --export '" + b.string() + "' '\\Synthetic' > " + (dir / "b.reg").string() +
                              " && diff " + (dir / "a.reg").string() + " " + (dir / "b.reg").string() + " > " +
                              (dir / "diff.txt").string();
    const double oursTime = Command(ours, 3);
    const double hivexTime = Command(hivex, 3);
    std::printf("compare of two hives, 1,000 values changed: quorvane-reg %.2f s, hivexregedit --export x2 + diff %.2f s\n",
                oursTime, hivexTime);
    std::printf("(Samba's regdiff in Debian 12 reads only this machine's or a remote registry, not two hive files.)\n");
    fs::remove_all(dir);
    return 0;
}
