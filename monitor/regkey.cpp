#include "monitor/regkey.h"

CRegKey::CRegKey() : m_key(nullptr) {
    DbgPrint("CRegKey(0x%08X, size=%d)\n", TraceAddress(this), static_cast<int>(sizeof(*this)));
}

CRegKey::~CRegKey() {
    DbgPrint("~CRegKey(0x%08X)\n", TraceAddress(this));
    Close();
}

LONG CRegKey::Open(HKEY parent, LPCWSTR subKey, REGSAM access) {
    QORN_ASSERT(parent != nullptr);
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(parent, subKey, 0, access, &key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = Close();
    m_key = key;
    return result;
}

LONG CRegKey::Create(HKEY parent, LPCWSTR subKey, LPWSTR keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, LPDWORD disposition) {
    QORN_ASSERT(parent != nullptr);
    HKEY key = nullptr;
    DWORD created = 0;
    LONG result =
        RegCreateKeyExW(parent, subKey, 0, keyClass, options, access, security, &key, &created);
    if (disposition != nullptr) {
        *disposition = created;
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = Close();
    m_key = key;
    return result;
}

LONG CRegKey::Close() {
    if (m_key == nullptr) {
        return ERROR_SUCCESS;
    }
    LONG result = RegCloseKey(m_key);
    m_key = nullptr;
    return result;
}

// The value is delivered even when the stored type or size is unexpected; the assertion only
// reports it.
LONG CRegKey::QueryDWORDValue(DWORD& value, LPCWSTR name) {
    DWORD type = 0;
    DWORD size = sizeof(DWORD);
    LONG result =
        RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    if (result == ERROR_SUCCESS) {
        QORN_ASSERT(type == REG_DWORD);
        QORN_ASSERT(size == sizeof(DWORD));
    }
    return result;
}

LONG CRegKey::SetDWORDValue(DWORD value, LPCWSTR name) {
    QORN_ASSERT(m_key != nullptr);
    return RegSetValueExW(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(DWORD));
}

LONG CRegKey::QueryStringValue(LPWSTR buffer, LPCWSTR name, DWORD* size) {
    QORN_ASSERT(size != nullptr);
    if (size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD type = 0;
    LONG result =
        RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), size);
    if (result == ERROR_SUCCESS) {
        QORN_ASSERT(type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ);
    }
    return result;
}

LONG CRegKey::SetStringValue(LPCWSTR text, LPCWSTR name) {
    QORN_ASSERT(text != nullptr);
    QORN_ASSERT(m_key != nullptr);
    if (text == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR)));
}

// Index 0 is read again on every pass: the child just deleted is gone.
LONG CRegKey::RecurseDeleteKey(LPCWSTR subKey) {
    CRegKey key;
    LONG result = key.Open(m_key, subKey, KEY_READ | KEY_WRITE);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    WCHAR name[256];
    for (;;) {
        DWORD length = 256;
        result = RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            break;
        }
        result = key.RecurseDeleteKey(name);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    key.Close();
    return DeleteSubKey(subKey);
}
