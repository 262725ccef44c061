#include "net/netraws.h"

#include <cstring>

#include "net/netport.h"
#include "net/portconfig.h"

// MSG_PARTIAL marks a message-oriented send on Windows; TCP elsewhere knows no such flag.
#ifdef _WIN32
static constexpr DWORD kSendFlags = MSG_PARTIAL;
#else
static constexpr DWORD kSendFlags = 0;
#endif

CRawSocket::CRawSocket()
    : m_socket(INVALID_SOCKET),
      m_portNumber(portcfg::kDefaultRawPortNumber),
      m_address(INADDR_NONE),
      m_timeOut(portcfg::kDefaultTimeOut),
      m_startTick(0),
      m_chunkSize(kChunkSize),
      m_chunk(nullptr),
      m_inFlight(false),
      m_sendBuf{},
      m_overlapped{} {
    DbgPrint("CRawSocket(0x%08X, size=%d)\n", TraceAddress(this),
             static_cast<int>(sizeof(CRawSocket)));
    DbgPrint("CRawSocket(size=%d)\n", static_cast<int>(m_timeOut));
}

CRawSocket::~CRawSocket() {
    DbgPrint("~CRawSocket(0x%08X)\n", TraceAddress(this));
    Close();
    FreeMem(m_chunk);
}

void CRawSocket::SetDefaults() {
    m_portNumber = portcfg::kDefaultRawPortNumber;
    m_timeOut = portcfg::kDefaultTimeOut;
    m_chunkSize = kDefaultsChunkSize;
}

BOOL CRawSocket::ReadConfig(CNetPort* port) {
    m_address = inet_addr(port->m_ipAddress);
    if (m_address == INADDR_NONE) {
        SetLastError(ERROR_REGISTRY_CORRUPT);
        return FALSE;
    }
    CRegKey& key = port->GetKey();
    m_portNumber = portcfg::ReadDword(key, portcfg::kPortNumber, portcfg::kDefaultRawPortNumber);
    m_timeOut = portcfg::ReadDword(key, portcfg::kSnmpTimeOut, portcfg::kDefaultTimeOut);
    ReadSnmpSettings(key);
    return TRUE;
}

BOOL CRawSocket::WriteConfig(CNetPort* port) {
    CRegKey& key = port->GetKey();
    portcfg::WriteDword(key, portcfg::kPortNumber, m_portNumber);
    portcfg::WriteDword(key, portcfg::kSnmpEnabled, m_snmpEnabled);
    portcfg::WriteDword(key, portcfg::kSnmpTimeOut, m_timeOut);
    portcfg::WriteText(key, portcfg::kSnmpCommunity, m_snmpCommunity);
    portcfg::WriteDword(key, portcfg::kSnmpIndex, m_snmpIndex);
    portcfg::WriteDword(key, portcfg::kSnmpVersion, m_snmpVersion);
    return TRUE;
}

BOOL CRawSocket::StartDoc(CNetPort* port) {
    return Connect(port);
}

// The socket is non-blocking: the connect starts, then up to ten waits of five seconds for it
// to become writable. A refused or unfinished connection is found by the first Write.
BOOL CRawSocket::Connect(CNetPort*) {
    m_socket = socket(AF_INET, SOCK_STREAM, 0);
    if (m_socket == INVALID_SOCKET) {
        return FALSE;
    }
    DWORD timeOut = m_timeOut;
    if (setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeOut),
                   sizeof timeOut) == SOCKET_ERROR) {
        return FALSE;
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(LOWORD(m_portNumber));
    destination.sin_addr.s_addr = m_address;
    ULONG nonBlocking = 1;
    ioctlsocket(m_socket, FIONBIO, &nonBlocking);
    if (connect(m_socket, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) ==
        SOCKET_ERROR) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            return FALSE;
        }
        DbgPrint("Non-blocking connect\n");
    }
    for (int pass = 0; pass < kConnectPasses; ++pass) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(m_socket, &writable);
        timeval wait = {kConnectPassSeconds, 0};
        int ready = select(0, nullptr, &writable, nullptr, &wait);
        if (ready != 0 && ready != SOCKET_ERROR) {
            break;
        }
    }
    m_chunk = static_cast<LPBYTE>(AllocMem(m_chunkSize));
    return m_chunk != nullptr;
}

BOOL CRawSocket::WaitForSend(DWORD milliseconds) {
    return !m_inFlight || WaitForSingleObject(m_overlapped.hEvent, milliseconds) == WAIT_OBJECT_0;
}

// One overlapped send is in flight at most and its data lives in the chunk, so the caller's
// buffer is free once a piece is copied. Every wait of one call shares one budget of TimeOut
// milliseconds from the call's start.
BOOL CRawSocket::Write(CNetPort* port, LPBYTE data, DWORD size, LPDWORD written) {
    DWORD error = ERROR_SUCCESS;
    if (m_socket == INVALID_SOCKET) {
        // A failure closed the connection: the spooler must print the job again from its start.
        port->SetJobCommand(JOB_CONTROL_RESTART);
        error = WSAENOTSOCK;
        SetLastError(error);
        return FALSE;
    }
    m_startTick = GetTickCount();
    for (;;) {
        if (m_overlapped.hEvent != nullptr) {
            DWORD elapsed = GetTickCount() - m_startTick;
            DWORD remaining = elapsed > m_timeOut ? 0 : m_timeOut - elapsed;
            if (!WaitForSend(remaining)) {
                error = ERROR_TIMEOUT;  // the connection and the send in flight stay
                break;
            }
            DWORD sent = 0;
            DWORD flags = 0;
            BOOL finished = WSAGetOverlappedResult(m_socket, &m_overlapped, &sent, FALSE, &flags);
            m_inFlight = false;
            if (!finished) {
                error = WSAGetLastError();
                Close();
                break;
            }
            DbgPrint("dwSent = %d\n", static_cast<int>(sent));
            WSAResetEvent(m_overlapped.hEvent);
            if (size == 0) {
                WSACloseEvent(m_overlapped.hEvent);
                m_overlapped.hEvent = nullptr;
                break;
            }
        } else {
            m_overlapped.hEvent = WSACreateEvent();
            if (m_overlapped.hEvent == WSA_INVALID_EVENT) {
                error = GetLastError();
                DbgPrint("Fail to create event\n");
                Close();
                break;
            }
        }
        // Send piece after piece; a piece that goes pending is counted as written and waited
        // for at the top of the loop (or by the next call when it was the last one).
        bool pending = false;
        while (!pending) {
            if (size == 0) {
                WSACloseEvent(m_overlapped.hEvent);
                m_overlapped.hEvent = nullptr;
                break;
            }
            DWORD piece = size < m_chunkSize ? size : m_chunkSize;
            m_sendBuf.len = piece;
            m_sendBuf.buf = reinterpret_cast<CHAR*>(m_chunk);
            memcpy(m_chunk, data, piece);
            DWORD sent = 0;
            if (WSASend(m_socket, &m_sendBuf, 1, &sent, kSendFlags, &m_overlapped, nullptr) == 0) {
                data += sent;
                size -= sent;
                *written += sent;
                continue;
            }
            DWORD sendError = WSAGetLastError();
            if (sendError != WSA_IO_PENDING) {
                DbgPrint("CRawSocket::Write() WSASend failed %d\n", static_cast<int>(sendError));
                error = sendError;
                Close();
                break;
            }
            m_inFlight = true;
            data += piece;
            size -= piece;
            *written += piece;
            error = ERROR_SUCCESS;
            pending = true;
        }
        if (!pending || size == 0) {
            break;  // done, failed, or the last piece is left in flight
        }
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
    }
    return error == ERROR_SUCCESS;
}

// The wait for the last send is bounded by TimeOut: a printer that stopped reading does not
// hold the spooler thread; the socket is then closed with the send unfinished.
BOOL CRawSocket::EndDoc(CNetPort*) {
    if (m_socket != INVALID_SOCKET) {
        if (m_overlapped.hEvent != nullptr && !WaitForSend(m_timeOut)) {
            DbgPrint("CRawSocket::EndDoc() last send not finished after %d ms, closing\n",
                     static_cast<int>(m_timeOut));
        } else {
            shutdown(m_socket, SD_SEND);
        }
    }
    Close();
    return TRUE;
}

// The socket goes first: a send still in flight is aborted by the close and has finished with
// the chunk before the event is released.
BOOL CRawSocket::Close() {
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
        if (m_overlapped.hEvent != nullptr) {
            WaitForSend(m_timeOut);
        }
        m_inFlight = false;
    }
    if (m_overlapped.hEvent != nullptr) {
        WSACloseEvent(m_overlapped.hEvent);
        m_overlapped.hEvent = nullptr;
    }
    return TRUE;
}
