// The settings of a port as the command line gives them (add and config), and the record
// (PortEntry) they are written into: parsing, checking and applying, with the help text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "net/portentry.h"
#include "tools/cli/tool.h"

namespace cli {

// Each setting only when given.
struct PortSettings {
    std::optional<std::string> ip;
    bool lpr = false;
    bool raw = false;
    std::optional<std::string> queue;
    std::optional<DWORD> portNumber;
    std::optional<DWORD> timeOut;
    std::optional<std::string> community;
    std::optional<DWORD> snmpIndex;
    std::optional<DWORD> snmpVersion;
    std::optional<DWORD> snmpEnabled;
    std::optional<std::string> mail;
    std::optional<std::string> hostName;
    std::optional<std::string> hwAddress;

    bool MoreThanTheAddress() const;
};

// Parses NAME and the settings. Returns -1 when the command may go on, else the exit code
// after the usage error was reported.
int ParsePortSettings(const Tool& tool, const std::vector<std::string>& args, std::string* name,
                      PortSettings* settings);

// Writes the given settings into the record. Returns an empty text, or what does not fit its
// field (the record is then partly written).
std::string ApplySettings(const PortSettings& settings, PortEntry* record);

// After the settings of the command line were applied to a port's record: a port that changes
// its transport takes the new transport's defaults for what the command line left out.
void TakeTransportDefaults(const PortSettings& settings, PortEntry* record);

// 0 when a port may be given this name; ERROR_INVALID_NAME for an empty name, one longer than
// the record's 63 characters, or one with '\' (a registry key path) or control characters.
DWORD CheckPortName(const std::string& name);

// Checks the settings that are new input, as the monitor takes them: a printer's address in
// plain decimal, a TCP port of 1 to 65535, a hardware address (written into its stored form,
// 12 lower-case digits). An empty text, or the line that says why one is refused.
std::string CheckSettingValues(PortSettings* settings);

// The settings of LPR ports (--queue, --mail) on a port that prints by raw TCP: an empty text,
// or the line that says so.
std::string CheckTransportSettings(const PortSettings& settings, DWORD protocol);

// Text fields of the record.
bool SetField(WCHAR* field, size_t chars, const std::string& text);
std::string FieldText(const WCHAR* field, size_t chars);
template <size_t N>
bool SetField(WCHAR (&field)[N], const std::string& text) {
    return SetField(field, N, text);
}
template <size_t N>
std::string FieldText(const WCHAR (&field)[N]) {
    return FieldText(field, N);
}

// The record as "Key  value" lines, or as one JSON object, on standard output. A stored address
// or port number that the transports read otherwise than it looks (127.0.0.010 is 127.0.0.8)
// says so.
void PrintRecord(const PortEntry& record, bool json);
// The same texts: lines that each end in '\n', and the object without a line end.
std::string RecordText(const PortEntry& record);
std::string RecordJson(const PortEntry& record);

// The address and the TCP port that the transports connect to for the record's values, as
// text ("127.0.0.8", "4464"); an empty address when it does not read.
std::string AddressReadAs(const PortEntry& record);
DWORD PortNumberReadAs(const PortEntry& record);

// The option lines of the help, one per setting.
const char* PortSettingsHelp();

}  // namespace cli
