#include "tools/cli/discover_verb.h"

#include <cstdio>
#include <optional>

#include "discover/discovery.h"
#include "discover/ipaddress.h"
#include "platform/console.h"
#include "tools/cli/text.h"

namespace cli {

namespace {

const char kDiscoverOptionsHelp[] =
    "  (no option)          an SNMP broadcast from UDP port 8003 to the class-based broadcast\n"
    "                       address of this machine's first address and to the broadcast\n"
    "                       address of every interface that is up, collecting answers for 6\n"
    "                       seconds; every printer found is then queried (one that does not\n"
    "                       answer its queries is left out)\n"
    "  --ip A.B.C.D         query the printer at this address only (no broadcast)\n"
    "  --mac 12HEXDIGITS    broadcast, then show the printer with this hardware address;\n"
    "                       printers report lower-case digits and the match is exact\n"
    "  --json               print the printers as a JSON array instead of a table\n"
    "  --register A.B.C.D   make the installer's port NORVA_A.B.C.D (raw TCP to port 9100,\n"
    "                       SNMP community commro); an existing one gets these values again\n";

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

std::string JsonOrNull(const std::optional<std::string>& text) {
    return text ? JsonString(*text) : "null";
}

void PrintTable(const std::vector<Found>& printers) {
    printf("%-16s %-16s %-16s %-17s %s\n", "ADDRESS", "SUBNET MASK", "GATEWAY", "HARDWARE ADDRESS",
           "DESCRIPTION");
    for (const Found& p : printers) {
        printf("%-16s %-16s %-16s %-17s %s\n", Dotted(p.address).c_str(),
               Dotted(p.subnetMask).c_str(), Dotted(p.gateway).c_str(),
               p.hardwareAddress.value_or("-").c_str(), p.description.value_or("-").c_str());
    }
}

// deviceIndex is what the queries leave in the record: the printer's hrDeviceIndex minus one
// (0 when the agent has no printer device).
void PrintJson(const std::vector<Found>& printers) {
    printf("[");
    const char* separator = "\n";
    for (const Found& p : printers) {
        printf(
            "%s  {\"address\": \"%s\", \"subnetMask\": \"%s\", \"gateway\": \"%s\", "
            "\"hardwareAddress\": %s, \"description\": %s, \"deviceIndex\": %ld}",
            separator, Dotted(p.address).c_str(), Dotted(p.subnetMask).c_str(),
            Dotted(p.gateway).c_str(), JsonOrNull(p.hardwareAddress).c_str(),
            JsonOrNull(p.description).c_str(), static_cast<long>(p.deviceIndex));
        separator = ",\n";
    }
    printf(printers.empty() ? "]\n" : "\n]\n");
}

struct Request {
    std::optional<std::string> ip;
    std::optional<std::string> mac;
    std::optional<std::string> registerAddress;
    bool json = false;
};

// Parses the options; -1 when the command may go on, else the exit code.
int Parse(const Tool& tool, const std::vector<std::string>& args, Request* r) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::optional<std::string>* value = nullptr;
        if (a == "--ip") {
            value = &r->ip;
        } else if (a == "--mac") {
            value = &r->mac;
        } else if (a == "--register") {
            value = &r->registerAddress;
        } else if (a == "--json") {
            r->json = true;
            continue;
        } else if (a.size() > 1 && a[0] == '-') {
            return tool.Usage("unknown option '" + a + "'");
        } else {
            return tool.Usage("unexpected argument '" + a + "'");
        }
        if (i + 1 >= args.size()) {
            return tool.Usage(a + " needs a value");
        }
        *value = args[++i];
    }
    if ((r->ip ? 1 : 0) + (r->mac ? 1 : 0) + (r->registerAddress ? 1 : 0) > 1) {
        return tool.Usage("--ip, --mac and --register exclude each other");
    }
    if (r->registerAddress && r->json) {
        return tool.Usage("--json goes with a search, not with --register");
    }
    return -1;
}

}  // namespace

int RunDiscover(const Tool& tool, const std::vector<std::string>& args,
                const RegisterPort& registerPort) {
    Request request;
    int parsed = Parse(tool, args, &request);
    if (parsed >= 0) {
        return parsed;
    }
    if (request.registerAddress) {
        std::optional<DWORD> address = ParseDottedAddress(*request.registerAddress);
        if (!address) {
            return tool.Usage("--register needs an IPv4 address A.B.C.D, not '" +
                              *request.registerAddress + "'");
        }
        return registerPort(Dotted(*address));
    }
    if (request.ip) {
        std::optional<DWORD> address = ParseDottedAddress(*request.ip);
        if (!address) {
            return tool.Usage("--ip needs an IPv4 address A.B.C.D, not '" + *request.ip + "'");
        }
        // Written again in plain decimal: the engine's parser would read "010" as octal.
        request.ip = Dotted(*address);
    }
    if (request.mac) {
        if (!IsHardwareAddress(*request.mac)) {
            return tool.Usage("--mac needs 12 hexadecimal digits, not '" + *request.mac + "'");
        }
        for (char c : *request.mac) {
            if (c >= 'A' && c <= 'F') {
                fprintf(stderr,
                        "%s: note: printers report their hardware address in lower case and the "
                        "match is exact, so upper-case digits find nothing\n",
                        tool.name);
                break;
            }
        }
    }

    std::vector<Found> printers;
    {
        // The engine prints its diagnostics on standard output; while it runs they go to
        // standard error, so that standard output carries only the result.
        StdoutToStderr diagnostics;
        StartDiscovery();
        if (request.ip) {
            if (const PrinterRecord* found =
                    FindPrinter(nullptr, request.ip->c_str(), SearchByIpAddress)) {
                printers.push_back(Copy(*found));
            }
        } else if (request.mac) {
            // Only the match, not the other printers that answered the broadcast.
            if (const PrinterRecord* found =
                    FindPrinter(nullptr, request.mac->c_str(), SearchByHardwareAddress)) {
                printers.push_back(Copy(*found));
            }
        } else {
            for (const PrinterRecord* p = BroadcastSearch(nullptr, 0); p != nullptr; p = p->link) {
                printers.push_back(Copy(*p));
            }
        }
        StopDiscovery();
    }
    if (request.json) {
        PrintJson(printers);
    } else if (!printers.empty()) {
        PrintTable(printers);
    } else {
        fprintf(stderr, "%s: no printer found\n", tool.name);
    }
    fflush(stdout);
    return printers.empty() ? kExitFailed : kExitOk;
}

const char* DiscoverOptionsHelp() {
    return kDiscoverOptionsHelp;
}

}  // namespace cli
