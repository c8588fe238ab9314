// Printing a tree in the tree file's line layout: one line per key, per value
// and per blank separator, 100 printer dots apart, a new page after the line
// that passes 6000.
#pragma once

#include <string>

#include "model/key_node.h"

namespace qv {

// The small part of a printer device context that printing uses.
class CDC {
public:
    virtual ~CDC() = default;
    // Draws `text` with its top left corner at (x, y), in printer dots.
    virtual void TextOut(int x, int y, const std::string& text) = 0;
    virtual void StartPage() = 0;
    virtual void EndPage() = 0;
};

// The vertical position of the last printed line, kept for the whole program.
extern int printY;

constexpr int kPrintLeft = 50;
constexpr int kPrintStep = 100;
constexpr int kPrintPageEnd = 6000;

// Prints `chosen`'s ancestors as bare key lines and its subkeys in full.
void PrintTree(const KeyNode* chosen, CDC& dc);
void PrintAncestors(const KeyNode* node, CDC& dc, std::string& path);
void PrintSubtree(const KeyNode* node, CDC& dc, const std::string& parentPath);

}  // namespace qv
