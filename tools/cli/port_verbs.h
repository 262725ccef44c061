// The port verbs that nvspool and nvport share, over the monitor's Xcv channel as a port user
// interface drives it: list, add, config, show, status (of the port's printer), delete, exists.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/tool.h"

namespace cli {

// Runs the verb; -1 when `verb` is not one of them.
int RunPortVerb(const Tool& tool, const std::string& verb, const std::vector<std::string>& args);

// The verbs' lines of the help.
const char* PortVerbsHelp();

// Makes or rewrites, through the monitor, the port that the installer makes for a printer at
// the dotted address: "NORVA_<address>", raw TCP to port 9100 and the installer's SNMP values.
// Prints what it did and returns the exit code.
int RegisterPortThroughMonitor(const Tool& tool, const std::string& dotted);

}  // namespace cli
