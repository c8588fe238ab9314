// Shows a file side of 200,000 keys in the Qt tree control and fills the Qt
// value list with 10,000 values, printing times and the tree's memory per key.
//   bench_pane [KEYS [VALUES]]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>

#include "bench/bench_trees.h"
#include "panes/qt/qt_tree_ctrl.h"
#include "panes/qt/qt_list_ctrl.h"
#include "panes/value_pane.h"
#include "model/key_node.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

long RssBytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const long keys = argc > 1 ? std::atol(argv[1]) : 200000;
    const long values = argc > 2 ? std::atol(argv[2]) : 10000;
    QApplication app(argc, argv);

    auto top = qv::bench::GenerateTree(keys - 2, 0);
    qv::CQtTreeCtrl tree;
    tree.resize(400, 700);
    tree.show();
    QApplication::processEvents();

    // As the tree pane shows a file side, then one paint with the root open.
    auto show = [&] {
        tree.SetVisible(false);
        tree.DeleteAllItems();
        tree.InsertRootItem(top.get(), qv::kImageDocument, qv::kImageDocument + 1);
        tree.InsertChildItems(top.get(), qv::kImageFileKey);
        tree.SetVisible(true);
    };
    auto paint = [&] {
        tree.repaint();
        QApplication::processEvents();
    };
    const long rssBefore = RssBytes();
    auto start = Clock::now();
    show();
    const double insertMs = Millis(start);
    tree.Expand(top.get());
    paint();
    const double shownMs = Millis(start);
    const long rssAfter = RssBytes();

    const auto items = static_cast<double>(tree.KeyModel().ItemCount());
    std::printf("tree: %.0f items inserted in %.1f ms, shown (root open, painted) after %.1f ms\n", items, insertMs,
                shownMs);
    std::printf("tree memory: %.1f bytes/key counted, %.1f bytes/key resident growth\n",
                static_cast<double>(tree.KeyModel().MemoryBytes()) / items,
                static_cast<double>(rssAfter - rssBefore) / items);
    start = Clock::now();
    tree.DeleteAllItems();
    std::printf("tree: all items deleted in %.1f ms\n", Millis(start));

    // Qt's own share grows with what is open: everything at once is the worst.
    show();
    start = Clock::now();
    tree.expandAll();
    paint();
    std::printf("tree, everything open: opened in %.1f ms, %.1f bytes/key resident growth in all\n", Millis(start),
                static_cast<double>(RssBytes() - rssBefore) / items);
    start = Clock::now();
    tree.DeleteAllItems();
    std::printf("tree, everything open: all items deleted in %.1f ms\n", Millis(start));

    qv::KeyNode key("values");
    for (long v = 0; v < values; ++v) {
        const std::string name = "Value" + std::to_string(v);
        const std::string text = "C:\\Program Files\\Vendor " + std::to_string(v) + "\\bin\\tool.exe";
        key.AppendValue(std::make_unique<qv::ValueEntry>(name.c_str(), REG_SZ, text.c_str()));
    }
    qv::CQtListCtrl list;
    list.resize(520, 700);
    list.show();
    qv::CRegListView pane(list);
    pane.m_pNode = &key;
    QApplication::processEvents();
    start = Clock::now();
    pane.FillValues();
    const double fillMs = Millis(start);
    list.repaint();
    QApplication::processEvents();
    std::printf("list: %d values filled in %.1f ms, painted after %.1f ms\n", list.GetItemCount(), fillMs,
                Millis(start));
    pane.m_pNode = nullptr;
    return 0;
}
