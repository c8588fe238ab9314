// What the Win32 framework's tests share: a window's text, the thread's
// dialogs, and a script that works a modal window from a timer.
#pragma once

#include "framework/win32/win32_api.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qv::test {

inline std::wstring WindowText(HWND w) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The visible dialog boxes (message boxes too) of this thread, newest first.
inline std::vector<HWND> ThreadDialogs() {
    std::vector<HWND> found;
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t cls[16] = {};
            ::GetClassNameW(w, cls, 16);
            if (::IsWindowVisible(w) && std::wstring(cls) == L"#32770")
                reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Runs its steps one per tick of a thread timer, that is inside whatever
// modal loop runs meanwhile, each once a dialog box of this thread shows
// (the dialog manager shows a box once its queue first runs empty). Should
// the steps leave a window up, the test fails and the window is closed, so
// that no test hangs.
class TimerScript {
public:
    explicit TimerScript(std::vector<std::function<void()>> steps) : m_steps(std::move(steps)) {
        s_current = this;
        m_id = ::SetTimer(nullptr, 0, 20, &Tick);
    }
    ~TimerScript() {
        ::KillTimer(nullptr, m_id);
        s_current = nullptr;
    }
    TimerScript(const TimerScript&) = delete;
    TimerScript& operator=(const TimerScript&) = delete;

    bool Done() const { return m_next == m_steps.size(); }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        TimerScript* self = s_current;
        if (self == nullptr || self->m_bBusy) return;  // a step's own modal loop ticks too
        self->m_bBusy = true;
        if (self->m_next < self->m_steps.size()) {
            if (ThreadDialogs().empty()) {
                self->m_bBusy = false;
                return;
            }
            self->m_steps[self->m_next++]();
        } else if (++self->m_idle == 250) {
            ADD_FAILURE() << "a window stayed up after the script";
            for (HWND w : ThreadDialogs()) ::PostMessageW(w, WM_CLOSE, 0, 0);
            self->m_idle = 0;
        }
        self->m_bBusy = false;
    }

    static inline TimerScript* s_current = nullptr;
    std::vector<std::function<void()>> m_steps;
    std::size_t m_next = 0;
    int m_idle = 0;
    bool m_bBusy = false;
    UINT_PTR m_id = 0;
};

}  // namespace qv::test
