// Shows a file side of 200,000 keys in the Win32 tree control and fills the
// Win32 value list with 10,000 values, printing times; then, for comparison,
// the same keys inserted whole into a plain tree view.
//   bench_pane_win32 [KEYS [VALUES [EAGER_KEYS]]]   (EAGER_KEYS 0: skip that part)
#include "panes/win32/win32_list_ctrl.h"
#include "panes/win32/win32_tree_ctrl.h"

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/bench_trees.h"
#include "model/key_node.h"
#include "panes/value_pane.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

long WorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))
               ? static_cast<long>(counters.WorkingSetSize)
               : 0;
}

void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// The program's frame as far as the controls need it: a window that passes
// WM_NOTIFY on.
std::function<bool(const NMHDR&, LRESULT&)> g_notify;

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (message == WM_NOTIFY && g_notify && g_notify(*reinterpret_cast<const NMHDR*>(lParam), result)) return result;
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MakeFrame() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"QvPaneBench";
    ::RegisterClassW(&wc);
    HWND frame = ::CreateWindowExW(0, L"QvPaneBench", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 960, 760,
                                   nullptr, nullptr, wc.hInstance, nullptr);
    Pump();
    return frame;
}

}  // namespace

int main(int argc, char** argv) {
    const long keys = argc > 1 ? std::atol(argv[1]) : 200000;
    const long values = argc > 2 ? std::atol(argv[2]) : 10000;
    const long eagerKeys = argc > 3 ? std::atol(argv[3]) : keys;
    HWND frame = MakeFrame();

    auto top = qv::bench::GenerateTree(keys - 2, 0);
    std::vector<qv::KeyNode*> all{top.get()};
    for (std::size_t i = 0; i < all.size(); ++i)
        for (const auto& sub : all[i]->subkeys) all.push_back(sub.get());

    {
        qv::CWin32TreeCtrl tree(frame, 1);
        ::MoveWindow(tree.Hwnd(), 0, 0, 400, 700, TRUE);
        g_notify = [&](const NMHDR& header, LRESULT& result) { return tree.OnNotify(header, result); };
        Pump();

        // As the tree pane shows a file side, then one paint with the root open.
        const long before = WorkingSet();
        auto start = Clock::now();
        tree.SetVisible(false);
        tree.DeleteAllItems();
        tree.InsertRootItem(top.get(), qv::kImageDocument, qv::kImageDocument + 1);
        tree.InsertChildItems(top.get(), qv::kImageFileKey);
        tree.SetVisible(true);
        const double insertMs = Millis(start);
        tree.Expand(top.get());
        ::UpdateWindow(tree.Hwnd());
        const double shownMs = Millis(start);
        const double items = static_cast<double>(tree.ItemCount());
        std::printf("tree: %.0f items inserted in %.1f ms, shown (root open, painted) after %.1f ms; "
                    "%zu made in the tree view\n",
                    items, insertMs, shownMs, tree.ViewItemCount());
        std::printf("tree memory: %.1f bytes/key working set growth\n",
                    static_cast<double>(WorkingSet() - before) / items);

        // The last key generated lies deep: selecting it makes the levels above it.
        start = Clock::now();
        tree.SelectItem(all.back());
        ::UpdateWindow(tree.Hwnd());
        std::printf("tree: a key %d levels down selected and painted in %.1f ms; %zu made in the tree view\n",
                    all.back()->Level(), Millis(start), tree.ViewItemCount());
        // As a walk stops at keys one after another: the deepest ones, in turn.
        start = Clock::now();
        const std::size_t stops = std::min<std::size_t>(100, all.size() - 1);
        for (std::size_t i = 0; i < stops; ++i) {
            tree.SelectItem(all[all.size() - 2 - i]);
            ::UpdateWindow(tree.Hwnd());
        }
        std::printf("tree: %zu more keys selected one by one, %.1f ms each; %zu made in the tree view\n", stops,
                    Millis(start) / static_cast<double>(stops), tree.ViewItemCount());
        start = Clock::now();
        tree.DeleteAllItems();
        std::printf("tree: all items deleted in %.1f ms\n", Millis(start));
        g_notify = nullptr;
    }

    {
        qv::KeyNode key("values");
        for (long v = 0; v < values; ++v) {
            const std::string name = "Value" + std::to_string(v);
            const std::string text = "C:\\Program Files\\Vendor " + std::to_string(v) + "\\bin\\tool.exe";
            key.AppendValue(std::make_unique<qv::ValueEntry>(name.c_str(), REG_SZ, text.c_str()));
        }
        qv::CWin32ListCtrl list(frame, 2);
        ::MoveWindow(list.Hwnd(), 420, 0, 520, 700, TRUE);
        g_notify = [&](const NMHDR& header, LRESULT& result) { return list.OnNotify(header, result); };
        qv::CRegListView pane(list);
        pane.m_pNode = &key;
        Pump();
        const auto start = Clock::now();
        pane.FillValues();
        const double fillMs = Millis(start);
        ::UpdateWindow(list.Hwnd());
        std::printf("list: %d values filled in %.1f ms, painted after %.1f ms\n", list.GetItemCount(), fillMs,
                    Millis(start));
        pane.m_pNode = nullptr;
        g_notify = nullptr;
    }

    if (eagerKeys > 0) {
        // What the lazy tree saves: every key inserted into a plain tree view.
        HWND plain = ::CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES, 0,
                                       0, 400, 700, frame, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        const std::size_t count = std::min(all.size(), static_cast<std::size_t>(eagerKeys));
        std::vector<HTREEITEM> handles(all.size(), nullptr);
        std::unordered_map<const qv::KeyNode*, std::size_t> index;
        for (std::size_t i = 0; i < count; ++i) index.emplace(all[i], i);
        const auto start = Clock::now();
        ::SendMessageW(plain, WM_SETREDRAW, FALSE, 0);
        for (std::size_t i = 0; i < count; ++i) {
            const std::wstring text = qv::Widen(all[i]->name);
            TVINSERTSTRUCTW insert{};
            insert.hParent = i == 0 ? TVI_ROOT : handles[index.at(all[i]->parent)];
            insert.hInsertAfter = TVI_LAST;
            insert.item.mask = TVIF_TEXT | TVIF_PARAM;
            insert.item.pszText = const_cast<wchar_t*>(text.c_str());
            insert.item.lParam = reinterpret_cast<LPARAM>(all[i]);
            handles[i] = reinterpret_cast<HTREEITEM>(
                ::SendMessageW(plain, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        }
        ::SendMessageW(plain, WM_SETREDRAW, TRUE, 0);
        ::SendMessageW(plain, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(handles[0]));
        ::UpdateWindow(plain);
        std::printf("plain tree view, every key inserted: %zu items in %.1f ms\n", count, Millis(start));
        const auto gone = Clock::now();
        ::DestroyWindow(plain);
        std::printf("plain tree view: destroyed in %.1f ms\n", Millis(gone));
    }
    ::DestroyWindow(frame);
    return 0;
}
