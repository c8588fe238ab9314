// Printing through GDI: a device context that draws the tree printer's lines
// on a printer's HDC. Positions are printer dots of 1/600 inch (the mapping
// mode scales them to the device), so that a page holds the 59 lines of 100
// dots that printing uses, whatever the printer's resolution.
#pragma once

#include <functional>
#include <string>

// First: the model may bring <windows.h>, whose TextOut macro this undoes.
#include "framework/win32/win32_api.h"

#include "files/tree_printer.h"

namespace qv {

constexpr int kPrintDotsPerInch = 600;

class CWin32PrintDC : public CDC {
public:
    // Sets up `dc` (mapping mode, font) until destroyed. A page is started
    // when the first text of it is drawn, so a page break after the last
    // line prints no empty page. On a DC that is no printer (a bitmap, a
    // metafile) pages are counted but drawn over each other.
    explicit CWin32PrintDC(HDC dc);
    ~CWin32PrintDC() override;
    CWin32PrintDC(const CWin32PrintDC&) = delete;
    CWin32PrintDC& operator=(const CWin32PrintDC&) = delete;

    void TextOut(int x, int y, const std::string& text) override;
    void StartPage() override;
    void EndPage() override;

    // Pages that received text so far.
    int Pages() const { return m_nPages; }
    // False once the device refused a page.
    bool Ok() const { return m_bOk; }

private:
    void Prepare();

    HDC m_dc;
    bool m_bPrinter;
    int m_nSaved;
    HFONT m_font = nullptr;
    bool m_bPageOpen = false;
    int m_nPages = 0;
    bool m_bOk = true;
};

// Runs `job` on `dc` as a document named `docName`: StartDoc, the pages,
// EndDoc (only the drawing on a DC that is no printer). False when the
// device refused the document or a page.
bool RunPrintJob(HDC dc, const std::wstring& docName, const std::function<void(CDC&)>& job);

}  // namespace qv
