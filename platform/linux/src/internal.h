// Shared by the Linux stand-ins; not visible to project code.
#pragma once

#include <string>

#include "platform/linux/include/nvplatform.h"

// True when a test fault is armed for this call; *code receives the code to fail with.
bool NvFaultHit(const char* call, DWORD* code);

// Fails the calling stand-in with a test fault: sets the last error and returns true.
inline bool NvFaultFail(const char* call) {
    DWORD code = 0;
    if (!NvFaultHit(call, &code)) {
        return false;
    }
    SetLastError(code);
    return true;
}

// errno to the Win32 code that Windows reports for the same condition.
DWORD NvWin32FromErrno(int error);

// UTF-16 text of at most `length` units (-1: up to the terminator) as UTF-8, and back.
std::string NvUtf16ToUtf8(const WCHAR* text, ptrdiff_t length = -1);
std::u16string NvUtf8ToUtf16(const char* text, ptrdiff_t length = -1);
