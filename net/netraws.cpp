#include "net/netraws.h"

#include <cstring>

#include "net/netport.h"
#include "monitor/jobstatus.h"
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
      m_chunkSize(kChunkSize),
      m_send(nullptr),
      m_inFlight(false),
      m_failure(ERROR_SUCCESS),
      m_handed(0),
      m_lastProgress(0) {
    DbgPrint("CRawSocket(0x%08X, size=%d)\n", TraceAddress(this),
             static_cast<int>(sizeof(CRawSocket)));
    DbgPrint("CRawSocket(size=%d)\n", static_cast<int>(m_timeOut));
}

CRawSocket::~CRawSocket() {
    DbgPrint("~CRawSocket(0x%08X)\n", TraceAddress(this));
    Close();
    FreeMem(m_send);
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

// A port whose last job was restarted pauses before it connects again.
BOOL CRawSocket::StartDoc(CNetPort* port) {
    if (!port->AwaitRestartPause()) {
        return FALSE;
    }
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
    m_send = static_cast<SendBlock*>(AllocMem(sizeof(SendBlock) + m_chunkSize));
    return m_send != nullptr;
}

void CRawSocket::Fail(DWORD error) {
    if (m_failure == ERROR_SUCCESS) {
        m_failure = error;
    }
    Close();
}

void CRawSocket::Abort() {
    m_failure = ERROR_PRINT_CANCELLED;
    if (m_socket != INVALID_SOCKET) {
        LINGER reset = {1, 0};
        setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
                   sizeof reset);
    }
    Close();
}

DWORD CRawSocket::CompletePendingSend(CNetPort* port, DWORD startTick, DWORD budgetMs) {
    CJobWait wait(port, m_lastProgress);
    for (;;) {
        DWORD elapsed = GetTickCount() - startTick;
        DWORD remaining = budgetMs == INFINITE ? INFINITE
                          : elapsed > budgetMs ? 0
                                               : budgetMs - elapsed;
        DWORD slice = remaining < CJobWait::kSliceMs ? remaining : CJobWait::kSliceMs;
        bool done = WaitForSingleObject(m_send->overlapped.hEvent, slice) == WAIT_OBJECT_0;
        if (!wait.GoOn()) {
            Abort();
            return ERROR_PRINT_CANCELLED;
        }
        if (done) {
            break;
        }
        if (remaining == 0) {
            return ERROR_TIMEOUT;  // the connection and the send in flight stay
        }
    }
    DWORD sent = 0;
    DWORD flags = 0;
    BOOL finished = WSAGetOverlappedResult(m_socket, &m_send->overlapped, &sent, FALSE, &flags);
    m_inFlight = false;
    if (!finished) {
        DWORD error = WSAGetLastError();
        Fail(error);
        return error;
    }
    DbgPrint("dwSent = %d\n", static_cast<int>(sent));
    WSAResetEvent(m_send->overlapped.hEvent);
    m_lastProgress = GetTickCount();
    port->RefreshJobStatus(0);
    return ERROR_SUCCESS;
}

DWORD CRawSocket::SendPiece(const BYTE* data, DWORD piece, bool* pending) {
    memcpy(m_send->data, data, piece);
    m_send->buffer.len = piece;
    m_send->buffer.buf = reinterpret_cast<CHAR*>(m_send->data);
    DWORD sent = 0;
    *pending = false;
    if (WSASend(m_socket, &m_send->buffer, 1, &sent, kSendFlags, &m_send->overlapped, nullptr) ==
        0) {
        m_handed += piece;
        return ERROR_SUCCESS;
    }
    DWORD error = WSAGetLastError();
    if (error == WSA_IO_PENDING) {
        m_handed += piece;
        m_inFlight = true;
        *pending = true;
        return ERROR_SUCCESS;
    }
    DbgPrint("CRawSocket::Write() WSASend failed %d\n", static_cast<int>(error));
    Fail(error);
    return error;
}

// One overlapped send is in flight at most and its data lives in the send block, so the
// caller's buffer is free once a piece is copied. Every wait of one call shares one budget of
// TimeOut milliseconds from the call's start; a piece that goes pending is counted as written,
// and the last one is left in flight for the next call or EndDoc.
BOOL CRawSocket::Write(CNetPort* port, LPBYTE data, DWORD size, LPDWORD written) {
    if (m_failure == ERROR_PRINT_CANCELLED) {
        SetLastError(ERROR_PRINT_CANCELLED);  // deleted by the user: nothing more to send
        return FALSE;
    }
    if (m_socket == INVALID_SOCKET) {
        // A failure closed the connection: the spooler must print the job again from its start.
        port->SetJobCommand(JOB_CONTROL_RESTART, m_failure);
        SetLastError(WSAENOTSOCK);
        return FALSE;
    }
    const DWORD startTick = GetTickCount();
    if (m_lastProgress == 0) {
        m_lastProgress = startTick;
    }
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        if (m_inFlight) {
            error = CompletePendingSend(port, startTick, m_timeOut);
            if (error != ERROR_SUCCESS) {
                break;
            }
        }
        if (size == 0) {
            break;
        }
        if (m_send->overlapped.hEvent == nullptr) {
            m_send->overlapped.hEvent = WSACreateEvent();
            if (m_send->overlapped.hEvent == WSA_INVALID_EVENT) {
                m_send->overlapped.hEvent = nullptr;
                error = GetLastError();
                DbgPrint("Fail to create event\n");
                Fail(error);
                break;
            }
        }
        DWORD piece = size < m_chunkSize ? size : m_chunkSize;
        bool pending = false;
        error = SendPiece(data, piece, &pending);
        if (error != ERROR_SUCCESS) {
            break;
        }
        data += piece;
        size -= piece;
        *written += piece;
        if (pending && size == 0) {
            break;  // the last piece stays in flight
        }
    }
    if (!m_inFlight && m_send != nullptr && m_send->overlapped.hEvent != nullptr) {
        WSACloseEvent(m_send->overlapped.hEvent);
        m_send->overlapped.hEvent = nullptr;
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

// The end of the job. A job the printer provably holds whole is sent, whatever follows (a
// reset, a connection held open); one it provably lacks is printed again; where the system
// gives no acknowledgement information and the connection ended without the printer's
// orderly close, the outcome cannot be proven and the job counts as sent.
BOOL CRawSocket::EndDoc(CNetPort* port) {
    DWORD error = ERROR_SUCCESS;
    Outcome outcome = FinishJob(port, &error);
    switch (outcome) {
        case Outcome::kDelivered:
            DbgPrint("CRawSocket::EndDoc() delivered: the printer holds all %d bytes\n",
                     static_cast<int>(m_handed));
            break;
        case Outcome::kCannotTell:
            DbgPrint("CRawSocket::EndDoc() outcome not provable (error %d): counted as sent\n",
                     static_cast<int>(error));
            break;
        case Outcome::kNotDelivered:
            DbgPrint("CRawSocket::EndDoc() not delivered, error %d: the job is printed again\n",
                     static_cast<int>(error));
            break;
        case Outcome::kCancelled:
            error = ERROR_PRINT_CANCELLED;
            break;
    }
    Close();
    port->ShowJobStatus(nullptr);
    if (outcome == Outcome::kNotDelivered || outcome == Outcome::kCancelled) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

CRawSocket::Outcome CRawSocket::FinishJob(CNetPort* port, DWORD* error) {
    if (m_failure == ERROR_PRINT_CANCELLED) {
        return Outcome::kCancelled;
    }
    if (m_failure != ERROR_SUCCESS || m_socket == INVALID_SOCKET) {
        *error = m_failure != ERROR_SUCCESS ? m_failure : static_cast<DWORD>(WSAENOTSOCK);
        DbgPrint("CRawSocket::EndDoc() the job failed before its end, error %d\n",
                 static_cast<int>(*error));
        return Outcome::kNotDelivered;
    }
    if (m_inFlight) {
        *error = CompletePendingSend(port, GetTickCount(), INFINITE);
        if (*error == ERROR_PRINT_CANCELLED) {
            return Outcome::kCancelled;
        }
        if (*error != ERROR_SUCCESS) {
            return JudgeEndedConnection(*error);
        }
    }
    if (m_send->overlapped.hEvent != nullptr) {
        WSACloseEvent(m_send->overlapped.hEvent);
        m_send->overlapped.hEvent = nullptr;
    }
    if (shutdown(m_socket, SD_SEND) == SOCKET_ERROR) {
        *error = WSAGetLastError();
        DbgPrint("CRawSocket::EndDoc() shutdown failed, error %d\n", static_cast<int>(*error));
        return JudgeEndedConnection(*error);
    }
    return AwaitPrinterEvidence(port, error);
}

CRawSocket::Progress CRawSocket::QueryProgress() {
    ULONG64 transmitted = 0;
    ULONG64 acknowledged = 0;
    if (m_socket == INVALID_SOCKET || !QueryTcpProgress(m_socket, &transmitted, &acknowledged)) {
        return Progress::kUnknown;
    }
    if (acknowledged >= m_handed) {
        return Progress::kAcknowledged;
    }
    return transmitted >= m_handed ? Progress::kTransmitted : Progress::kPartly;
}

// The connection ended (a reset, an error) after every send had completed. Bytes that never
// left provably did not arrive. Bytes that left and were not acknowledged may have: a printer
// that read everything and reset at once overtakes its own last acknowledgement, which is
// often delayed; that cannot be told apart from a reset with the end still in its buffer. A
// failed send closed the socket: bytes handed to it never left.
CRawSocket::Outcome CRawSocket::JudgeEndedConnection(DWORD error) {
    if (m_socket == INVALID_SOCKET) {
        return Outcome::kNotDelivered;
    }
    switch (QueryProgress()) {
        case Progress::kAcknowledged:
            DbgPrint(
                "CRawSocket::EndDoc() the connection ended (error %d) after the printer had "
                "acknowledged every byte\n",
                static_cast<int>(error));
            return Outcome::kDelivered;
        case Progress::kPartly:
            return Outcome::kNotDelivered;
        case Progress::kTransmitted:
            DbgPrint(
                "CRawSocket::EndDoc() the connection ended (error %d) with every byte sent, "
                "not every one acknowledged\n",
                static_cast<int>(error));
            return Outcome::kCannotTell;
        case Progress::kUnknown:
            break;
    }
    return Outcome::kCannotTell;
}

CRawSocket::Outcome CRawSocket::AwaitPrinterEvidence(CNetPort* port, DWORD* error) {
    CJobWait wait(port, m_lastProgress);
    const DWORD start = GetTickCount();
    bool known = true;
    bool peerClosed = false;
    for (;;) {
        if (known) {
            Progress progress = QueryProgress();
            if (progress == Progress::kAcknowledged) {
                DrainUntilClose(peerClosed);
                return Outcome::kDelivered;
            }
            known = progress != Progress::kUnknown;
        }
        DWORD elapsed = GetTickCount() - start;
        if (!known) {
            if (peerClosed) {
                return Outcome::kDelivered;  // it read to the end and closed in order
            }
            if (elapsed >= m_timeOut) {
                *error = ERROR_TIMEOUT;  // no close, and nothing else to go by
                return Outcome::kCannotTell;
            }
        } else if (peerClosed && elapsed >= m_timeOut) {
            // It closed its side and takes no more: its close acknowledged all it had, and
            // what it never acknowledged it never had.
            *error = WSAEDISCON;
            return Outcome::kNotDelivered;
        }
        if (!wait.GoOn()) {
            Abort();
            return Outcome::kCancelled;
        }
        if (peerClosed) {
            Sleep(CJobWait::kSliceMs);
            continue;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket, &readable);
        timeval slice = {0, static_cast<long>(CJobWait::kSliceMs) * 1000};
        int ready = select(0, &readable, nullptr, nullptr, &slice);
        if (ready == SOCKET_ERROR) {
            *error = WSAGetLastError();
            return JudgeEndedConnection(*error);
        }
        if (ready == 0) {
            continue;
        }
        int n =
            recv(m_socket, reinterpret_cast<char*>(m_send->data), static_cast<int>(m_chunkSize), 0);
        if (n == 0) {
            peerClosed = true;
        } else if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
            *error = WSAGetLastError();
            return JudgeEndedConnection(*error);
        }
    }
}

void CRawSocket::DrainUntilClose(bool peerClosed) {
    const DWORD start = GetTickCount();
    DWORD discarded = 0;
    while (!peerClosed) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= m_timeOut) {
            DbgPrint(
                "CRawSocket::EndDoc() the printer kept the connection open %d ms after the "
                "job's end\n",
                static_cast<int>(m_timeOut));
            break;
        }
        DWORD left = m_timeOut - elapsed;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket, &readable);
        timeval wait = {static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR) {
            break;
        }
        if (ready == 0) {
            continue;
        }
        int n =
            recv(m_socket, reinterpret_cast<char*>(m_send->data), static_cast<int>(m_chunkSize), 0);
        if (n > 0) {
            discarded += static_cast<DWORD>(n);
        } else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
            peerClosed = true;
        }
    }
    if (discarded > 0) {
        DbgPrint("CRawSocket::EndDoc() discarded %d bytes from the printer\n",
                 static_cast<int>(discarded));
    }
}

// A send still in flight is cancelled, then the socket closed; the send then completes, and
// its block stays untouched until that completion has been seen. Windows also aborts a
// pending send when its socket closes, which serves where CancelIoEx does not exist; a
// Winsock that does neither (Wine keeps such a send pending until the printer reads) gets
// kAbandonedSendWaitMs, after which the block is left to the send and never reused.
BOOL CRawSocket::Close() {
    if (m_socket != INVALID_SOCKET) {
        if (m_inFlight) {
            LateCancelIoEx(reinterpret_cast<HANDLE>(m_socket), &m_send->overlapped);
        }
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
        if (m_inFlight &&
            WaitForSingleObject(m_send->overlapped.hEvent, kAbandonedSendWaitMs) != WAIT_OBJECT_0) {
            DbgPrint(
                "CRawSocket::Close() a send stayed pending after the close: its buffer is "
                "left to it\n");
            WSACloseEvent(m_send->overlapped.hEvent);  // the pending send holds the event
            m_send = nullptr;
        }
        m_inFlight = false;
    }
    if (m_send != nullptr && m_send->overlapped.hEvent != nullptr) {
        WSACloseEvent(m_send->overlapped.hEvent);
        m_send->overlapped.hEvent = nullptr;
    }
    return TRUE;
}
