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

// 0 when the settings give no address or one a printer can have: dotted IPv4 as the monitor
// reads it, not 0.0.0.0 or 255.255.255.255 (which the monitor can never print to);
// ERROR_INVALID_PARAMETER otherwise.
DWORD CheckAddress(const PortSettings& settings);

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

// The record as "Key  value" lines, or as one JSON object.
void PrintRecord(const PortEntry& record, bool json);

// The option lines of the help, one per setting.
const char* PortSettingsHelp();

}  // namespace cli
