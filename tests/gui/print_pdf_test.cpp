// Printing end to end: the tree printer through Qt into a PDF, read back
// with pdftotext, line for line and page for page.
#include <gtest/gtest.h>

#include <QPrinter>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "framework/qt/qt_print.h"
#include "files/tree_printer.h"
#include "model/key_node.h"

namespace qv {
namespace {

// Pages of text that pdftotext reads from `pdf`, each line without its indent.
std::vector<std::vector<std::string>> PdfPages(const QString& pdf) {
    std::FILE* pipe = popen(("pdftotext -layout '" + pdf.toStdString() + "' -").c_str(), "r");
    std::vector<std::vector<std::string>> pages(1);
    std::string line;
    for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) {
        if (c != '\n' && c != '\f') {
            line += static_cast<char>(c);
            continue;
        }
        if (const auto first = line.find_first_not_of(' '); first != std::string::npos) pages.back().push_back(line.substr(first));
        line.clear();
        if (c == '\f') pages.emplace_back();  // a form feed ends each page
    }
    if (pipe != nullptr) pclose(pipe);
    while (!pages.empty() && pages.back().empty()) pages.pop_back();
    return pages;
}

TEST(PrintToPdf, LinesAndPageBreaksSurviveIntoThePdf) {
    if (std::system("command -v pdftotext > /dev/null") != 0) GTEST_SKIP() << "pdftotext is not installed";
    KeyNode top("t");
    KeyNode* k = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_USERS"))
                     ->AppendSubkey(std::make_unique<KeyNode>("Printed Key"));
    for (int i = 0; i < 130; ++i) {
        const std::string text = "text " + std::to_string(i);
        k->AppendValue(std::make_unique<ValueEntry>(std::string("v").append(std::to_string(i)).c_str(), REG_SZ, text.c_str()));
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath("tree.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    // A printer that cannot mark the outer 20 mm of the paper.
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    ASSERT_TRUE(RunPrintJob(printer, [&](CDC& dc) { PrintTree(&top, dc); }));
    EXPECT_EQ(printer.resolution(), 600);

    // Positions count from the printable area: no text in the margin.
    std::FILE* pipe = popen(("pdftotext -bbox -f 1 -l 1 '" + pdf.toStdString() + "' -").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    double left = 1e9;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        if (const char* x = std::strstr(buffer, "<word xMin=\"")) left = std::min(left, std::atof(x + 12));
    pclose(pipe);
    EXPECT_GE(left, 20 / 25.4 * 72) << "points from the paper's left edge";

    const auto pages = PdfPages(pdf);
    ASSERT_EQ(pages.size(), 3u);
    // Page 1: [\HKEY_USERS], a blank, the key line, then values up to the 60th line.
    ASSERT_EQ(pages[0].size(), 59u);  // 60 steps, one of them blank
    EXPECT_EQ(std::vector<std::string>(pages[0].begin(), pages[0].begin() + 3),
              (std::vector<std::string>{"[\\HKEY_USERS]", "[\\HKEY_USERS\\Printed Key]", "\"v0\"=\"text 0\""}));
    EXPECT_EQ(pages[0].back(), "\"v56\"=\"text 56\"");  // the 60th line, at 6050
    // Later pages start at the top again: 60 lines each, no key line repeated.
    EXPECT_EQ(pages[1].size(), 60u);
    EXPECT_EQ(pages[1].front(), "\"v57\"=\"text 57\"");
    EXPECT_EQ(pages[2].front(), "\"v117\"=\"text 117\"");
    EXPECT_EQ(pages[2].back(), "\"v129\"=\"text 129\"");
}

}  // namespace
}  // namespace qv
