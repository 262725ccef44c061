// nvspool: a spooler host on the command line. It loads the print monitor exactly as the
// Windows spooler does and drives it through its function table.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/cli/port_settings.h"
#include "tools/cli/port_verbs.h"
#include "tools/nvspool/common.h"

namespace {

const char kUsage[] =
    "Usage: nvspool [--monitor PATH] COMMAND [ARGS...]\n"
    "\n"
    "Loads the NORVA TCP/IP Port monitor as the Windows spooler does and drives it.\n"
    "\n"
    "Commands (COMMAND --help tells more of each):\n"
    "%s"
    "%s"
    "\n"
    "The port verbs are nvport's on Windows; add-port, config-port, show-port, delete-port\n"
    "and port-exists are older names of add, config, show, delete and exists.\n"
    "\n"
    "Settings of add and config:\n"
    "%s"
    "\n"
    "Options:\n"
    "  --monitor PATH           the monitor library (default: $NORVA_MONITOR, else\n"
    "                           libnvtcpmon.so in the lib directory beside nvspool, else\n"
    "                           the installed one)\n"
    "  -h, --help               show this help\n"
    "  --version                show the version\n"
    "\n"
    "Errors are one line with the Win32 code and its text. Exit status: 0 success, 1\n"
    "failure (and the \"no\" of exists), 2 a bad command line.\n"
    "\n"
    "Environment: NORVA_REGISTRY (registry store, default /var/lib/norva/registry.db; a\n"
    "command that only reads makes none), NORVA_TRACE (monitor trace: file or -),\n"
    "NORVA_SPOOLER_SOCKET (the service's control socket, default /run/norva/spooler.sock).\n";

void PrintUsage(FILE* out) {
    fprintf(out, kUsage, cli::PortVerbsHelp().c_str(), nvspool::OwnVerbsHelp().c_str(),
            cli::PortSettingsHelp());
}

std::string DefaultMonitorPath(const char* argv0) {
    if (const char* env = getenv("NORVA_MONITOR")) {
        return env;
    }
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    dir = dir.substr(0, dir.find_last_of('/') + 1);
    // Beside the build's tools; an installed nvspool finds it by its run path (lib/norva).
    std::string built = dir + "../lib/libnvtcpmon.so";
    return access(built.c_str(), R_OK) == 0 ? built : "libnvtcpmon.so";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    nvspool::Options options;
    options.monitorPath = DefaultMonitorPath(argv[0]);
    size_t i = 0;
    for (; i < args.size(); ++i) {
        if (args[i] == "-h" || args[i] == "--help") {
            PrintUsage(stdout);
            return 0;
        }
        if (args[i] == "--version") {
            return cli::PrintVersion("nvspool");
        }
        if (args[i] == "--monitor" && i + 1 < args.size()) {
            options.monitorPath = args[++i];
        } else if (args[i].rfind("--monitor=", 0) == 0) {
            options.monitorPath = args[i].substr(10);
        } else {
            break;
        }
    }
    if (i == args.size()) {
        PrintUsage(stderr);
        return 2;
    }
    std::string command = args[i];
    std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
    return nvspool::RunCommand(command, rest, options);
}
