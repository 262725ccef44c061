// The modes of nvprinter: which of a printer's network services to play. main.cpp dispatches on
// the first argument through the table kModes; every mode runs the same printer (printer.h)
// with the services its options name.
#pragma once

namespace nvprinter {

// Exit codes shared by every mode.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the mode could not run (socket, bind, ...)
constexpr int kExitUsage = 2;    // bad command line

struct Mode {
    const char* name;
    const char* summary;  // one line for nvprinter --help
    unsigned bit;         // command_line.h's ModeBit
};

// Every mode, in the order --help lists them.
extern const Mode kModes[4];

// Runs the mode: argv[0] is "nvprinter MODE", the rest are the mode's own arguments.
int RunMode(const Mode& mode, int argc, char** argv);

}  // namespace nvprinter
