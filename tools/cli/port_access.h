// How the port verbs reach one port of the monitor through the spooler: the Xcv channel opened
// after the tool attached, the check that a port is this monitor's, and reading its record.
// Each returns kExitOk, or the exit code after it reported the failure in one line.
#pragma once

#include <string>

#include "net/portentry.h"
#include "tools/cli/spooler.h"
#include "tools/cli/tool.h"

namespace cli {

// `REQUEST "NAME"`, the start of a request's failure line.
std::string Quoted(const char* request, const std::string& name);

// Attaches the tool and opens the channel (SERVER_ACCESS_ADMINISTER when `administer`, which
// is also a verb that changes the registry). A monitor that the spooler does not know is said
// to be not installed, with the command that installs it.
int OpenChannel(const Tool& tool, XcvChannel* channel, bool administer);

// The port must be one of this monitor's: the requests of a monitor do not reach the ports of
// another, and a name the spooler does not know is told apart from one of another monitor.
int RequireOwnPort(const Tool& tool, const char* request, const std::string& name);

// OpenChannel, then RequireOwnPort for a request on the port.
int OpenForOwnPort(const Tool& tool, XcvChannel* channel, bool administer, const char* request,
                   const std::string& name);

// Opens the channel for questions, checks that the port is this monitor's and reads its
// record: what show and test-page need.
int ReadOwnPort(const Tool& tool, XcvChannel* channel, const std::string& name, PortEntry* record);

// Reads the port's record (ReadConfigInf). A port whose stored settings the monitor cannot use
// (a writer stopped half-way, a value made by hand) says so.
int ReadPort(const Tool& tool, XcvChannel& channel, const std::string& name, PortEntry* record);

}  // namespace cli
