// The POSIX socket calls behind the Winsock stand-in. Plain types only: the stand-in's
// translation units declare the Winsock API and must never see the C library's socket headers.
// Every function returns its result (>= 0) or a negated errno value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace px {

// Winsock option and flag values are translated here, where the Linux ones are visible.
int Socket(int family, int type, int protocol);
int Close(int fd);
int Shutdown(int fd, int how);  // how: 0 receive, 1 send, 2 both
int Bind(int fd, const void* address, int length);
int Connect(int fd, const void* address, int length);
int Listen(int fd, int backlog);
int Accept(int fd, void* address, int* length);
long Send(int fd, const void* data, size_t length, bool dontWait);
long Recv(int fd, void* data, size_t length, bool peek);
long SendTo(int fd, const void* data, size_t length, const void* to, int toLength);
// *truncated tells whether the datagram was longer than length (its rest is lost).
long RecvFrom(int fd, void* data, size_t length, void* from, int* fromLength, bool* truncated);
int SetOption(int fd, int level, int option, const void* value, int length);
int GetOption(int fd, int level, int option, void* value, int* length);
int GetSockName(int fd, void* address, int* length);
int GetPeerName(int fd, void* address, int* length);
int SetNonBlocking(int fd, bool nonBlocking);
int BytesReadable(int fd);
// What TCP_INFO tells of a connection's data (SIO_TCP_INFO of the Winsock stand-in).
struct TcpCounters {
    int state = 0;  // the Windows TCPSTATE value
    uint32_t mss = 0;
    uint32_t rttUs = 0;
    uint32_t minRttUs = 0;
    uint32_t cwnd = 0;  // bytes
    uint32_t sendWindow = 0;
    uint32_t receiveWindow = 0;
    uint32_t receiveBuffer = 0;
    uint64_t bytesSent = 0;  // every byte put on the wire, retransmissions included
    uint64_t bytesRetransmitted = 0;
    uint64_t bytesAcked = 0;
    uint64_t bytesReceived = 0;
    uint32_t retransmitTimeouts = 0;
};
int TcpInfo(int fd, TcpCounters* counters);

// poll(): events and results use these bits.
constexpr short kReadable = 1;
constexpr short kWritable = 2;
constexpr short kError = 4;  // error or hang-up
struct PollEntry {
    int fd;
    short wanted;
    short ready;
};
int Poll(std::vector<PollEntry>* entries, int timeoutMs);  // -1 waits without limit

// Host names. Addresses are IPv4 in network byte order.
int HostName(std::string* name);
// The machine's own IPv4 addresses as Windows lists them: interfaces that are up first,
// loopback last.
std::vector<uint32_t> OwnAddresses();
int ResolveIPv4(const std::string& name, std::vector<uint32_t>* addresses);

// One IPv4 address of an interface, as getifaddrs lists it. Addresses in network byte order;
// the broadcast address is the peer's for a point-to-point link, 0 when there is none.
struct InterfaceAddress {
    uint32_t address;
    uint32_t netmask;
    uint32_t broadcast;
    bool up;
    bool broadcastCapable;
    bool loopback;
    bool pointToPoint;
    bool multicast;
};
std::vector<InterfaceAddress> Interfaces();

}  // namespace px
