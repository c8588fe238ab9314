// libsmbclient carrying the winreg pipe: one context per pipe, set up so
// that nothing outside the credentials given decides how it logs on.
#include "registry/rrp/smb_pipe.h"

#include <libsmbclient.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qv::rrp {

namespace {

void CopyTo(char* out, int size, const std::string& text) {
    if (size <= 0) return;
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// libsmbclient reports what went wrong through errno.
LONG StatusOf(int error) {
    return error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : ERROR_BAD_NETPATH;
}

}  // namespace

struct CSmbPipe::Impl {
    SMBCCTX* context = nullptr;
    SMBCFILE* file = nullptr;
    SmbLogon logon;

    static void Authenticate(SMBCCTX* c, const char* /*server*/, const char* /*share*/, char* workgroup,
                             int workgroupSize, char* user, int userSize, char* password, int passwordSize) {
        const auto* self = static_cast<const Impl*>(smbc_getOptionUserData(c));
        if (self == nullptr) return;
        if (!self->logon.domain.empty()) CopyTo(workgroup, workgroupSize, self->logon.domain);
        CopyTo(user, userSize, self->logon.user);
        CopyTo(password, passwordSize, self->logon.password);
    }

    ~Impl() {
        if (context == nullptr) return;
        if (file != nullptr) smbc_getFunctionClose(context)(context, file);
        smbc_free_context(context, 1);
    }
};

CSmbPipe::CSmbPipe() : m_impl(std::make_unique<Impl>()) {}

CSmbPipe::~CSmbPipe() = default;

LONG CSmbPipe::Open(const std::string& host, int port, const SmbLogon& logon, std::chrono::milliseconds timeout) {
    if (m_impl->context != nullptr) return ERROR_INVALID_PARAMETER;
    m_impl->logon = logon;
    SMBCCTX* context = smbc_new_context();
    if (context == nullptr) return ERROR_OUTOFMEMORY;
    m_impl->context = context;
    smbc_setDebug(context, 0);
    // No smb.conf of this computer's decides anything (there may be none):
    // libsmbclient's defaults and what is set here are the whole setting.
    smbc_setConfiguration(context, "/dev/null");
    smbc_setOptionNoAutoAnonymousLogin(context, 1);  // else a refused password logs on anonymously
    smbc_setOptionUseKerberos(context, 0);
    smbc_setOptionUseCCache(context, 0);
    smbc_setTimeout(context, static_cast<int>(std::clamp<long long>(timeout.count(), 1, 0x7fffffff)));
    smbc_setPort(context, static_cast<std::uint16_t>(port));
    smbc_setOptionUserData(context, m_impl.get());
    smbc_setFunctionAuthDataWithContext(context, &Impl::Authenticate);
    if (smbc_init_context(context) == nullptr) return ERROR_OUTOFMEMORY;
    const bool v6 = host.find(':') != std::string::npos;
    const std::string url = "smb://" + (v6 ? "[" + host + "]" : host) + "/IPC$/winreg";
    errno = 0;
    m_impl->file = smbc_getFunctionOpen(context)(context, url.c_str(), O_RDWR, 0);
    if (m_impl->file == nullptr) return StatusOf(errno);
    return ERROR_SUCCESS;
}

LONG CSmbPipe::Write(std::string_view bytes) {
    if (m_impl->file == nullptr) return ERROR_BAD_NETPATH;
    while (!bytes.empty()) {
        errno = 0;
        const ssize_t n = smbc_getFunctionWrite(m_impl->context)(m_impl->context, m_impl->file, bytes.data(),
                                                                 bytes.size());
        if (n <= 0) return ERROR_BAD_NETPATH;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return ERROR_SUCCESS;
}

LONG CSmbPipe::Read(std::string& bytes, std::size_t max) {
    bytes.clear();
    if (m_impl->file == nullptr) return ERROR_BAD_NETPATH;
    bytes.resize(max);
    errno = 0;
    const ssize_t n = smbc_getFunctionRead(m_impl->context)(m_impl->context, m_impl->file, bytes.data(), max);
    if (n <= 0) {
        bytes.clear();
        return ERROR_BAD_NETPATH;
    }
    bytes.resize(static_cast<std::size_t>(n));
    return ERROR_SUCCESS;
}

}  // namespace qv::rrp
