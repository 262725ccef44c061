// CRegKey: the owner of one open registry key. Every registry access of the monitor goes
// through it; the key handed over by the spooler is treated as an ordinary key handle.
#pragma once

#include "monitor/util.h"

class CRegKey {
  public:
    CRegKey();
    ~CRegKey();
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    operator HKEY() const { return m_key; }

    // Opens the subkey below the parent; on success the key held so far is closed and the
    // result of that close is returned. On failure the held key stays.
    LONG Open(HKEY parent, LPCWSTR subKey, REGSAM access);
    LONG Create(HKEY parent, LPCWSTR subKey, LPWSTR keyClass, DWORD options, REGSAM access,
                LPSECURITY_ATTRIBUTES security, LPDWORD disposition);
    LONG Close();

    void Attach(HKEY key) {
        QORN_ASSERT(m_key == nullptr);
        m_key = key;
    }
    HKEY Detach() {
        HKEY key = m_key;
        m_key = nullptr;
        return key;
    }

    LONG QueryDWORDValue(DWORD& value, LPCWSTR name);
    LONG SetDWORDValue(DWORD value, LPCWSTR name);
    // size is in bytes, in and out, as the registry reports it.
    LONG QueryStringValue(LPWSTR buffer, LPCWSTR name, DWORD* size);
    LONG SetStringValue(LPCWSTR text, LPCWSTR name);

    LONG DeleteSubKey(LPCWSTR subKey) {
        QORN_ASSERT(m_key != nullptr);
        return RegDeleteKeyW(m_key, subKey);
    }
    // Deletes the subkey and everything below it.
    LONG RecurseDeleteKey(LPCWSTR subKey);

  private:
    HKEY m_key;
};
