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
#include "tools/cli/store_file.h"
#include "tools/cli/text.h"

namespace {

const cli::Tool kTool{"nvdiscover", nullptr, cli::RegistryStoreNote};

const char kUsage[] =
    "Usage: nvdiscover [--json] [--verbose]\n"
    "       nvdiscover --ip A.B.C.D [--json] [--verbose]\n"
    "       nvdiscover --mac MAC [--json] [--verbose]\n"
    "       nvdiscover --register A.B.C.D\n"
    "\n"
    "Finds NORVA printers by SNMP as the installer does, and writes installer ports.\n"
    "\n"
    "%s"
    "  -h, --help           show this help\n"
    "  --version            show the version\n"
    "\n"
    "--register writes the port into the monitor's Ports key in the registry store, as the\n"
    "installer does; the monitor makes that key when the spooler first loads it (nvspool\n"
    "serve, or any nvspool command that changes ports).\n"
    "\n"
    "Printers are listed newest first: address, subnet mask, gateway, hardware address,\n"
    "description. When none is found, one line on standard error says what was asked, for\n"
    "how long, and the Win32 code of the outcome.\n"
    "\n"
    "Exit status: 0 when a printer was found (or the port was written), 1 when none was\n"
    "(or the port could not be written), 2 for a bad command line.\n"
    "\n"
    "Environment: NORVA_REGISTRY, the registry store (--register; default\n"
    "/var/lib/norva/registry.db).\n";

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

    const std::string ports = "HKLM\\" + cli::Utf8(portcfg::kPortsKeyPath);
    const std::string what = "register " + portName;
    if (!cli::RegistryStoreExists()) {
        return kTool.Fail(what + ": the monitor's key " + ports +
                              " does not exist: the registry "
                              "store " +
                              NvRegistryPath() +
                              " does not exist yet; the spooler "
                              "makes both when it first loads the monitor (nvspool serve)",
                          ERROR_FILE_NOT_FOUND);
    }
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, portcfg::kPortsKeyPath, 0, KEY_READ, &key);
    if (opened == ERROR_FILE_NOT_FOUND) {
        return kTool.Fail(what + ": the monitor's key " + ports +
                              " does not exist in the "
                              "registry store " +
                              NvRegistryPath() +
                              "; the spooler makes it "
                              "when it first loads the monitor (nvspool serve)",
                          ERROR_FILE_NOT_FOUND);
    }
    if (key != nullptr) {
        RegCloseKey(key);
    }
    PortRegistry registry;
    const bool existed = registry.PortExists(entry.PortName) != 0;
    const DWORD result = registry.RegisterPort(&entry);
    if (result != ERROR_SUCCESS) {
        return kTool.Fail(what, result);
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
        if (a == "--version") {
            return cli::PrintVersion("nvdiscover");
        }
    }
    return cli::RunDiscover(kTool, args, Register);
}
