// nvdiscover: the installer's printer discovery and port writer on the command line (Linux).
//
//   nvdiscover [--json]                      broadcast search of the local network
//   nvdiscover --ip A.B.C.D [--json]         the printer at one IPv4 address
//   nvdiscover --mac 12HEXDIGITS [--json]    broadcast, then the printer with that MAC
//   nvdiscover --register A.B.C.D            write the port NORVA_A.B.C.D as the installer does
//
// The command line is nvport's discover verb (tools/cli); --register writes the registry here
// as the installer does, where nvport goes through the monitor.
#include <cstdio>
#include <string>
#include <vector>

#include "discover/portregistry.h"
#include "platform/linux/include/nvplatform.h"
#include "platform/wstr.h"
#include "tools/cli/discover_verb.h"

namespace {

const char kUsage[] =
    "Usage: nvdiscover [--json]\n"
    "       nvdiscover --ip A.B.C.D [--json]\n"
    "       nvdiscover --mac 12HEXDIGITS [--json]\n"
    "       nvdiscover --register A.B.C.D\n"
    "\n"
    "Finds NORVA printers by SNMP as the installer does, and writes installer ports.\n"
    "\n"
    "%s"
    "  -h, --help           show this help\n"
    "\n"
    "--register writes the port into the monitor's Ports key in the registry store, as the\n"
    "installer does.\n"
    "\n"
    "Printers are listed newest first: address, subnet mask, gateway, hardware address,\n"
    "description. The SNMP queries' own diagnostics go to standard error.\n"
    "\n"
    "Exit status: 0 when a printer was found (or the port was written), 1 when none was\n"
    "(or the port could not be written), 2 for a bad command line.\n"
    "\n"
    "Environment: NORVA_REGISTRY, the registry store (--register).\n";

template <size_t N>
void CopyText(WCHAR (&field)[N], const std::string& text) {
    const std::u16string wide = NvFromUtf8(text.c_str());
    CopyBounded(field, N, reinterpret_cast<const WCHAR*>(wide.c_str()));
}

// The port as both installer exports write it.
int Register(const std::string& dotted) {
    const std::string portName = "NORVA_" + dotted;
    PortEntry entry = {};
    CopyText(entry.PortName, portName);
    entry.Protocol = PROTOCOL_RAW;
    CopyText(entry.IPAddress, dotted);
    CopyText(entry.HostName, "");
    CopyText(entry.HWAddress, "");
    entry.PortNumber = portcfg::kDefaultRawPortNumber;
    entry.SnmpVersion = portcfg::kDefaultSnmpVersion;
    entry.SnmpTimeOut = portcfg::kDefaultTimeOut;
    entry.SnmpEnabled = portcfg::kDefaultSnmpEnabled;
    CopyText(entry.SnmpCommunity, portcfg::kDefaultCommunity);
    entry.SnmpIndex = portcfg::kDefaultSnmpIndex;

    PortRegistry registry;
    const bool existed = registry.PortExists(entry.PortName) != 0;
    const DWORD result = registry.RegisterPort(&entry);
    if (result != ERROR_SUCCESS) {
        std::fprintf(stderr,
                     "nvdiscover: cannot register port %s: error %lu (%s)\n"
                     "The ports key HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\"
                     "NORVA TCP/IP Port\\Ports is missing or cannot be written in the registry "
                     "store %s; the monitor creates it when the spooler first loads it.\n",
                     portName.c_str(), static_cast<unsigned long>(result),
                     NvErrorText(result).c_str(), NvRegistryPath().c_str());
        return cli::kExitFailed;
    }
    std::printf("%s port %s (%s, raw TCP port 9100)\n", existed ? "rewrote" : "registered",
                portName.c_str(), dotted.c_str());
    return cli::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "-h" || a == "--help") {
            printf(kUsage, cli::DiscoverOptionsHelp());
            return cli::kExitOk;
        }
    }
    const cli::Tool tool{"nvdiscover", nullptr};
    return cli::RunDiscover(tool, args, Register);
}
