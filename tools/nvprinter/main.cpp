// nvprinter: a network printer simulator for tests, demos and benchmarks (Linux only).
//
//   nvprinter <mode> [options]
//
// The mode picks which of a printer's network services to play (or all of them, "printer");
// each mode has its own --help, made from the one table of options.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/nvprinter/modes.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: nvprinter <mode> [options]\n"
        "       nvprinter <mode> --help\n"
        "\n"
        "Simulates a network printer on this machine, for tests and demos.\n"
        "\n"
        "Modes:\n",
        out);
    for (const nvprinter::Mode& mode : nvprinter::kModes) {
        std::fprintf(out, "  %-8s %s\n", mode.name, mode.summary);
    }
    std::fputs("\nOptions:\n  -h, --help   show this help\n  --version    show the version\n", out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return nvprinter::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        PrintUsage(stdout);
        return nvprinter::kExitOk;
    }
    if (name == "--version") {
        std::printf("nvprinter (NORVA TCP/IP Port) %s\n", NORVA_VERSION);
        return nvprinter::kExitOk;
    }
    for (const nvprinter::Mode& mode : nvprinter::kModes) {
        if (name == mode.name) {
            // The mode sees "nvprinter MODE" as its program name, so its messages say which
            // mode is talking.
            std::string program = std::string("nvprinter ") + mode.name;
            argv[1] = program.data();
            return nvprinter::RunMode(mode, argc - 1, argv + 1);
        }
    }
    std::fprintf(stderr, "nvprinter: unknown mode '%s'\n", name.c_str());
    std::fputs("Try 'nvprinter --help' for the list of modes.\n", stderr);
    return nvprinter::kExitUsage;
}
