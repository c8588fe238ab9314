// Long work (reading a large file, loading a large or remote subtree) reports
// how far it got, and learns whether the user cancelled it.
#pragma once

#include <cstddef>

namespace qv {

class IProgress {
public:
    virtual ~IProgress() = default;
    // Called after every key read, with the number read so far; false when
    // the work is cancelled: the caller then stops and changes nothing.
    virtual bool Step(std::size_t keysDone) = 0;
};

}  // namespace qv
