// Text helpers of the command-line tools, on both builds: UTF-8 on the command line and in the
// output, UTF-16 towards the spooler, JSON strings, numbers of the command line.
#pragma once

#include <string>

#include "platform/win32.h"

namespace cli {

using WideString = std::basic_string<WCHAR>;

std::string Utf8(const WCHAR* text);
WideString Wide(const std::string& text);

// A JSON string literal: quotes, backslashes and control characters escaped; text that is not
// UTF-8 has its high octets written as the Latin-1 characters they would be.
std::string JsonString(const std::string& text);

// A decimal number (or hexadecimal after 0x) of at most `max`, nothing else.
bool ParseNumber(const std::string& text, DWORD max, DWORD* value);

// Case-insensitive comparison of two names, as the spooler compares port and monitor names.
bool SameName(const WCHAR* a, const WCHAR* b);

}  // namespace cli
