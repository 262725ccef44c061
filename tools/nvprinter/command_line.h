// The command line of every nvprinter mode: one table of options, each marked with the modes
// it belongs to, parsed into the configurations of the services a mode runs, with each mode's
// --help made from the same table.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/nvprinter/lpd_service.h"
#include "tools/nvprinter/printer_state.h"
#include "tools/nvprinter/raw_service.h"
#include "tools/nvprinter/snmp_service.h"

namespace nvprinter {

// The modes, as bits: an option belongs to one or more.
enum ModeBit : unsigned {
    kModeRaw = 1,
    kModeLpd = 2,
    kModeSnmp = 4,
    kModePrinter = 8,  // raw port, LPD and agent in one printer
};

// What a command line asks for.
struct PrinterSetup {
    unsigned mode = 0;
    bool raw = false;  // the printer has this service
    bool lpd = false;
    bool snmp = false;
    RawConfig rawConfig;
    LpdConfig lpdConfig;
    SnmpConfig snmpConfig;
    bool discard = false;
    std::vector<ScheduledState> schedule;
    std::string control;  // the control FIFO's path; empty: none
    bool quiet = false;
};

// Parses the mode's arguments (argv[0] is "nvprinter MODE"). nullopt: run the printer; a
// value: exit with it at once (--help printed, or a usage error reported on stderr).
std::optional<int> ParseCommandLine(unsigned mode, int argc, char** argv, PrinterSetup* setup);

}  // namespace nvprinter
