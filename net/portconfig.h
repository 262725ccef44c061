// Reading and writing a port's values with the monitor's rules: DWORDs of 4 bytes, strings read
// into 128 bytes and held as 8-bit text in the ANSI code page.
#pragma once

#include "monitor/regkey.h"
#include "net/portentry.h"

namespace portcfg {

// The value, or `fallback` when it cannot be read.
DWORD ReadDword(CRegKey& key, LPCWSTR name, DWORD fallback);
// "SnmpTimeOut" in milliseconds. A stored 0 is the default, as every report of the port's
// settings shows it: a time-out of nothing would fail every send at once.
DWORD ReadTimeOut(CRegKey& key);

// Reads a string value (REG_SZ; REG_EXPAND_SZ unexpanded; the first string of REG_MULTI_SZ)
// of at most `maxChars` characters and converts it into the field. FALSE when the value is
// missing, unreadable, longer than 63 characters or longer than maxChars; the last error is
// then ERROR_INVALID_DATA for a missing or overlong value, else the registry's code.
BOOL ReadText(CRegKey& key, LPCWSTR name, char* field, size_t fieldBytes, size_t maxChars = 63);

// 8-bit text into a fixed field; a text that does not fit is cut at a character boundary.
// Returns FALSE when it was cut. The field is always terminated.
BOOL ToField(char* field, size_t fieldBytes, const char* text);
// UTF-16 text into an 8-bit field (ANSI code page), cut as ToField does.
BOOL WideToField(char* field, size_t fieldBytes, LPCWSTR text);
// 8-bit text into a UTF-16 field of `fieldChars` units, cut at a character boundary.
BOOL AnsiToWideField(WCHAR* field, size_t fieldChars, const char* text);

// Writes a port's values one after another. A failed write does not stop the ones after it;
// the first failure is what the whole save reports.
class ValueWriter {
  public:
    explicit ValueWriter(CRegKey& key) : m_key(key) {}
    void Dword(LPCWSTR name, DWORD value);
    // An 8-bit text, stored as REG_SZ UTF-16.
    void Text(LPCWSTR name, const char* text);
    // TRUE when every write succeeded; otherwise FALSE with the first failure's code as the
    // last error.
    BOOL Finish() const;

  private:
    void Keep(LONG result);
    CRegKey& m_key;
    LONG m_first = ERROR_SUCCESS;
};

// A WCHAR field of a record has its terminator inside the field.
BOOL IsTerminated(const WCHAR* field, size_t fieldChars);

}  // namespace portcfg
