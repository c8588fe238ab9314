#include "files/stdio_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "files/file_names.h"

namespace qv {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;

// stat() taking a UTF-8 name.
#ifdef _WIN32
using FileStat = struct _stat64;
int StatUtf8(const std::string& name, FileStat& st) { return ::_wstat64(PathFromUtf8(name).c_str(), &st); }
#else
using FileStat = struct stat;
int StatUtf8(const std::string& name, FileStat& st) { return ::stat(name.c_str(), &st); }
#endif

CFileException::Cause CauseOf(int osError) {
    switch (osError) {
    case 0: return CFileException::generic;
    case ENOENT: return CFileException::fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EISDIR: return CFileException::badPath;
    case EACCES:
    case EPERM:
    case EROFS: return CFileException::accessDenied;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return CFileException::diskFull;
    default: return CFileException::generic;
    }
}

}  // namespace

std::string CFileException::GetErrorMessage() const {
    if (m_lOsError == 0 && m_strReason.empty()) return std::string();
    if (m_strFileName.empty()) return "No file name was given.";
    const std::string reason = m_strReason.empty() ? std::strerror(m_lOsError) : m_strReason;
    return "\"" + m_strFileName + "\": " + reason + ".";
}

CStdioFile::CStdioFile(const std::string& fileName, unsigned openFlags) {
    CFileException error(CFileException::none, 0, fileName);
    if (!Open(fileName, openFlags, &error)) throw error;
}

CStdioFile::~CStdioFile() { Abort(); }

bool CStdioFile::Open(const std::string& fileName, unsigned openFlags, CFileException* error) {
    Abort();
    m_strFileName = fileName;
    m_bWrite = (openFlags & modeWrite) != 0;
    m_bText = (openFlags & typeBinary) == 0;  // text unless asked otherwise
    auto fail = [&](CFileException e) {
        if (error != nullptr) *error = std::move(e);
        return false;
    };
    if (fileName.empty()) return fail(CFileException(CFileException::badPath, ENOENT, fileName));
    // Only regular files are read: a directory, a pipe or a device would
    // block or never end.
    FileStat st {};
    if (!m_bWrite && StatUtf8(fileName, st) == 0 && !S_ISREG(st.st_mode))
        return fail(CFileException(CFileException::badPath, 0, fileName, "not a regular file"));
    if (m_bWrite && (openFlags & modeCreate) && (openFlags & modeReplace)) {
        if (!OpenReplacing((openFlags & modePrivate) != 0, error)) return false;
        m_buffer.resize(kBufferSize);
        m_nPos = m_nEnd = 0;
        m_bEof = false;
        return true;
    }
    const char* mode = m_bWrite ? ((openFlags & modeCreate) ? "wb" : "r+b") : "rb";
    errno = 0;
    m_file = OpenFileUtf8(fileName, mode);
    if (m_file == nullptr) {
        const int osError = errno != 0 ? errno : EIO;
        return fail(CFileException(CauseOf(osError), osError, fileName));
    }
    m_buffer.resize(kBufferSize);
    m_nPos = m_nEnd = 0;
    m_nBufferStart = 0;
    m_bEof = false;
    return true;
}

void CStdioFile::Attach(std::FILE* stream, std::string name, bool forWriting) {
    Abort();
    m_file = stream;
    m_strFileName = std::move(name);
    m_bWrite = forWriting;
    m_bText = true;
    m_buffer.resize(kBufferSize);
    m_nPos = m_nEnd = 0;
    m_nBufferStart = 0;
    m_bEof = false;
}

void CStdioFile::Close() {
    if (m_file == nullptr) return;
    try {
        if (m_bWrite) FlushBuffer();
        if (!m_strTempName.empty()) {
            FinishReplacing();
            return;
        }
    } catch (...) {
        Abort();
        throw;
    }
    std::FILE* f = m_file;
    m_file = nullptr;
    errno = 0;
    if (std::fclose(f) != 0) ThrowError(errno != 0 ? errno : EIO);
}

bool CStdioFile::OpenReplacing(bool ownerOnly, CFileException* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A link is followed: the file it names is the one replaced.
    fs::path target = PathFromUtf8(m_strFileName);
    if (fs::is_symlink(target, ec)) {
        const fs::path real = fs::weakly_canonical(target, ec);
        if (!ec) target = real;
    }
    FileStat st {};
    const bool exists = StatUtf8(Utf8FromPath(target), st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        if (error != nullptr)
            *error = CFileException(CFileException::badPath, 0, m_strFileName, "not a regular file");
        return false;
    }
#ifndef _WIN32
    // A rename would replace a file its owner made read-only: refuse as
    // writing into it would.
    if (exists && ::access(Utf8FromPath(target).c_str(), W_OK) != 0) {
        if (error != nullptr) *error = CFileException(CauseOf(errno), errno, m_strFileName);
        return false;
    }
#endif
    static std::atomic<unsigned> counter{0};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".";
        name += Utf8FromPath(target.filename());
        name += ".tmp";
        name += std::to_string(static_cast<unsigned long>(::getpid()));
        name += '-';
        name += std::to_string(counter++);
        const std::string temp = Utf8FromPath(folder / PathFromUtf8(name));
        errno = 0;
#ifdef _WIN32
        const int fd = ::_wopen(PathFromUtf8(temp).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        const int fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, ownerOnly ? 0600 : 0666);
#endif
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            const int osError = errno != 0 ? errno : EIO;
            if (error != nullptr) *error = CFileException(CauseOf(osError), osError, m_strFileName);
            return false;
        }
#ifndef _WIN32
        // The new file keeps the old one's permissions; a private one is
        // 0600 even where the old one was wider.
        if (ownerOnly) (void)::fchmod(fd, 0600);
        else if (exists) (void)::fchmod(fd, st.st_mode & 07777);
#else
        (void)ownerOnly;
#endif
        m_file = ::fdopen(fd, "wb");
        if (m_file == nullptr) {
            const int osError = errno != 0 ? errno : EIO;
            ::close(fd);
            RemoveFileUtf8(temp);
            if (error != nullptr) *error = CFileException(CauseOf(osError), osError, m_strFileName);
            return false;
        }
        m_strTempName = temp;
        m_strTarget = Utf8FromPath(target);
        return true;
    }
    if (error != nullptr) *error = CFileException(CFileException::generic, EEXIST, m_strFileName);
    return false;
}

void CStdioFile::FinishReplacing() {
    errno = 0;
    if (std::fflush(m_file) != 0) ThrowError(errno != 0 ? errno : EIO);
#ifndef _WIN32
    if (::fsync(::fileno(m_file)) != 0) ThrowError(errno != 0 ? errno : EIO);
#endif
    std::FILE* f = m_file;
    m_file = nullptr;
    errno = 0;
    if (std::fclose(f) != 0) {
        const int osError = errno != 0 ? errno : EIO;
        RemoveFileUtf8(m_strTempName);
        m_strTempName.clear();
        ThrowError(osError);
    }
    std::error_code ec;
    std::filesystem::rename(PathFromUtf8(m_strTempName), PathFromUtf8(m_strTarget), ec);
    if (ec) {
        RemoveFileUtf8(m_strTempName);
        m_strTempName.clear();
        ThrowError(ec.value() != 0 ? ec.value() : EIO);
    }
    m_strTempName.clear();
#ifndef _WIN32
    // The rename itself reaches the disk with its folder.
    const std::string folder = std::filesystem::path(m_strTarget).parent_path().string();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
#endif
}

void CStdioFile::Abort() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_strTempName.empty()) {
        RemoveFileUtf8(m_strTempName);
        m_strTempName.clear();
    }
    m_nPos = m_nEnd = 0;
}

void CStdioFile::ThrowError(int osError) const {
    throw CFileException(CauseOf(osError), osError, m_strFileName);
}

bool CStdioFile::FillBuffer() {
    if (m_bEof) return false;
    errno = 0;
    const std::size_t n = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
    if (n == 0) {
        if (std::ferror(m_file)) ThrowError(errno != 0 ? errno : EIO);
        m_bEof = true;
        return false;
    }
    m_nBufferStart += m_nEnd;
    m_nPos = 0;
    m_nEnd = n;
    return true;
}

std::uint64_t CStdioFile::GetLength() const {
    struct stat st {};
    if (m_file == nullptr || ::fstat(::fileno(m_file), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

bool CStdioFile::ReadString(std::string& line) {
    line.clear();
    if (m_file == nullptr) ThrowError(EBADF);
    bool gotAny = false;
    for (;;) {
        if (m_nPos == m_nEnd && !FillBuffer()) break;
        gotAny = true;
        const char* begin = m_buffer.data() + m_nPos;
        const char* nl = static_cast<const char*>(std::memchr(begin, '\n', m_nEnd - m_nPos));
        if (nl != nullptr) {
            line.append(begin, nl);
            m_nPos += static_cast<std::size_t>(nl - begin) + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        line.append(begin, m_nEnd - m_nPos);
        m_nPos = m_nEnd;
    }
    if (!gotAny) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void CStdioFile::FlushBuffer() {
    if (m_nEnd == 0) return;
    errno = 0;
    const std::size_t pending = m_nEnd;
    m_nEnd = 0;
    if (std::fwrite(m_buffer.data(), 1, pending, m_file) == pending && std::fflush(m_file) == 0)
        return;
    ThrowError(errno != 0 ? errno : EIO);
}

void CStdioFile::WriteString(std::string_view text) {
    if (m_file == nullptr || !m_bWrite) ThrowError(EBADF);
    // Copy runs between line ends in bulk; each "\n" becomes CR LF.
    while (!text.empty()) {
        const std::size_t nl = m_bText ? text.find('\n') : std::string_view::npos;
        const std::size_t run = nl == std::string_view::npos ? text.size() : nl;
        std::size_t done = 0;
        while (done < run) {
            if (m_nEnd == m_buffer.size()) FlushBuffer();
            const std::size_t n = std::min(run - done, m_buffer.size() - m_nEnd);
            std::memcpy(m_buffer.data() + m_nEnd, text.data() + done, n);
            m_nEnd += n;
            done += n;
        }
        if (nl == std::string_view::npos) break;
        if (m_nEnd + 2 > m_buffer.size()) FlushBuffer();
        m_buffer[m_nEnd++] = '\r';
        m_buffer[m_nEnd++] = '\n';
        text.remove_prefix(nl + 1);
    }
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string& error, bool ownerOnly) {
    try {
        CStdioFile out(path, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::modeReplace |
                                 CStdioFile::typeBinary | (ownerOnly ? CStdioFile::modePrivate : 0u));
        out.WriteString(bytes);
        out.Close();
        return true;
    } catch (const CFileException& e) {
        error = e.GetErrorMessage().empty() ? "Cannot write " + path + "." : e.GetErrorMessage();
        return false;
    }
}

}  // namespace qv
