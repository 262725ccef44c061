// POSIX side of the Winsock stand-in (see posix_shim.h).
#include "platform/linux/src/posix_shim.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace px {

namespace {

constexpr int kWinSolSocket = 0xffff;
constexpr int kWinIpProtoTcp = 6;

int Result(long value) {
    return value < 0 ? -errno : static_cast<int>(value);
}

// The Linux level and option for a Winsock one, or false when there is none.
bool MapOption(int level, int option, int* linuxLevel, int* linuxOption) {
    if (level == kWinSolSocket) {
        *linuxLevel = SOL_SOCKET;
        switch (option) {
            case 0x0004:
                *linuxOption = SO_REUSEADDR;
                return true;
            case 0x0008:
                *linuxOption = SO_KEEPALIVE;
                return true;
            case 0x0020:
                *linuxOption = SO_BROADCAST;
                return true;
            case 0x0080:
                *linuxOption = SO_LINGER;
                return true;
            case 0x1001:
                *linuxOption = SO_SNDBUF;
                return true;
            case 0x1002:
                *linuxOption = SO_RCVBUF;
                return true;
            case 0x1005:
                *linuxOption = SO_SNDTIMEO;
                return true;
            case 0x1006:
                *linuxOption = SO_RCVTIMEO;
                return true;
            case 0x1007:
                *linuxOption = SO_ERROR;
                return true;
            case 0x1008:
                *linuxOption = SO_TYPE;
                return true;
            default:
                return false;
        }
    }
    if (level == kWinIpProtoTcp && option == 0x0001) {
        *linuxLevel = IPPROTO_TCP;
        *linuxOption = TCP_NODELAY;
        return true;
    }
    return false;
}

uint32_t ReadU32(const void* value, int length) {
    uint32_t v = 0;
    memcpy(&v, value, length < 4 ? static_cast<size_t>(length) : 4);
    return v;
}

}  // namespace

int Socket(int family, int type, int protocol) {
    if (family != AF_INET) {
        return -EAFNOSUPPORT;
    }
    return Result(socket(AF_INET, type | SOCK_CLOEXEC, protocol));
}

int Close(int fd) {
    return Result(close(fd));
}

int Shutdown(int fd, int how) {
    static const int kHow[] = {SHUT_RD, SHUT_WR, SHUT_RDWR};
    if (how < 0 || how > 2) {
        return -EINVAL;
    }
    return Result(shutdown(fd, kHow[how]));
}

int Bind(int fd, const void* address, int length) {
    return Result(bind(fd, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)));
}

int Connect(int fd, const void* address, int length) {
    return Result(
        connect(fd, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)));
}

int Listen(int fd, int backlog) {
    return Result(listen(fd, backlog));
}

int Accept(int fd, void* address, int* length) {
    socklen_t len = length != nullptr ? static_cast<socklen_t>(*length) : 0;
    int result = Result(accept4(fd, static_cast<sockaddr*>(address),
                                length != nullptr ? &len : nullptr, SOCK_CLOEXEC));
    if (result >= 0 && length != nullptr) {
        *length = static_cast<int>(len);
    }
    return result;
}

// MSG_NOSIGNAL always: a broken connection is an error result, never SIGPIPE.
long Send(int fd, const void* data, size_t length, bool dontWait) {
    ssize_t n = send(fd, data, length, MSG_NOSIGNAL | (dontWait ? MSG_DONTWAIT : 0));
    return n < 0 ? -errno : n;
}

long Recv(int fd, void* data, size_t length, bool peek) {
    ssize_t n = recv(fd, data, length, peek ? MSG_PEEK : 0);
    return n < 0 ? -errno : n;
}

long SendTo(int fd, const void* data, size_t length, const void* to, int toLength) {
    ssize_t n = sendto(fd, data, length, MSG_NOSIGNAL, static_cast<const sockaddr*>(to),
                       static_cast<socklen_t>(toLength));
    return n < 0 ? -errno : n;
}

long RecvFrom(int fd, void* data, size_t length, void* from, int* fromLength, bool* truncated) {
    iovec buffer = {data, length};
    msghdr message = {};
    message.msg_name = from;
    message.msg_namelen = fromLength != nullptr ? static_cast<socklen_t>(*fromLength) : 0;
    message.msg_iov = &buffer;
    message.msg_iovlen = 1;
    ssize_t n = recvmsg(fd, &message, 0);
    if (n < 0) {
        return -errno;
    }
    if (fromLength != nullptr) {
        *fromLength = static_cast<int>(message.msg_namelen);
    }
    *truncated = (message.msg_flags & MSG_TRUNC) != 0;
    return n;
}

// Winsock values: time-outs are a DWORD of milliseconds, linger is two 16-bit fields, flags
// are a 32-bit BOOL.
int SetOption(int fd, int level, int option, const void* value, int length) {
    int linuxLevel = 0;
    int linuxOption = 0;
    if (!MapOption(level, option, &linuxLevel, &linuxOption)) {
        return -ENOPROTOOPT;
    }
    if (value == nullptr || length < 1) {
        return -EFAULT;
    }
    if (linuxOption == SO_SNDTIMEO || linuxOption == SO_RCVTIMEO) {
        uint32_t ms = ReadU32(value, length);
        timeval tv;
        tv.tv_sec = ms / 1000;
        tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
        return Result(setsockopt(fd, linuxLevel, linuxOption, &tv, sizeof tv));
    }
    if (linuxOption == SO_LINGER) {
        if (length < 4) {
            return -EFAULT;
        }
        uint16_t fields[2];
        memcpy(fields, value, sizeof fields);
        linger l;
        l.l_onoff = fields[0];
        l.l_linger = fields[1];
        return Result(setsockopt(fd, linuxLevel, linuxOption, &l, sizeof l));
    }
    int v = static_cast<int>(ReadU32(value, length));
    return Result(setsockopt(fd, linuxLevel, linuxOption, &v, sizeof v));
}

int GetOption(int fd, int level, int option, void* value, int* length) {
    int linuxLevel = 0;
    int linuxOption = 0;
    if (!MapOption(level, option, &linuxLevel, &linuxOption)) {
        return -ENOPROTOOPT;
    }
    if (value == nullptr || length == nullptr || *length < 4) {
        return -EFAULT;
    }
    if (linuxOption == SO_SNDTIMEO || linuxOption == SO_RCVTIMEO) {
        timeval tv{};
        socklen_t len = sizeof tv;
        if (getsockopt(fd, linuxLevel, linuxOption, &tv, &len) != 0) {
            return -errno;
        }
        uint32_t ms = static_cast<uint32_t>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
        memcpy(value, &ms, 4);
        *length = 4;
        return 0;
    }
    if (linuxOption == SO_LINGER) {
        linger l{};
        socklen_t len = sizeof l;
        if (getsockopt(fd, linuxLevel, linuxOption, &l, &len) != 0) {
            return -errno;
        }
        uint16_t fields[2] = {static_cast<uint16_t>(l.l_onoff), static_cast<uint16_t>(l.l_linger)};
        memcpy(value, fields, 4);
        *length = 4;
        return 0;
    }
    int v = 0;
    socklen_t len = sizeof v;
    if (getsockopt(fd, linuxLevel, linuxOption, &v, &len) != 0) {
        return -errno;
    }
    memcpy(value, &v, 4);
    *length = 4;
    return 0;
}

int GetSockName(int fd, void* address, int* length) {
    socklen_t len = static_cast<socklen_t>(*length);
    int result = Result(getsockname(fd, static_cast<sockaddr*>(address), &len));
    *length = static_cast<int>(len);
    return result;
}

int GetPeerName(int fd, void* address, int* length) {
    socklen_t len = static_cast<socklen_t>(*length);
    int result = Result(getpeername(fd, static_cast<sockaddr*>(address), &len));
    *length = static_cast<int>(len);
    return result;
}

int SetNonBlocking(int fd, bool nonBlocking) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) {
        return -errno;
    }
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return Result(fcntl(fd, F_SETFL, flags));
}

int BytesReadable(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) != 0 ? -errno : n;
}

int Poll(std::vector<PollEntry>* entries, int timeoutMs) {
    std::vector<pollfd> fds;
    fds.reserve(entries->size());
    for (const auto& e : *entries) {
        short events = 0;
        if (e.wanted & kReadable)
            events |= POLLIN;
        if (e.wanted & kWritable)
            events |= POLLOUT;
        fds.push_back(pollfd{e.fd, events, 0});
    }
    int n;
    do {
        n = poll(fds.data(), fds.size(), timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return -errno;
    }
    for (size_t i = 0; i < fds.size(); ++i) {
        short ready = 0;
        if (fds[i].revents & POLLIN)
            ready |= kReadable;
        if (fds[i].revents & POLLOUT)
            ready |= kWritable;
        if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL))
            ready |= kError;
        (*entries)[i].ready = ready;
    }
    return n;
}

int HostName(std::string* name) {
    char buffer[256];
    if (gethostname(buffer, sizeof buffer) != 0) {
        return -errno;
    }
    buffer[sizeof buffer - 1] = 0;
    *name = buffer;
    return 0;
}

std::vector<uint32_t> OwnAddresses() {
    std::vector<uint32_t> up;
    std::vector<uint32_t> loopback;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
            if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET ||
                (it->ifa_flags & IFF_UP) == 0) {
                continue;
            }
            uint32_t address = reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
            ((it->ifa_flags & IFF_LOOPBACK) != 0 ? loopback : up).push_back(address);
        }
        freeifaddrs(list);
    }
    if (loopback.empty()) {
        loopback.push_back(htonl(INADDR_LOOPBACK));
    }
    up.insert(up.end(), loopback.begin(), loopback.end());
    return up;
}

std::vector<InterfaceAddress> Interfaces() {
    std::vector<InterfaceAddress> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return interfaces;
    }
    auto ipv4 = [](const sockaddr* address) -> uint32_t {
        return address != nullptr && address->sa_family == AF_INET
                   ? reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr
                   : 0;
    };
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const unsigned flags = it->ifa_flags;
        InterfaceAddress entry = {};
        entry.address = ipv4(it->ifa_addr);
        entry.netmask = ipv4(it->ifa_netmask);
        // ifa_broadaddr and ifa_dstaddr share one field; which it is follows the flags.
        entry.broadcast =
            (flags & (IFF_BROADCAST | IFF_POINTOPOINT)) != 0 ? ipv4(it->ifa_broadaddr) : 0;
        entry.up = (flags & IFF_UP) != 0;
        entry.broadcastCapable = (flags & IFF_BROADCAST) != 0;
        entry.loopback = (flags & IFF_LOOPBACK) != 0;
        entry.pointToPoint = (flags & IFF_POINTOPOINT) != 0;
        entry.multicast = (flags & IFF_MULTICAST) != 0;
        interfaces.push_back(entry);
    }
    freeifaddrs(list);
    return interfaces;
}

int ResolveIPv4(const std::string& name, std::vector<uint32_t>* addresses) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0) {
        return rc == EAI_AGAIN ? -EAGAIN : -ENOENT;
    }
    for (addrinfo* it = result; it != nullptr; it = it->ai_next) {
        uint32_t address = reinterpret_cast<sockaddr_in*>(it->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (uint32_t a : *addresses) {
            seen = seen || a == address;
        }
        if (!seen) {
            addresses->push_back(address);
        }
    }
    freeaddrinfo(result);
    return 0;
}

}  // namespace px
