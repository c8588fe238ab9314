#include "model/progress.h"

#include <cmath>

namespace qv {

namespace {

// 12345 as "12,345".
std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace

std::string ProgressText(std::size_t keysDone, std::uint64_t done, std::uint64_t total, double secondsSoFar) {
    const std::string keys = Grouped(keysDone) + (keysDone == 1 ? " key read" : " keys read");
    if (total == 0 || done > total) return keys;
    std::string text = std::to_string(done * 100 / total) + "% (" + keys + ")";
    // Too early a guess jumps about; after a second and a hundredth of the work it settles.
    if (secondsSoFar < 1.0 || done * 100 < total || done == total) return text;
    const double left = secondsSoFar * static_cast<double>(total - done) / static_cast<double>(done);
    if (left < 90) return text + ", about " + std::to_string(static_cast<long>(std::ceil(left))) + " s left";
    return text + ", about " + std::to_string(static_cast<long>(std::lround(left / 60))) + " min left";
}

}  // namespace qv
