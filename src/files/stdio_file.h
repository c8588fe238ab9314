// A text file in the manner of the classic application frameworks: lines are
// read without their line end and written with "\n" turned into CR LF; every
// failure is thrown as a CFileException that carries the platform's reason.
#pragma once

#include <cstdio>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class CFileException {
public:
    enum Cause { none, generic, fileNotFound, badPath, accessDenied, diskFull, endOfFile };

    CFileException(Cause cause, int osError, std::string fileName, std::string reason = {})
        : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)),
          m_strReason(std::move(reason)) {}

    Cause m_cause;
    int m_lOsError;  // errno, 0 when the platform gave none
    std::string m_strFileName;
    std::string m_strReason;  // our own reason where the platform has none

    // The platform's reason for the failure, naming the file; empty when
    // there is no reason to give (the caller then uses its fallback text).
    std::string GetErrorMessage() const;
};

class CStdioFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeCreate = 0x1000,
        // With modeWrite | modeCreate: the file being replaced stays as it
        // was until Close(). Writes go to a temporary file in the same
        // folder, which Close() flushes to disk and renames over the file;
        // a failure or Abort() removes it.
        modeReplace = 0x2000,
        // With modeReplace: the file is its owner's alone (0600), from the
        // moment it is made, whatever the umask or the file it replaces.
        modePrivate = 0x10000,
        typeText = 0x4000,
        typeBinary = 0x8000,  // bytes go to disk as they are (no CR LF)
    };

    CStdioFile() = default;
    // Opens or throws CFileException.
    CStdioFile(const std::string& fileName, unsigned openFlags);
    ~CStdioFile();

    CStdioFile(const CStdioFile&) = delete;
    CStdioFile& operator=(const CStdioFile&) = delete;

    // Returns false when the file could not be opened and fills `error`.
    bool Open(const std::string& fileName, unsigned openFlags, CFileException* error = nullptr);
    // Takes over an open stream (closed by this object), e.g. one in memory.
    void Attach(std::FILE* stream, std::string name, bool forWriting = false);
    // Flushes and closes (and, replacing, puts the file in place); throws on
    // a failure.
    void Close();
    // Closes without throwing (for cleanup after an error); a file being
    // replaced is left as it was.
    void Abort();

    // Reads the next line without its line end (LF or CR LF). Returns false at
    // the end of the file. Throws on a read error.
    bool ReadString(std::string& line);
    // Writes the text; in text mode each "\n" goes to disk as CR LF.
    void WriteString(std::string_view text);

    const std::string& GetFilePath() const { return m_strFileName; }
    // Reading: the bytes taken so far, and the file's size (0 when unknown,
    // as for a pipe), for a progress display.
    std::uint64_t GetPosition() const { return m_nBufferStart + m_nPos; }
    std::uint64_t GetLength() const;
    bool IsOpen() const { return m_file != nullptr; }

private:
    [[noreturn]] void ThrowError(int osError) const;
    bool OpenReplacing(bool ownerOnly, CFileException* error);
    void FinishReplacing();
    bool FillBuffer();
    void FlushBuffer();

    std::FILE* m_file = nullptr;
    std::string m_strFileName;
    std::string m_strTempName;  // the temporary file while replacing
    std::string m_strTarget;    // the file it replaces (a link followed)
    bool m_bText = true;
    bool m_bWrite = false;
    std::vector<char> m_buffer;
    std::uint64_t m_nBufferStart = 0;  // reading: the file's bytes before m_buffer
    std::size_t m_nPos = 0;  // read position in m_buffer
    std::size_t m_nEnd = 0;  // bytes valid in m_buffer (read), or bytes pending (write)
    bool m_bEof = false;
};

// Replaces the file at `path` with `bytes` through a temporary file beside
// it (flushed, then renamed over it); `ownerOnly` makes it 0600 (see
// modePrivate). False with the reason, naming the file.
bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string& error, bool ownerOnly = false);

}  // namespace qv
