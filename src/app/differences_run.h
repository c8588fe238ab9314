// One run of the differences list: the Slave key walked against the Master
// key in the background, every difference at once, both ways. A live side's
// subtree is read afresh from the registry into a tree of the run's own (so
// the panes' trees are never touched while it runs); a file side is read in
// place, and the document keeps it unchanged until the run is gone. The rows
// stay until the next Open; acting on some of them takes them out.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "compare/differences.h"
#include "compare/ignore_list.h"
#include "model/key_node.h"
#include "model/registry.h"

namespace qv {

// What a side of the run is: its compared key in the document's tree and,
// for a live side, where to read it from.
struct DiffSide {
    const KeyNode* node = nullptr;
    bool live = false;
    std::string computer;  // live sides: as the side's tree pane reaches it
    // Kept in a file (a tree file, a hive, a .reg file): names are one name
    // whatever their case in every script, as Windows has them; the store
    // and the network service fold ASCII letters only.
    bool inFile = false;
};

class CDifferencesRun {
public:
    CDifferencesRun() = default;
    ~CDifferencesRun();  // cancels and waits
    CDifferencesRun(const CDifferencesRun&) = delete;
    CDifferencesRun& operator=(const CDifferencesRun&) = delete;

    // Called on the run's thread as the walk ends, before Finish() is due
    // (a window posts itself a message here). Set before Start.
    std::function<void()> m_onDone;

    // Starts the walk on a thread of its own. `registry` must outlive the run.
    void Start(IRegistry& registry, const DiffSide& master, const DiffSide& slave, CIgnoreList ignore);
    bool Running() const { return m_thread.joinable() && !m_done.load(); }
    // Asks the walk to stop; it does so within a few keys.
    void Cancel() { m_cancel = true; }
    // Waits for the thread; true when the walk went to its end.
    bool Finish();
    // Keys read and compared so far, for a progress display (live sides
    // count twice: once read, once compared).
    std::size_t KeysDone() const { return m_keysDone.load(); }
    // Once the sides are read: the Master's keys, and how many of them the
    // compare has passed (0 and 0 while reading, when the whole is unknown).
    std::size_t KeysToCompare() const { return m_keysTotal.load(); }
    std::size_t KeysCompared() const { return m_keysCompared.load(); }

    // After Finish(): what was found, and why it stopped short, if it did.
    const std::vector<DiffRow>& Rows() const { return m_rows; }
    const std::string& Failure() const { return m_failure; }
    std::array<std::size_t, kDiffKinds> Counts() const;
    // The rows of the kinds in `kinds` (bit per DiffKind) whose key path,
    // value name or data hold `text` (case ignored; empty: all).
    std::vector<std::size_t> Filter(unsigned kinds, const std::string& text) const;
    // Takes the rows at `indices` out of the list (after they were acted on).
    void Remove(std::vector<std::size_t> indices);

    // The compared keys as shown: "HKEY_...\path".
    const std::string& MasterName() const { return m_masterName; }
    const std::string& SlaveName() const { return m_slaveName; }
    // The rows in the layout of quorvane-reg's compare.
    std::string Report() const;
    // A version 5 .reg file that turns the Slave key into the Master; false
    // with the reason when a name or text cannot go into one.
    bool Patch(std::string& bytes, std::string& error) const;

private:
    void Run(IRegistry& registry, DiffSide master, DiffSide slave);
    // The side's tree to compare: the document's, or one read afresh.
    const KeyNode* Load(IRegistry& registry, const DiffSide& side, std::unique_ptr<KeyNode>& owned);

    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_done{false};
    std::atomic<std::size_t> m_keysDone{0};
    std::atomic<std::size_t> m_keysTotal{0}, m_keysCompared{0};
    CIgnoreList m_ignore;
    std::unique_ptr<KeyNode> m_masterOwned, m_slaveOwned;
    std::string m_masterName, m_slaveName;
    std::vector<DiffRow> m_rows;
    std::string m_failure;
    bool m_finished = false;
};

}  // namespace qv
