// The console helpers on Windows: FormatMessageW and the C runtime's descriptors.
#include "platform/console.h"

#include <io.h>

#include <cstdio>

std::string SystemErrorText(DWORD code) {
    wchar_t text[512];
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, code, 0, text, sizeof text / sizeof text[0], nullptr);
    // The message ends in blanks and line ends; the caller prints one line.
    while (length > 0 &&
           (text[length - 1] == L' ' || text[length - 1] == L'\r' || text[length - 1] == L'\n')) {
        --length;
    }
    if (length == 0) {
        char unknown[48];
        snprintf(unknown, sizeof unknown, "Unknown error %lu.", static_cast<unsigned long>(code));
        return unknown;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr,
                                    nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), bytes, nullptr,
                            nullptr);
    }
    return out;
}

StdoutToStderr::StdoutToStderr() {
    fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    _dup2(_fileno(stderr), _fileno(stdout));
}

StdoutToStderr::~StdoutToStderr() {
    fflush(stdout);
    if (saved_ >= 0) {
        _dup2(saved_, _fileno(stdout));
        _close(saved_);
    }
}
