// Windows Sockets over BSD sockets: the Winsock result conventions (SOCKET_ERROR and the thread's
// last error as a WSA code), start-up counting, Windows' select() and the host lookup.
#include "platform/linux/src/winsock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/src/posix_shim.h"

namespace {

std::mutex gStartupMutex;
int gStartups = 0;

std::mutex gSocketMutex;
std::unordered_map<int, NvSocketState>* gSockets = nullptr;

std::unordered_map<int, NvSocketState>& Sockets() {
    if (gSockets == nullptr) {
        gSockets = new std::unordered_map<int, NvSocketState>;
    }
    return *gSockets;
}

bool Started() {
    std::lock_guard<std::mutex> lock(gStartupMutex);
    return gStartups > 0;
}

int Fd(SOCKET s) {
    return static_cast<int>(s);
}

bool IsBlocking(int fd) {
    std::lock_guard<std::mutex> lock(gSocketMutex);
    auto it = Sockets().find(fd);
    return it == Sockets().end() || !it->second.nonBlocking;
}

}  // namespace

DWORD NvWsaFromErrno(int error) {
    switch (error) {
        case EWOULDBLOCK:
        case EINPROGRESS:
            return WSAEWOULDBLOCK;
        case EALREADY:
            return WSAEALREADY;
        case ECONNREFUSED:
            return WSAECONNREFUSED;
        case ECONNRESET:
        case EPIPE:
            return WSAECONNRESET;
        case ECONNABORTED:
            return WSAECONNABORTED;
        case ETIMEDOUT:
            return WSAETIMEDOUT;
        case ENETUNREACH:
            return WSAENETUNREACH;
        case EHOSTUNREACH:
            return WSAEHOSTUNREACH;
        case ENETDOWN:
            return WSAENETDOWN;
        case EADDRINUSE:
            return WSAEADDRINUSE;
        case EADDRNOTAVAIL:
            return WSAEADDRNOTAVAIL;
        case EACCES:
        case EPERM:
            return WSAEACCES;
        case EBADF:
        case ENOTSOCK:
            return WSAENOTSOCK;
        case EINVAL:
            return WSAEINVAL;
        case EFAULT:
            return WSAEFAULT;
        case EAFNOSUPPORT:
            return WSAEAFNOSUPPORT;
        case EMFILE:
        case ENFILE:
            return WSAEMFILE;
        case ENOBUFS:
        case ENOMEM:
            return WSAENOBUFS;
        case EISCONN:
            return WSAEISCONN;
        case ENOTCONN:
            return WSAENOTCONN;
        case EMSGSIZE:
            return WSAEMSGSIZE;
        case ENOPROTOOPT:
            return WSAENOPROTOOPT;
        case EPROTONOSUPPORT:
            return WSAEPROTONOSUPPORT;
        case EOPNOTSUPP:
            return WSAEOPNOTSUPP;
        case EINTR:
            return WSAEINTR;
        default:
            return WSAEINVAL;
    }
}

int NvWsaFail(DWORD error) {
    SetLastError(error);
    return SOCKET_ERROR;
}

int NvWsaFailErrno(long negatedErrno) {
    return NvWsaFail(NvWsaFromErrno(static_cast<int>(-negatedErrno)));
}

bool NvSocketStateOf(SOCKET s, NvSocketState* state) {
    std::lock_guard<std::mutex> lock(gSocketMutex);
    auto it = Sockets().find(Fd(s));
    if (it == Sockets().end()) {
        return false;
    }
    *state = it->second;
    return true;
}

bool NvIsSocket(SOCKET s) {
    std::lock_guard<std::mutex> lock(gSocketMutex);
    return Sockets().count(Fd(s)) != 0;
}

// --- Start-up ---

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    DWORD fault = 0;
    if (NvFaultHit("WSAStartup", &fault)) {
        return static_cast<int>(fault);
    }
    if (data == nullptr) {
        return WSAEFAULT;
    }
    BYTE major = LOBYTE(versionRequested);
    BYTE minor = HIBYTE(versionRequested);
    if (major == 0) {
        return WSAVERNOTSUPPORTED;
    }
    memset(data, 0, sizeof *data);
    data->wHighVersion = MAKEWORD(2, 2);
    data->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? MAKEWORD(2, 2) : versionRequested;
    strcpy(data->szDescription, "WinSock 2.0");
    strcpy(data->szSystemStatus, "Running");
    std::lock_guard<std::mutex> lock(gStartupMutex);
    ++gStartups;
    return 0;
}

int WSACleanup() {
    std::lock_guard<std::mutex> lock(gStartupMutex);
    if (gStartups == 0) {
        SetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    --gStartups;
    return 0;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}

void WSASetLastError(int error) {
    SetLastError(static_cast<DWORD>(error));
}

// --- Sockets ---

SOCKET socket(int af, int type, int protocol) {
    if (!Started()) {
        SetLastError(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    DWORD fault = 0;
    if (NvFaultHit("socket", &fault)) {
        SetLastError(fault);
        return INVALID_SOCKET;
    }
    int fd = px::Socket(af, type, protocol);
    if (fd < 0) {
        NvWsaFailErrno(fd);
        return INVALID_SOCKET;
    }
    std::lock_guard<std::mutex> lock(gSocketMutex);
    Sockets()[fd] = NvSocketState{};
    return static_cast<SOCKET>(fd);
}

int closesocket(SOCKET s) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    NvIoCancel(s);  // a pending overlapped send is aborted, as on Windows
    {
        std::lock_guard<std::mutex> lock(gSocketMutex);
        Sockets().erase(Fd(s));
    }
    int rc = px::Close(Fd(s));
    return rc < 0 ? NvWsaFailErrno(rc) : 0;
}

int shutdown(SOCKET s, int how) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    int rc = px::Shutdown(Fd(s), how);
    return rc < 0 ? NvWsaFailErrno(rc) : 0;
}

int bind(SOCKET s, const struct sockaddr* name, int nameLength) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    if (name == nullptr || nameLength < static_cast<int>(sizeof(sockaddr_in))) {
        return NvWsaFail(WSAEFAULT);
    }
    int rc = px::Bind(Fd(s), name, nameLength);
    return rc < 0 ? NvWsaFailErrno(rc) : 0;
}

int connect(SOCKET s, const struct sockaddr* name, int nameLength) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    if (name == nullptr || nameLength < static_cast<int>(sizeof(sockaddr_in))) {
        return NvWsaFail(WSAEFAULT);
    }
    int rc = px::Connect(Fd(s), name, nameLength);
    if (rc < 0 && -rc == EINPROGRESS) {
        std::lock_guard<std::mutex> lock(gSocketMutex);
        Sockets()[Fd(s)].connectPending = true;
    }
    return rc < 0 ? NvWsaFailErrno(rc) : 0;
}

int listen(SOCKET s, int backlog) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    int rc = px::Listen(Fd(s), backlog);
    return rc < 0 ? NvWsaFailErrno(rc) : 0;
}

SOCKET accept(SOCKET s, struct sockaddr* address, int* addressLength) {
    if (!NvIsSocket(s)) {
        NvWsaFail(WSAENOTSOCK);
        return INVALID_SOCKET;
    }
    int fd = px::Accept(Fd(s), address, addressLength);
    if (fd < 0) {
        NvWsaFailErrno(fd);
        return INVALID_SOCKET;
    }
    std::lock_guard<std::mutex> lock(gSocketMutex);
    Sockets()[fd] = NvSocketState{};
    return static_cast<SOCKET>(fd);
}

// A blocking socket whose send or receive time-out expires reports WSAETIMEDOUT.
static int TransferResult(SOCKET s, long n) {
    if (n >= 0) {
        return static_cast<int>(n);
    }
    if (-n == EWOULDBLOCK && IsBlocking(Fd(s))) {
        return NvWsaFail(WSAETIMEDOUT);
    }
    return NvWsaFailErrno(n);
}

int send(SOCKET s, const char* buffer, int length, int) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    DWORD fault = 0;
    if (NvFaultHit("send", &fault)) {
        return NvWsaFail(fault);
    }
    if (length < 0 || (buffer == nullptr && length > 0)) {
        return NvWsaFail(WSAEFAULT);
    }
    return TransferResult(s, px::Send(Fd(s), buffer, static_cast<size_t>(length), false));
}

int recv(SOCKET s, char* buffer, int length, int flags) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    DWORD fault = 0;
    if (NvFaultHit("recv", &fault)) {
        return NvWsaFail(fault);
    }
    if (length < 0 || (buffer == nullptr && length > 0)) {
        return NvWsaFail(WSAEFAULT);
    }
    return TransferResult(
        s, px::Recv(Fd(s), buffer, static_cast<size_t>(length), (flags & MSG_PEEK) != 0));
}

int sendto(SOCKET s, const char* buffer, int length, int, const struct sockaddr* to, int toLength) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    DWORD fault = 0;
    if (NvFaultHit("sendto", &fault)) {
        return NvWsaFail(fault);
    }
    if (length < 0 || (buffer == nullptr && length > 0)) {
        return NvWsaFail(WSAEFAULT);
    }
    return TransferResult(s, px::SendTo(Fd(s), buffer, static_cast<size_t>(length), to, toLength));
}

int recvfrom(SOCKET s, char* buffer, int length, int, struct sockaddr* from, int* fromLength) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    if (length < 0 || (buffer == nullptr && length > 0)) {
        return NvWsaFail(WSAEFAULT);
    }
    if (from != nullptr &&
        (fromLength == nullptr || *fromLength < static_cast<int>(sizeof(sockaddr_in)))) {
        return NvWsaFail(WSAEFAULT);
    }
    bool truncated = false;
    long n = px::RecvFrom(Fd(s), buffer, static_cast<size_t>(length), from, fromLength, &truncated);
    // A datagram longer than the buffer fills it and fails with WSAEMSGSIZE; the rest is lost.
    if (n >= 0 && truncated) {
        return NvWsaFail(WSAEMSGSIZE);
    }
    return TransferResult(s, n);
}

int setsockopt(SOCKET s, int level, int option, const char* value, int valueLength) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    DWORD fault = 0;
    if (NvFaultHit("setsockopt", &fault)) {
        return NvWsaFail(fault);
    }
    int rc = px::SetOption(Fd(s), level, option, value, valueLength);
    return rc < 0 ? NvWsaFailErrno(rc) : 0;
}

// SO_ERROR answers a Winsock code, as on Windows (0 stays 0).
int getsockopt(SOCKET s, int level, int option, char* value, int* valueLength) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    int rc = px::GetOption(Fd(s), level, option, value, valueLength);
    if (rc < 0) {
        return NvWsaFailErrno(rc);
    }
    if (level == SOL_SOCKET && option == SO_ERROR) {
        int error = 0;
        memcpy(&error, value, sizeof error);
        DWORD code = error != 0 ? NvWsaFromErrno(error) : 0;
        memcpy(value, &code, sizeof code);
    }
    return 0;
}

int getsockname(SOCKET s, struct sockaddr* name, int* nameLength) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    if (name == nullptr || nameLength == nullptr) {
        return NvWsaFail(WSAEFAULT);
    }
    int rc = px::GetSockName(Fd(s), name, nameLength);
    return rc < 0 ? NvWsaFailErrno(rc) : 0;
}

int getpeername(SOCKET s, struct sockaddr* name, int* nameLength) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    if (name == nullptr || nameLength == nullptr) {
        return NvWsaFail(WSAEFAULT);
    }
    int rc = px::GetPeerName(Fd(s), name, nameLength);
    return rc < 0 ? NvWsaFailErrno(rc) : 0;
}

int ioctlsocket(SOCKET s, LONG command, ULONG* argument) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    if (argument == nullptr) {
        return NvWsaFail(WSAEFAULT);
    }
    if (command == FIONBIO) {
        bool nonBlocking = *argument != 0;
        int rc = px::SetNonBlocking(Fd(s), nonBlocking);
        if (rc < 0) {
            return NvWsaFailErrno(rc);
        }
        std::lock_guard<std::mutex> lock(gSocketMutex);
        Sockets()[Fd(s)].nonBlocking = nonBlocking;
        return 0;
    }
    if (command == FIONREAD) {
        int n = px::BytesReadable(Fd(s));
        if (n < 0) {
            return NvWsaFailErrno(n);
        }
        *argument = static_cast<ULONG>(n);
        return 0;
    }
    return NvWsaFail(WSAEINVAL);
}

// --- Socket sets and select ---

int __WSAFDIsSet(SOCKET s, fd_set* set) {
    for (UINT i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] == s) {
            return 1;
        }
    }
    return 0;
}

void nvws_fd_set_add(SOCKET s, fd_set* set) {
    if (!__WSAFDIsSet(s, set) && set->fd_count < FD_SETSIZE) {
        set->fd_array[set->fd_count++] = s;
    }
}

void nvws_fd_set_remove(SOCKET s, fd_set* set) {
    for (UINT i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] == s) {
            set->fd_array[i] = set->fd_array[--set->fd_count];
            return;
        }
    }
}

// A connection reported writable is made: a later failure of it is no failed connection
// attempt, and Windows no longer reports it in the exception set.
static void ConnectionMade(SOCKET s) {
    std::lock_guard<std::mutex> lock(gSocketMutex);
    auto it = Sockets().find(Fd(s));
    if (it != Sockets().end()) {
        it->second.connectPending = false;
    }
}

// Windows semantics: the first argument is ignored; a socket whose connection attempt failed is
// not writable but excepted (so a wait on the write set alone runs to its time-out); the sets
// are rewritten to hold the ready sockets; a null time-out waits without limit.
int select(int, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet,
           const struct timeval* timeout) {
    struct Watched {
        fd_set* set;
        UINT index;
        short wanted;  // 0 for the except set
        bool ready;
    };
    DWORD fault = 0;
    if (NvFaultHit("select", &fault)) {
        // A test fault of WAIT_TIMEOUT makes the wait time out at once.
        return fault == WAIT_TIMEOUT ? 0 : NvWsaFail(fault);
    }
    std::vector<Watched> watched;
    auto add = [&watched](fd_set* set, short wanted) {
        for (UINT i = 0; set != nullptr && i < set->fd_count; ++i) {
            watched.push_back(Watched{set, i, wanted, false});
        }
    };
    add(readSet, px::kReadable);
    add(writeSet, px::kWritable);
    add(exceptSet, 0);
    if (watched.empty()) {
        return NvWsaFail(WSAEINVAL);
    }
    for (const auto& w : watched) {
        if (!NvIsSocket(w.set->fd_array[w.index])) {
            return NvWsaFail(WSAENOTSOCK);
        }
    }
    ULONGLONG deadline = 0;
    if (timeout != nullptr) {
        long long ms = static_cast<long long>(timeout->tv_sec) * 1000 + timeout->tv_usec / 1000;
        deadline = GetTickCount64() + static_cast<ULONGLONG>(ms < 0 ? 0 : ms);
    }
    int count = 0;
    for (;;) {
        std::vector<px::PollEntry> entries;
        for (const auto& w : watched) {
            entries.push_back(px::PollEntry{Fd(w.set->fd_array[w.index]), w.wanted, 0});
        }
        int timeoutMs = -1;
        if (timeout != nullptr) {
            ULONGLONG now = GetTickCount64();
            ULONGLONG left = deadline > now ? deadline - now : 0;
            timeoutMs = left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
        }
        int rc = px::Poll(&entries, timeoutMs);
        if (rc < 0) {
            return NvWsaFailErrno(rc);
        }
        bool onlyFailedConnects = rc > 0;
        for (size_t i = 0; i < watched.size(); ++i) {
            NvSocketState state;
            bool failedConnect =
                (entries[i].ready & px::kError) != 0 &&
                NvSocketStateOf(watched[i].set->fd_array[watched[i].index], &state) &&
                state.connectPending;
            bool ready = false;
            if (watched[i].wanted == px::kReadable) {
                ready = (entries[i].ready & (px::kReadable | px::kError)) != 0;
            } else if (watched[i].wanted == px::kWritable) {
                ready = (entries[i].ready & px::kWritable) != 0 && !failedConnect;
                if (ready) {
                    ConnectionMade(watched[i].set->fd_array[watched[i].index]);
                }
            } else {
                ready = failedConnect;
            }
            watched[i].ready = ready;
            count += ready ? 1 : 0;
            if (entries[i].ready != 0 && (ready || !failedConnect)) {
                onlyFailedConnects = false;
            }
        }
        if (count > 0 || rc == 0 || !onlyFailedConnects) {
            break;
        }
        // Only failed connections that nobody asked about woke the wait: wait on for the
        // rest of the time-out, without spinning on them.
        if (timeout == nullptr) {
            Sleep(100);
        } else if (GetTickCount64() >= deadline) {
            break;
        } else {
            ULONGLONG left = deadline - GetTickCount64();
            Sleep(static_cast<DWORD>(left < 100 ? left : 100));
        }
    }
    // Rewrite each set to its ready sockets, keeping their order.
    for (fd_set* set : {readSet, writeSet, exceptSet}) {
        if (set == nullptr) {
            continue;
        }
        SOCKET kept[FD_SETSIZE];
        UINT n = 0;
        for (const auto& w : watched) {
            if (w.set == set && w.ready) {
                kept[n++] = set->fd_array[w.index];
            }
        }
        memcpy(set->fd_array, kept, n * sizeof(SOCKET));
        set->fd_count = n;
    }
    return count;
}

// --- Names and addresses ---

int gethostname(char* name, int nameLength) {
    if (name == nullptr || nameLength <= 0) {
        return NvWsaFail(WSAEFAULT);
    }
    std::string host;
    int rc = px::HostName(&host);
    if (rc < 0) {
        return NvWsaFailErrno(rc);
    }
    if (host.size() + 1 > static_cast<size_t>(nameLength)) {
        return NvWsaFail(WSAEFAULT);
    }
    memcpy(name, host.c_str(), host.size() + 1);
    return 0;
}

namespace {
struct HostEntry {
    hostent entry;
    std::string name;
    std::vector<ULONG> addresses;
    std::vector<char*> addressPointers;
    char* aliases[1] = {nullptr};
};

// The test override of the machine's own addresses and interfaces (NvSetHostAddresses,
// NORVA_HOST_ADDRESSES).
struct OverriddenInterface {
    uint32_t address;  // network byte order
    uint32_t netmask;
};
std::mutex gHostMutex;
bool gHostOverridden = false;
bool gHostEnvRead = false;
std::vector<uint32_t> gHostAddresses;
std::vector<OverriddenInterface> gHostInterfaces;

// "A.B.C.D" or "A.B.C.D/N" with N from 0 to 32; false for anything else.
bool ParseOverrideItem(const std::string& item, uint32_t* address, int* prefixLength) {
    const size_t slash = item.find('/');
    const std::string dotted = item.substr(0, slash);
    *address = inet_addr(dotted.c_str());
    if (dotted.empty() || *address == INADDR_NONE) {
        return false;
    }
    *prefixLength = -1;
    if (slash == std::string::npos) {
        return true;
    }
    const std::string digits = item.substr(slash + 1);
    if (digits.empty() || digits.size() > 2 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *prefixLength = std::atoi(digits.c_str());
    return *prefixLength <= 32;
}

void SetHostAddressesLocked(const char* list) {
    gHostAddresses.clear();
    gHostInterfaces.clear();
    std::string text = list != nullptr ? list : "";
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(',', pos);
        std::string item = text.substr(pos, end == std::string::npos ? end : end - pos);
        uint32_t address = 0;
        int prefixLength = -1;
        if (ParseOverrideItem(item, &address, &prefixLength)) {
            gHostAddresses.push_back(address);
            if (prefixLength >= 0) {
                const uint32_t mask = prefixLength == 0 ? 0 : 0xffffffffu << (32 - prefixLength);
                gHostInterfaces.push_back({address, htonl(mask)});
            }
        }
        if (end == std::string::npos) {
            break;
        }
        pos = end + 1;
    }
    gHostOverridden = !gHostAddresses.empty();
}

// Takes NORVA_HOST_ADDRESSES once, unless NvSetHostAddresses came first.
void ReadHostEnvironmentLocked() {
    if (!gHostEnvRead) {
        gHostEnvRead = true;
        SetHostAddressesLocked(getenv("NORVA_HOST_ADDRESSES"));
    }
}

// The machine's own addresses: the test override if one is set, else the interfaces'.
std::vector<uint32_t> OwnAddresses() {
    {
        std::lock_guard<std::mutex> lock(gHostMutex);
        ReadHostEnvironmentLocked();
        if (gHostOverridden) {
            return gHostAddresses;
        }
    }
    return px::OwnAddresses();
}

sockaddr_gen InterfaceAddress(uint32_t address) {
    sockaddr_gen entry = {};
    entry.AddressIn.sin_family = AF_INET;
    entry.AddressIn.sin_addr.s_addr = address;
    return entry;
}

// The interface list of SIO_GET_INTERFACE_LIST. Under the test override it holds only the
// override's "A.B.C.D/N" entries, so a test never reaches a real interface.
std::vector<INTERFACE_INFO> InterfaceList() {
    std::vector<INTERFACE_INFO> list;
    {
        std::lock_guard<std::mutex> lock(gHostMutex);
        ReadHostEnvironmentLocked();
        if (gHostOverridden) {
            for (const OverriddenInterface& entry : gHostInterfaces) {
                INTERFACE_INFO info = {};
                info.iiFlags = IFF_UP | IFF_BROADCAST | IFF_MULTICAST;
                info.iiAddress = InterfaceAddress(entry.address);
                info.iiNetmask = InterfaceAddress(entry.netmask);
                info.iiBroadcastAddress = InterfaceAddress(entry.address | ~entry.netmask);
                list.push_back(info);
            }
            return list;
        }
    }
    for (const px::InterfaceAddress& entry : px::Interfaces()) {
        INTERFACE_INFO info = {};
        info.iiFlags = (entry.up ? IFF_UP : 0) | (entry.broadcastCapable ? IFF_BROADCAST : 0) |
                       (entry.loopback ? IFF_LOOPBACK : 0) |
                       (entry.pointToPoint ? IFF_POINTTOPOINT : 0) |
                       (entry.multicast ? IFF_MULTICAST : 0);
        info.iiAddress = InterfaceAddress(entry.address);
        info.iiNetmask = InterfaceAddress(entry.netmask);
        info.iiBroadcastAddress = InterfaceAddress(entry.broadcast);
        list.push_back(info);
    }
    return list;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char ca = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 32) : a[i];
        char cb = (b[i] >= 'a' && b[i] <= 'z') ? static_cast<char>(b[i] - 32) : b[i];
        if (ca != cb) {
            return false;
        }
    }
    return true;
}
}  // namespace

// The machine's own name answers with its interface addresses, loopback last, as Windows does
// (not with the 127.0.1.1 that Debian's hosts file gives it). A dotted address answers itself.
struct hostent* gethostbyname(const char* name) {
    thread_local HostEntry result;
    if (!Started()) {
        SetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    std::string own;
    px::HostName(&own);
    std::string query = name != nullptr ? name : own;
    std::vector<uint32_t> addresses;
    ULONG literal = inet_addr(query.c_str());
    if (literal != INADDR_NONE && !query.empty()) {
        addresses.push_back(literal);
    } else if (SameNameIgnoringCase(query, own)) {
        addresses = OwnAddresses();
    } else if (px::ResolveIPv4(query, &addresses) < 0 || addresses.empty()) {
        SetLastError(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    result.name = query;
    result.addresses.assign(addresses.begin(), addresses.end());
    result.addressPointers.clear();
    for (auto& a : result.addresses) {
        result.addressPointers.push_back(reinterpret_cast<char*>(&a));
    }
    result.addressPointers.push_back(nullptr);
    result.entry.h_name = result.name.data();
    result.entry.h_aliases = result.aliases;
    result.entry.h_addrtype = AF_INET;
    result.entry.h_length = 4;
    result.entry.h_addr_list = result.addressPointers.data();
    return &result.entry;
}

void NvSetHostAddresses(const char* dottedList) {
    std::lock_guard<std::mutex> lock(gHostMutex);
    gHostEnvRead = true;  // an explicit setting wins over the environment from now on
    SetHostAddressesLocked(dottedList);
}

// --- The connection's TCP statistics ---

// SIO_TCP_INFO version 0 (the only version asked for): the input is the DWORD 0. What TCP has
// not acknowledged yet is in flight: the bytes sent once, less the acknowledged ones.
static int TcpInfoIoctl(SOCKET s, LPVOID input, DWORD inputSize, LPVOID output, DWORD outputSize,
                        LPDWORD bytesReturned) {
    if (input == nullptr || inputSize < sizeof(DWORD) || *static_cast<DWORD*>(input) != 0) {
        return NvWsaFail(WSAEINVAL);
    }
    if (output == nullptr || outputSize < sizeof(TCP_INFO_v0) || bytesReturned == nullptr) {
        return NvWsaFail(WSAEFAULT);
    }
    px::TcpCounters counters;
    int rc = px::TcpInfo(Fd(s), &counters);
    if (rc < 0) {
        return NvWsaFailErrno(rc);
    }
    TCP_INFO_v0 info{};
    info.State = static_cast<TCPSTATE>(counters.state);
    info.Mss = counters.mss;
    info.RttUs = counters.rttUs;
    info.MinRttUs = counters.minRttUs;
    uint64_t once = counters.bytesSent - counters.bytesRetransmitted;
    info.BytesInFlight =
        static_cast<ULONG>(once > counters.bytesAcked ? once - counters.bytesAcked : 0);
    info.Cwnd = counters.cwnd;
    info.SndWnd = counters.sendWindow;
    info.RcvWnd = counters.receiveWindow;
    info.RcvBuf = counters.receiveBuffer;
    info.BytesOut = counters.bytesSent;
    info.BytesIn = counters.bytesReceived;
    info.BytesRetrans = static_cast<ULONG>(counters.bytesRetransmitted);
    info.TimeoutEpisodes = counters.retransmitTimeouts;
    memcpy(output, &info, sizeof info);
    *bytesReturned = sizeof info;
    return 0;
}

// --- The interface list ---

int WSAIoctl(SOCKET s, DWORD code, LPVOID input, DWORD inputSize, LPVOID output, DWORD outputSize,
             LPDWORD bytesReturned, LPWSAOVERLAPPED overlapped,
             LPWSAOVERLAPPED_COMPLETION_ROUTINE completionRoutine) {
    DWORD fault = 0;
    if (NvFaultHit("WSAIoctl", &fault)) {
        return NvWsaFail(fault);
    }
    if (!Started()) {
        return NvWsaFail(WSANOTINITIALISED);
    }
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    if (overlapped != nullptr || completionRoutine != nullptr) {
        return NvWsaFail(WSAEOPNOTSUPP);  // the stand-in answers at once or not at all
    }
    if (code == SIO_TCP_INFO) {
        return TcpInfoIoctl(s, input, inputSize, output, outputSize, bytesReturned);
    }
    if (code != SIO_GET_INTERFACE_LIST) {
        return NvWsaFail(WSAEINVAL);
    }
    if (bytesReturned == nullptr) {
        return NvWsaFail(WSAEFAULT);
    }
    *bytesReturned = 0;
    const std::vector<INTERFACE_INFO> list = InterfaceList();
    const size_t needed = list.size() * sizeof(INTERFACE_INFO);
    if (output == nullptr || outputSize < needed) {
        return NvWsaFail(WSAEFAULT);
    }
    if (needed > 0) {
        memcpy(output, list.data(), needed);
    }
    *bytesReturned = static_cast<DWORD>(needed);
    return 0;
}

// The BSD forms: a.b.c.d, a.b.c (c 16 bits), a.b (b 24 bits), a (32 bits); each part decimal,
// octal (leading 0) or hexadecimal (0x). Anything else is INADDR_NONE.
ULONG inet_addr(const char* text) {
    if (text == nullptr) {
        return INADDR_NONE;
    }
    unsigned long long parts[4] = {0, 0, 0, 0};
    int count = 0;
    const char* p = text;
    for (;;) {
        if (count == 4) {
            return INADDR_NONE;
        }
        int base = 10;
        if (*p == '0') {
            base = 8, ++p;
            if (*p == 'x' || *p == 'X') {
                base = 16, ++p;
            }
        } else if (*p < '1' || *p > '9') {
            return INADDR_NONE;
        }
        unsigned long long value = 0;
        for (;; ++p) {
            int digit;
            if (*p >= '0' && *p <= '9') {
                digit = *p - '0';
            } else if (base == 16 && *p >= 'a' && *p <= 'f') {
                digit = *p - 'a' + 10;
            } else if (base == 16 && *p >= 'A' && *p <= 'F') {
                digit = *p - 'A' + 10;
            } else {
                break;
            }
            if (digit >= base) {
                return INADDR_NONE;
            }
            value = value * base + digit;
            if (value > 0xffffffffULL) {
                return INADDR_NONE;
            }
        }
        parts[count++] = value;
        if (*p != '.') {
            break;
        }
        ++p;
    }
    if (*p != '\0' && *p != ' ') {
        return INADDR_NONE;
    }
    unsigned long long address = 0;
    switch (count) {
        case 1:
            address = parts[0];
            break;
        case 2:
            if (parts[0] > 0xff || parts[1] > 0xffffff)
                return INADDR_NONE;
            address = (parts[0] << 24) | parts[1];
            break;
        case 3:
            if (parts[0] > 0xff || parts[1] > 0xff || parts[2] > 0xffff)
                return INADDR_NONE;
            address = (parts[0] << 24) | (parts[1] << 16) | parts[2];
            break;
        default:
            if (parts[0] > 0xff || parts[1] > 0xff || parts[2] > 0xff || parts[3] > 0xff) {
                return INADDR_NONE;
            }
            address = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
            break;
    }
    return htonl(static_cast<ULONG>(address));
}

char* inet_ntoa(struct in_addr address) {
    thread_local char buffer[16];
    ULONG host = ntohl(address.s_addr);
    snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", (host >> 24) & 0xff, (host >> 16) & 0xff,
             (host >> 8) & 0xff, host & 0xff);
    return buffer;
}

USHORT htons(USHORT value) {
    return static_cast<USHORT>((value << 8) | (value >> 8));
}
USHORT ntohs(USHORT value) {
    return htons(value);
}
ULONG htonl(ULONG value) {
    return __builtin_bswap32(value);
}
ULONG ntohl(ULONG value) {
    return __builtin_bswap32(value);
}
