// The service control manager. The one service is "Spooler", which on Linux is the spooler
// host `nvspool serve`: it listens on a control socket (NORVA_SPOOLER_SOCKET, default
// /run/norva/spooler.sock) for "stop", "start" and "status"; only root and the host's own
// account may stop or start it (ERROR_ACCESS_DENIED otherwise). Without a running host there is
// no spooler to control: stop and start succeed and change nothing, and the service reads as
// stopped. An account that may not open the socket (mode 0660) cannot tell whether a host runs:
// every call answers ERROR_ACCESS_DENIED for it, as Windows does for a handle without the right.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/src/internal.h"

namespace {

constexpr char kDefaultSocket[] = "/run/norva/spooler.sock";
constexpr int kReplyTimeoutSeconds = 30;  // a stop unloads the monitor, which may take a while
// The host's answer to a stop or start from an account that may not control it.
constexpr char kDenied[] = "DENIED";

struct ServiceObject {
    uint32_t magic;
    bool manager;  // the manager handle, else the Spooler service
};
constexpr uint32_t kServiceMagic = 0x53564353;  // "SCVS"

ServiceObject* Object(SC_HANDLE handle) {
    auto* object = reinterpret_cast<ServiceObject*>(handle);
    return object != nullptr && object->magic == kServiceMagic ? object : nullptr;
}

std::string SocketPath() {
    const char* path = getenv("NORVA_SPOOLER_SOCKET");
    return path != nullptr && *path != 0 ? path : kDefaultSocket;
}

// The host's answer to one command, or why there is none.
struct Reply {
    enum class Kind { kAnswer, kNoHost, kFailed };
    Kind kind = Kind::kNoHost;
    std::string answer;           // its one line, for kAnswer
    DWORD error = ERROR_SUCCESS;  // the Win32 code, for kFailed
};

// Why a connect to the socket failed: no host listens there (no socket, or one left by a host
// that is gone), or the caller may not reach one (the socket's or a directory's permissions), or
// the host did not take the connection in time.
Reply ConnectFailure(int error) {
    Reply reply;
    if (error == EACCES || error == EPERM) {
        reply = {Reply::Kind::kFailed, std::string(), ERROR_ACCESS_DENIED};
    } else if (error == EAGAIN || error == ETIMEDOUT || error == EINTR) {
        reply = {Reply::Kind::kFailed, std::string(), ERROR_SERVICE_REQUEST_TIMEOUT};
    }
    return reply;
}

// Sends one command to the running host and reads its one-line answer. A host that closes
// without answering is ending: there is no host.
Reply Ask(const char* command) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {Reply::Kind::kFailed, std::string(), NvWin32FromErrno(errno)};
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = SocketPath();
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    timeval timeout{kReplyTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Reply reply = ConnectFailure(errno);
        close(fd);
        return reply;
    }
    Reply reply;
    std::string line = std::string(command) + "\n";
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
        char buffer[64];
        ssize_t n = 0;
        while (reply.answer.find('\n') == std::string::npos &&
               (n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            reply.answer.append(buffer, static_cast<size_t>(n));
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            reply = {Reply::Kind::kFailed, std::string(), ERROR_SERVICE_REQUEST_TIMEOUT};
        }
    }
    close(fd);
    const size_t end = reply.answer.find('\n');
    if (end != std::string::npos) {
        reply = {Reply::Kind::kAnswer, reply.answer.substr(0, end), ERROR_SUCCESS};
    }
    return reply;
}

void Fill(LPSERVICE_STATUS status, DWORD state) {
    if (status != nullptr) {
        memset(status, 0, sizeof *status);
        status->dwServiceType = 0x20;  // SERVICE_WIN32_SHARE_PROCESS
        status->dwCurrentState = state;
        status->dwControlsAccepted = state == SERVICE_RUNNING ? 1 : 0;  // SERVICE_ACCEPT_STOP
    }
}

DWORD StateOf(const std::string& answer) {
    return answer == "RUNNING" ? SERVICE_RUNNING : SERVICE_STOPPED;
}

// The service's state into *status; FALSE with the last error when the host cannot be asked.
BOOL QueryState(LPSERVICE_STATUS status) {
    Reply reply = Ask("status");
    if (reply.kind == Reply::Kind::kFailed) {
        SetLastError(reply.error);
        return FALSE;
    }
    Fill(status, StateOf(reply.answer));  // no host: stopped
    return TRUE;
}

// FALSE with the last error for a reply that carries no state: the host could not be asked,
// or it refused the caller.
bool Refused(const Reply& reply) {
    if (reply.kind == Reply::Kind::kFailed) {
        SetLastError(reply.error);
        return true;
    }
    if (reply.answer == kDenied) {
        SetLastError(ERROR_ACCESS_DENIED);
        return true;
    }
    return false;
}

}  // namespace

SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD) {
    if (NvFaultFail("OpenSCManagerW")) {
        return nullptr;
    }
    if (machineName != nullptr && *machineName != 0) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);  // only this machine's services are known
        return nullptr;
    }
    if (databaseName != nullptr && _wcsicmp(databaseName, SERVICES_ACTIVE_DATABASEW) != 0) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(new ServiceObject{kServiceMagic, true});
}

SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD) {
    ServiceObject* object = Object(manager);
    if (object == nullptr || !object->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (NvFaultFail("OpenServiceW")) {
        return nullptr;
    }
    if (serviceName == nullptr || _wcsicmp(serviceName, u"Spooler") != 0) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(new ServiceObject{kServiceMagic, false});
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    ServiceObject* object = Object(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->magic = 0;
    delete object;
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    ServiceObject* object = Object(service);
    if (object == nullptr || object->manager || status == nullptr) {
        SetLastError(object == nullptr || object->manager ? ERROR_INVALID_HANDLE
                                                          : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return QueryState(status);
}

BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    ServiceObject* object = Object(service);
    if (object == nullptr || object->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (NvFaultFail("ControlService")) {
        return FALSE;
    }
    if (control == SERVICE_CONTROL_INTERROGATE) {
        return QueryState(status);
    }
    if (control != SERVICE_CONTROL_STOP) {
        SetLastError(ERROR_INVALID_SERVICE_CONTROL);
        return FALSE;
    }
    Reply before = Ask("status");
    if (Refused(before)) {
        return FALSE;
    }
    if (before.kind == Reply::Kind::kNoHost) {
        Fill(status, SERVICE_STOPPED);  // no host: nothing to stop
        return TRUE;
    }
    if (before.answer != "RUNNING") {
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    Reply answer = Ask("stop");
    if (Refused(answer)) {
        return FALSE;
    }
    Fill(status, StateOf(answer.answer));
    return TRUE;
}

BOOL StartServiceW(SC_HANDLE service, DWORD, LPCWSTR*) {
    ServiceObject* object = Object(service);
    if (object == nullptr || object->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (NvFaultFail("StartServiceW")) {
        return FALSE;
    }
    Reply before = Ask("status");
    if (Refused(before)) {
        return FALSE;
    }
    if (before.kind == Reply::Kind::kNoHost) {
        return TRUE;  // no host: nothing to start
    }
    if (before.answer == "RUNNING") {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    Reply answer = Ask("start");
    if (Refused(answer)) {
        return FALSE;
    }
    return answer.answer == "RUNNING" ? TRUE : (SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT), FALSE);
}
