// Running one mode: its command line, its printer, the lines that say it is ready, and the
// clean stop on SIGTERM or SIGINT.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/nvprinter/command_line.h"
#include "tools/nvprinter/modes.h"
#include "tools/nvprinter/printer.h"

namespace nvprinter {

const Mode kModes[4] = {
    {"raw", "raw TCP port (9100): every connection is one job", kModeRaw},
    {"lpd", "line printer daemon (RFC 1179, port 515): receives LPR jobs", kModeLpd},
    {"snmp", "SNMPv1 agent answering what printer discovery asks", kModeSnmp},
    {"printer", "one printer: raw port, LPD and SNMP agent sharing its state", kModePrinter},
};

namespace {

// The ready lines on stdout, from which scripts and tests learn ports chosen with :0. A mode
// of one service says "listening on ADDR:PORT" as it always has; a printer names each.
void PrintReady(unsigned mode, const char* program, Printer& printer) {
    if (mode == kModeRaw) {
        std::printf("listening on %s\n", FormatEndpoint(printer.raw()->bound()).c_str());
    } else if (mode == kModeLpd) {
        std::printf("listening on %s\n", FormatEndpoint(printer.lpd()->bound()).c_str());
    } else if (mode == kModeSnmp) {
        std::printf("%s: listening on %s\n", program,
                    FormatEndpoint(printer.snmp()->bound()).c_str());
    } else {
        if (printer.raw() != nullptr) {
            std::printf("raw listening on %s\n", FormatEndpoint(printer.raw()->bound()).c_str());
        }
        if (printer.lpd() != nullptr) {
            std::printf("lpd listening on %s\n", FormatEndpoint(printer.lpd()->bound()).c_str());
        }
        if (printer.snmp() != nullptr) {
            std::printf("snmp listening on %s\n", FormatEndpoint(printer.snmp()->bound()).c_str());
        }
    }
    std::fflush(stdout);
}

}  // namespace

int RunMode(const Mode& mode, int argc, char** argv) {
    const char* program = argv[0];
    PrinterSetup setup;
    if (std::optional<int> exit = ParseCommandLine(mode.bit, argc, argv, &setup)) {
        return *exit;
    }
    // Armed before the ready lines go out, so a stop sent right after them is never lost.
    StopSignals stop;
    Printer printer(setup);
    if (!printer.Open(program)) {
        return kExitFailure;
    }
    PrintReady(mode.bit, program, printer);
    if (!printer.Run(&stop)) {
        const int error = errno;
        std::fprintf(stderr, "%s: poll: %s\n", program, std::strerror(error));
        return kExitFailure;
    }
    if (mode.bit == kModePrinter) {
        std::fprintf(stderr, "%s: stopped; %u SNMP datagrams received; %u jobs printed\n", program,
                     printer.state().Datagrams(), printer.state().PrintedJobs());
    }
    return kExitOk;
}

}  // namespace nvprinter
