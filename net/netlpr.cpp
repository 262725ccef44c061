#include "net/netlpr.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "net/netport.h"
#include "net/portconfig.h"
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
      m_spoolError(ERROR_SUCCESS) {
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

// A socket with the conversation's options: address reuse, a reset at close, sends and
// receives bounded by TimeOut (a printer that never answers fails the job), and no delay of
// small sends (the zero that ends a file goes out at once, not after the peer's delayed
// acknowledgement).
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
    ULONG blocking = 0;
    ioctlsocket(m_socket, FIONBIO, &blocking);
    return error;
}

BOOL CLpr::Close() {
    if (m_socket != INVALID_SOCKET) {
        shutdown(m_socket, SD_SEND);
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    return TRUE;
}

int CLpr::SendAll(const char* buffer, int length) {
    if (length == 0) {
        send(m_socket, buffer, 0, 0);
        return 0;
    }
    int total = 0;
    while (total < length) {
        int n = send(m_socket, buffer + total, length - total, 0);
        if (n == SOCKET_ERROR) {
            break;
        }
        total += n;
    }
    return total;
}

BOOL CLpr::ReadAck(BOOL sendZeroFirst) {
    if (sendZeroFirst) {
        char zero = kAcknowledge;
        if (send(m_socket, &zero, 1, 0) != 1) {
            return FALSE;
        }
    }
    char answer = 1;
    int n = recv(m_socket, &answer, 1, 0);
    if (n == 1 && answer == kAcknowledge) {
        return TRUE;
    }
    if (n == 1) {
        DbgPrint("CLpr: the printer answered 0x%02X\n", static_cast<unsigned char>(answer));
        SetLastError(ERROR_BAD_NET_RESP);  // the daemon refused the step
    } else if (n == 0) {
        SetLastError(WSAEDISCON);  // the daemon closed the connection instead of answering
    }
    return FALSE;
}

BOOL CLpr::SendCommand(const char* command, int length) {
    if (length <= 0) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    return SendAll(command, length) == length && ReadAck(FALSE);
}

// Every step that ends the conversation says so, with the error it left.
static BOOL Step(BOOL ok, const char* step) {
    if (!ok) {
        DbgPrint("CLpr::EndDoc() %s failed, error %d\n", step, static_cast<int>(GetLastError()));
    }
    return ok;
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
BOOL CLpr::SendData(LONGLONG size) {
    std::vector<char> chunk(m_readChunk);
    LONGLONG read = 0;
    LONGLONG sent = 0;
    while (read < size) {
        DWORD n = 0;
        if (!ReadFile(m_spoolFile, chunk.data(), m_readChunk, &n, nullptr)) {
            break;
        }
        if (n == 0) {
            SetLastError(ERROR_HANDLE_EOF);  // the spool file is shorter than announced
            break;
        }
        read += n;
        if (SendAll(chunk.data(), static_cast<int>(n)) < static_cast<int>(n)) {
            break;
        }
        sent += n;
    }
    return sent == size;
}

// The whole conversation. Any failure fails the job with the error of the step that failed,
// and a job whose spooling failed is never sent.
BOOL CLpr::EndDoc(CNetPort* port) {
    BOOL result = FALSE;
    LARGE_INTEGER zero{};
    LARGE_INTEGER end{};
    auto* command = static_cast<char*>(AllocMem(kBufferBytes));
    auto* control = static_cast<char*>(AllocMem(kBufferBytes));
    DWORD jobId = port->GetJobId();
    CleanInPlace(m_queueName);
    if (m_spoolError != ERROR_SUCCESS) {
        DbgPrint("CLpr::EndDoc() the job was not spooled whole, error %d: not sent\n",
                 static_cast<int>(m_spoolError));
        SetLastError(m_spoolError);
        goto done;
    }
    if (m_spoolFile == INVALID_HANDLE_VALUE || command == nullptr || control == nullptr) {
        SetLastError(m_spoolFile == INVALID_HANDLE_VALUE ? ERROR_INVALID_HANDLE
                                                         : ERROR_NOT_ENOUGH_MEMORY);
        goto done;
    }
    FlushFileBuffers(m_spoolFile);
    SetEndOfFile(m_spoolFile);
    if (!SetFilePointerEx(m_spoolFile, zero, &end, FILE_CURRENT) ||
        !SetFilePointerEx(m_spoolFile, zero, nullptr, FILE_BEGIN)) {
        goto done;
    }
    {
        // The control file first: without the job's names no conversation is started.
        int length = BuildControlFile(control, kBufferBytes, jobId);
        if (!Step(length >= 0, "control file") || !Step(Connect(port), "connect")) {
            goto done;
        }
        // The receive-job command, then the control file and its subcommand.
        int n = snprintf(command, kBufferBytes, "%c%s\n", kReceiveJob, m_queueName);
        if (!Step(SendCommand(command, n), "receive-job command")) {
            goto done;
        }
        n = snprintf(command, kBufferBytes, "%c%d cfa%03lu%s\n", kReceiveControlFile, length,
                     static_cast<unsigned long>(jobId), m_jobHost);
        if (!Step(SendCommand(command, n), "control file command") ||
            !Step(SendAll(control, length) == length && ReadAck(TRUE), "control file")) {
            goto done;
        }
        // The data file: its true size, whatever it is.
        n = snprintf(command, kBufferBytes, "%c%lld dfA%03lu%s\n", kReceiveDataFile,
                     static_cast<long long>(end.QuadPart), static_cast<unsigned long>(jobId),
                     m_jobHost);
        if (!Step(SendCommand(command, n), "data file command")) {
            goto done;
        }
        if (end.QuadPart == 0) {
            // An empty job: no data, no terminating zero, no acknowledgement.
            LINGER reset = {1, 0};
            result = Step(setsockopt(m_socket, SOL_SOCKET, SO_LINGER,
                                     reinterpret_cast<const char*>(&reset), sizeof reset) == 0,
                          "data file");
        } else {
            result = Step(SendData(end.QuadPart) && ReadAck(TRUE), "data file");
        }
    }
done:
    DWORD error = result ? ERROR_SUCCESS : GetLastError();
    FreeMem(control);
    FreeMem(command);
    Close();
    if (!result) {
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    }
    return result;
}
