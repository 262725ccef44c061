#include "monitor/pmobj.h"

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "monitor/app.h"
#include "monitor/port.h"
#include "monitor/xcv.h"
#include "net/netport.h"
#include "net/netxcv.h"
#include "net/portentry.h"

// First size of the name buffer that LoadPorts enumerates into, in characters.
static constexpr DWORD kFirstNameBufferChars = 128;
static const WCHAR kPortsKeyName[] = WSTR("Ports");

// --- CPMObject ---

namespace {
// The live objects by the handle the spooler holds for them.
std::mutex gLiveMutex;
std::unordered_map<ULONG_PTR, CPMObject*>* gLive = nullptr;
// The last handle number given out. Numbers count up in steps of 4 from here, so that a
// handle is never 0 or INVALID_HANDLE_VALUE.
constexpr ULONG_PTR kFirstHandle = 0x10000;
ULONG_PTR gLastHandle = kFirstHandle;

std::unordered_map<ULONG_PTR, CPMObject*>& Live() {
    if (gLive == nullptr) {
        gLive = new std::unordered_map<ULONG_PTR, CPMObject*>;  // lives as long as the process
    }
    return *gLive;
}

// The caller holds gLiveMutex. A 32-bit counter wraps only after four billion objects; a
// number still in use then is skipped.
HANDLE NewHandle(CPMObject* object) {
    do {
        gLastHandle += 4;
        if (gLastHandle < kFirstHandle) {
            gLastHandle = kFirstHandle;  // wrapped
        }
    } while (Live().count(gLastHandle) != 0);
    Live()[gLastHandle] = object;
    return reinterpret_cast<HANDLE>(gLastHandle);
}
}  // namespace

CPMObject* CPMObject::Acquire(HANDLE handle) {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    auto found = Live().find(reinterpret_cast<ULONG_PTR>(handle));
    if (found == Live().end()) {
        return nullptr;
    }
    ++found->second->m_refs;
    return found->second;
}

void CPMObject::Release() {
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(gLiveMutex);
        last = --m_refs == 0;
    }
    if (last) {
        delete this;
    }
}

void CPMObject::Retire() {
    {
        std::lock_guard<std::mutex> lock(gLiveMutex);
        Live().erase(reinterpret_cast<ULONG_PTR>(m_handle));
    }
    Release();
}

CPMObject::CPMObject(CPrintMonitor* monitor, LPCWSTR name)
    : m_next(nullptr),
      m_signature(0),
      m_name(nullptr),
      m_monitor(nullptr),
      m_handle(nullptr),
      m_refs(1) {
    DbgPrint("CPMObject(0x%08X, size=%d)\n", TraceAddress(this),
             static_cast<int>(sizeof(CPMObject)));
    QORN_ASSERT(m_signature == 0);
    QORN_ASSERT(m_next == nullptr);
    QORN_ASSERT(m_name == nullptr);
    QORN_ASSERT(m_monitor == nullptr);
    QORN_ASSERT(static_cast<HKEY>(m_key) == nullptr);
    m_name = DupString(name);  // a failed copy leaves the name null; the object is still made
    m_monitor = monitor;
    std::lock_guard<std::mutex> lock(gLiveMutex);
    m_handle = NewHandle(this);
}

CPMObject::~CPMObject() {
    DbgPrint("~CPMObject(0x%08X)\n", TraceAddress(this));
    {
        std::lock_guard<std::mutex> lock(gLiveMutex);
        Live().erase(reinterpret_cast<ULONG_PTR>(m_handle));  // gone already when retired
    }
    FreeMem(m_name);
}

BOOL CPMObject::HasName(LPCWSTR name) const {
    return name != nullptr && m_name != nullptr && _wcsicmp(m_name, name) == 0;
}

// Names equal but for letter case have the same length: each unit compares with one unit.
BOOL CPMObject::SetName(LPCWSTR name) {
    if (!HasName(name) || wcslen(name) != wcslen(m_name)) {
        QORN_ASSERT(FALSE);  // the name index relies on it
        return FALSE;
    }
    memcpy(m_name, name, wcslen(name) * sizeof(WCHAR));
    return TRUE;
}

CNameCopy::CNameCopy(const CPMObject* object) : m_text{}, m_named(false) {
    if (object == nullptr) {
        return;
    }
    CAppLock lock;
    if (object->GetName() != nullptr) {
        CopyBounded(m_text, kMaxPortNameChars + 1, object->GetName());
        m_named = true;
    }
}

// --- Lists ---

BOOL AppendNode(CPMList* list, CPMObject* object) {
    if (object == nullptr) {
        return FALSE;
    }
    object->m_next = nullptr;
    if (list->head == nullptr) {
        DbgPrint("first node = 0x%08X\n", TraceAddress(object));
        list->head = object;
    } else {
        DbgPrint("add node 0x%08X after 0x%08X\n", TraceAddress(object), TraceAddress(list->tail));
        list->tail->m_next = object;
    }
    list->tail = object;
    if (list->names != nullptr) {
        list->names->Insert(object);
    }
    return TRUE;
}

BOOL RemoveNode(CPMList* list, CPMObject* object) {
    CPMObject* previous = nullptr;
    for (CPMObject** link = &list->head; *link != nullptr; link = &(*link)->m_next) {
        if (*link == object) {
            *link = object->m_next;
            if (list->tail == object) {
                list->tail = previous;
            }
            object->m_next = nullptr;
            if (list->names != nullptr) {
                list->names->Erase(object);
            }
            return TRUE;
        }
        previous = *link;
    }
    return FALSE;
}

void DeleteAll(CPMList* list) {
    if (list->names != nullptr) {
        list->names->Clear();
    }
    while (list->head != nullptr) {
        CPMObject* object = list->head;
        list->head = object->m_next;
        object->Retire();
    }
    list->tail = nullptr;
}

// --- CPrintMonitor ---

CPrintMonitor::CPrintMonitor() : m_signature(0), m_init(nullptr), m_root(nullptr) {
    DbgPrint("CPrintMonitor(0x%08X)\n", TraceAddress(this));
    m_ports.names = &m_portNames;
    m_signature = kSignature;
}

CPrintMonitor::~CPrintMonitor() {
    DbgPrint("~CPrintMonitor(0x%08X)\n", TraceAddress(this));
    DeleteAll(&m_ports);
    DeleteAll(&m_channels);
    m_key.Detach();
}

void CPrintMonitor::Attach(PMONITORINIT init) {
    m_init = init;
    m_root = reinterpret_cast<HKEY>(init->hckRegistryRoot);
    m_key.Attach(m_root);
}

// Tries to open with full access and, when that fails, creates the key. A failure leaves the
// registry's code as the last error, so that callers never report it as success.
static BOOL OpenOrCreate(CRegKey& key, HKEY parent, LPCWSTR name) {
    if (key.Open(parent, name, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        return TRUE;
    }
    LONG result = key.Create(parent, name, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(result));
        return FALSE;
    }
    return TRUE;
}

// The wrapper moves from its key to the subkey; the key it held before is not closed, since
// for the monitor that is the spooler's own root key. On failure the wrapper keeps its key.
BOOL CPrintMonitor::OpenSubKey(CRegKey& key, LPCWSTR name) {
    HKEY parent = key.Detach();
    if (parent != nullptr && OpenOrCreate(key, parent, name)) {
        return TRUE;
    }
    key.Attach(parent);
    return FALSE;
}

BOOL CPrintMonitor::OpenPortsKey(CRegKey& key) {
    if (OpenSubKey(key, kPortsKeyName)) {
        return TRUE;
    }
    DbgPrint("Failed to read registry\n");
    return FALSE;
}

DWORD CPrintMonitor::LoadPorts() {
    if (!OpenPortsKey(m_key)) {
        DbgPrint("Failed to read registry\n");
        return 0;
    }
    DWORD capacity = kFirstNameBufferChars;
    auto* name = static_cast<LPWSTR>(AllocMem(capacity * sizeof(WCHAR)));
    DWORD created = 0;
    for (DWORD index = 0; name != nullptr;) {
        DWORD length = capacity;
        LONG result =
            RegEnumKeyExW(m_key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) {
            // The name does not fit: read the same index again with twice the room.
            FreeMem(name);
            capacity *= 2;
            name = static_cast<LPWSTR>(AllocMem(capacity * sizeof(WCHAR)));
            continue;
        }
        if (result != ERROR_SUCCESS) {
            break;
        }
        ++index;
        if (IsFilePort(name)) {
            // The spooler's print-to-file port is never one of ours; an older version left
            // such a key behind for every "FILE:" job.
            DbgPrint("Skipping the key \"%ws\"\n", name);
            continue;
        }
        if (CreatePortEntry(name) != nullptr) {
            ++created;
        }
    }
    FreeMem(name);
    return created;
}

CPort* CPrintMonitor::CreatePortEntry(LPCWSTR name, BOOL temporary) {
    DbgPrint("CPrintMonitor::CreatePortEntry( \"%ws\" )\n", name);
    if (name == nullptr || wcslen(name) > kMaxPortNameChars) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    CPort* port = CreatePort(name);
    if (port == nullptr) {
        return nullptr;
    }
    if (temporary) {
        port->SetState(PORT_TEMPORARY);
    } else if (!OpenOrCreate(port->GetKey(), m_key, name)) {
        port->Retire();
        return nullptr;
    }
    AppendNode(&m_ports, port);
    return port;
}

CPort* CPrintMonitor::FindPermanentPort(LPCWSTR name) {
    if (name == nullptr) {
        return nullptr;
    }
    return static_cast<CPort*>(FindNode(m_ports, name, [](CPMObject* object) {
        return (static_cast<CPort*>(object)->GetState() & PORT_TEMPORARY) == 0;
    }));
}

BOOL CPrintMonitor::DeletePortEntry(LPCWSTR name) {
    DbgPrint("CPrintMonitor::DeletePortEntry( \"%ws\" )\n", name);
    CPort* found = FindPermanentPort(name);
    if (found == nullptr) {
        return FALSE;
    }
    RemoveNode(&m_ports, found);
    found->Retire();
    return m_key.RecurseDeleteKey(name) == ERROR_SUCCESS;
}

BOOL CPrintMonitor::RemovePortEntry(CPort* port) {
    if (!RemoveNode(&m_ports, port)) {
        return FALSE;
    }
    port->Retire();
    return TRUE;
}

CPort* CPrintMonitor::FindPort(LPCWSTR name) {
    if (name == nullptr) {
        return nullptr;
    }
    GetApp(nullptr)->CheckLocked();
    return static_cast<CPort*>(FindNode(m_ports, name, [](CPMObject*) { return true; }));
}

CXcv* CPrintMonitor::CreateXcvEntry(LPCWSTR name, ACCESS_MASK access) {
    DbgPrint("CPrintMonitor::CreateXcvEntry( \"%ws\" )\n", name);
    CXcv* channel = CreateXcv(name);
    if (channel != nullptr) {
        channel->SetGrantedAccess(access);
        CAppLock lock;
        AppendNode(&m_channels, channel);
    }
    return channel;
}

BOOL CPrintMonitor::DeleteXcvEntry(CXcv* channel) {
    CAppLock lock;
    if (!RemoveNode(&m_channels, channel)) {
        return FALSE;
    }
    channel->Retire();
    return TRUE;
}

BOOL CPrintMonitor::AddPortEx(LPWSTR server, DWORD level, LPBYTE buffer, LPWSTR) {
    DbgPrint("AddPortEx(\"%ws\")\n", server);
    LPWSTR name = nullptr;
    if (level == 1 || level == 2) {
        // PORT_INFO_1W and PORT_INFO_2W both begin with the name pointer.
        name = buffer != nullptr ? reinterpret_cast<PORT_INFO_1W*>(buffer)->pName : nullptr;
    } else if (level == 0xFFFFFFFF) {
        // The buffer is the port's configuration record, which begins with the name itself:
        // its terminator must lie inside the record's name field.
        name = reinterpret_cast<LPWSTR>(buffer);
        if (buffer != nullptr && XcvInputName(buffer, sizeof(PortEntry::PortName)) == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    } else {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // One registry key per port, and never the spooler's own print-to-file port.
    if (!portcfg::IsValidPortName(name) || IsFilePort(name)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    CPort* port = nullptr;
    {
        CAppLock lock;
        port = CreatePortEntry(name);
    }
    if (port == nullptr) {
        return FALSE;
    }
    if (level == 0xFFFFFFFF) {
        port->Configure(buffer);
    }
    return TRUE;
}

// The ports go first, then the monitor itself; the "Ports" key that the monitor opened is
// closed with it (the spooler's root key is not).
void CPrintMonitor::Shutdown() {
    {
        CAppLock lock;
        DeleteAll(&m_ports);
    }
    if (static_cast<HKEY>(m_key) != m_root) {
        m_key.Close();
    }
    GetApp(nullptr)->DeletePrintMonitor(this);
}

// --- CNetPrintMonitor ---

CNetPrintMonitor::CNetPrintMonitor() {
    DbgPrint("CNetPrintMonitor(0x%08X)\n", TraceAddress(this));
}

CPort* CNetPrintMonitor::CreatePort(LPCWSTR name) {
    DbgPrint("PortName=%s", AnsiText(name).c_str());
    return new (std::nothrow) CNetPort(this, name);
}

CXcv* CNetPrintMonitor::CreateXcv(LPCWSTR name) {
    return new (std::nothrow) CNetXcv(this, name);
}
