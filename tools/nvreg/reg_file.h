// The .reg file of regedit and reg.exe, version 5.00: reading one into a list of changes, and
// writing keys and values in it.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SYSTEM\Key]          the key, created if it is missing
//   "Name"="text"                            REG_SZ (\\ and \" are the escapes)
//   @="text"                                 the key's default value
//   "Number"=dword:0000238c                  REG_DWORD
//   "Data"=hex:01,02                         REG_BINARY
//   "Path"=hex(2):25,00,00,00                any other type by its number: hex(2) REG_EXPAND_SZ,
//                                            hex(7) REG_MULTI_SZ, hex(b) REG_QWORD, hex(0) ...
//   "Gone"=-                                 the value is deleted
//   [-HKEY_LOCAL_MACHINE\SYSTEM\Old]         the key is deleted, with its subkeys
//
// Hex lists go on over several lines with a backslash at the end of each but the last; lines
// starting with ';' are comments. A file is UTF-16LE with a byte order mark, as reg.exe writes
// it, or UTF-8 (with or without the mark).
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace nvreg {

struct RegChange {
    enum class Kind { kKey, kDeleteKey, kValue, kDeleteValue };
    Kind kind = Kind::kKey;
    int line = 0;         // the line of the file it comes from (1 is the header)
    std::u16string key;   // the key's full path as written, ROOT\...
    std::u16string name;  // the value's name; empty for the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// The changes of a whole file, in file order. False, with the line and what is wrong there, for
// a file that is not a .reg file of version 5.00 or breaks its syntax anywhere.
bool ParseRegFile(const std::string& bytes, std::vector<RegChange>* changes, int* errorLine,
                  std::string* error);

// Writing: the header with its blank line, a key's line, and a value's lines (each ends in
// CR LF). Strings that cannot stand in quotes (no terminator, a NUL inside, a line break) are
// written as hex(1), a REG_DWORD of another size than 4 as hex(4): the file always reads back
// to the same bytes. Hex lists wrap at 80 columns as regedit's do.
std::u16string RegFileHeader();
std::u16string KeyLine(const std::u16string& path);
std::u16string ValueLines(const std::u16string& name, DWORD type, const std::vector<BYTE>& data);

// The text as reg.exe writes a file: a byte order mark and UTF-16LE.
std::string RegFileBytes(const std::u16string& text);

}  // namespace nvreg
