// Registry values as reg.exe writes and reads them on a command line: type names, data shown
// as text, and data given as text.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace nvreg {

// "REG_SZ" and the rest; an unknown type as its number ("0x1234").
std::string TypeName(DWORD type);

// The type for a name given with /t (case-insensitive); false for a type add cannot write.
bool TypeFromName(const std::string& name, DWORD* type);

// The data as reg query shows it: strings as text (REG_MULTI_SZ joined with "\0"), REG_DWORD
// and REG_QWORD as 0x..., everything else as hex digits.
std::string DataText(DWORD type, const std::vector<BYTE>& data);

// The bytes that reg add stores for /d text of a type. REG_MULTI_SZ splits the text at
// `separator`. False, with *error set, for text that is not valid for the type.
bool DataFromText(DWORD type, const std::string& text, const std::string& separator,
                  std::vector<BYTE>* data, std::string* error);

}  // namespace nvreg
