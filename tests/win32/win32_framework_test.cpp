// The rest of the Win32 framework: printing into a bitmap (pages and where
// the lines land), the images, and the modal interaction (message boxes,
// the progress window's Cancel, the data window, printing without a printer).
#include "framework/win32/win32_api.h"

#include <gtest/gtest.h>

#include <commdlg.h>
#include <dlgs.h>
#include <winspool.h>

#include <algorithm>
#include <set>

#include "files/tree_printer.h"
#include "framework/win32/win32_images.h"
#include "framework/win32/win32_modal_ui.h"
#include "framework/win32/win32_print.h"
#include "model/key_node.h"
#include "tests/win32/win32_framework_test_support.h"

namespace qv::test {
namespace {

// \HKEY_USERS\Printed Key with `values` values: 4 + values lines to print.
std::unique_ptr<KeyNode> PrintedTree(int values) {
    auto top = std::make_unique<KeyNode>("t");
    KeyNode* k = top->AppendSubkey(std::make_unique<KeyNode>("HKEY_USERS"))
                     ->AppendSubkey(std::make_unique<KeyNode>("Printed Key"));
    for (int i = 0; i < values; ++i)
        k->AppendValue(std::make_unique<ValueEntry>(("v" + std::to_string(i)).c_str(), REG_SZ, "text"));
    return top;
}

// A white 32-bit bitmap selected into a memory DC.
struct Bitmap {
    Bitmap(int width, int height) : cx(width), cy(height), dc(::CreateCompatibleDC(nullptr)) {
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof bi.bmiHeader, cx, -cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bitmap = ::CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        old = ::SelectObject(dc, bitmap);
        std::fill(bits, bits + static_cast<std::size_t>(cx) * static_cast<std::size_t>(cy), 0x00FFFFFFu);
    }
    ~Bitmap() {
        ::SelectObject(dc, old);
        ::DeleteObject(bitmap);
        ::DeleteDC(dc);
    }
    DWORD At(int x, int y) const { return bits[y * cx + x] & 0x00FFFFFFu; }
    int cx, cy;
    HDC dc;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    DWORD* bits = nullptr;
};

// A line every 100 dots from 150, a new page after the one that passes 6000:
// a page holds 60 lines, and a page whose lines are all blank is not printed.
TEST(Win32Print, PagesFollowTheTreePrintersBreaksAndLinesLandAt600DotsPerInch) {
    const struct {
        int values, pages;
    } cases[] = {{0, 1}, {56, 1}, {57, 1}, {58, 2}, {130, 3}, {177, 3}, {178, 4}};
    for (const auto& c : cases) {
        const auto top = PrintedTree(c.values);
        Bitmap page(8, 8);
        CWin32PrintDC dc(page.dc);
        PrintTree(top.get(), dc);
        dc.EndPage();
        EXPECT_EQ(dc.Pages(), c.pages) << c.values << " values";
    }

    // Pages drawn over each other on a bitmap: the ink lies between the first
    // line (150 dots) and the 60th (6050) plus one line, right of the margin.
    const int dpi = ::GetDeviceCaps(Bitmap(1, 1).dc, LOGPIXELSY);
    const auto px = [dpi](int dots) { return dots * dpi / kPrintDotsPerInch; };
    Bitmap sheet(px(5000), px(7000));
    const auto top = PrintedTree(130);
    ASSERT_TRUE(RunPrintJob(sheet.dc, L"tree", [&](CDC& dc) { PrintTree(top.get(), dc); }));
    int first = sheet.cy, last = -1, left = sheet.cx;
    for (int y = 0; y < sheet.cy; ++y)
        for (int x = 0; x < sheet.cx; ++x)
            if (sheet.At(x, y) != 0x00FFFFFF) {
                first = std::min(first, y);
                last = std::max(last, y);
                left = std::min(left, x);
            }
    EXPECT_GE(first, px(150) - 1);
    EXPECT_LT(first, px(250));
    EXPECT_GT(last, px(6050));
    EXPECT_LT(last, px(6150));
    EXPECT_GE(left, px(50) - 1);
    EXPECT_LT(left, px(100));
}

TEST(Win32Images, TheListsHoldEveryPictureMaskedAndEachDiffers) {
    const HIMAGELIST tree = CreateTreeImageList(), toolbar = CreateToolbarImageList();
    ASSERT_TRUE(tree != nullptr && toolbar != nullptr);
    EXPECT_EQ(::ImageList_GetImageCount(tree), kTreeImageCount);
    EXPECT_EQ(::ImageList_GetImageCount(toolbar), kToolbarImageCount);
    int cx = 0, cy = 0;
    ::ImageList_GetIconSize(toolbar, &cx, &cy);
    EXPECT_EQ(cx * 100 + cy, 1616);
    // The background is masked out: drawn on white, the corner stays white.
    Bitmap white(16, 16);
    ::ImageList_Draw(tree, 0, white.dc, 0, 0, ILD_NORMAL);
    EXPECT_EQ(white.At(0, 0), 0x00FFFFFFu);
    EXPECT_NE(white.At(5, 8), 0x00FFFFFFu);
    ::ImageList_Destroy(tree);
    ::ImageList_Destroy(toolbar);

    std::set<std::vector<DWORD>> seen;
    const COLORREF key = RGB(1, 2, 3);
    for (int i = 0; i < kTreeImageCount + kToolbarImageCount; ++i) {
        Bitmap b(16, 16);
        ASSERT_TRUE(DrawImage(b.dc, i, key));
        const std::vector<DWORD> pixels(b.bits, b.bits + 256);
        const auto keyed = std::count(pixels.begin(), pixels.end(), 0x00010203u);
        EXPECT_LT(keyed, 230) << "image " << i << " is (nearly) empty";
        // Selected tree items stand on their blue; everything else has a clear background.
        EXPECT_EQ(keyed == 0, i < kTreeImageCount && i % 2 == 1) << "image " << i;
        EXPECT_TRUE(seen.insert(pixels).second) << "image " << i << " repeats another";
    }
    for (int size : {16, 32, 48}) {
        const HICON icon = CreateProgramIcon(size);
        EXPECT_NE(icon, nullptr) << size;
        ::DestroyIcon(icon);
    }
}

std::vector<std::wstring> ChildTexts(HWND w) {
    std::vector<std::wstring> texts;
    for (HWND c = ::GetWindow(w, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT))
        texts.push_back(WindowText(c));
    return texts;
}

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& part) {
    return std::any_of(texts.begin(), texts.end(), [&](const std::wstring& t) { return t.find(part) != t.npos; });
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!::OpenClipboard(nullptr)) return text;
    if (HANDLE h = ::GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(::GlobalLock(h));
        ::GlobalUnlock(h);
    }
    ::CloseClipboard();
    return text;
}

TEST(Win32ModalUI, MessageBoxesAnswerAsClickedUnderTheProgramsName) {
    CWin32ModalUI ui;
    for (int answer : {IDYES, IDNO}) {
        TimerScript script({[&] {
            const std::vector<HWND> boxes = ThreadDialogs();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(WindowText(boxes[0]), L"Quorvane");
            EXPECT_TRUE(Contains(ChildTexts(boxes[0]), L"Delete \x00ABK\x00BB?"));
            ::PostMessageW(boxes[0], WM_COMMAND, answer, 0);
        }});
        EXPECT_EQ(ui.MessageBox("Delete \xC2\xABK\xC2\xBB?", MB_YESNO | MB_ICONQUESTION), answer);
        EXPECT_TRUE(script.Done());
    }
}

// Once shown, the progress window disables the owner, shows the text as it
// is and the count, and its Cancel makes the next step answer false; it is
// gone afterwards and the owner enabled again.
TEST(Win32ModalUI, TheProgressWindowsCancelStopsTheWork) {
    const HWND owner = ::CreateWindowExW(0, L"Static", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                         nullptr, nullptr, nullptr, nullptr);
    CWin32ModalUI ui;
    ui.SetOwner(owner);
    ui.SetProgressDelay(std::chrono::milliseconds(0));
    HWND shown = nullptr;
    std::size_t steps = 0;
    bool cancelled = false;
    ui.RunWithProgress("Loading HKEY_LOCAL_MACHINE\\A&B ...", [&](IProgress& progress) {
        for (std::size_t i = 1; i <= 20000 && !cancelled; ++i, ++steps) {
            cancelled = !progress.Step(i);
            ::Sleep(1);
            if (shown != nullptr || ThreadDialogs().empty()) continue;
            shown = ThreadDialogs().front();
            EXPECT_EQ(ui.WaitDepth(), 1);
            EXPECT_FALSE(::IsWindowEnabled(owner));
            EXPECT_TRUE(Contains(ChildTexts(shown), L"Loading HKEY_LOCAL_MACHINE\\A&B ..."));
            ::PostMessageW(::GetDlgItem(shown, IDCANCEL), BM_CLICK, 0, 0);
        }
        if (shown != nullptr) { EXPECT_TRUE(Contains(ChildTexts(shown), L"keys read")); }
    });
    EXPECT_TRUE(cancelled) << steps << " steps";
    EXPECT_FALSE(::IsWindow(shown));
    EXPECT_TRUE(::IsWindowEnabled(owner));
    EXPECT_EQ(ui.WaitDepth(), 0);
    ::DestroyWindow(owner);
}

// The data window shows the text with its lines; each button copies its
// text; without a .reg line the button is off and the reason shown.
TEST(Win32ModalUI, TheDataWindowShowsTheTextAndCopiesItOrTheRegLine) {
    const DataView views[] = {
        {"Value", "HKCU\\K & L: \"v\" (REG_MULTI_SZ)", "one\ntwo", "\"v\"=hex(7):6f,00,00,00", ""},
        {"Value", "HKCU\\K: \"w\"", "abc", "", "the name holds a NUL"},
    };
    CWin32ModalUI ui;
    for (const DataView& view : views) {
        TimerScript script({[&] {
            const std::vector<HWND> windows = ThreadDialogs();
            ASSERT_EQ(windows.size(), 1u);
            const HWND w = windows[0];
            EXPECT_EQ(WindowText(w), L"Value");
            EXPECT_EQ(WindowText(::GetDlgItem(w, kDataHeadingId)), Widen(view.heading));
            std::wstring text = WindowText(::GetDlgItem(w, kDataTextId));
            EXPECT_EQ(text, view.text == "abc" ? L"abc" : L"one\r\ntwo");
            const bool reg = !view.regLine.empty();
            EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(w, kDataCopyRegId)) != FALSE, reg);
            EXPECT_EQ(WindowText(::GetDlgItem(w, kDataRegErrorId)).find(Widen(view.regError)) != std::wstring::npos,
                      true);
            ::SendMessageW(::GetDlgItem(w, reg ? kDataCopyRegId : kDataCopyTextId), BM_CLICK, 0, 0);
            EXPECT_EQ(ClipboardText(), reg ? Widen(view.regLine) : L"abc");
            ::SendMessageW(::GetDlgItem(w, IDCANCEL), BM_CLICK, 0, 0);
        }});
        ui.ShowData(view);
        EXPECT_TRUE(script.Done());
    }
}

// A name typed without an extension gets the request's, and comes back as
// a full path; Cancel gives nothing.
TEST(Win32ModalUI, TheFileDialogAddsTheExtensionAndGivesTheFullPath) {
    CWin32ModalUI ui;
    for (bool ok : {true, false}) {
        TimerScript script({[&] {
            const HWND box = ThreadDialogs().front();
            // The name box starts with the pattern, the type list with the one file type.
            EXPECT_EQ(WindowText(::GetDlgItem(box, cmb13)), L"*.qvf");
            EXPECT_EQ(WindowText(::GetDlgItem(box, cmb1)), L"qvf (*.qvf)");
            ::SetDlgItemTextW(box, cmb13, L"tree");
            ::PostMessageW(box, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
        }});
        std::string path = "unchanged";
        EXPECT_EQ(ui.GetFileName(TreeFileRequest(false), path), ok);
        EXPECT_TRUE(script.Done());
        if (ok) {
            EXPECT_EQ(path.substr(1, 2), ":\\") << path;
            EXPECT_EQ(path.substr(path.size() - 9), "\\tree.qvf") << path;
        } else {
            EXPECT_EQ(path, "unchanged");
        }
    }
}

TEST(Win32ModalUI, PrintingWithoutAPrinterSaysSoAndPrintsNothing) {
    DWORD needed = 0, count = 0;
    ::EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &count);
    if (needed > 0) GTEST_SKIP() << "this Windows has a printer";
    CWin32ModalUI ui;
    for (PrintMode mode : {PrintMode::Dialog, PrintMode::Direct}) {
        TimerScript script({[&] {
            const std::vector<HWND> boxes = ThreadDialogs();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_TRUE(Contains(ChildTexts(boxes[0]), L"No printer"));
            ::PostMessageW(boxes[0], WM_COMMAND, IDOK, 0);
        }});
        bool ran = false;
        EXPECT_FALSE(ui.Print([&](CDC&) { ran = true; }, mode));
        EXPECT_FALSE(ran);
        EXPECT_TRUE(script.Done());
    }
}

}  // namespace
}  // namespace qv::test
