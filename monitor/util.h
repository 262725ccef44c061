// Small routines that every part of the monitor uses: its allocator, port-name classifiers,
// assertion reports and trace helpers.
#pragma once

#include <memory>

#include "platform/win32.h"

// Zero-filled fixed global memory; null on failure.
LPVOID AllocMem(SIZE_T bytes);
// Releases memory from AllocMem; null is ignored.
void FreeMem(LPVOID mem);
// A copy made with AllocMem, terminator included; null for null.
LPWSTR DupString(LPCWSTR text);

// A block from AllocMem that frees itself: CMemPtr<char> block(static_cast<char*>(AllocMem(n))).
struct CFreeMem {
    void operator()(LPVOID mem) const { FreeMem(mem); }
};
template <class T>
using CMemPtr = std::unique_ptr<T, CFreeMem>;

// "COMn:"-style names: the first three characters are COM (any letter case), the last ':'.
BOOL IsComPort(LPCWSTR name);
BOOL IsLptPort(LPCWSTR name);
// The name "FILE:" in any letter case.
BOOL IsFilePort(LPCWSTR name);

// Traces a failed internal check; the operation goes on.
void ReportAssert(LPCSTR file, int line);

// The file part of a __FILE__ path, as assertion reports name it.
constexpr LPCSTR SourceName(LPCSTR path) {
    LPCSTR name = path;
    for (LPCSTR p = path; *p != 0; ++p) {
        if (*p == '/' || *p == '\\') {
            name = p + 1;
        }
    }
    return name;
}

#define QORN_ASSERT(condition)                            \
    do {                                                  \
        if (!(condition)) {                               \
            ReportAssert(SourceName(__FILE__), __LINE__); \
        }                                                 \
    } while (0)

// An object address as traced ("0x%08X"): its low 32 bits.
inline DWORD TraceAddress(const void* object) {
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(object));
}

#include <string>

// Wide text in the ANSI code page, for traces that print it with %s.
std::string AnsiText(LPCWSTR text);
