#include "framework/win32/win32_print.h"

namespace qv {

CWin32PrintDC::CWin32PrintDC(HDC dc)
    : m_dc(dc), m_bPrinter(::GetDeviceCaps(dc, TECHNOLOGY) == DT_RASPRINTER), m_nSaved(::SaveDC(dc)) {
    // The printer's plain fixed-pitch font: fixed pitch reads best for the
    // tree-file layout, 10 points is about 83 of the 100 dots per line.
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(10, kPrintDotsPerInch, 72);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpynW(lf.lfFaceName, L"Courier New", LF_FACESIZE);
    m_font = ::CreateFontIndirectW(&lf);
    Prepare();
}

CWin32PrintDC::~CWin32PrintDC() {
    if (m_nSaved != 0) ::RestoreDC(m_dc, m_nSaved);
    if (m_font != nullptr) ::DeleteObject(m_font);
}

void CWin32PrintDC::Prepare() {
    // Some drivers reset the DC at each page: everything is set again.
    ::SetMapMode(m_dc, MM_ANISOTROPIC);
    ::SetWindowExtEx(m_dc, kPrintDotsPerInch, kPrintDotsPerInch, nullptr);
    ::SetViewportExtEx(m_dc, ::GetDeviceCaps(m_dc, LOGPIXELSX), ::GetDeviceCaps(m_dc, LOGPIXELSY), nullptr);
    ::SetWindowOrgEx(m_dc, 0, 0, nullptr);
    ::SetViewportOrgEx(m_dc, 0, 0, nullptr);
    if (m_font != nullptr) ::SelectObject(m_dc, m_font);
    // (x, y) is the top of the text cell, as the tree printer places it.
    ::SetTextAlign(m_dc, TA_TOP | TA_LEFT | TA_NOUPDATECP);
    ::SetBkMode(m_dc, TRANSPARENT);
    ::SetTextColor(m_dc, RGB(0, 0, 0));
}

void CWin32PrintDC::TextOut(int x, int y, const std::string& text) {
    if (!m_bPageOpen) {
        if (m_bPrinter && ::StartPage(m_dc) <= 0) m_bOk = false;
        Prepare();
        m_bPageOpen = true;
        ++m_nPages;
    }
    const std::wstring wide = Widen(text);
    ::TextOutW(m_dc, x, y, wide.c_str(), static_cast<int>(wide.size()));
}

void CWin32PrintDC::StartPage() {
    // Begun with the first line on it; see TextOut.
}

void CWin32PrintDC::EndPage() {
    if (!m_bPageOpen) return;
    m_bPageOpen = false;
    if (m_bPrinter && ::EndPage(m_dc) <= 0) m_bOk = false;
}

bool RunPrintJob(HDC dc, const std::wstring& docName, const std::function<void(CDC&)>& job) {
    const bool printer = ::GetDeviceCaps(dc, TECHNOLOGY) == DT_RASPRINTER;
    if (printer) {
        DOCINFOW info{};
        info.cbSize = sizeof info;
        info.lpszDocName = docName.c_str();
        if (::StartDocW(dc, &info) <= 0) return false;
    }
    bool ok;
    {
        CWin32PrintDC pdc(dc);
        job(pdc);
        pdc.EndPage();
        ok = pdc.Ok();
    }
    if (printer) {
        if (ok) ok = ::EndDoc(dc) > 0;
        else ::AbortDoc(dc);
    }
    return ok;
}

}  // namespace qv
