#include "net/netport.h"

#include <chrono>
#include <new>

#include "net/netlpr.h"
#include "net/netraws.h"
#include "net/netxcv.h"
#include "monitor/app.h"
#include "net/portconfig.h"

// The handle value by which StartDocPort and WritePort recognise a port with an open job.
static const HANDLE kJobOpen = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(1));

CNetPort::CNetPort(CPrintMonitor* monitor, LPCWSTR name)
    : CPort(monitor, name),
      m_protocol(PROTOCOL_RAW),
      m_ipAddress{},
      m_hwAddress{},
      m_hostName{},
      m_transport(nullptr),
      m_gateHeld(false),
      m_watched(false) {
    DbgPrint("CNetPort(0x%08X, size=%d, \"%ws\")\n", TraceAddress(this),
             static_cast<int>(sizeof(CNetPort)), name);
}

CNetPort::~CNetPort() {
    SetTransport(nullptr);
}

void CNetPort::SetTransport(CNetProtocol* transport) {
    if (m_transport != nullptr && m_transport != transport) {
        delete m_transport;
    }
    m_transport = transport;
}

BOOL CNetPort::EnterJobGate(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(m_gateMutex);
    auto free = [this] { return !m_gateHeld; };
    if (milliseconds == INFINITE) {
        m_gateFree.wait(lock, free);
    } else if (!m_gateFree.wait_for(lock, std::chrono::milliseconds(milliseconds), free)) {
        return FALSE;
    }
    m_gateHeld = true;
    return TRUE;
}

void CNetPort::LeaveJobGate() {
    {
        std::lock_guard<std::mutex> lock(m_gateMutex);
        m_gateHeld = false;
    }
    m_gateFree.notify_one();
}

// Reads one of the required texts; a text that does not fit its field is cut and reported.
static BOOL ReadRequiredText(CRegKey& key, LPCWSTR name, char* field, size_t fieldBytes) {
    char converted[portcfg::kStringValueBytes * 2];
    if (!portcfg::ReadText(key, name, converted, sizeof converted)) {
        return FALSE;
    }
    BOOL fits = portcfg::ToField(field, fieldBytes, converted);
    QORN_ASSERT(fits);
    return TRUE;
}

BOOL CNetPort::ReadConfig() {
    m_protocol = portcfg::ReadDword(m_key, portcfg::kProtocol, portcfg::kDefaultProtocol);
    return ReadRequiredText(m_key, portcfg::kHostName, m_hostName, sizeof m_hostName) &&
           ReadRequiredText(m_key, portcfg::kIPAddress, m_ipAddress, sizeof m_ipAddress) &&
           ReadRequiredText(m_key, portcfg::kHWAddress, m_hwAddress, sizeof m_hwAddress);
}

// A port that was just added has no transport: the raw-socket defaults are written for it,
// whatever its Protocol. Every value is written even after a failure; the first failure is
// the result (FALSE, with its code as the last error).
BOOL CNetPort::WriteConfig() {
    portcfg::ValueWriter values(m_key);
    values.Dword(portcfg::kProtocol, m_protocol);
    values.Text(portcfg::kHostName, m_hostName);
    values.Text(portcfg::kIPAddress, m_ipAddress);
    values.Text(portcfg::kHWAddress, m_hwAddress);
    BOOL saved = FALSE;
    DWORD error = ERROR_SUCCESS;
    if (m_transport != nullptr) {
        saved = m_transport->WriteConfig(this);
        error = GetLastError();
    } else {
        CRawSocket defaults;
        saved = defaults.WriteConfig(this);
        error = GetLastError();
    }
    if (!values.Finish()) {
        return FALSE;
    }
    SetLastError(error);
    return saved;
}

// The job gate is waited for as long as a request that replaces the transport waits for it: a
// job that never ends cannot hold every later job of the port.
BOOL CNetPort::StartDoc() {
    if (!EnterJobGate(CNetXcv::kJobWaitMs)) {
        DbgPrint("CNetPort::StartDoc() the port is still busy after %d ms\n",
                 static_cast<int>(CNetXcv::kJobWaitMs));
        SetLastError(ERROR_BUSY);
        return FALSE;
    }
    if (!ReadConfig()) {
        LeaveJobGate();
        return FALSE;
    }
    SetTransport(nullptr);
    CNetProtocol* transport = nullptr;
    if (m_protocol == PROTOCOL_LPR) {
        transport = new (std::nothrow) CLpr();
    } else {
        transport = new (std::nothrow) CRawSocket();
    }
    if (transport == nullptr) {
        LeaveJobGate();
        return FALSE;
    }
    SetTransport(transport);
    if (!m_transport->ReadConfig(this)) {
        SetTransport(nullptr);
        LeaveJobGate();
        return FALSE;
    }
    DbgPrint("===> Going to call %ws::StartDoc()\n", m_transport->GetClassDescription());
    if (m_transport->StartDoc(this)) {
        m_output = kJobOpen;
        WatchPrinter();
        return TRUE;  // the gate stays held until EndDoc
    }
    DWORD error = GetLastError();
    SetTransport(nullptr);
    QORN_ASSERT(m_output == INVALID_HANDLE_VALUE);
    LeaveJobGate();
    SetLastError(error);
    return FALSE;
}

// A port whose output is a file (a "FILE:" job, or a local device) has no transport: its data
// goes into that file.
BOOL CNetPort::HasFileOutput() const {
    return m_transport == nullptr && m_output != nullptr && m_output != INVALID_HANDLE_VALUE &&
           m_output != kJobOpen;
}

BOOL CNetPort::Write(LPBYTE data, DWORD size, LPDWORD written) {
    *written = 0;
    if (HasFileOutput()) {
        return WriteFile(m_output, data, size, written, nullptr);
    }
    if (m_transport == nullptr) {
        QORN_ASSERT(FALSE);
        return FALSE;
    }
    return m_transport->Write(this, data, size, written);
}

BOOL CNetPort::Read(LPBYTE, DWORD, LPDWORD) {
    return TRUE;
}

BOOL CNetPort::DeviceControl(DWORD, LPBYTE, DWORD, LPBYTE, DWORD, LPDWORD) {
    return TRUE;
}

BOOL CNetPort::EndDoc() {
    if (HasFileOutput()) {
        // The output file is complete: close it so the next job starts afresh.
        CloseHandle(m_output);
        m_output = INVALID_HANDLE_VALUE;
        return TRUE;
    }
    if (m_transport == nullptr) {
        QORN_ASSERT(FALSE);
        return FALSE;
    }
    BOOL result = m_transport->EndDoc(this);
    DWORD error = GetLastError();
    StopWatchingPrinter();
    SetTransport(nullptr);
    m_output = INVALID_HANDLE_VALUE;
    LeaveJobGate();
    SetLastError(error);
    return result;
}

BOOL CNetPort::Configure(LPBYTE) {
    return TRUE;
}

static CStatusPoller& PollerOf(CPrintMonitor* monitor) {
    return static_cast<CNetPrintMonitor*>(monitor)->Poller();
}

void CNetPort::WatchPrinter() {
    if (m_transport->m_snmpEnabled == 0) {
        return;  // not one datagram for a port whose printer is not to be asked
    }
    LPWSTR name = nullptr;
    {
        CAppLock lock;  // the name may be replaced by a configuration request
        name = DupString(m_name);
    }
    if (name != nullptr) {
        PollerOf(m_monitor).Join(this, name, inet_addr(m_ipAddress), m_transport->m_snmpCommunity,
                                 m_transport->m_snmpIndex);
        m_watched = true;
        FreeMem(name);
    }
}

void CNetPort::StopWatchingPrinter() {
    if (m_watched) {
        PollerOf(m_monitor).Leave(this);
        m_watched = false;
    }
}

CPort::PrinterState CNetPort::GetPrinterState() {
    PrinterState state;
    if (m_watched) {
        CStatusPoller::State printer = PollerOf(m_monitor).StateOf(this);
        state.condition = printer.text;
        state.unanswered = printer.unanswered;
    }
    return state;
}

LPBYTE CNetPort::GetJobInfo() {
    DWORD level = m_docLevel;
    DbgPrint("GetJobInfo( id=%d, level=%d )\n", static_cast<int>(m_jobId), static_cast<int>(level));
    return GetJobBlock(level);
}
