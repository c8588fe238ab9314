// The Win32 tree and value list controls against the fakes the pane tests
// use: random trees and random sequences of what the panes do, both controls
// compared after every step; then what the tree view shows, opened whole.
// The Win32 headers come first: the core's headers take <windows.h> without USER32.
#include "panes/win32/win32_list_ctrl.h"
#include "panes/win32/win32_tree_ctrl.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/key_node.h"
#include "panes/value_pane.h"
#include "tests/support/fake_controls.h"

namespace qv {
namespace {

// A window that passes WM_NOTIFY on, as the program's frame does.
struct Host {
    std::function<bool(const NMHDR&, LRESULT&)> notify;
    HWND hwnd;
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* host = reinterpret_cast<Host*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        LRESULT result = 0;
        if (message == WM_NOTIFY && host != nullptr && host->notify &&
            host->notify(*reinterpret_cast<const NMHDR*>(lParam), result))
            return result;
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    Host() {
        WNDCLASSW wc{0, Proc, 0, 0, ::GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr, L"QvTestHost"};
        ::RegisterClassW(&wc);  // fails harmlessly the second time
        hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr, nullptr,
                                 wc.hInstance, nullptr);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Host() { ::DestroyWindow(hwnd); }
};

struct Counter : ITreeCtrlEvents, IListCtrlEvents {
    int count = 0;
    void OnSelChanged() override { ++count; }
    void OnDblClick() override { ++count; }
};

std::vector<KeyNode*> AllNodes(KeyNode* top) {
    std::vector<KeyNode*> all{top};
    for (std::size_t i = 0; i < all.size(); ++i)
        for (const auto& sub : all[i]->subkeys) all.push_back(sub.get());
    return all;
}

void GrowRandomly(KeyNode* node, std::mt19937& rng, int depth) {
    static const char* const kNames[] = {"Software", "Ключ", "Раздел ключа", "Zürich", "日本"};
    for (int i = depth >= 4 ? 0 : static_cast<int>(rng() % 5); i > 0; --i) {
        const std::string name = std::string(kNames[rng() % 5]) + " " + std::to_string(rng() % 1000);
        GrowRandomly(node->AppendSubkey(std::make_unique<KeyNode>(name)), rng, depth + 1);
    }
}

HTREEITEM Next(HWND tree, UINT how, HTREEITEM item) {
    return reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

TVITEMW Get(HWND tree, HTREEITEM handle, wchar_t (&text)[300]) {
    TVITEMW tv{};
    tv.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    tv.hItem = handle;
    tv.pszText = text;
    tv.cchTextMax = 300;
    ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return tv;
}

// Opens every item of the tree view, as a user would (the control makes the
// children as they open), and checks that it shows exactly the fake's items.
void ExpectViewShows(HWND tree, const test::CFakeTreeCtrl& fake) {
    HTREEITEM root = Next(tree, TVGN_ROOT, nullptr);
    ASSERT_EQ(root != nullptr, fake.RootItem() != nullptr);
    if (root == nullptr) return;
    EXPECT_EQ(Next(tree, TVGN_NEXT, root), nullptr);
    std::vector<std::pair<HTREEITEM, KeyNode*>> pending{{root, fake.RootItem()}};
    while (!pending.empty()) {
        auto [handle, node] = pending.back();
        pending.pop_back();
        const auto* want = fake.ItemOf(node);
        wchar_t text[300] = {};
        const TVITEMW tv = Get(tree, handle, text);
        ASSERT_EQ(reinterpret_cast<KeyNode*>(tv.lParam), node);
        EXPECT_EQ(std::wstring(text), Widen(node->name));
        EXPECT_EQ(std::pair(tv.iImage, tv.iSelectedImage), std::pair(want->image, want->selectedImage));
        EXPECT_EQ(tv.cChildren != 0, !want->children.empty()) << node->name;
        ::SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(handle));
        std::size_t i = 0;
        for (HTREEITEM child = Next(tree, TVGN_CHILD, handle); child != nullptr; child = Next(tree, TVGN_NEXT, child))
            if (i < want->children.size()) pending.emplace_back(child, want->children[i++]);
            else ADD_FAILURE() << "an extra item under " << node->name;
        ASSERT_EQ(i, want->children.size()) << "items missing under " << node->name;
    }
}

TEST(Win32TreeCtrl, AgreesWithTheFakeOverRandomTreesAndOperations) {
    Host host;
    for (std::uint32_t seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        auto top = std::make_unique<KeyNode>("side.qvf");
        GrowRandomly(top.get(), rng, 0);
        test::CFakeTreeCtrl fake;
        CWin32TreeCtrl win(host.hwnd, 1);
        host.notify = [&](const NMHDR& header, LRESULT& result) { return win.OnNotify(header, result); };
        Counter fakeEvents, winEvents;
        fake.SetEvents(&fakeEvents);
        win.SetEvents(&winEvents);
        int extra = 0;  // the fake says nothing when the selected root item goes
        auto both = [&](auto&& call) {
            call(static_cast<ITreeCtrl&>(fake));
            call(static_cast<ITreeCtrl&>(win));
        };
        for (int step = 0; step < 200; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            const std::vector<KeyNode*> nodes = AllNodes(top.get());
            KeyNode* node = nodes[rng() % nodes.size()];
            switch (rng() % 10) {
            case 0:  // shown again, as the pane shows a side (or emptied)
                both([&](ITreeCtrl& c) {
                    c.SetVisible(false);
                    c.DeleteAllItems();
                    c.InsertRootItem(top.get(), kImageDocument, kImageDocument + 1);
                    c.InsertChildItems(top.get(), kImageFileKey);
                    c.SetVisible(true);
                });
                if (rng() % 5 == 0) both([&](ITreeCtrl& c) { c.DeleteAllItems(); });
                break;
            case 1:
            case 2:
                if (rng() % 6 == 0) node = nullptr;
                both([&](ITreeCtrl& c) { c.SelectItem(node); });
                // The items above it open, so it can be seen.
                for (KeyNode* up = fake.HasItem(node) ? node->parent : nullptr; up != nullptr; up = up->parent)
                    EXPECT_TRUE(::SendMessageW(win.Hwnd(), TVM_GETITEMSTATE,
                                               reinterpret_cast<WPARAM>(win.Materialize(up)), TVIS_EXPANDED) &
                                TVIS_EXPANDED);
                break;
            case 3:
                both([&](ITreeCtrl& c) { c.Expand(node); });
                break;
            case 4:  // a key deleted: its item goes first, then often the node
                if (node == top.get() && fake.GetSelectedNode() != nullptr && fake.HasItem(node)) ++extra;
                both([&](ITreeCtrl& c) { c.DeleteItem(node); });
                if (node != top.get() && rng() % 2 == 0) node->parent->DetachSubkey(node);
                break;
            case 5:  // a key read again: items go, the level is replaced, items come back
                both([&](ITreeCtrl& c) { c.DeleteChildItems(node); });
                if (rng() % 2 == 0) {
                    node->subkeys.clear();
                    GrowRandomly(node, rng, 2);
                }
                if (fake.HasItem(node) && rng() % 3 != 0)
                    both([&](ITreeCtrl& c) { c.InsertChildItems(node, kImageLocalKey); });
                break;
            case 6: {  // a key added, with an item when its parent has one
                KeyNode* added = node->AppendSubkey(std::make_unique<KeyNode>("new"));
                GrowRandomly(added, rng, 3);
                if (fake.HasItem(node) && rng() % 3 != 0)
                    both([&](ITreeCtrl& c) { c.InsertItem(added, kImageNetworkKey); });
                break;
            }
            case 7: {  // a level without items gets them
                bool fresh = fake.HasItem(node);
                for (const auto& sub : node->subkeys) fresh = fresh && !fake.HasItem(sub.get());
                if (fresh) both([&](ITreeCtrl& c) { c.InsertChildItems(node, kImageFileKey); });
                break;
            }
            case 8:  // the user clicks an item
                if (HTREEITEM handle = win.Materialize(node)) {
                    fake.Click(node);
                    ::SendMessageW(win.Hwnd(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(handle));
                }
                break;
            case 9:
                if (step % 3 == 0) ExpectViewShows(win.Hwnd(), fake);
                break;
            }
            ASSERT_EQ(win.GetSelectedNode(), fake.GetSelectedNode());
            wchar_t text[300];
            HTREEITEM caret = Next(win.Hwnd(), TVGN_CARET, nullptr);
            ASSERT_EQ(caret ? reinterpret_cast<KeyNode*>(Get(win.Hwnd(), caret, text).lParam) : nullptr,
                      fake.GetSelectedNode());
            ASSERT_EQ(winEvents.count, fakeEvents.count + extra);
            for (KeyNode* n : AllNodes(top.get())) ASSERT_EQ(win.HasItem(n), fake.HasItem(n)) << n->name;
            ASSERT_EQ(win.ItemCount(), fake.ItemCount());
        }
        ExpectViewShows(win.Hwnd(), fake);
        host.notify = nullptr;
    }
}

TEST(Win32TreeCtrl, OnlyOpenedLevelsAreMadeInTheTreeView) {
    Host host;
    CWin32TreeCtrl win(host.hwnd, 1);
    host.notify = [&](const NMHDR& header, LRESULT& result) { return win.OnNotify(header, result); };
    KeyNode top("side.qvf");
    KeyNode* deep = &top;
    for (int level = 0; level < 100; ++level) {
        for (int i = 0; i < 10; ++i) deep->AppendSubkey(std::make_unique<KeyNode>("k" + std::to_string(i)));
        deep = deep->subkeys[5].get();
    }
    win.InsertRootItem(&top, kImageDocument, kImageDocument + 1);
    win.InsertChildItems(&top, kImageFileKey);
    EXPECT_EQ(win.ItemCount(), 1001u);
    EXPECT_EQ(win.ViewItemCount(), 1u);
    win.SelectItem(deep);  // makes the hundred levels above it, no more
    EXPECT_EQ(win.ViewItemCount(), 1001u);
    win.DeleteChildItems(&top);
    EXPECT_EQ(win.ViewItemCount(), 1u);
    EXPECT_EQ(win.GetSelectedNode(), &top);
    host.notify = nullptr;
}

TEST(Win32ListCtrl, RowsTextsSelectionTipsAndTheValuePaneOverThem) {
    Host host;
    CWin32ListCtrl list(host.hwnd, 2);
    ::MoveWindow(list.Hwnd(), 0, 0, 500, 300, TRUE);
    host.notify = [&](const NMHDR& header, LRESULT& result) { return list.OnNotify(header, result); };
    Counter clicks;
    list.SetEvents(&clicks);
    auto shown = [&](int row, int column) {  // as the list view gives it
        wchar_t text[100] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 100;
        ::SendMessageW(list.Hwnd(), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return std::wstring(text);
    };

    EXPECT_EQ(list.InsertItem(0, "Второй"), 0);
    EXPECT_EQ(list.InsertItem(0, "Первый"), 0);
    EXPECT_EQ(list.InsertItem(9, "Третий"), 2);  // clamped to the end
    list.SetItemText(1, 1, "Значение \xF0\x9F\x94\x91");
    list.SetItemText(5, 1, "no such row");
    list.SetItemTip(1, "REG_SZ, 12 bytes\nЗначение");
    EXPECT_EQ(list.GetItemText(1, 1), "Значение \xF0\x9F\x94\x91");
    EXPECT_EQ(list.GetItemText(3, 0), "");
    EXPECT_EQ(::SendMessageW(list.Hwnd(), LVM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(shown(1, 1), Widen("Значение \xF0\x9F\x94\x91"));
    EXPECT_EQ(shown(2, 0) + shown(2, 1), L"Третий");

    list.SelectRow(1);
    list.SelectRow(2);
    list.SelectRow(7);
    EXPECT_EQ(std::vector<bool>({list.IsRowSelected(1), list.IsRowSelected(2), list.IsRowSelected(3)}),
              std::vector<bool>({false, true, false}));
    // A row inserted above the selection pushes it down with its row.
    EXPECT_EQ(list.InsertItem(1, "Вставка"), 1);
    EXPECT_TRUE(list.IsRowSelected(3) && !list.IsRowSelected(2));
    EXPECT_EQ(shown(3, 0), L"Третий");

    // The tip as the list view asks for it; a row without one keeps the list's own.
    wchar_t tip[INFOTIPSIZE] = L"as it was";
    NMLVGETINFOTIPW ask{{list.Hwnd(), 2, static_cast<UINT>(LVN_GETINFOTIPW)}, 0, tip, INFOTIPSIZE, 0, 0, 0};
    LRESULT result = 1;
    EXPECT_TRUE(list.OnNotify(ask.hdr, result));
    EXPECT_EQ(std::wstring(tip), L"as it was");
    ask.iItem = 2;
    EXPECT_TRUE(list.OnNotify(ask.hdr, result));
    EXPECT_EQ(std::wstring(tip), Widen("REG_SZ, 12 bytes\r\nЗначение"));

    RECT rect{LVIR_BOUNDS, 0, 0, 0};
    ::SendMessageW(list.Hwnd(), LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&rect));
    ::SendMessageW(list.Hwnd(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(rect.left + 5, rect.top + 2));
    EXPECT_EQ(clicks.count, 1);

    // The value pane fills it as it fills the fake.
    KeyNode key("Ключ");
    const DWORD number = 29;
    key.AppendValue(std::make_unique<ValueEntry>("Имя", REG_SZ, "Значение"));
    key.AppendValue(std::make_unique<ValueEntry>(nullptr, REG_DWORD, &number));
    test::CFakeListCtrl fakeList;
    CRegListView fakePane(fakeList), winPane(list);
    fakePane.ShowNode(&key, 1);
    winPane.ShowNode(&key, 1);
    ASSERT_EQ(list.GetItemCount(), 2);
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(list.GetItemText(row, 0) + "|" + list.GetItemText(row, 1) + "|" + (list.IsRowSelected(row) ? "*" : ""),
                  fakeList.GetItemText(row, 0) + "|" + fakeList.GetItemText(row, 1) + "|" +
                      (fakeList.IsRowSelected(row) ? "*" : ""));
    fakePane.m_pNode = winPane.m_pNode = nullptr;
    host.notify = nullptr;
}

}  // namespace
}  // namespace qv
