#include "net/netlpr.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "monitor/jobstatus.h"
#include "net/netport.h"
#include "net/portconfig.h"
#include "platform/late_api.h"
#include "platform/private_temp.h"

// RFC 1179 command and subcommand codes.
static constexpr char kReceiveJob = '\x02';
static constexpr char kReceiveControlFile = '\x02';
static constexpr char kReceiveDataFile = '\x03';
static constexpr char kAcknowledge = '\x00';
static const WCHAR kSpoolPrefix[] = WSTR("nvlpr-");

// --- Names ---

// A name for the control file: no control characters (a line feed would start a line of its
// own), cut at a character boundary to `maxBytes`.
static char* ControlFileName(LPCWSTR text, size_t maxBytes) {
    if (text == nullptr) {
        return nullptr;
    }
    auto* name = static_cast<char*>(AllocMem(maxBytes + 1));
    if (name == nullptr) {
        return nullptr;
    }
    portcfg::WideToField(name, maxBytes + 1, text);
    for (char* p = name; *p != 0; ++p) {
        if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F) {
            *p = '_';
        }
    }
    return name;
}

static void CleanInPlace(char* text) {
    for (; *text != 0; ++text) {
        if (static_cast<unsigned char>(*text) < 0x20 || *text == 0x7F) {
            *text = '_';
        }
    }
}

// Cuts 8-bit text to at most maxBytes at a character boundary.
static void CutText(char* text, size_t maxBytes) {
    if (strlen(text) <= maxBytes) {
        return;
    }
    int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
    if (units <= 0) {
        text[maxBytes] = 0;
        return;
    }
    std::vector<WCHAR> wide(static_cast<size_t>(units));
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide.data(), units);
    portcfg::WideToField(text, maxBytes + 1, wide.data());
}

// --- CLpr ---

CLpr::CLpr()
    : m_socket(INVALID_SOCKET),
      m_portNumber(portcfg::kDefaultLprPortNumber),
      m_localPortFirst(kLocalPortFirst),
      m_localPortLast(kLocalPortLast),
      m_address(INADDR_NONE),
      m_doubleSpool(0),
      m_readChunk(kReadChunk),
      m_timeOut(portcfg::kDefaultTimeOut),
      m_spoolFileName{},
      m_spoolFile(INVALID_HANDLE_VALUE),
      m_queueName{},
      m_jobHost(nullptr),
      m_jobUser(nullptr),
      m_jobTitle(nullptr),
      m_mailAlert{},
      m_spoolError(ERROR_SUCCESS),
      m_sent(0),
      m_lastProgress(0) {
    DbgPrint("CLpr(0x%08X, size=%d)\n", TraceAddress(this), static_cast<int>(sizeof(CLpr)));
}

CLpr::~CLpr() {
    DbgPrint("~CLpr(0x%08X)\n", TraceAddress(this));
    FreeMem(m_jobHost);
    FreeMem(m_jobUser);
    FreeMem(m_jobTitle);
    Close();
    ReleaseSpoolFile();
}

void CLpr::ReleaseSpoolFile() {
    if (m_spoolFile != INVALID_HANDLE_VALUE) {
        CloseHandle(m_spoolFile);
        m_spoolFile = INVALID_HANDLE_VALUE;
    }
    if (m_spoolFileName[0] != 0) {
        DeletePrivateTempFile(m_spoolFileName);
        m_spoolFileName[0] = 0;
    }
}

void CLpr::SetDefaults() {
    m_portNumber = portcfg::kDefaultLprPortNumber;
    m_localPortFirst = kLocalPortFirst;
    m_localPortLast = kLocalPortLast;
    m_doubleSpool = 0;
    m_readChunk = kReadChunk;
    m_timeOut = portcfg::kDefaultTimeOut;
    m_snmpEnabled = portcfg::kDefaultSnmpEnabled;
    m_snmpIndex = portcfg::kDefaultSnmpIndex;
    m_snmpVersion = portcfg::kDefaultSnmpVersion;
}

BOOL CLpr::ReadConfig(CNetPort* port) {
    m_address = inet_addr(port->m_ipAddress);
    if (m_address == INADDR_NONE) {
        SetLastError(ERROR_REGISTRY_CORRUPT);
        return FALSE;
    }
    CRegKey& key = port->GetKey();
    m_portNumber = portcfg::ReadDword(key, portcfg::kPortNumber, portcfg::kDefaultLprPortNumber);
    m_timeOut = portcfg::ReadTimeOut(key);
    if (!portcfg::ReadText(key, portcfg::kQueueName, m_queueName, sizeof m_queueName,
                           portcfg::kQueueNameMaxChars)) {
        const auto* octets = reinterpret_cast<const BYTE*>(&m_address);
        snprintf(m_queueName, sizeof m_queueName, portcfg::kDefaultQueueFormat, octets[0],
                 octets[1], octets[2], octets[3]);
    }
    if (!portcfg::ReadText(key, portcfg::kMailAlert, m_mailAlert, sizeof m_mailAlert,
                           portcfg::kMailAlertMaxChars)) {
        m_mailAlert[0] = 0;
    }
    ReadSnmpSettings(key);
    return TRUE;
}

BOOL CLpr::WriteConfig(CNetPort* port) {
    portcfg::ValueWriter values(port->GetKey());
    values.Dword(portcfg::kPortNumber, m_portNumber);
    values.Text(portcfg::kQueueName, m_queueName);
    m_doubleSpool = 0;
    values.Dword(portcfg::kDoubleSpool, m_doubleSpool);
    values.Dword(portcfg::kSnmpEnabled, m_snmpEnabled);
    values.Text(portcfg::kSnmpCommunity, m_snmpCommunity);
    values.Dword(portcfg::kSnmpIndex, m_snmpIndex);
    values.Dword(portcfg::kSnmpVersion, m_snmpVersion);
    values.Text(portcfg::kMailAlert, m_mailAlert);
    values.Dword(portcfg::kSnmpTimeOut, m_timeOut);
    return values.Finish();
}

void CLpr::SweepSpoolFiles() {
    SweepPrivateTempFiles(kSpoolPrefix);
}

// Takes the job's names from the spooler and creates the spool file; no connection yet.
BOOL CLpr::StartDoc(CNetPort* port) {
    LPBYTE block = port->GetJobInfo();
    if (block != nullptr) {
        // JOB_INFO_1W and JOB_INFO_2W both begin with JobId, pPrinterName, pMachineName,
        // pUserName and pDocument.
        auto* info = reinterpret_cast<JOB_INFO_1W*>(block);
        FreeMem(m_jobHost);
        m_jobHost = ControlFileName(info->pMachineName, kHostMaxBytes);
        FreeMem(m_jobUser);
        m_jobUser = ControlFileName(info->pUserName, kUserMaxBytes);
        FreeMem(m_jobTitle);
        m_jobTitle = ControlFileName(info->pDocument, kTitleMaxBytes);
        FreeMem(block);
    }
    ReleaseSpoolFile();
    m_spoolError = ERROR_SUCCESS;
    m_spoolFile = CreatePrivateTempFile(kSpoolPrefix, m_spoolFileName, MAX_PATH + 1);
    if (m_spoolFile == INVALID_HANDLE_VALUE) {
        m_spoolFileName[0] = 0;
        return FALSE;
    }
    return TRUE;
}

// A write that fails (a full disk) leaves a spool file without part of the job, and nothing
// written after it can mend that: the job is never sent. The failure is kept; a later write
// asks the spooler to print the job again from its start and fails the same way.
BOOL CLpr::Write(CNetPort* port, LPBYTE data, DWORD size, LPDWORD written) {
    if (m_spoolFile == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (m_spoolError != ERROR_SUCCESS) {
        port->SetJobCommand(JOB_CONTROL_RESTART);
        SetLastError(m_spoolError);
        return FALSE;
    }
    if (WriteFile(m_spoolFile, data, size, written, nullptr)) {
        return TRUE;
    }
    m_spoolError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    DbgPrint("CLpr::Write() spool file write failed, error %d: the job will not be sent\n",
             static_cast<int>(m_spoolError));
    SetLastError(m_spoolError);
    return FALSE;
}

// A socket with the conversation's options: address reuse, a reset at close, the send
// time-out, and no delay of small sends (the zero that ends a file goes out at once, not after
// the peer's delayed acknowledgement). The socket stays non-blocking once connected: every
// wait of the conversation is a select in slices, so that a deleted job ends at once.
SOCKET CLpr::OpenSocket() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        return s;
    }
    DWORD on = 1;
    LINGER reset = {1, 0};
    DWORD timeOut = m_timeOut;
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) ==
            SOCKET_ERROR ||
        setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset) ==
            SOCKET_ERROR ||
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeOut),
                   sizeof timeOut) == SOCKET_ERROR ||
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeOut),
                   sizeof timeOut) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return s;
}

// A blocking connection from a local port in 721..731, bound on any address so that routing
// picks the interface that reaches the printer. Two jobs to the same printer may pick the same
// local port (SO_REUSEADDR lets both bind it): the connection that finds the pair taken tries
// the next port. When every port of the range is taken, the job waits for one to come free,
// pass after pass, up to TimeOut; the connect's own wait shares that bound.
BOOL CLpr::Connect(CNetPort*) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD error = ConnectFromLocalPort(start);
        if (error == ERROR_SUCCESS) {
            return TRUE;
        }
        if (error != WSAEADDRINUSE || GetTickCount() - start >= m_timeOut) {
            if (error == WSAEADDRINUSE) {
                DbgPrint("CLpr::Connect() no local port of %d..%d came free within %d ms\n",
                         static_cast<int>(m_localPortFirst), static_cast<int>(m_localPortLast),
                         static_cast<int>(m_timeOut));
            } else {
                DbgPrint("CLpr::Connect() connect failed %d\n", static_cast<int>(error));
            }
            SetLastError(error);
            return FALSE;
        }
        Sleep(kPortRetryMs);
    }
}

DWORD CLpr::ConnectFromLocalPort(DWORD start) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(LOWORD(m_portNumber));
    destination.sin_addr.s_addr = m_address;
    for (SHORT p = static_cast<SHORT>(m_localPortFirst); p <= static_cast<SHORT>(m_localPortLast);
         ++p) {
        if (m_socket == INVALID_SOCKET) {
            m_socket = OpenSocket();
            if (m_socket == INVALID_SOCKET) {
                return WSAGetLastError() != 0 ? static_cast<DWORD>(WSAGetLastError())
                                              : static_cast<DWORD>(WSAENOBUFS);
            }
        }
        local.sin_port = htons(static_cast<USHORT>(p));
        if (bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            DWORD error = WSAGetLastError();
            if (error != WSAEADDRINUSE && error != WSAEADDRNOTAVAIL) {
                return error;  // no right to the reserved ports, for one: waiting cannot help
            }
            continue;
        }
        DWORD error = ConnectBounded(destination, start);
        if (error == ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
        if (error != WSAEADDRNOTAVAIL && error != WSAEADDRINUSE) {
            return error;
        }
        // This local port is taken towards this printer: the next one.
    }
    return WSAEADDRINUSE;
}

DWORD CLpr::ConnectBounded(const sockaddr_in& destination, DWORD start) {
    ULONG nonBlocking = 1;
    ioctlsocket(m_socket, FIONBIO, &nonBlocking);
    DWORD error = ERROR_SUCCESS;
    if (connect(m_socket, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) ==
        SOCKET_ERROR) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            DWORD elapsed = GetTickCount() - start;
            DWORD left = elapsed < m_timeOut ? m_timeOut - elapsed : 0;
            if (WaitForConnection(m_socket, left, &error) == ConnectWait::kConnected) {
                error = ERROR_SUCCESS;
            }
        }
    }
    return error;  // the conversation goes on without blocking: every wait is its own
}

BOOL CLpr::Close() {
    if (m_socket != INVALID_SOCKET) {
        shutdown(m_socket, SD_SEND);
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    return TRUE;
}

// Waits for the socket to become readable or writable: 0 when it did; WSAETIMEDOUT after
// `budgetMs` (INFINITE: as long as the connection lives, a printer that stops reading is
// paused, not failed); ERROR_PRINT_CANCELLED when the user deleted the job meanwhile.
DWORD CLpr::AwaitSocket(CNetPort* port, bool write, DWORD budgetMs) {
    const DWORD start = GetTickCount();
    CJobWait wait(port, write ? m_lastProgress : start, write);
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_socket, &set);
        fd_set failed;
        FD_ZERO(&failed);
        FD_SET(m_socket, &failed);
        timeval slice = {0, static_cast<long>(CJobWait::kSliceMs) * 1000};
        int ready = select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &slice);
        if (ready == SOCKET_ERROR) {
            return WSAGetLastError();
        }
        if (!wait.GoOn()) {
            return ERROR_PRINT_CANCELLED;
        }
        if (ready > 0) {
            return ERROR_SUCCESS;  // the send or receive that follows tells a failure
        }
        if (budgetMs != INFINITE && GetTickCount() - start >= budgetMs) {
            return WSAETIMEDOUT;
        }
    }
}

DWORD CLpr::SendAll(CNetPort* port, const char* buffer, int length) {
    int total = 0;
    do {
        int n = send(m_socket, buffer + total, length - total, 0);
        if (n == SOCKET_ERROR) {
            DWORD error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) {
                return error;
            }
            error = AwaitSocket(port, true, INFINITE);
            if (error != ERROR_SUCCESS) {
                return error;
            }
            continue;
        }
        total += n;
        m_sent += static_cast<ULONG64>(n);
        m_lastProgress = GetTickCount();
    } while (total < length);
    port->RefreshJobStatus(0);
    return ERROR_SUCCESS;
}

// The printer's one-byte answer, waited for up to TimeOut: 0 for 0x00; ERROR_BAD_NET_RESP
// when it refused the step; WSAEDISCON when it closed instead; WSAETIMEDOUT when it did not
// answer; or the connection's error.
DWORD CLpr::ReadAck(CNetPort* port, BOOL sendZeroFirst) {
    if (sendZeroFirst) {
        char zero = kAcknowledge;
        DWORD error = SendAll(port, &zero, 1);
        if (error != ERROR_SUCCESS) {
            return error;
        }
    }
    DWORD error = AwaitSocket(port, false, m_timeOut);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    char answer = 1;
    int n = recv(m_socket, &answer, 1, 0);
    if (n == 1 && answer == kAcknowledge) {
        return ERROR_SUCCESS;
    }
    if (n == 1) {
        DbgPrint("CLpr: the printer answered 0x%02X\n", static_cast<unsigned char>(answer));
        return ERROR_BAD_NET_RESP;  // the daemon refused the step
    }
    if (n == 0) {
        return WSAEDISCON;  // the daemon closed the connection instead of answering
    }
    return WSAGetLastError();
}

DWORD CLpr::SendCommand(CNetPort* port, const char* command, int length) {
    if (length <= 0) {
        return ERROR_INVALID_DATA;
    }
    DWORD error = SendAll(port, command, length);
    return error != ERROR_SUCCESS ? error : ReadAck(port, FALSE);
}

// The lines in their order: H, P, J, T, M, the data file's print line, U, N. The data file is
// printed with "l" (as it is, control characters included): a line that started with the
// file's name alone would read as the command "d" (a DVI file) naming a file that was never
// sent, and a daemon that follows RFC 1179 would drop the job. The names were cut when
// they were taken, and the title is cut further here so that everything fits the buffer.
int CLpr::BuildControlFile(char* buffer, size_t size, DWORD jobId) {
    if (m_jobHost == nullptr || m_jobTitle == nullptr) {
        SetLastError(ERROR_INVALID_DATA);  // the spooler gave no job information
        return -1;
    }
    CleanInPlace(m_mailAlert);
    size_t fixed = 64;  // letters, line ends and the job numbers (up to ten digits each)
    size_t others = 4 * strlen(m_jobHost) + (m_jobUser != nullptr ? strlen(m_jobUser) : 0) +
                    strlen(m_mailAlert);
    size_t titleRoom = size > fixed + others ? (size - 1 - fixed - others) / 3 : 0;
    CutText(m_jobTitle, titleRoom);
    int length = snprintf(buffer, size, "H%s\n", m_jobHost);
    auto append = [&](const char* format, auto... args) {
        if (length >= 0 && static_cast<size_t>(length) < size) {
            int n = snprintf(buffer + length, size - static_cast<size_t>(length), format, args...);
            length = n < 0 ? -1 : length + n;
        }
    };
    if (m_jobUser != nullptr) {
        append("P%s\n", m_jobUser);
    }
    append("J%s\n", m_jobTitle);
    append("T%s\n", m_jobTitle);
    if (m_mailAlert[0] != 0) {
        append("M%s\n", m_mailAlert);
    }
    append("ldfA%03lu%s\nUdfA%03lu%s\nN%s\n", static_cast<unsigned long>(jobId), m_jobHost,
           static_cast<unsigned long>(jobId), m_jobHost, m_jobTitle);
    QORN_ASSERT(length >= 0 && static_cast<size_t>(length) < size);
    if (length < 0 || static_cast<size_t>(length) >= size) {
        SetLastError(ERROR_INVALID_DATA);
        return -1;
    }
    return length;
}

// The data file from the spool file, in ReadChunk pieces. A read that returns nothing before
// the announced size is reached ends the transfer as a failure.
DWORD CLpr::SendData(CNetPort* port, LONGLONG size) {
    CMemPtr<char> chunk(static_cast<char*>(AllocMem(m_readChunk)));
    if (chunk == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    for (LONGLONG sent = 0; sent < size;) {
        DWORD n = 0;
        if (!ReadFile(m_spoolFile, chunk.get(), m_readChunk, &n, nullptr)) {
            return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_READ_FAULT;
        }
        if (n == 0) {
            return ERROR_HANDLE_EOF;  // the spool file is shorter than announced
        }
        DWORD error = SendAll(port, chunk.get(), static_cast<int>(n));
        if (error != ERROR_SUCCESS) {
            return error;
        }
        sent += n;
    }
    return ERROR_SUCCESS;
}

// The daemon's last answer did not come (silence, a close, a reset). It holds the job if its
// TCP acknowledged everything sent, the data file's terminating zero included: sending the
// job again would print it twice. A daemon that stays silent has had time to acknowledge
// what reached it; one that reset may have overtaken its own last acknowledgement, so bytes
// that left without one cannot be told apart. Where the system gives no acknowledgement
// information, the job counts as sent.
CLpr::Outcome CLpr::JudgeUnanswered(DWORD error) {
    ULONG64 transmitted = 0;
    ULONG64 acknowledged = 0;
    if (!QueryTcpProgress(m_socket, &transmitted, &acknowledged)) {
        DbgPrint(
            "CLpr::EndDoc() no final acknowledgement (error %d) and no acknowledgement "
            "information: outcome not provable, counted as sent\n",
            static_cast<int>(error));
        return Outcome::kCannotTell;
    }
    if (acknowledged >= m_sent) {
        DbgPrint(
            "CLpr::EndDoc() no final acknowledgement (error %d), but the daemon's TCP "
            "acknowledged the whole data file: delivered\n",
            static_cast<int>(error));
        return Outcome::kDelivered;
    }
    if (error != WSAETIMEDOUT && transmitted >= m_sent) {
        DbgPrint(
            "CLpr::EndDoc() the connection ended (error %d) with every byte sent, not "
            "every one acknowledged: outcome not provable, counted as sent\n",
            static_cast<int>(error));
        return Outcome::kCannotTell;
    }
    return Outcome::kNotDelivered;
}

// Every step that ends the conversation says so, with the error it left.
static DWORD Step(DWORD error, const char* step) {
    if (error != ERROR_SUCCESS && error != ERROR_PRINT_CANCELLED) {
        DbgPrint("CLpr::EndDoc() %s failed, error %d\n", step, static_cast<int>(error));
    }
    return error;
}

// The conversation up to the data file's answer. *error tells why a job was not delivered.
CLpr::Outcome CLpr::Converse(CNetPort* port, DWORD* error) {
    auto failed = [&](DWORD code) {
        *error = code;
        return code == ERROR_PRINT_CANCELLED ? Outcome::kCancelled : Outcome::kNotDelivered;
    };
    if (port->IsJobCancelled()) {
        return failed(ERROR_PRINT_CANCELLED);  // deleted while it spooled: nothing is sent
    }
    if (m_spoolError != ERROR_SUCCESS) {
        DbgPrint("CLpr::EndDoc() the job was not spooled whole, error %d: not sent\n",
                 static_cast<int>(m_spoolError));
        return failed(m_spoolError);
    }
    if (!port->AwaitRestartPause()) {
        return failed(ERROR_PRINT_CANCELLED);
    }
    if (m_spoolFile == INVALID_HANDLE_VALUE) {
        return failed(ERROR_INVALID_HANDLE);
    }
    LARGE_INTEGER zero{};
    LARGE_INTEGER size{};
    FlushFileBuffers(m_spoolFile);
    SetEndOfFile(m_spoolFile);
    if (!SetFilePointerEx(m_spoolFile, zero, &size, FILE_CURRENT) ||
        !SetFilePointerEx(m_spoolFile, zero, nullptr, FILE_BEGIN)) {
        return failed(GetLastError());
    }
    CMemPtr<char> command(static_cast<char*>(AllocMem(kBufferBytes)));
    CMemPtr<char> control(static_cast<char*>(AllocMem(kBufferBytes)));
    if (command == nullptr || control == nullptr) {
        return failed(ERROR_NOT_ENOUGH_MEMORY);
    }
    // The control file first: without the job's names no conversation is started.
    const DWORD jobId = port->GetJobId();
    int length = BuildControlFile(control.get(), kBufferBytes, jobId);
    if (length < 0) {
        return failed(Step(GetLastError(), "control file"));
    }
    if (!Connect(port)) {
        return failed(Step(GetLastError(), "connect"));
    }
    int n = snprintf(command.get(), kBufferBytes, "%c%s\n", kReceiveJob, m_queueName);
    if (DWORD e = Step(SendCommand(port, command.get(), n), "receive-job command")) {
        return failed(e);
    }
    n = snprintf(command.get(), kBufferBytes, "%c%d cfa%03lu%s\n", kReceiveControlFile, length,
                 static_cast<unsigned long>(jobId), m_jobHost);
    if (DWORD e = Step(SendCommand(port, command.get(), n), "control file command")) {
        return failed(e);
    }
    DWORD e = SendAll(port, control.get(), length);
    if (e == ERROR_SUCCESS) {
        e = ReadAck(port, TRUE);
    }
    if (Step(e, "control file") != ERROR_SUCCESS) {
        return failed(e);
    }
    // The data file: its true size, whatever it is.
    n = snprintf(command.get(), kBufferBytes, "%c%lld dfA%03lu%s\n", kReceiveDataFile,
                 static_cast<long long>(size.QuadPart), static_cast<unsigned long>(jobId),
                 m_jobHost);
    if (DWORD e2 = Step(SendCommand(port, command.get(), n), "data file command")) {
        return failed(e2);
    }
    if (size.QuadPart == 0) {
        // An empty job: no data, no terminating zero, no acknowledgement.
        LINGER reset = {1, 0};
        setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
                   sizeof reset);
        return Outcome::kDelivered;
    }
    if (DWORD e2 = Step(SendData(port, size.QuadPart), "data file")) {
        return failed(e2);
    }
    DWORD answer = Step(ReadAck(port, TRUE), "data file");
    if (answer == ERROR_SUCCESS) {
        return Outcome::kDelivered;
    }
    if (answer == ERROR_BAD_NET_RESP || answer == ERROR_PRINT_CANCELLED) {
        return failed(answer);
    }
    *error = answer;
    return JudgeUnanswered(answer);
}

// The whole conversation. A job the daemon acknowledged (or provably holds) is sent; one it
// refused, or that never reached it whole, is printed again; a deleted job gets no command.
BOOL CLpr::EndDoc(CNetPort* port) {
    CleanInPlace(m_queueName);
    m_sent = 0;
    DWORD error = ERROR_SUCCESS;
    Outcome outcome = Converse(port, &error);
    if (outcome == Outcome::kCancelled) {
        LINGER reset = {1, 0};  // the daemon drops what it has of the job
        if (m_socket != INVALID_SOCKET) {
            setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
                       sizeof reset);
        }
    }
    Close();
    port->ShowJobStatus(nullptr);
    if (outcome == Outcome::kDelivered || outcome == Outcome::kCannotTell) {
        return TRUE;
    }
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    return FALSE;
}
