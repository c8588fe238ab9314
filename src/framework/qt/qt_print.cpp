#include "framework/qt/qt_print.h"

#include <QFontDatabase>

#include "framework/qt/qt_text.h"

namespace qv {

CQtPrintDC::CQtPrintDC(QPainter& painter, QPrinter& printer) : m_painter(painter), m_printer(printer) {
    // The printer's plain default font: fixed pitch reads best for the
    // tree-file layout, 10 points is about 83 of the 100 dots per line.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(10);
    m_painter.setFont(QFont(font, &m_printer));
}

void CQtPrintDC::TextOut(int x, int y, const std::string& text) {
    // (x, y) is the top of the text cell, as on a printer device context.
    const int baseline = y + m_painter.fontMetrics().ascent();
    m_painter.drawText(x, baseline, FromUtf8(text));
}

void CQtPrintDC::EndPage() { m_bPageEnded = true; }

void CQtPrintDC::StartPage() {
    if (m_bPageEnded) m_printer.newPage();
    m_bPageEnded = false;
}

void PreparePrinter(QPrinter& printer) {
    printer.setResolution(600);
    // Positions count from the corner of the printable area, as on a printer
    // device context: a real printer cannot mark the paper's edge.
    printer.setFullPage(false);
}

bool RunPrintJob(QPrinter& printer, const std::function<void(CDC&)>& job) {
    PreparePrinter(printer);
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    CQtPrintDC dc(painter, printer);
    job(dc);
    painter.end();
    return true;
}

}  // namespace qv
