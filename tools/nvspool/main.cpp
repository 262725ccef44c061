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
    "Commands:\n"
    "  ports [--level 1|2]        the ports of every loaded monitor and the host's own\n"
    "%s"
    "  xcv REQUEST [--input-string S | --input-file F] [--output-size N]\n"
    "                             any Xcv request, output as hex\n"
    "  print --port NAME FILE     print a file through the port (print --help)\n"
    "  serve [--control SOCKET]   run as the \"Spooler\" service: keep the monitor\n"
    "                             loaded; stop and start reload it (socket mode 0660;\n"
    "                             only root and this account may stop or start it)\n"
    "\n"
    "The port verbs are nvport's on Windows; add-port, config-port, show-port, delete-port\n"
    "and port-exists are older names of add, config, show, delete and exists.\n"
    "\n"
    "Settings of add and config:\n"
    "%s"
    "\n"
    "Options:\n"
    "  --monitor PATH           the monitor library (default: $NORVA_MONITOR, else\n"
    "                           libnvtcpmon.so in the lib directory beside nvspool)\n"
    "  -h, --help               show this help\n"
    "\n"
    "Environment: NORVA_REGISTRY (registry store), NORVA_TRACE (monitor trace: file or -),\n"
    "NORVA_SPOOLER_SOCKET (the service's control socket, default /run/norva/spooler.sock).\n";

std::string DefaultMonitorPath(const char* argv0) {
    if (const char* env = getenv("NORVA_MONITOR")) {
        return env;
    }
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    dir = dir.substr(0, dir.find_last_of('/') + 1);
    return dir + "../lib/libnvtcpmon.so";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    nvspool::Options options;
    options.monitorPath = DefaultMonitorPath(argv[0]);
    size_t i = 0;
    for (; i < args.size(); ++i) {
        if (args[i] == "-h" || args[i] == "--help") {
            printf(kUsage, cli::PortVerbsHelp(), cli::PortSettingsHelp());
            return 0;
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
        fprintf(stderr, kUsage, cli::PortVerbsHelp(), cli::PortSettingsHelp());
        return 2;
    }
    std::string command = args[i];
    std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
    return nvspool::RunCommand(command, rest, options);
}
