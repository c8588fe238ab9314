// Printing through Qt: a device context over a QPainter on a QPrinter set to
// 600 dots per inch, so that a page holds the 59 lines of 100 dots.
#pragma once

#include <QFont>
#include <QPainter>
#include <QPrinter>
#include <string>

#include "files/tree_printer.h"

namespace qv {

class CQtPrintDC : public CDC {
public:
    CQtPrintDC(QPainter& painter, QPrinter& printer);
    void TextOut(int x, int y, const std::string& text) override;
    void StartPage() override;
    void EndPage() override;

private:
    QPainter& m_painter;
    QPrinter& m_printer;
    bool m_bPageEnded = false;
};

// A printer as printing expects it: high resolution, 600 dpi.
void PreparePrinter(QPrinter& printer);
// Runs `job` on `printer` (already set up); false when painting could not start.
bool RunPrintJob(QPrinter& printer, const std::function<void(CDC&)>& job);

}  // namespace qv
