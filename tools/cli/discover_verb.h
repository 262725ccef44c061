// Printer discovery on the command line, as nvdiscover runs it and nvport's discover verb:
//   [--json]                     broadcast search of the local network
//   --ip A.B.C.D [--json]        the printer at one address
//   --mac 12HEXDIGITS [--json]   broadcast, then the printer with that hardware address
//   --register A.B.C.D           make the installer's port NORVA_A.B.C.D
// It runs the engine the wizards run (discover/), so what it finds is what they show.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/cli/tool.h"

namespace cli {

// Makes the port for the printer at the dotted address and prints what it did; returns the
// exit code.
using RegisterPort = std::function<int(const std::string& dotted)>;

// Exit 0 when a printer was found (or the port made), 1 when none was (or the port could not
// be made), 2 for a bad command line.
int RunDiscover(const Tool& tool, const std::vector<std::string>& args,
                const RegisterPort& registerPort);

// The option lines of the help.
const char* DiscoverOptionsHelp();

}  // namespace cli
