// Long work (reading a large file, loading a large or remote subtree, the
// differences list's run) reports how far it got, and learns whether the
// user cancelled it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

class IProgress {
public:
    virtual ~IProgress() = default;
    // Called after every key read, with the number read so far; false when
    // the work is cancelled: the caller then stops and changes nothing.
    virtual bool Step(std::size_t keysDone) = 0;
    // The same where the whole is known: the work is `done` of `total`
    // (bytes of a file, keys of a run), so a display can show a fraction
    // and the time left.
    virtual bool StepOf(std::size_t keysDone, std::uint64_t done, std::uint64_t total) {
        (void)done;
        (void)total;
        return Step(keysDone);
    }
};

// What a progress display says: "12,345 keys read" where only the count is
// known; with a whole, "45% (12,345 keys read), about 3 s left" (the time
// left once a second has gone and a hundredth of the work is done).
std::string ProgressText(std::size_t keysDone, std::uint64_t done, std::uint64_t total, double secondsSoFar);

}  // namespace qv
