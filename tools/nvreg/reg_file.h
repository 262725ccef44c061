// The .reg file of regedit and reg.exe, version 5.00: reading one change by change, and
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

#include <functional>
#include <memory>
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

// What is wrong with a file: the line (0 when no one line is), what, and the Win32 code
// (ERROR_INVALID_DATA for a file that breaks the syntax, else the error of reading it).
struct RegFileFault {
    int line = 0;
    std::string what;
    LONG code = ERROR_SUCCESS;
};

// Fills buffer with up to size bytes of the file and sets *got, 0 at its end; a Win32 code.
using ReadBytes = std::function<LONG(char* buffer, DWORD size, DWORD* got)>;

// Reads a .reg file of version 5.00 change by change, in file order, so that a file of any
// size takes the memory of one line (and one value's data) at a time, never of the whole file.
class RegFileReader {
  public:
    explicit RegFileReader(ReadBytes read);
    ~RegFileReader();
    RegFileReader(const RegFileReader&) = delete;
    RegFileReader& operator=(const RegFileReader&) = delete;

    enum class Step { kChange, kEnd, kFault };
    // The next change; kFault for a file that is not a .reg file of version 5.00, breaks its
    // syntax here or cannot be read (see Fault). After kEnd or kFault it stays there.
    Step Next(RegChange* change);
    const RegFileFault& Fault() const;

  private:
    class Parser;
    std::unique_ptr<Parser> parser_;
};

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
