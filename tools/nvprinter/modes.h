// The modes of nvprinter. Each mode lives in its own file(s) and has one entry point; main.cpp
// dispatches on the first argument through the table kModes.
#pragma once

namespace nvprinter {

// Exit codes shared by every mode.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the mode could not run (socket, bind, ...)
constexpr int kExitUsage = 2;    // bad command line

// Entry point of a mode: argv[0] is "nvprinter MODE", the rest are the mode's own arguments.
using ModeMain = int (*)(int argc, char** argv);

struct Mode {
    const char* name;
    const char* summary;  // one line for nvprinter --help
    ModeMain run;
};

int RunSnmp(int argc, char** argv);  // snmp_mode.cpp
int RunRaw(int argc, char** argv);   // raw_mode.cpp
int RunLpd(int argc, char** argv);   // lpd_mode.cpp

// Every mode, in the order --help lists them.
inline constexpr Mode kModes[] = {
    {"raw", "raw TCP port (9100): every connection is one job", RunRaw},
    {"lpd", "line printer daemon (RFC 1179, port 515): receives LPR jobs", RunLpd},
    {"snmp", "SNMPv1 agent answering what printer discovery asks", RunSnmp},
};

}  // namespace nvprinter
