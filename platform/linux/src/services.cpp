// The service control manager. The one service is "Spooler", which on Linux is the spooler
// host `nvspool serve`: it listens on a control socket (NORVA_SPOOLER_SOCKET, default
// /run/norva/spooler.sock) for "stop", "start" and "status"; only root and the host's own
// account may stop or start it (ERROR_ACCESS_DENIED otherwise). Without a running host there is
// no spooler to control: stop and start succeed and change nothing, and the service reads as
// stopped.
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

// Sends one command to the running host; its one-line answer, or empty without a host.
std::string Ask(const char* command) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::string();
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = SocketPath();
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    timeval timeout{kReplyTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string line = std::string(command) + "\n";
        if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
            char buffer[64];
            ssize_t n;
            while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
                answer.append(buffer, static_cast<size_t>(n));
                if (answer.find('\n') != std::string::npos) {
                    break;
                }
            }
        }
    }
    close(fd);
    return answer.substr(0, answer.find('\n'));
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
    Fill(status, StateOf(Ask("status")));
    return TRUE;
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
        Fill(status, StateOf(Ask("status")));
        return TRUE;
    }
    if (control != SERVICE_CONTROL_STOP) {
        SetLastError(ERROR_INVALID_SERVICE_CONTROL);
        return FALSE;
    }
    std::string before = Ask("status");
    if (before.empty()) {
        Fill(status, SERVICE_STOPPED);  // no host: nothing to stop
        return TRUE;
    }
    if (before != "RUNNING") {
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    std::string answer = Ask("stop");
    if (answer == kDenied) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    Fill(status, StateOf(answer));
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
    std::string before = Ask("status");
    if (before.empty()) {
        return TRUE;  // no host: nothing to start
    }
    if (before == "RUNNING") {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    std::string answer = Ask("start");
    if (answer == kDenied) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return answer == "RUNNING" ? TRUE : (SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT), FALSE);
}
