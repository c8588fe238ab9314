#include "files/tree_printer.h"

#include <vector>

#include "files/tree_file.h"

namespace qv {

int printY = 50;

namespace {

// One line: down one step, draw (blank lines draw nothing), break the page
// after a line below the threshold.
void PrintLine(CDC& dc, const std::string* text) {
    printY += kPrintStep;
    if (text != nullptr) dc.TextOut(kPrintLeft, printY, *text);
    if (printY > kPrintPageEnd) {
        printY = 50;
        dc.EndPage();
        dc.StartPage();
    }
}

}  // namespace

void PrintAncestors(const KeyNode* node, CDC& dc, std::string& path) {
    std::vector<const KeyNode*> chain;
    for (const KeyNode* n = node; n != nullptr; n = n->parent) chain.push_back(n);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if ((*it)->parent != nullptr) {
            path += '\\';
            path += (*it)->name;
        }
        const std::string line = "[" + path + "]";
        PrintLine(dc, &line);
        PrintLine(dc, nullptr);
    }
}

void PrintSubtree(const KeyNode* node, CDC& dc, const std::string& parentPath) {
    // Pre-order, without recursion, as the tree file writer walks.
    struct Item {
        const KeyNode* node;
        std::string parentPath;
    };
    std::vector<Item> pending{{node, parentPath}};
    std::string line;
    while (!pending.empty()) {
        Item item = std::move(pending.back());
        pending.pop_back();
        const std::string path = item.parentPath + '\\' + item.node->name;
        line = "[" + path + "]";
        PrintLine(dc, &line);
        for (const auto& v : item.node->values) {
            line.clear();
            AppendValueLine(line, *v);
            PrintLine(dc, &line);
        }
        PrintLine(dc, nullptr);
        const auto& subkeys = item.node->subkeys;
        for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) pending.push_back({it->get(), path});
    }
}

void PrintTree(const KeyNode* chosen, CDC& dc) {
    printY = 50;
    std::string path;
    if (chosen->parent != nullptr) PrintAncestors(chosen, dc, path);
    for (const auto& sub : chosen->subkeys) PrintSubtree(sub.get(), dc, path);
}

}  // namespace qv
