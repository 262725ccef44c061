// Jobs through the Windows spooler, for test-page: the spooler prints to a port only through a
// printer, so the page goes to a printer that prints to the port, and the job is followed in
// its queue until it leaves it or stops with an error.
#pragma once

#include <functional>
#include <string>

#include "tools/cli/tool.h"

namespace nvport {

// Prints the document as one RAW job and reports its outcome; returns the exit code.
int PrintThroughSpooler(const cli::Tool& tool, const std::string& port, const std::string& document,
                        const std::string& data);

// The first local printer that prints to a port for which `matches` holds (a printer may
// print to several ports, a pool): its name and that port. 0 or the error of the enumeration;
// *printer is empty when there is none.
DWORD FindPrinterOnPort(const std::function<bool(const wchar_t* port)>& matches,
                        std::string* printer, std::string* port);

}  // namespace nvport
