#include "net/portconfig.h"

#include <cstring>
#include <string>
#include <vector>

namespace portcfg {

DWORD ReadDword(CRegKey& key, LPCWSTR name, DWORD fallback) {
    DWORD value = 0;
    return key.QueryDWORDValue(value, name) == ERROR_SUCCESS ? value : fallback;
}

DWORD ReadTimeOut(CRegKey& key) {
    DWORD value = ReadDword(key, kSnmpTimeOut, kDefaultTimeOut);
    return value != 0 ? value : kDefaultTimeOut;
}

BOOL IsTerminated(const WCHAR* field, size_t fieldChars) {
    for (size_t i = 0; i < fieldChars; ++i) {
        if (field[i] == 0) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL ReadText(CRegKey& key, LPCWSTR name, char* field, size_t fieldBytes, size_t maxChars) {
    WCHAR buffer[kStringValueBytes / sizeof(WCHAR)];
    DWORD size = kStringValueBytes;
    LONG result = key.QueryStringValue(buffer, name, &size);
    if (result != ERROR_SUCCESS) {
        // Missing or too long is bad data of the port; anything else is the registry's trouble.
        SetLastError(result == ERROR_FILE_NOT_FOUND || result == ERROR_MORE_DATA
                         ? ERROR_INVALID_DATA
                         : static_cast<DWORD>(result));
        return FALSE;
    }
    // A value stored without its terminator that fills the buffer has 64 characters: too long.
    size_t units = size / sizeof(WCHAR);
    if (!IsTerminated(buffer, units < 64 ? units : 64)) {
        if (units >= 64) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        buffer[units] = 0;
    }
    if (wcslen(buffer) > maxChars) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    WideToField(field, fieldBytes, buffer);
    return TRUE;
}

// The longest prefix of the text, in whole characters, whose ANSI form fits the field: a cut
// never splits a character, whatever the code page.
BOOL WideToField(char* field, size_t fieldBytes, LPCWSTR text) {
    if (field == nullptr || fieldBytes == 0) {
        return FALSE;
    }
    field[0] = 0;
    if (text == nullptr || *text == 0) {
        return TRUE;
    }
    int length = static_cast<int>(wcslen(text));
    for (int keep = length; keep > 0; --keep) {
        // Never end between the two halves of a surrogate pair.
        if (keep < length && text[keep] >= 0xDC00 && text[keep] <= 0xDFFF) {
            continue;
        }
        int bytes = WideCharToMultiByte(CP_ACP, 0, text, keep, nullptr, 0, nullptr, nullptr);
        if (bytes > 0 && static_cast<size_t>(bytes) < fieldBytes) {
            WideCharToMultiByte(CP_ACP, 0, text, keep, field, bytes, nullptr, nullptr);
            field[bytes] = 0;
            return keep == length;
        }
    }
    return FALSE;
}

BOOL ToField(char* field, size_t fieldBytes, const char* text) {
    if (text == nullptr || *text == 0) {
        if (field != nullptr && fieldBytes > 0) {
            field[0] = 0;
        }
        return TRUE;
    }
    int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
    if (units <= 0) {
        return CopyBounded(field, fieldBytes, text);
    }
    std::vector<WCHAR> wide(static_cast<size_t>(units));
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide.data(), units);
    return WideToField(field, fieldBytes, wide.data());
}

BOOL AnsiToWideField(WCHAR* field, size_t fieldChars, const char* text) {
    if (field == nullptr || fieldChars == 0) {
        return FALSE;
    }
    field[0] = 0;
    if (text == nullptr || *text == 0) {
        return TRUE;
    }
    int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
    if (units <= 0) {
        return FALSE;
    }
    std::vector<WCHAR> wide(static_cast<size_t>(units));
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide.data(), units);
    size_t length = static_cast<size_t>(units - 1);
    size_t keep = length < fieldChars - 1 ? length : fieldChars - 1;
    if (keep < length && keep > 0 && wide[keep] >= 0xDC00 && wide[keep] <= 0xDFFF) {
        --keep;  // not between the halves of a surrogate pair
    }
    memcpy(field, wide.data(), keep * sizeof(WCHAR));
    field[keep] = 0;
    return keep == length;
}

void ValueWriter::Dword(LPCWSTR name, DWORD value) {
    Keep(m_key.SetDWORDValue(value, name));
}

void ValueWriter::Text(LPCWSTR name, const char* text) {
    int units =
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text != nullptr ? text : "", -1, nullptr, 0);
    std::vector<WCHAR> wide(static_cast<size_t>(units > 0 ? units : 1), 0);
    if (units > 0) {
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text != nullptr ? text : "", -1, wide.data(),
                            units);
    }
    Keep(m_key.SetStringValue(wide.data(), name));
}

void ValueWriter::Keep(LONG result) {
    if (m_first == ERROR_SUCCESS) {
        m_first = result;
    }
}

BOOL ValueWriter::Finish() const {
    if (m_first != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(m_first));
        return FALSE;
    }
    return TRUE;
}

}  // namespace portcfg
