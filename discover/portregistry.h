// PortRegistry: writes a new port of "NORVA TCP/IP Port" straight into the monitor's "Ports"
// key, in the layout the monitor reads when the spooler loads it, and tells whether a port of
// a given name exists there. Callers keep one on the stack for one operation.
#pragma once

#include "net/portentry.h"
#include "platform/win32.h"

class PortRegistry {
  public:
    PortRegistry();
    ~PortRegistry();  // closes the held key
    PortRegistry(const PortRegistry&) = delete;
    PortRegistry& operator=(const PortRegistry&) = delete;

    // Creates (or opens, when it exists) the subkey named by entry->PortName below the ports
    // key and writes its ten values, overwriting them; other values of the key stay. 0 on
    // success, the subkey then being the held key; ERROR_INVALID_PARAMETER (87) without an
    // entry; ERROR_INVALID_NAME (123) for a name that is not one registry key (empty, with a
    // backslash or a control character); ERROR_ALREADY_EXISTS (183) when the ports key cannot
    // be opened or the subkey not created, whatever the cause. A value that cannot be written
    // does not stop the others, and the first failed write's code is the result. Every
    // failure is also set as the thread's last error.
    DWORD RegisterPort(const PortEntry* entry);

    // 1 when the ports key has a subkey of exactly this name (letter case counts), else 0,
    // also when the ports key cannot be opened.
    DWORD PortExists(const WCHAR* portName);

    HKEY HeldKey() const { return m_key; }

  private:
    // Makes key the held key, closing the one held before.
    void Hold(HKEY key);

    const HKEY m_root;
    const WCHAR* const m_path;
    WCHAR* const m_class;  // a new key has no class
    const DWORD m_options;
    const REGSAM m_access;
    SECURITY_ATTRIBUTES* const m_security;
    DWORD* const m_disposition;  // whether the key was new is not asked
    HKEY m_key;
};
