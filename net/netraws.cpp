#include "net/netraws.h"

#include <cstring>

#include "net/netport.h"
#include "net/portconfig.h"
#include "platform/late_api.h"

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
      m_failure(ERROR_SUCCESS),
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
    m_timeOut = portcfg::ReadTimeOut(key);
    ReadSnmpSettings(key);
    return TRUE;
}

BOOL CRawSocket::WriteConfig(CNetPort* port) {
    portcfg::ValueWriter values(port->GetKey());
    values.Dword(portcfg::kPortNumber, m_portNumber);
    values.Dword(portcfg::kSnmpEnabled, m_snmpEnabled);
    values.Dword(portcfg::kSnmpTimeOut, m_timeOut);
    values.Text(portcfg::kSnmpCommunity, m_snmpCommunity);
    values.Dword(portcfg::kSnmpIndex, m_snmpIndex);
    values.Dword(portcfg::kSnmpVersion, m_snmpVersion);
    return values.Finish();
}

BOOL CRawSocket::StartDoc(CNetPort* port) {
    return Connect(port);
}

// The socket is non-blocking: the connect starts, then up to ten waits of five seconds for it.
// A failed attempt (refused, unreachable) fails the job's start at once with its error; a
// connection still unfinished after the last wait is found by the first Write.
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
        DWORD error = ERROR_SUCCESS;
        ConnectWait state = WaitForConnection(m_socket, kConnectPassSeconds * 1000, &error);
        if (state == ConnectWait::kConnected) {
            break;
        }
        if (state == ConnectWait::kFailed) {
            DbgPrint("CRawSocket::Connect() connection failed, error %d\n",
                     static_cast<int>(error));
            SetLastError(error);
            return FALSE;
        }
    }
    m_chunk = static_cast<LPBYTE>(AllocMem(m_chunkSize));
    return m_chunk != nullptr;
}

BOOL CRawSocket::WaitForSend(DWORD milliseconds) {
    return !m_inFlight || WaitForSingleObject(m_overlapped.hEvent, milliseconds) == WAIT_OBJECT_0;
}

void CRawSocket::Fail(DWORD error) {
    if (m_failure == ERROR_SUCCESS) {
        m_failure = error;
    }
    Close();
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
                Fail(error);
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
                Fail(error);
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
                Fail(error);
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

// The end of the job. The printer has the whole job only when it has read it to its end, so
// after the last send EndDoc half-closes the connection (SD_SEND) and waits for the printer to
// close its side, reading and discarding whatever the printer sends back (status text):
// closing with unread data would reset the connection and the printer would drop what it had
// not read yet. Each wait is bounded by TimeOut. A failure (an earlier one, a send still in
// flight at the bound, a reset or an error before the printer's close) fails the job; a
// printer that keeps the connection open past the bound has been sent everything and the
// job counts as sent.
BOOL CRawSocket::EndDoc(CNetPort*) {
    DWORD error = m_failure;
    if (error == ERROR_SUCCESS && m_socket == INVALID_SOCKET) {
        error = WSAENOTSOCK;
    }
    if (error != ERROR_SUCCESS) {
        DbgPrint("CRawSocket::EndDoc() the job failed before its end, error %d\n",
                 static_cast<int>(error));
    } else {
        error = FinishLastSend();
    }
    if (error == ERROR_SUCCESS && shutdown(m_socket, SD_SEND) == SOCKET_ERROR) {
        error = WSAGetLastError();
        DbgPrint("CRawSocket::EndDoc() shutdown failed, error %d\n", static_cast<int>(error));
    }
    if (error == ERROR_SUCCESS) {
        error = AwaitPrinterClose();
    }
    Close();
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

DWORD CRawSocket::FinishLastSend() {
    if (!m_inFlight) {
        return ERROR_SUCCESS;
    }
    if (!WaitForSend(m_timeOut)) {
        DbgPrint("CRawSocket::EndDoc() last send not finished after %d ms\n",
                 static_cast<int>(m_timeOut));
        return ERROR_TIMEOUT;
    }
    DWORD sent = 0;
    DWORD flags = 0;
    BOOL finished = WSAGetOverlappedResult(m_socket, &m_overlapped, &sent, FALSE, &flags);
    m_inFlight = false;
    if (!finished) {
        DWORD error = WSAGetLastError();
        DbgPrint("CRawSocket::EndDoc() last send failed, error %d\n", static_cast<int>(error));
        return error;
    }
    DbgPrint("dwSent = %d\n", static_cast<int>(sent));
    return ERROR_SUCCESS;
}

// Reads until the printer's orderly close (a receive of 0 bytes). The chunk is free: no send
// is in flight any more. A printer that closes its side early, at a moment when it has read
// everything that had reached it, looks the same here as one that read the whole job: only
// the acknowledgement of the last bytes tells them apart, and Winsock does not report it. A
// printer that closes with data unread resets the connection, which fails the job.
DWORD CRawSocket::AwaitPrinterClose() {
    DWORD start = GetTickCount();
    DWORD discarded = 0;
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= m_timeOut) {
            DbgPrint(
                "CRawSocket::EndDoc() the printer kept the connection open %d ms after the "
                "job's end; the job counts as sent\n",
                static_cast<int>(m_timeOut));
            return ERROR_SUCCESS;
        }
        DWORD left = m_timeOut - elapsed;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket, &readable);
        timeval wait = {static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR) {
            return WSAGetLastError();
        }
        if (ready == 0) {
            continue;
        }
        int n = recv(m_socket, reinterpret_cast<char*>(m_chunk), static_cast<int>(m_chunkSize), 0);
        if (n == 0) {
            if (discarded > 0) {
                DbgPrint("CRawSocket::EndDoc() discarded %d bytes from the printer\n",
                         static_cast<int>(discarded));
            }
            return ERROR_SUCCESS;
        }
        if (n == SOCKET_ERROR) {
            DWORD error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                continue;
            }
            DbgPrint(
                "CRawSocket::EndDoc() the connection failed before the printer closed it, "
                "error %d\n",
                static_cast<int>(error));
            return error;
        }
        discarded += static_cast<DWORD>(n);
    }
}

// A send still in flight is cancelled, then the socket closed; the send then completes at
// once. Its OVERLAPPED and the chunk it sends from stay untouched until that completion has
// been waited for, however long the time-out is (even 0). Windows also aborts a pending send
// when its socket closes, but not every Winsock does: under Wine the send stays pending until
// the printer reads, so without the cancel a printer that stopped reading would hold this
// wait for ever.
BOOL CRawSocket::Close() {
    if (m_socket != INVALID_SOCKET) {
        if (m_inFlight) {
            LateCancelIoEx(reinterpret_cast<HANDLE>(m_socket), &m_overlapped);
        }
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
        if (m_overlapped.hEvent != nullptr) {
            WaitForSend(INFINITE);
        }
        m_inFlight = false;
    }
    if (m_overlapped.hEvent != nullptr) {
        WSACloseEvent(m_overlapped.hEvent);
        m_overlapped.hEvent = nullptr;
    }
    return TRUE;
}
