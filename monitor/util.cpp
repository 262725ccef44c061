#include "monitor/util.h"

#include <cstring>

LPVOID AllocMem(SIZE_T bytes) {
    return GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, bytes);
}

void FreeMem(LPVOID mem) {
    if (mem != nullptr) {
        GlobalFree(mem);
    }
}

LPWSTR DupString(LPCWSTR text) {
    if (text == nullptr) {
        return nullptr;
    }
    SIZE_T bytes = (wcslen(text) + 1) * sizeof(WCHAR);
    auto* copy = static_cast<LPWSTR>(AllocMem(bytes));
    if (copy != nullptr) {
        memcpy(copy, text, bytes);
    }
    return copy;
}

static BOOL HasPrefixAndColon(LPCWSTR name, LPCWSTR prefix) {
    if (name == nullptr) {
        return FALSE;
    }
    size_t length = wcslen(name);
    return length >= 4 && _wcsnicmp(name, prefix, 3) == 0 && name[length - 1] == WSTR(':');
}

BOOL IsComPort(LPCWSTR name) {
    return HasPrefixAndColon(name, WSTR("COM"));
}

BOOL IsLptPort(LPCWSTR name) {
    return HasPrefixAndColon(name, WSTR("LPT"));
}

BOOL IsFilePort(LPCWSTR name) {
    return name != nullptr && _wcsicmp(name, WSTR("FILE:")) == 0;
}

// A failed check is a diagnostic only: the spooler process must never stop for it.
void ReportAssert(LPCSTR file, int line) {
    DbgPrint("=== Assert Failed: File %s, Line %d ===\n", file, line);
}

std::string AnsiText(LPCWSTR text) {
    if (text == nullptr) {
        return "(null)";
    }
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes - 1));
    return out;
}
