// The undo journal: before a change writes anything, what it may touch is
// read from the registry (not from memory) and flushed to disk, one entry per
// command; when the change ends, what it left is recorded too. Undo puts back
// what was there before, after checking that the registry still holds what
// the change left. Entries live in $XDG_STATE_HOME/quorvane/journal
// (~/.local/state/...): NNNNNN.entry (what, where, how far), NNNNNN.before.reg
// and NNNNNN.after.reg (REGEDIT4 text, byte for byte). Each record's size
// and checksum go into the .entry file, written after the record: a record
// that does not match them is never used. An entry a crash cut off is found
// again on the next start. Records copy keys of hives their owner may keep
// from others, so the folder is the user's alone (0700) and each file 0600.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/reg_file.h"
#include "model/change_scope.h"
#include "model/key_node.h"
#include "model/registry.h"

namespace qv {

class CUndoJournal {
public:
    // A record's size and checksum as written; absent in entries older
    // versions wrote, whose records are therefore not trusted.
    struct Record {
        bool known = false;
        std::uint64_t size = 0, checksum = 0;
    };
    struct Entry {
        std::int64_t number = 0;
        std::string description;  // "Delete Key HKEY_...\..."
        std::string computer;     // the side, as its tree reaches it (empty: this computer)
        std::string state;        // begun, done, undone, dismissed
        std::vector<ChangeScope> scopes;  // none inside another: see Begin
        Record before, after;
    };

    // $XDG_STATE_HOME/quorvane/journal, else ~/.local/state/quorvane/journal;
    // on Windows %LOCALAPPDATA%\Quorvane\journal.
    static std::string DefaultFolder();

    // Uses `folder`, made 0700 when missing (with the folders above it) and
    // narrowed to 0700 when others may open it; keeps the last entries of
    // earlier runs (for Unfinished) and drops older ones. False with the
    // reason, also when the folder cannot be narrowed.
    bool Open(const std::string& folder, std::string& error);
    bool IsOpen() const { return !m_folder.empty(); }

    // Records the scopes as the registry holds them now, on disk and
    // flushed. A scope another one holds whole is left out (and one of two
    // naming the same key), so each key is recorded once. False with the
    // reason: the change must not go ahead.
    bool Begin(IRegistry& registry, const std::string& computer, const std::string& description,
               std::vector<ChangeScope> scopes, std::string& error);
    // Records what the change left (also when it failed part way).
    void End(IRegistry& registry);

    // Entries of this run Undo can take back; the last is next.
    const std::vector<Entry>& Undoable() const { return m_undoable; }
    // Takes back the last entry of this run. Refuses, changing nothing,
    // when the registry no longer holds what the change left; false with
    // the reason either way it fails.
    bool Undo(IRegistry& registry, std::string& message);

    // Entries an earlier run began and never ended (it crashed).
    std::vector<Entry> Unfinished() const;
    // What putting back entry `number` would change in the registry now:
    // "- delete 2 keys (with the 3 values in them): HKEY_...", one line for
    // each of keys deleted, keys made, values set, values deleted. False with
    // the reason when its record cannot be used or the registry not read.
    bool PreviewRestore(IRegistry& registry, std::int64_t number, std::string& preview, std::string& message);
    // Puts back what entry `number` recorded before its change (no check:
    // the change never ended) and closes it. The putting back is an entry
    // of its own, so Undo takes it back.
    bool Restore(IRegistry& registry, std::int64_t number, std::string& message);
    // Closes an entry without restoring it; its files are kept.
    void Dismiss(std::int64_t number);
    // The entry's files, for messages: "…/000007.entry, …/000007.before.reg".
    std::string FileNames(std::int64_t number) const;
    // A version 5 .reg file that restores the state before entry `number`:
    // from what the change left where that was recorded, else (a change a
    // crash cut off) each key as it was before, deleted and made again.
    bool ExportRestore(std::int64_t number, std::string& bytes, std::string& error) const;

private:
    struct Snapshot;  // scopes with their keys as read, or absent
    std::string Path(std::int64_t number, const char* suffix) const;
    bool WriteHeader(const Entry& entry, std::string& error) const;
    bool ReadEntry(std::int64_t number, Entry& entry) const;
    // The record `suffix` of `entry`, checked against its size and checksum.
    bool LoadSnapshot(const Entry& entry, const char* suffix, Snapshot& snapshot, std::string& error) const;

    std::string m_folder;
    std::int64_t m_next = 1;
    std::vector<Entry> m_undoable;
    std::unique_ptr<Entry> m_open;  // between Begin and End
};

}  // namespace qv
