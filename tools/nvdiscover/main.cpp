// nvdiscover: the installer's printer discovery and port writer on the command line (Linux).
//
//   nvdiscover [--json]                      broadcast search of the local network
//   nvdiscover --ip A.B.C.D [--json]         the printer at one IPv4 address
//   nvdiscover --mac 12HEXDIGITS [--json]    broadcast, then the printer with that MAC
//   nvdiscover --register A.B.C.D            write the port NORVA_A.B.C.D as the installer does
//
// It runs the same engine the wizards run (discover/), so what it finds is what they show.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "discover/discovery.h"
#include "discover/ipaddress.h"
#include "discover/portregistry.h"
#include "platform/linux/include/nvplatform.h"
#include "platform/wstr.h"

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNothing = 1;  // nothing found, or the port could not be written
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: nvdiscover [--json]\n"
    "       nvdiscover --ip A.B.C.D [--json]\n"
    "       nvdiscover --mac 12HEXDIGITS [--json]\n"
    "       nvdiscover --register A.B.C.D\n"
    "\n"
    "Finds NORVA printers by SNMP as the installer does, and writes installer ports.\n"
    "\n"
    "  (no option)          an SNMP broadcast from UDP port 8003 to the class-based broadcast\n"
    "                       address of this machine's first address and to the broadcast\n"
    "                       address of every interface that is up, collecting answers for 6\n"
    "                       seconds; every printer found is then queried (one that does not\n"
    "                       answer its queries is left out)\n"
    "  --ip A.B.C.D         query the printer at this address only (no broadcast)\n"
    "  --mac 12HEXDIGITS    broadcast, then show the printer with this hardware address;\n"
    "                       printers report lower-case digits and the match is exact\n"
    "  --json               print the printers as a JSON array instead of a table\n"
    "  --register A.B.C.D   write the port NORVA_A.B.C.D into the monitor's Ports key with the\n"
    "                       installer's values (raw TCP to port 9100, SNMP community commro);\n"
    "                       an existing port of that name gets these values again\n"
    "  -h, --help           show this help\n"
    "\n"
    "Printers are listed newest first: address, subnet mask, gateway, hardware address,\n"
    "description. The SNMP queries' own diagnostics go to standard error.\n"
    "\n"
    "Exit status: 0 when a printer was found (or the port was written), 1 when none was\n"
    "(or the port could not be written), 2 for a bad command line.\n"
    "\n"
    "Environment: NORVA_REGISTRY, the registry store (--register).\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "nvdiscover: %s\nTry 'nvdiscover --help'.\n", message.c_str());
    return kExitUsage;
}

// Four decimal numbers 0..255 separated by dots, nothing else: the form a port name is made of.
std::optional<DWORD> ParseDotted(const std::string& text) {
    DWORD address = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return std::nullopt;
            }
            ++pos;
        }
        size_t digits = 0;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > 255) {
            return std::nullopt;
        }
        address = address << 8 | value;
    }
    return pos == text.size() ? std::optional<DWORD>(address) : std::nullopt;
}

bool IsHardwareAddress(const std::string& text) {
    if (text.size() != 12) {
        return false;
    }
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

std::string Dotted(DWORD address) {
    char text[16];
    FormatDotted(address, text, sizeof text);
    return text;
}

// What a search found, copied out of the printer list before discovery stops (as the wizard
// pages do).
struct Found {
    DWORD address = 0;
    DWORD subnetMask = 0;
    DWORD gateway = 0;
    std::optional<std::string> hardwareAddress;
    std::optional<std::string> description;
    LONG deviceIndex = 0;
};

Found Copy(const PrinterRecord& record) {
    Found found;
    found.address = record.ipAddress;
    found.subnetMask = record.subnetMask;
    found.gateway = record.gateway;
    if (record.hardwareAddress) {
        found.hardwareAddress = record.hardwareAddress.get();
    }
    if (record.description) {
        found.description = record.description.get();
    }
    found.deviceIndex = record.deviceIndex;
    return found;
}

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t follow;
        if (c < 0x80) {
            follow = 0;
        } else if ((c & 0xe0) == 0xc0) {
            follow = 1;
        } else if ((c & 0xf0) == 0xe0) {
            follow = 2;
        } else if ((c & 0xf8) == 0xf0) {
            follow = 3;
        } else {
            return false;
        }
        if (i + follow >= text.size() && follow > 0) {
            return false;
        }
        for (size_t k = 1; k <= follow; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
                return false;
            }
        }
        i += follow + 1;
    }
    return true;
}

// A JSON string: quotes, backslashes and control characters escaped; a description that is
// not UTF-8 has its high octets written as the Latin-1 characters they would be.
std::string JsonString(const std::optional<std::string>& text) {
    if (!text) {
        return "null";
    }
    const bool utf8 = IsUtf8(*text);
    std::string out = "\"";
    for (char ch : *text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || (c >= 0x80 && !utf8)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

void PrintTable(const std::vector<Found>& printers) {
    std::printf("%-16s %-16s %-16s %-17s %s\n", "ADDRESS", "SUBNET MASK", "GATEWAY",
                "HARDWARE ADDRESS", "DESCRIPTION");
    for (const Found& p : printers) {
        std::printf("%-16s %-16s %-16s %-17s %s\n", Dotted(p.address).c_str(),
                    Dotted(p.subnetMask).c_str(), Dotted(p.gateway).c_str(),
                    p.hardwareAddress.value_or("-").c_str(), p.description.value_or("-").c_str());
    }
}

// deviceIndex is what the queries leave in the record: the printer's hrDeviceIndex minus one
// (0 when the agent has no printer device).
void PrintJson(const std::vector<Found>& printers) {
    std::printf("[");
    const char* separator = "\n";
    for (const Found& p : printers) {
        std::printf(
            "%s  {\"address\": \"%s\", \"subnetMask\": \"%s\", \"gateway\": \"%s\", "
            "\"hardwareAddress\": %s, \"description\": %s, \"deviceIndex\": %ld}",
            separator, Dotted(p.address).c_str(), Dotted(p.subnetMask).c_str(),
            Dotted(p.gateway).c_str(), JsonString(p.hardwareAddress).c_str(),
            JsonString(p.description).c_str(), static_cast<long>(p.deviceIndex));
        separator = ",\n";
    }
    std::printf(printers.empty() ? "]\n" : "\n]\n");
}

// The engine prints its diagnostics on standard output; while it runs they go to standard
// error, so that standard output carries only the result (a table, or JSON for scripts).
class DiagnosticsToStderr {
  public:
    DiagnosticsToStderr() {
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    ~DiagnosticsToStderr() {
        std::fflush(stdout);
        if (m_saved >= 0) {
            dup2(m_saved, STDOUT_FILENO);
            close(m_saved);
        }
    }

  private:
    int m_saved = -1;
};

template <size_t N>
void CopyText(WCHAR (&field)[N], const std::string& text) {
    const std::u16string wide = NvFromUtf8(text.c_str());
    CopyBounded(field, N, reinterpret_cast<const WCHAR*>(wide.c_str()));
}

// The port as both installer exports write it.
int Register(DWORD address) {
    const std::string dotted = Dotted(address);
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
        return kExitNothing;
    }
    std::printf("%s port %s (%s, raw TCP port 9100)\n", existed ? "rewrote" : "registered",
                portName.c_str(), dotted.c_str());
    return kExitFound;
}

enum OptionId { kIp = 256, kMac, kJson, kRegister };

}  // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {
        {"ip", required_argument, nullptr, kIp},
        {"mac", required_argument, nullptr, kMac},
        {"json", no_argument, nullptr, kJson},
        {"register", required_argument, nullptr, kRegister},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    std::optional<std::string> ip;
    std::optional<std::string> mac;
    std::optional<std::string> registerAddress;
    bool json = false;
    opterr = 0;
    int id;
    while ((id = getopt_long(argc, argv, ":h", kOptions, nullptr)) != -1) {
        switch (id) {
            case 'h':
                std::fputs(kUsage, stdout);
                return kExitFound;
            case kIp:
                ip = optarg;
                break;
            case kMac:
                mac = optarg;
                break;
            case kJson:
                json = true;
                break;
            case kRegister:
                registerAddress = optarg;
                break;
            case ':':
                return UsageError(std::string(argv[optind - 1]) + " needs a value");
            default:
                return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc) {
        return UsageError(std::string("unexpected argument '") + argv[optind] + "'");
    }
    if ((ip ? 1 : 0) + (mac ? 1 : 0) + (registerAddress ? 1 : 0) > 1) {
        return UsageError("--ip, --mac and --register exclude each other");
    }

    if (registerAddress) {
        if (json) {
            return UsageError("--json goes with a search, not with --register");
        }
        std::optional<DWORD> address = ParseDotted(*registerAddress);
        if (!address) {
            return UsageError("--register needs an IPv4 address A.B.C.D, not '" + *registerAddress +
                              "'");
        }
        return Register(*address);
    }
    if (ip) {
        std::optional<DWORD> address = ParseDotted(*ip);
        if (!address) {
            return UsageError("--ip needs an IPv4 address A.B.C.D, not '" + *ip + "'");
        }
        // Written again in plain decimal: the engine's parser would read "010" as octal.
        *ip = Dotted(*address);
    }
    if (mac) {
        if (!IsHardwareAddress(*mac)) {
            return UsageError("--mac needs 12 hexadecimal digits, not '" + *mac + "'");
        }
        for (char c : *mac) {
            if (c >= 'A' && c <= 'F') {
                std::fputs(
                    "nvdiscover: note: printers report their hardware address in lower case and "
                    "the match is exact, so upper-case digits find nothing\n",
                    stderr);
                break;
            }
        }
    }

    std::vector<Found> printers;
    {
        DiagnosticsToStderr redirect;
        StartDiscovery();
        if (ip) {
            if (const PrinterRecord* found = FindPrinter(nullptr, ip->c_str(), SearchByIpAddress)) {
                printers.push_back(Copy(*found));
            }
        } else if (mac) {
            // Only the match, not the other printers that answered the broadcast.
            if (const PrinterRecord* found =
                    FindPrinter(nullptr, mac->c_str(), SearchByHardwareAddress)) {
                printers.push_back(Copy(*found));
            }
        } else {
            for (const PrinterRecord* p = BroadcastSearch(nullptr, 0); p != nullptr; p = p->link) {
                printers.push_back(Copy(*p));
            }
        }
        StopDiscovery();
    }
    if (json) {
        PrintJson(printers);
    } else if (!printers.empty()) {
        PrintTable(printers);
    } else {
        std::fputs("nvdiscover: no printer found\n", stderr);
    }
    std::fflush(stdout);
    return printers.empty() ? kExitNothing : kExitFound;
}
