// A registry kept in files instead of this computer's store: keys held in
// memory (the root keys, the keys on the way to a hive, everything read from
// a .reg file or a Wine prefix) and hive files mounted at keys, read and
// written in place through hivex.
//
// A hive is written back when the last handle open into it closes, so one
// command (an edit, a recursive copy, a deletion of a subtree) writes the file
// once: hivex writes the whole hive to a temporary file beside it, which is
// flushed and renamed over the hive, so a crash leaves either the old file or
// the new one. Before the first write of an opening, the untouched file is
// copied to "<file>.quorvane-bak". Both files, and logs set aside, are made
// with the hive's mode: none is ever open to more users than the hive.
//
// A file whose keys are held in memory (Wine's registry files) is mounted
// with hooks that read it and make its new bytes; it is written back on the
// same terms: when the last handle into it closes, through a temporary file
// renamed over it, after the same backup copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/registry.h"
#include "registry/registry_batch.h"

namespace qv {

class KeyNode;

// What a file whose keys are held in memory is read and written with.
struct CMemoryFileHooks {
    // Makes the file's keys below `base` (empty) from the file as it is on
    // disk; false with a message.
    std::function<bool(KeyNode& base, std::string& error)> read;
    // The file's new bytes for the keys below `base`; false with the reason.
    std::function<bool(const KeyNode& base, std::string& bytes, std::string& error)> render;
    // Told the bytes once they replaced the file.
    std::function<void(const std::string& bytes)> written;
    // Why the file may not be written now (another program would write
    // over it), or empty; asked before every write-back.
    std::function<std::string()> busy;
};

class CFileRegistry : public IRegistry, public IRegistryBatch {
public:
    CFileRegistry();
    ~CFileRegistry() override;

    CFileRegistry(const CFileRegistry&) = delete;
    CFileRegistry& operator=(const CFileRegistry&) = delete;

    // Mounts the hive file `file` as the key `path` below `root` (the keys
    // on the way are made in memory). With `writable`, opens it for writing
    // when the file and its folder allow it; else, or when they do not, the
    // hive is read-only and ReadOnlyReason() says why. False, with a message
    // naming the file, when it is no hive or is damaged. A hive Windows left
    // unfinished is read with the logs beside it applied (files/hive_log.h)
    // to a private copy; it is writable only when they applied whole, and
    // its first write-back marks it written whole and moves the logs beside
    // the backup.
    bool MountHive(HKEY root, const std::string& path, const std::string& file, bool writable,
                   std::string& error);
    // Mounts a file whose keys are held in memory as the key `path` below
    // `root`, read at once through `hooks.read`. Its keys take writes unless
    // `readOnlyReason` says why not. False, with the message, when it cannot
    // be read or another file is mounted there.
    bool MountMemoryFile(HKEY root, const std::string& path, const std::string& file, CMemoryFileHooks hooks,
                         std::string readOnlyReason, std::string& error);
    // What the user should be told of the hives mounted, one message each:
    // those Windows left unfinished, read with their logs applied to a
    // private copy (how much, from which logs), or, with their logs missing
    // or damaged, as far as the logs go and never written.
    std::vector<std::string> Notices() const;
    // The last damage a call ran into in a hive (a key list leading back up,
    // a key deeper than a registry may be, keys sharing a subkey, a list
    // hivex cannot read), naming the file and the key; empty when none was.
    // Such calls fail with status 1015, the registry is corrupted.
    std::string Damage() const;
    // From now on the keys held in memory refuse every write, for `reason`.
    void Seal(std::string reason);
    // Why the registry cannot be written: the first read-only hive's or
    // file's reason, or without either the reason the keys in memory were
    // sealed for; empty when it can. (Keys in memory above hives and files
    // refuse writes all the same.)
    std::string ReadOnlyReason() const;
    // Called with a message when writing a hive or file back failed; the
    // change is then dropped and the hive or file is as it was on disk.
    void OnWriteFailure(std::function<void(const std::string&)> report);
    // The largest file a hive is written as: 2 GiB, past which Windows will
    // not load one (and hivex's offsets wrap at 4). hivex never reuses the
    // room of a list it regrows, so a key given tens of thousands of
    // subkeys at once can make a hive that large. Tests lower it.
    void SetLargestHive(std::uint64_t bytes);

    std::size_t OpenHandleCount() const;

    LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) override;
    LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                       HKEY* phkResult) override;
    LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                         REGSAM samDesired, SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                         DWORD* lpdwDisposition) override;
    LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                       DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
    LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                       char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override;
    LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                        DWORD cbData) override;
    LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override;
    LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override;
    LONG RegCloseKey(HKEY hKey) override;

    // A batch holds the hives' write-back until its end.
    LONG BeginBatch() override;
    LONG CommitBatch() override;
    void RollbackBatch() override;

private:
    // Hands a failed write-back's message to the report, outside the lock.
    void ReportWriteFailure();
    struct CReportOnExit {
        explicit CReportOnExit(CFileRegistry& owner) : registry(owner) {}
        ~CReportOnExit() { registry.ReportWriteFailure(); }
        CFileRegistry& registry;
    };

    struct Impl;
    std::unique_ptr<Impl> m_impl;
    mutable std::mutex m_mutex;
};

}  // namespace qv
