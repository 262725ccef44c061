#include "discover/dgramsocket.h"

CSocketBase::CSocketBase() : m_socket(INVALID_SOCKET), m_lastError(0), m_nonBlocking(false) {}

CSocketBase::~CSocketBase() {
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
    }
}

int CSocketBase::SaveError() {
    m_lastError = WSAGetLastError();
    return m_lastError;
}

int CSocketBase::Receive(char* buffer, int size) {
    const int received = recv(m_socket, buffer, size, 0);
    if (received == SOCKET_ERROR) {
        SaveError();
    }
    return received;
}

// Without it the drain loop of the search would block on its last read, so a socket that
// cannot be made non-blocking ends the search like a failed bind.
void CSocketBase::SetNonBlocking() {
    ULONG on = 1;
    if (ioctlsocket(m_socket, FIONBIO, &on) == SOCKET_ERROR) {
        throw DiscoveryError("non-blocking", static_cast<DWORD>(SaveError()));
    }
    m_nonBlocking = true;
}

int CSocketBase::BytesAvailable() {
    ULONG available = 0;
    if (ioctlsocket(m_socket, FIONREAD, &available) == SOCKET_ERROR) {
        SaveError();
        return SOCKET_ERROR;
    }
    return static_cast<int>(available);
}

CIpv4DatagramSocket::CIpv4DatagramSocket() {
    m_socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_socket == INVALID_SOCKET) {
        SaveError();
    }
}

int CIpv4DatagramSocket::SendTo(const char* data, int size, const IpAddress& to) {
    const sockaddr_in& address = to.SocketAddress();
    const int sent = sendto(m_socket, data, size, 0, reinterpret_cast<const sockaddr*>(&address),
                            sizeof address);
    if (sent != size) {
        const DWORD error = sent == SOCKET_ERROR ? static_cast<DWORD>(SaveError()) : WSAEMSGSIZE;
        throw DiscoveryError("send", error);
    }
    return sent;
}

int CIpv4DatagramSocket::ReceiveFrom(char* buffer, int size, IpAddress& from) {
    sockaddr_in& address = from.SocketAddress();
    int length = sizeof address;
    const int received =
        recvfrom(m_socket, buffer, size, 0, reinterpret_cast<sockaddr*>(&address), &length);
    if (received == SOCKET_ERROR) {
        SaveError();
    }
    return received;
}

void DatagramSocket::BindForBroadcast(USHORT port) {
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
        throw DiscoveryError("bind", static_cast<DWORD>(SaveError()));
    }
    BOOL on = TRUE;
    if (setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                   sizeof on) == SOCKET_ERROR) {
        throw DiscoveryError("broadcast", static_cast<DWORD>(SaveError()));
    }
}
