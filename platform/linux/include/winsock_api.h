// Windows Sockets 2 over BSD sockets: Winsock types, constants and error codes on top, with
// overlapped sends completed by one I/O thread per process (platform/linux/src/winsock_io.cpp).
//
// The C library declares select() and gethostname() in headers that the C++ library always
// pulls in, so the Winsock versions of those names are macros for the stand-ins; fd_set is the
// Winsock array of sockets (FD_SETSIZE 64), not the POSIX bit mask.
#pragma once

#include <sys/select.h>
#include <unistd.h>

#include "platform/linux/include/wintypes.h"

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

#define AF_UNSPEC 0
#define AF_INET 2
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_IP 0
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17

#define SOL_SOCKET 0xffff
#define SO_DEBUG 0x0001
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_BROADCAST 0x0020
#define SO_LINGER 0x0080
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define TCP_NODELAY 0x0001

#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4
#define MSG_PARTIAL 0x8000

#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#define FIONREAD ((LONG)0x4004667F)
#define FIONBIO ((LONG)0x8004667E)

#define INADDR_ANY ((ULONG)0x00000000)
#define INADDR_LOOPBACK 0x7f000001
#define INADDR_BROADCAST ((ULONG)0xffffffff)
#define INADDR_NONE 0xffffffff

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    USHORT iMaxSockets;
    USHORT iMaxUdpDg;
    char* lpVendorInfo;
} WSADATA, *LPWSADATA;

struct in_addr {
    ULONG s_addr;  // network byte order
};
typedef struct in_addr IN_ADDR;

struct sockaddr {
    USHORT sa_family;
    char sa_data[14];
};
typedef struct sockaddr SOCKADDR;

struct sockaddr_in {
    SHORT sin_family;
    USHORT sin_port;
    struct in_addr sin_addr;
    char sin_zero[8];
};
typedef struct sockaddr_in SOCKADDR_IN;

struct linger {
    USHORT l_onoff;
    USHORT l_linger;
};
typedef struct linger LINGER;

struct hostent {
    char* h_name;
    char** h_aliases;
    SHORT h_addrtype;
    SHORT h_length;
    char** h_addr_list;
};
typedef struct hostent HOSTENT;
#define h_addr h_addr_list[0]

// --- The Winsock socket set (an array, not the POSIX bit mask) ---
#undef FD_SETSIZE
#undef FD_ZERO
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#define FD_SETSIZE 64
typedef struct nvws_fd_set {
    UINT fd_count;
    SOCKET fd_array[FD_SETSIZE];
} nvws_fd_set;
#define fd_set nvws_fd_set
int __WSAFDIsSet(SOCKET s, fd_set* set);
void nvws_fd_set_add(SOCKET s, fd_set* set);
void nvws_fd_set_remove(SOCKET s, fd_set* set);
#define FD_ZERO(set) (((fd_set*)(set))->fd_count = 0)
#define FD_SET(s, set) nvws_fd_set_add((SOCKET)(s), (fd_set*)(set))
#define FD_CLR(s, set) nvws_fd_set_remove((SOCKET)(s), (fd_set*)(set))
#define FD_ISSET(s, set) __WSAFDIsSet((SOCKET)(s), (fd_set*)(set))

// --- The interface list: WSAIoctl(SIO_GET_INTERFACE_LIST) ---
#define SIO_GET_INTERFACE_LIST ((DWORD)0x4004747F)  // _IOR('t', 127, u_long)
// iiFlags
#define IFF_UP 0x00000001
#define IFF_BROADCAST 0x00000002
#define IFF_LOOPBACK 0x00000004
#define IFF_POINTTOPOINT 0x00000008
#define IFF_MULTICAST 0x00000010

struct sockaddr_in6_old {
    SHORT sin6_family;
    USHORT sin6_port;
    ULONG sin6_flowinfo;
    BYTE sin6_addr[16];
};
typedef union sockaddr_gen {
    struct sockaddr Address;
    struct sockaddr_in AddressIn;
    struct sockaddr_in6_old AddressIn6;
} sockaddr_gen;

typedef struct _INTERFACE_INFO {
    ULONG iiFlags;
    sockaddr_gen iiAddress;
    sockaddr_gen iiBroadcastAddress;
    sockaddr_gen iiNetmask;
} INTERFACE_INFO, *LPINTERFACE_INFO;

// --- The connection's TCP statistics: WSAIoctl(SIO_TCP_INFO), version 0 ---
#define SIO_TCP_INFO ((DWORD)0xD8000027)  // _WSAIORW(IOC_VENDOR, 39)
typedef enum _TCPSTATE {
    TCPSTATE_CLOSED,
    TCPSTATE_LISTEN,
    TCPSTATE_SYN_SENT,
    TCPSTATE_SYN_RCVD,
    TCPSTATE_ESTABLISHED,
    TCPSTATE_FIN_WAIT_1,
    TCPSTATE_FIN_WAIT_2,
    TCPSTATE_CLOSE_WAIT,
    TCPSTATE_CLOSING,
    TCPSTATE_LAST_ACK,
    TCPSTATE_TIME_WAIT,
    TCPSTATE_MAX
} TCPSTATE;
typedef struct _TCP_INFO_v0 {
    TCPSTATE State;
    ULONG Mss;
    ULONG64 ConnectionTimeMs;
    BOOLEAN TimestampsEnabled;
    ULONG RttUs;
    ULONG MinRttUs;
    ULONG BytesInFlight;  // sent and not acknowledged
    ULONG Cwnd;
    ULONG SndWnd;
    ULONG RcvWnd;
    ULONG RcvBuf;
    ULONG64 BytesOut;  // every byte sent, retransmissions included
    ULONG64 BytesIn;
    ULONG BytesReordered;
    ULONG BytesRetrans;
    ULONG FastRetrans;
    ULONG DupAcksIn;
    ULONG TimeoutEpisodes;
    UCHAR SynRetrans;
} TCP_INFO_v0, *PTCP_INFO_v0;

// --- Overlapped I/O ---
typedef HANDLE WSAEVENT;
typedef OVERLAPPED WSAOVERLAPPED;
typedef OVERLAPPED* LPWSAOVERLAPPED;
#define WSA_INVALID_EVENT ((WSAEVENT) nullptr)
#define WSA_INFINITE INFINITE
#define WSA_WAIT_EVENT_0 WAIT_OBJECT_0
#define WSA_WAIT_TIMEOUT WAIT_TIMEOUT
#define WSA_WAIT_FAILED WAIT_FAILED

typedef struct _WSABUF {
    ULONG len;
    CHAR* buf;
} WSABUF, *LPWSABUF;

typedef void(CALLBACK* LPWSAOVERLAPPED_COMPLETION_ROUTINE)(DWORD error, DWORD transferred,
                                                           LPWSAOVERLAPPED overlapped, DWORD flags);

// --- Functions ---
#define select nvws_select
#define gethostname nvws_gethostname

int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
int bind(SOCKET s, const struct sockaddr* name, int nameLength);
int connect(SOCKET s, const struct sockaddr* name, int nameLength);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, struct sockaddr* address, int* addressLength);
int send(SOCKET s, const char* buffer, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
int sendto(SOCKET s, const char* buffer, int length, int flags, const struct sockaddr* to,
           int toLength);
int recvfrom(SOCKET s, char* buffer, int length, int flags, struct sockaddr* from, int* fromLength);
int setsockopt(SOCKET s, int level, int option, const char* value, int valueLength);
int getsockopt(SOCKET s, int level, int option, char* value, int* valueLength);
int getsockname(SOCKET s, struct sockaddr* name, int* nameLength);
int getpeername(SOCKET s, struct sockaddr* name, int* nameLength);
int ioctlsocket(SOCKET s, LONG command, ULONG* argument);
int select(int ignored, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet,
           const struct timeval* timeout);

int gethostname(char* name, int nameLength);
struct hostent* gethostbyname(const char* name);
ULONG inet_addr(const char* text);
char* inet_ntoa(struct in_addr address);
USHORT htons(USHORT value);
USHORT ntohs(USHORT value);
ULONG htonl(ULONG value);
ULONG ntohl(ULONG value);

WSAEVENT WSACreateEvent();
BOOL WSACloseEvent(WSAEVENT event);
BOOL WSAResetEvent(WSAEVENT event);
BOOL WSASetEvent(WSAEVENT event);
int WSASend(SOCKET s, LPWSABUF buffers, DWORD bufferCount, LPDWORD bytesSent, DWORD flags,
            LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completionRoutine);
// SIO_TCP_INFO (version 0, from the kernel's TCP_INFO), and SIO_GET_INTERFACE_LIST,
// both without overlapped I/O. SIO_GET_INTERFACE_LIST: one INTERFACE_INFO per IPv4 address
// of the machine; WSAEFAULT when the output cannot hold them all.
int WSAIoctl(SOCKET s, DWORD code, LPVOID input, DWORD inputSize, LPVOID output, DWORD outputSize,
             LPDWORD bytesReturned, LPWSAOVERLAPPED overlapped,
             LPWSAOVERLAPPED_COMPLETION_ROUTINE completionRoutine);
BOOL WSAGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED overlapped, LPDWORD transferred, BOOL wait,
                            LPDWORD flags);
