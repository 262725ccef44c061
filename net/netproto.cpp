#include "net/netproto.h"

#include "net/portconfig.h"

CNetProtocol::CNetProtocol()
    : m_snmpEnabled(portcfg::kDefaultSnmpEnabled),
      m_snmpCommunity{},
      m_snmpIndex(portcfg::kDefaultSnmpIndex),
      m_snmpVersion(portcfg::kDefaultSnmpVersion) {
    portcfg::ToField(m_snmpCommunity, sizeof m_snmpCommunity, portcfg::kDefaultCommunity);
    DbgPrint("CNetProtocol(0x%08X, size=%d)\n", TraceAddress(this),
             static_cast<int>(sizeof(CNetProtocol)));
}

CNetProtocol::~CNetProtocol() {
    DbgPrint("~CNetProtocol(0x%08X)\n", TraceAddress(this));
}

void CNetProtocol::ReadSnmpSettings(CRegKey& key) {
    m_snmpEnabled = portcfg::ReadDword(key, portcfg::kSnmpEnabled, portcfg::kDefaultSnmpEnabled);
    if (!portcfg::ReadText(key, portcfg::kSnmpCommunity, m_snmpCommunity, sizeof m_snmpCommunity,
                           portcfg::kCommunityMaxChars)) {
        portcfg::ToField(m_snmpCommunity, sizeof m_snmpCommunity, portcfg::kDefaultCommunity);
    }
    m_snmpIndex = portcfg::ReadDword(key, portcfg::kSnmpIndex, portcfg::kDefaultSnmpIndex);
    m_snmpVersion = portcfg::ReadDword(key, portcfg::kSnmpVersion, portcfg::kDefaultSnmpVersion);
    if (m_snmpVersion > portcfg::kDefaultSnmpVersion) {
        m_snmpVersion = portcfg::kDefaultSnmpVersion;
    }
}

CNetProtocol::ConnectWait CNetProtocol::WaitForConnection(SOCKET socket, DWORD milliseconds,
                                                          DWORD* error) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    FD_ZERO(&failed);
    FD_SET(socket, &failed);
    timeval wait = {static_cast<long>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1000};
    int ready = select(0, nullptr, &writable, &failed, &wait);
    if (ready == SOCKET_ERROR) {
        *error = WSAGetLastError();
        return ConnectWait::kPending;
    }
    if (ready == 0) {
        *error = WSAETIMEDOUT;
        return ConnectWait::kPending;
    }
    if (FD_ISSET(socket, &failed)) {
        int code = 0;
        int length = sizeof code;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length) ==
                SOCKET_ERROR ||
            code == 0) {
            code = WSAECONNREFUSED;  // failed, whatever the socket still tells
        }
        *error = static_cast<DWORD>(code);
        return ConnectWait::kFailed;
    }
    *error = ERROR_SUCCESS;
    return ConnectWait::kConnected;
}
