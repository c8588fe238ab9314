// A back end that can group many writes into one transaction. Bulk writers
// (imports, the test tree builder) look for it with dynamic_cast and fall
// back to plain calls when a back end does not offer it.
#pragma once

#include "model/registry_types.h"

namespace qv {

class IRegistryBatch {
public:
    virtual ~IRegistryBatch() = default;

    // Starts a batch; calls nest and only the outermost CommitBatch writes.
    // Every registry call made in between still succeeds or fails on its
    // own, but nothing reaches the file until the batch is committed.
    virtual LONG BeginBatch() = 0;
    virtual LONG CommitBatch() = 0;
    // Drops everything written since the outermost BeginBatch.
    virtual void RollbackBatch() = 0;
};

}  // namespace qv
