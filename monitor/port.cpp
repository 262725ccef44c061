#include "monitor/port.h"

#include <cstdarg>
#include <cstring>

#include "monitor/app.h"
#include "monitor/entries.h"
#include "resources/nvtcpmon_ids.h"

// --- CPort ---

CPort::CPort(CPrintMonitor* monitor, LPCWSTR name)
    : CPMObject(monitor, name),
      m_state(0),
      m_output(INVALID_HANDLE_VALUE),
      m_deviceName(nullptr),
      m_printer(nullptr),
      m_printerName(nullptr),
      m_jobId(0),
      m_docLevel(0),
      m_jobInfoLevel(0),
      m_buffer1(nullptr),
      m_buffer2(nullptr),
      m_pins(0),
      m_jobThread(0),
      m_statusShown(false),
      m_statusText{},
      m_shownState{},
      m_shownSeconds(0),
      m_shownValid(false),
      m_cancelAsked(false),
      m_cancelled(false),
      m_cancelTick(0),
      m_restartNoted(false),
      m_restarts(0),
      m_restartTick(0),
      m_restartPause(0),
      m_restartReason(ERROR_SUCCESS) {
    DbgPrint("CPort(0x%08X, size=%d)\n", TraceAddress(this), static_cast<int>(sizeof(CPort)));
    m_signature = kSignature;
}

CPort::~CPort() {
    DbgPrint("~CPort(0x%08X)\n", TraceAddress(this));
    FreeMem(m_deviceName);
    FreeMem(m_printerName);
    FreeMem(m_buffer1);
    FreeMem(m_buffer2);
}

// --- EnumPorts ---

// Characters of room for each string resource that EnumPorts loads.
static constexpr int kResourceChars = 256;

static DWORD StringBytes(LPCWSTR text) {
    return static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR));
}

static void LoadResource(UINT id, LPWSTR buffer) {
    if (LoadStringW(GetApp(nullptr)->GetInstance(), id, buffer, kResourceChars) == 0) {
        QORN_ASSERT(FALSE);
        buffer[0] = 0;
    }
}

// Fixed entries go upward from the start of the buffer; each entry's strings go to the end of
// the free space, moving downward, port name first. Returns a Win32 code.
DWORD CPrintMonitor::PackPorts(DWORD level, LPBYTE buffer, DWORD size, LPCWSTR monitorName,
                               LPCWSTR description, LPDWORD returned) {
    const DWORD pointerCount = level == 1 ? 1 : 3;
    const DWORD entrySize = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    LPBYTE entry = buffer;
    // WCHAR strings stay aligned even in a buffer of odd size.
    LPBYTE end = buffer + (size & ~static_cast<DWORD>(1));
    *returned = 0;
    for (CPMObject* object = m_ports.head; object != nullptr; object = object->m_next) {
        auto* port = static_cast<CPort*>(object);
        if ((port->GetState() & PORT_TEMPORARY) != 0) {
            continue;
        }
        auto** pointers = static_cast<LPWSTR*>(AllocMem(pointerCount * sizeof(LPWSTR)));
        if (pointers == nullptr) {
            return ERROR_INSUFFICIENT_BUFFER;
        }
        DbgPrint("%d of pointers required for level %d\n", static_cast<int>(pointerCount),
                 static_cast<int>(level));
        LPCWSTR texts[3] = {port->GetName() != nullptr ? port->GetName() : WSTR(""), monitorName,
                            description};
        if (level == 2) {
            DbgPrint("Monitor Name = \"%ws\"\n", monitorName);
            DbgPrint("Port Description = \"%ws\"\n", description);
        }
        for (DWORD i = 0; i < pointerCount; ++i) {
            DWORD bytes = StringBytes(texts[i]);
            end -= bytes;
            memcpy(end, texts[i], bytes);
            pointers[i] = reinterpret_cast<LPWSTR>(end);
        }
        if (level == 1) {
            PORT_INFO_1W info{};
            info.pName = pointers[0];
            memcpy(entry, &info, sizeof info);
        } else {
            PORT_INFO_2W info{};
            info.pPortName = pointers[0];
            info.pMonitorName = pointers[1];
            info.pDescription = pointers[2];
            info.fPortType = PORT_TYPE_WRITE;
            info.Reserved = 0;
            memcpy(entry, &info, sizeof info);
        }
        entry += entrySize;
        FreeMem(pointers);
        ++*returned;
    }
    return ERROR_SUCCESS;
}

BOOL CPrintMonitor::EnumPorts(LPWSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                              LPDWORD returned) {
    DbgPrint("EnumPorts( Server=\"%ws\", PortLevel=%d )\n", server, static_cast<int>(level));
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (needed == nullptr || returned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (buffer == nullptr) {
        size = 0;
    }
    WCHAR monitorName[kResourceChars];
    WCHAR description[kResourceChars];
    LoadResource(IDS_MONITOR_NAME, monitorName);
    LoadResource(IDS_PORT_DESCRIPTION, description);

    DWORD error = ERROR_SUCCESS;
    {
        CAppLock lock;
        DWORD total = 0;
        for (CPMObject* object = m_ports.head; object != nullptr; object = object->m_next) {
            auto* port = static_cast<CPort*>(object);
            if ((port->GetState() & PORT_TEMPORARY) != 0) {
                continue;
            }
            LPCWSTR name = port->GetName() != nullptr ? port->GetName() : WSTR("");
            total += level == 1 ? sizeof(PORT_INFO_1W) + StringBytes(name)
                                : sizeof(PORT_INFO_2W) + StringBytes(name) +
                                      StringBytes(monitorName) + StringBytes(description);
        }
        *needed = total;
        if (total > size) {
            error = ERROR_INSUFFICIENT_BUFFER;
        } else {
            error = PackPorts(level, buffer, size, monitorName, description, returned);
        }
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

// --- Strings ---

DWORD ConcatStrings(LPWSTR dest, DWORD capacity, ...) {
    DWORD result = ERROR_SUCCESS;
    if (dest == nullptr || capacity == 0) {
        result = ERROR_INVALID_PARAMETER;
    } else {
        va_list sources;
        va_start(sources, capacity);
        DWORD used = 0;
        for (LPCWSTR source = va_arg(sources, LPCWSTR); source != nullptr;
             source = va_arg(sources, LPCWSTR)) {
            size_t length = wcslen(source);
            if (used + length + 1 > capacity) {
                result = ERROR_BUFFER_OVERFLOW;
                break;
            }
            memcpy(dest + used, source, length * sizeof(WCHAR));
            used += static_cast<DWORD>(length);
        }
        va_end(sources);
        dest[result == ERROR_SUCCESS ? used : 0] = 0;
    }
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
    }
    return result;
}

void StripColon(LPWSTR name) {
    size_t length = name != nullptr ? wcslen(name) : 0;
    if (length > 0 && name[length - 1] == WSTR(':')) {
        name[length - 1] = 0;
    }
}

// --- The job's printer ---

BOOL CPort::OpenJobPrinter(LPWSTR printerName) {
    QORN_ASSERT(m_printer == nullptr);
    QORN_ASSERT(m_printerName == nullptr);
    FreeMem(m_printerName);
    m_printerName = DupString(printerName);
    if (m_printerName == nullptr || !OpenPrinterW(m_printerName, &m_printer, nullptr)) {
        DWORD error = GetLastError();
        FreeMem(m_printerName);
        m_printerName = nullptr;
        m_printer = nullptr;
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

void CPort::CloseJobPrinter() {
    if (m_printer != nullptr) {
        ClosePrinter(m_printer);
        m_printer = nullptr;
    }
    FreeMem(m_printerName);
    m_printerName = nullptr;
}

BOOL CPort::SetJobCommand(DWORD command, DWORD reason) {
    if (command == JOB_CONTROL_RESTART) {
        NoteRestart(reason);
    } else if (command == JOB_CONTROL_SENT_TO_PRINTER) {
        NoteDelivered();
    }
    return SetJobW(m_printer, m_jobId, 0, nullptr, command);
}

// --- DOS devices ---

// Room for the targets that QueryDosDeviceW returns, in characters.
static constexpr DWORD kDeviceTargetChars = 522;
static const WCHAR kNonSpooledPrefix[] = WSTR("NONSPOOLED_");
static const WCHAR kDevicePathPrefix[] = WSTR("\\\\.\\");
static const WCHAR kSpoolerPipePrefix[] = WSTR("\\Device\\NamedPipe\\Spooler\\");

static BOOL BuildName(LPWSTR dest, LPCWSTR prefix, LPCWSTR second, LPCWSTR name) {
    DWORD result = second != nullptr
                       ? ConcatStrings(dest, kPortNameBufferChars, prefix, second, name, nullptr)
                       : ConcatStrings(dest, kPortNameBufferChars, prefix, name, nullptr);
    if (result != ERROR_SUCCESS) {
        return FALSE;
    }
    StripColon(dest);
    return TRUE;
}

BOOL CPort::RemoveDosDevice() {
    CNameCopy name(this);
    WCHAR alias[kPortNameBufferChars];
    if (!BuildName(alias, kNonSpooledPrefix, nullptr, name.get())) {
        return FALSE;
    }
    return DefineDosDeviceW(DDD_REMOVE_DEFINITION, alias, nullptr);
}

void CPort::ForgetDeviceName() {
    FreeMem(m_deviceName);
    m_deviceName = nullptr;
}

// StartDocPort runs it outside the lock: it works on a copy of the name.
BOOL CPort::OpenDosDevice() {
    CNameCopy name(this);
    WCHAR alias[kPortNameBufferChars];
    if (!BuildName(alias, kNonSpooledPrefix, nullptr, name.get())) {
        return FALSE;
    }
    WCHAR targets[kDeviceTargetChars];
    if (QueryDosDeviceW(alias, targets, kDeviceTargetChars) == 0) {
        return TRUE;  // no such device: the normal case for a network port
    }
    LPWSTR copy = DupString(targets);
    if (copy == nullptr) {
        return FALSE;
    }
    WCHAR pipe[kPortNameBufferChars];
    BuildName(pipe, kSpoolerPipePrefix, nullptr, name.get());
    HANDLE token = RevertToPrinterSelf();
    // Skip the spooler's own pipe entries; the first other entry is the device's target.
    LPCWSTR target = targets;
    while (*target != 0 && _wcsicmp(target, pipe) == 0) {
        target += wcslen(target) + 1;
    }
    BuildName(alias, kNonSpooledPrefix, nullptr, name.get());
    DefineDosDeviceW(DDD_REMOVE_DEFINITION, alias, nullptr);
    DefineDosDeviceW(DDD_RAW_TARGET_PATH, alias, target);
    ImpersonatePrinterClient(token);
    WCHAR path[kPortNameBufferChars];
    BuildName(path, kDevicePathPrefix, kNonSpooledPrefix, name.get());
    m_output = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_output == INVALID_HANDLE_VALUE) {
        RemoveDosDevice();
        FreeMem(copy);
        return FALSE;
    }
    m_state |= PORT_DEVICE_OPEN;
    SetEndOfFile(m_output);
    FreeMem(m_deviceName);
    m_deviceName = copy;
    return TRUE;
}

// --- Function-table entries on one port ---

BOOL WINAPI MonOpenPort(HANDLE monitorHandle, LPWSTR name, PHANDLE portHandle) {
    DbgPrint("OpenPort( \"%ws\" )\n", name);
    auto* monitor = static_cast<CPrintMonitor*>(monitorHandle);
    CPort* port = nullptr;
    BOOL ok = FALSE;
    CAppLock lock;
    if (IsFilePort(name)) {
        DbgPrint("Creating a new CPort for %ws\n", name);
        port = monitor->CreatePortEntry(name, /*temporary=*/TRUE);
        if (port != nullptr && portHandle == nullptr) {
            monitor->RemovePortEntry(port);  // nowhere to give it, and nothing could close it
            port = nullptr;
        }
        ok = port != nullptr;
    } else {
        port = monitor->FindPort(name);
        if (port != nullptr && port->OpenDosDevice()) {
            ok = TRUE;
            if ((port->GetState() & PORT_DEVICE_OPEN) != 0) {
                // OpenPort only proves that the device opens; StartDocPort opens it again.
                CloseHandle(port->GetOutput());
                port->SetOutput(INVALID_HANDLE_VALUE);
                port->RemoveDosDevice();
            }
        }
    }
    if (ok && portHandle != nullptr) {
        *portHandle = port->Handle();
    }
    return ok && portHandle != nullptr;
}

BOOL WINAPI MonWritePort(HANDLE portHandle, LPBYTE buffer, DWORD size, LPDWORD written) {
    DWORD ignored = 0;
    if (written == nullptr) {
        written = &ignored;
    }
    *written = 0;
    CPortRef port(portHandle);
    {
        // Only a port in a job takes data.
        CAppLock lock;
        DbgPrint("WritePort(\"%ws\", %d)\n", port != nullptr ? port->GetName() : nullptr,
                 static_cast<int>(size));
        if (port == nullptr || (port->GetState() & PORT_IN_JOB) == 0 ||
            port->GetOutput() == nullptr || port->GetOutput() == INVALID_HANDLE_VALUE) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    if (buffer == nullptr && size > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL ok = port->Write(buffer, size, written);
    if (ok && *written == 0) {
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    return ok;
}

BOOL WINAPI MonReadPort(HANDLE portHandle, LPBYTE, DWORD size, LPDWORD) {
    CPortRef port(portHandle);
    CAppLock lock;
    DbgPrint("ReadPort(\"%ws\", %d)\n", port != nullptr ? port->GetName() : nullptr,
             static_cast<int>(size));
    SetLastError(ERROR_INVALID_HANDLE);  // the monitor returns nothing from the printer
    return FALSE;
}

BOOL WINAPI MonEndDocPort(HANDLE portHandle) {
    CPortRef port(portHandle);
    CNameCopy name(port.get());  // a ConfigPort may change it meanwhile
    DbgPrint("EndDocPort( \"%ws\" )\n", name.get());
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((port->GetState() & PORT_IN_JOB) == 0) {
        return TRUE;
    }
    FlushFileBuffers(port->GetOutput());
    // A job is sent to the printer when its transport shows that the printer holds it (or
    // cannot tell). One the printer provably lacks is printed again, and the spooler learns
    // why from the result; one the user deleted or restarted gets no command at all.
    BOOL sent = port->EndDoc();
    DWORD error = sent ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS && !sent) {
        error = ERROR_GEN_FAILURE;
    }
    if (error == ERROR_PRINT_CANCELLED) {
        DbgPrint("EndDocPort( \"%ws\" ): the job was deleted or restarted by the user\n",
                 name.get());
    } else {
        if (!sent) {
            DbgPrint("EndDocPort( \"%ws\" ) failed, error %d: the job is restarted\n", name.get(),
                     static_cast<int>(error));
        }
        port->SetJobCommand(sent ? JOB_CONTROL_SENT_TO_PRINTER : JOB_CONTROL_RESTART, error);
    }
    port->CloseJobPrinter();
    {
        CAppLock lock;
        port->ClearState(PORT_IN_JOB);
    }
    if (!sent) {
        SetLastError(error);
    }
    return sent;
}

namespace {
struct IoctlName {
    DWORD code;
    const char* trace;
};
constexpr IoctlName kIoctlNames[] = {
    {0x160004, "IOCTL_PAR_QUERY_INFORMATION\n"},
    {0x160008, "IOCTL_PAR_SET_INFORMATION\n"},
    {0x16000C, "IOCTL_PAR_QUERY_DEVICE_ID\n"},
    {0x160010, "IOCTL_PAR_QUERY_DEVICE_ID_SIZE\n"},
    {0x160014, "IOCTL_IEEE1284_GET_MODE\n"},
    {0x160018, "IOCTL_IEEE1284_NEGOTIATE\n"},
    {0x16001C, "IOCTL_PAR_SET_WRITE_ADDRESS\n"},
    {0x160020, "IOCTL_PAR_SET_READ_ADDRESS\n"},
    {0x160024, "IOCTL_PAR_GET_DEVICE_CAPS\n"},
    {0x160028, "IOCTL_PAR_GET_DEFAULT_MODES\n"},
    {0x16002C, "IOCTL_PAR_PING\n"},
    {0x160030, "IOCTL_PAR_QUERY_RAW_DEVICE_ID\n"},
    {0x160034, "IOCTL_PAR_ECP_HOST_RECOVERY\n"},
    {0x160038, "IOCTL_PAR_GET_READ_ADDRESS\n"},
    {0x16003C, "IOCTL_PAR_GET_WRITE_ADDRESS\n"},
    {0x160050, "IOCTL_PAR_TEST\n"},
    {0x160054, "IOCTL_PAR_IS_PORT_FREE\n"},
};
}  // namespace

BOOL WINAPI MonGetPrinterDataFromPort(HANDLE portHandle, DWORD controlId, LPWSTR valueName,
                                      LPWSTR inBuffer, DWORD inSize, LPWSTR outBuffer,
                                      DWORD outSize, LPDWORD returned) {
    if (controlId == 0) {
        DbgPrint("ioctl - %ws\n", valueName);
    } else {
        const char* trace = "Unknown IOCTL code\n";
        for (const auto& entry : kIoctlNames) {
            if (entry.code == controlId) {
                trace = entry.trace;
            }
        }
        DbgPrint("%s", trace);
    }
    CPortRef port(portHandle);
    CAppLock lock;
    if (controlId != 0 && port != nullptr && port->GetOutput() != nullptr &&
        port->GetOutput() != INVALID_HANDLE_VALUE && (port->GetState() & PORT_DEVICE_OPEN) != 0) {
        return port->DeviceControl(controlId, reinterpret_cast<LPBYTE>(inBuffer), inSize,
                                   reinterpret_cast<LPBYTE>(outBuffer), outSize, returned);
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

// The time-outs are only traced, never applied.
BOOL WINAPI MonSetPortTimeOuts(HANDLE portHandle, LPCOMMTIMEOUTS timeouts, DWORD reserved) {
    COMMTIMEOUTS none{};
    const COMMTIMEOUTS& t = timeouts != nullptr ? *timeouts : none;
    DbgPrint(
        "Set port timeouts as ...\n(O) ReadIntervalTimeout = %d\n(X) ReadTotalTimeoutMultiplier "
        "= %d\n(O) ReadTotalTimeoutConstant = %d\n(X) WriteTotalTimeoutMultiplier = %d\n(X) "
        "WriteTotalTimeoutConstant = %d\n",
        static_cast<int>(t.ReadIntervalTimeout), static_cast<int>(t.ReadTotalTimeoutMultiplier),
        static_cast<int>(t.ReadTotalTimeoutConstant),
        static_cast<int>(t.WriteTotalTimeoutMultiplier),
        static_cast<int>(t.WriteTotalTimeoutConstant));
    CPortRef port(portHandle);
    CAppLock lock;
    if (reserved == 0 && (port == nullptr || (port->GetState() & PORT_DEVICE_OPEN) == 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return FALSE;
}
