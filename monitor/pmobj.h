// The monitor object and the objects it lists (ports and Xcv channels).
#pragma once

#include "net/statuspoller.h"

#include <cstddef>

#include "monitor/nameindex.h"
#include "monitor/regkey.h"
#include "monitor/template.h"

class CPrintMonitor;
class CPort;
class CXcv;

// The base of every listed object: a signature, the link to the next object of its list, an
// owned copy of its name, the owning monitor and a registry key.
class CPMObject : public CQornTemplate {
  public:
    CPMObject(CPrintMonitor* monitor, LPCWSTR name);
    ~CPMObject() override;

    LPCWSTR GetClassDescription() const override { return WSTR("QORN Object Class"); }
    BOOL IsValid() const override { return TRUE; }

    LPCWSTR GetName() const { return m_name; }
    // Two objects have the same name when they are equal ignoring letter case.
    BOOL HasName(LPCWSTR name) const;
    // Gives the name the letter case of `name`, which must be the same name (so that the index
    // of its list stays right); FALSE otherwise. The letters change in place: the name's buffer
    // stays for the object's life, so that no reader is left with freed memory. The caller
    // holds the monitor-wide lock; a reader outside it takes a CNameCopy.
    BOOL SetName(LPCWSTR name);
    CPrintMonitor* GetMonitor() const { return m_monitor; }
    CRegKey& GetKey() { return m_key; }

    // The handle the spooler holds for this object. It is a number of its own, never the
    // object's address, and never given out twice: a handle kept after its object was
    // destroyed can never reach a newer object that reuses the memory.
    HANDLE Handle() const { return m_handle; }
    // The live object behind a handle that the spooler gives back, with a reference taken on
    // it, or null: handles of objects that were deleted, or were never ours, are refused
    // instead of dereferenced. The object lives at least until Release; use CObjectRef.
    static CPMObject* Acquire(HANDLE handle);
    void Release();
    // Deletes the object as its list sees it: its handle is refused from now on, and the object
    // is destroyed now, or when the last call still working on it releases it.
    void Retire();

    CPMObject* m_next;

  protected:
    DWORD m_signature;
    LPWSTR m_name;
    CPrintMonitor* m_monitor;
    CRegKey m_key;

  private:
    HANDLE m_handle;
    LONG m_refs;  // the list's reference and one per call at work on the object
};

// Longest port name, in characters: CreatePortEntry refuses longer ones.
inline constexpr size_t kMaxPortNameChars = 247;

// A copy of an object's name taken under the monitor-wide lock, for a call that reads the name
// outside the lock while a ConfigPort may change its letter case. A longer name than a port's
// (an Xcv channel's) is cut; null for no object or a nameless one.
class CNameCopy {
  public:
    explicit CNameCopy(const CPMObject* object);
    LPCWSTR get() const { return m_named ? m_text : nullptr; }

  private:
    WCHAR m_text[kMaxPortNameChars + 1];
    bool m_named;
};

// A call's reference to the object behind a handle, of class T: null when the handle is not a
// live, valid T. The object stays alive until the reference ends, even when another thread
// deletes it meanwhile (a port deleted while a call on an idle handle still runs).
template <class T>
class CObjectRef {
  public:
    explicit CObjectRef(HANDLE handle) : m_object(nullptr) {
        CPMObject* object = CPMObject::Acquire(handle);
        m_object = dynamic_cast<T*>(object);
        if (object != nullptr && (m_object == nullptr || !m_object->IsValid())) {
            object->Release();
            m_object = nullptr;
        }
    }
    ~CObjectRef() {
        if (m_object != nullptr) {
            m_object->Release();
        }
    }
    CObjectRef(const CObjectRef&) = delete;
    CObjectRef& operator=(const CObjectRef&) = delete;

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    bool operator==(std::nullptr_t) const { return m_object == nullptr; }
    bool operator!=(std::nullptr_t) const { return m_object != nullptr; }

  private:
    T* m_object;
};

// A list of listed objects: singly linked, appended at the tail. The list keeps its tail, so
// that an append is one step, and may keep an index of its objects by name (the ports do),
// which the list operations change with the list.
struct CPMList {
    CPMObject* head = nullptr;
    CPMObject* tail = nullptr;
    CPMNameIndex* names = nullptr;
};

// The list operations shared by both lists.
BOOL AppendNode(CPMList* list, CPMObject* object);
BOOL RemoveNode(CPMList* list, CPMObject* object);
void DeleteAll(CPMList* list);
// The first object of the list, in list order, with that name that accept(object) takes.
template <class Accept>
CPMObject* FindNode(const CPMList& list, LPCWSTR name, Accept accept) {
    if (list.names != nullptr && list.names->IsUsable()) {
        return list.names->Find(name, accept);
    }
    for (CPMObject* object = list.head; object != nullptr; object = object->m_next) {
        if (object->HasName(name) && accept(object)) {
            return object;
        }
        if (object->m_next == list.head) {
            break;
        }
    }
    return nullptr;
}

class CPrintMonitor : public CQornTemplate {
  public:
    static constexpr DWORD kSignature = 0x004D4C49;  // "ILM"

    CPrintMonitor();
    ~CPrintMonitor() override;

    LPCWSTR GetClassDescription() const override { return WSTR("QORN Print Monitor Class"); }
    BOOL IsValid() const override { return TRUE; }
    virtual CPort* CreatePort(LPCWSTR name) = 0;
    virtual CXcv* CreateXcv(LPCWSTR name) = 0;
    // Opens "Ports" below the key that the wrapper holds, into the same wrapper.
    virtual BOOL OpenPortsKey(CRegKey& key);
    // Opens the name below the key that the wrapper holds, into the same wrapper.
    virtual BOOL OpenSubKey(CRegKey& key, LPCWSTR name);

    // Takes the spooler's MONITORINIT and its registry root.
    void Attach(PMONITORINIT init);

    // The caller holds the monitor-wide lock for these, except DeleteXcvEntry.
    DWORD LoadPorts();
    // A temporary port ("FILE:" opened by OpenPort) is never stored: it has no registry key.
    CPort* CreatePortEntry(LPCWSTR name, BOOL temporary = FALSE);
    BOOL DeletePortEntry(LPCWSTR name);
    BOOL RemovePortEntry(CPort* port);
    CPort* FindPort(LPCWSTR name);
    // The first port of that name that is not temporary (the one DeletePortEntry takes).
    CPort* FindPermanentPort(LPCWSTR name);
    CXcv* CreateXcvEntry(LPCWSTR name, ACCESS_MASK access);
    BOOL DeleteXcvEntry(CXcv* channel);

    // The function-table entries that work on the monitor as a whole.
    BOOL EnumPorts(LPWSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                   LPDWORD returned);
    BOOL AddPortEx(LPWSTR server, DWORD level, LPBYTE buffer, LPWSTR monitorName);
    void Shutdown();

  private:
    DWORD PackPorts(DWORD level, LPBYTE buffer, DWORD size, LPCWSTR monitorName,
                    LPCWSTR description, LPDWORD returned);

    DWORD m_signature;
    CPMList m_ports;
    CPMList m_channels;
    CPMNameIndex m_portNames;  // the ports by name, beside m_ports
    CRegKey m_key;
    PMONITORINIT m_init;
    HKEY m_root;  // the spooler's key: the monitor never closes it
};

class CNetPrintMonitor : public CPrintMonitor {
  public:
    CNetPrintMonitor();
    CPort* CreatePort(LPCWSTR name) override;
    CXcv* CreateXcv(LPCWSTR name) override;
    // The one poller of the printers' state, for every port of the monitor.
    CStatusPoller& Poller() { return m_poller; }

  private:
    CStatusPoller m_poller;
};
