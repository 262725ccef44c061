#include "tools/cli/discover_verb.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "discover/broadcast.h"
#include "discover/discovery.h"
#include "discover/ipaddress.h"
#include "discover/snmpquery.h"
#include "net/portcheck.h"
#include "platform/console.h"
#include "snmp/manager.h"
#include "tools/cli/text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// How long the engine waits: the broadcast's three passes, and one request to a silent agent
// (every attempt of the SNMP manager).
constexpr int kBroadcastSeconds = 6;
constexpr int kRequestSeconds =
    static_cast<int>(snmp::kDefaultTimeoutMs / 1000) * (snmp::kDefaultRetries + 1);

const char kDiscoverOptionsHelp[] =
    "  (no option)          an SNMP broadcast from UDP port 8003 to the class-based broadcast\n"
    "                       address of this machine's first address and to the broadcast\n"
    "                       address of every interface that is up, collecting answers for 6\n"
    "                       seconds; every printer found is then queried (one that does not\n"
    "                       answer its queries is left out)\n"
    "  --ip A.B.C.D         query the printer at this address only (no broadcast); a silent\n"
    "                       address takes 24 s (6 s for each of four attempts)\n"
    "  --mac MAC            broadcast, then show the printer with this hardware address (12\n"
    "                       hexadecimal digits, alone or in pairs with ':' or '-')\n"
    "  --json               print the printers as a JSON array instead of a table;\n"
    "                       hrDeviceIndex is the printer's index in the Host Resources MIB\n"
    "                       (the SnmpIndex of a port counts the same way), deviceIndex is\n"
    "                       the installer's own count, one less\n"
    "  --register A.B.C.D   make the installer's port NORVA_A.B.C.D (raw TCP to port 9100,\n"
    "                       SNMP community commro); an existing one gets these values again\n"
    "  --verbose            the installer's own SNMP diagnostics on standard error\n"
    "On a terminal, standard error shows what is asked and how long is left.\n";

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
// (0 when the agent has no printer device); hrDeviceIndex counts as SnmpIndex does.
void PrintJson(const std::vector<Found>& printers) {
    printf("[");
    const char* separator = "\n";
    for (const Found& p : printers) {
        printf(
            "%s  {\"address\": \"%s\", \"subnetMask\": \"%s\", \"gateway\": \"%s\", "
            "\"hardwareAddress\": %s, \"description\": %s, \"hrDeviceIndex\": %ld, "
            "\"deviceIndex\": %ld}",
            separator, Dotted(p.address).c_str(), Dotted(p.subnetMask).c_str(),
            Dotted(p.gateway).c_str(), JsonOrNull(p.hardwareAddress).c_str(),
            JsonOrNull(p.description).c_str(), static_cast<long>(p.deviceIndex) + 1,
            static_cast<long>(p.deviceIndex));
        separator = ",\n";
    }
    printf(printers.empty() ? "]\n" : "\n]\n");
}

struct Request {
    std::optional<std::string> ip;
    std::optional<std::string> mac;
    std::optional<std::string> registerAddress;
    bool json = false;
    bool verbose = false;
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
        } else if (a == "--json" || a == "--verbose") {
            (a == "--json" ? r->json : r->verbose) = true;
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

// The printer's address of --ip or --register, checked as the port verbs check one; -1 when
// the command may go on, else the exit code.
int CheckAddressOption(const Tool& tool, const char* option, std::optional<std::string>* text) {
    if (!*text) {
        return -1;
    }
    portcfg::AddressFault fault = portcfg::CheckPrinterAddress((*text)->c_str());
    if (fault != portcfg::AddressFault::kNone) {
        return tool.Usage(std::string(option) + " '" + **text +
                          "': " + portcfg::AddressFaultText(fault));
    }
    return -1;
}

// While it lives, standard output goes to the null device: the engine's diagnostics are the
// installer's, and the tool says what happened in its own words.
class StdoutSilenced {
  public:
    StdoutSilenced() {
        fflush(stdout);
#ifdef _WIN32
        saved_ = _dup(_fileno(stdout));
        int null = _open("NUL", _O_WRONLY);
        if (null >= 0) {
            _dup2(null, _fileno(stdout));
            _close(null);
        }
#else
        saved_ = dup(STDOUT_FILENO);
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
#endif
    }
    ~StdoutSilenced() {
        fflush(stdout);
        if (saved_ >= 0) {
#ifdef _WIN32
            _dup2(saved_, _fileno(stdout));
            _close(saved_);
#else
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
#endif
        }
    }
    StdoutSilenced(const StdoutSilenced&) = delete;
    StdoutSilenced& operator=(const StdoutSilenced&) = delete;

  private:
    int saved_ = -1;
};

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// What one search asked and what came of it.
struct Outcome {
    std::vector<Found> printers;
    std::vector<DWORD> destinations;  // of a broadcast
    std::vector<Found> answered;      // of a --mac search: the printers that did not match
    DWORD lastError = ERROR_SUCCESS;  // the engine's, when it found nothing
};

// The search the request asks for, on the calling thread; the destinations of a broadcast
// are announced before it starts.
void Search(const Request& request, Outcome* outcome,
            const std::function<void(const std::vector<DWORD>&)>& announce) {
    StartDiscovery();
    if (!request.ip) {
        SOCKET probe = socket(AF_INET, SOCK_DGRAM, 0);
        outcome->destinations = BroadcastDestinations(probe);
        if (probe != INVALID_SOCKET) {
            closesocket(probe);
        }
        announce(outcome->destinations);
    }
    SetLastError(ERROR_SUCCESS);
    if (request.ip) {
        if (const PrinterRecord* found =
                FindPrinter(nullptr, request.ip->c_str(), SearchByIpAddress)) {
            outcome->printers.push_back(Copy(*found));
        }
    } else if (request.mac) {
        // Only the match, not the other printers that answered the broadcast.
        if (const PrinterRecord* found =
                FindPrinter(nullptr, request.mac->c_str(), SearchByHardwareAddress)) {
            outcome->printers.push_back(Copy(*found));
        } else {
            for (size_t i = 0; i < PrinterList::Instance().Count(); ++i) {
                outcome->answered.push_back(Copy(*PrinterList::Instance().At(i)));
            }
        }
    } else {
        for (const PrinterRecord* p = BroadcastSearch(nullptr, 0); p != nullptr; p = p->link) {
            outcome->printers.push_back(Copy(*p));
        }
    }
    outcome->lastError = outcome->printers.empty() ? GetLastError() : ERROR_SUCCESS;
    StopDiscovery();
}

std::string AddressList(const std::vector<DWORD>& addresses) {
    std::string text;
    for (DWORD a : addresses) {
        text += (text.empty() ? "" : ", ") + Dotted(a);
    }
    return text.empty() ? "no destination" : text;
}

// The line that shows on a terminal while the search runs.
std::string Asking(const Request& request, const std::vector<DWORD>& destinations, int elapsed) {
    if (request.ip) {
        const int left = kRequestSeconds - elapsed;
        return "asking " + *request.ip + " by SNMP (community " + kCommunity + "): " +
               (left > 0 ? std::to_string(left) + " s left for an answer"
                         : "it answered; reading its settings");
    }
    if (elapsed < kBroadcastSeconds) {
        return "SNMP broadcast to " + AddressList(destinations) + " (community " + kCommunity +
               "): " + std::to_string(kBroadcastSeconds - elapsed) + " s left for answers";
    }
    return "asking the printers that answered for their settings (at most " +
           std::to_string(kRequestSeconds) + " s for each answer), " + std::to_string(elapsed) +
           " s so far";
}

// Runs the search on a thread of its own while this one shows, on a terminal, what is asked
// and how long is left.
Outcome SearchWithProgress(const Request& request) {
    Outcome outcome;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<DWORD> destinations;
    std::thread worker([&] {
        Outcome result;
        Search(request, &result, [&](const std::vector<DWORD>& to) {
            std::lock_guard<std::mutex> lock(mutex);
            destinations = to;
        });
        std::lock_guard<std::mutex> lock(mutex);
        outcome = std::move(result);
        finished = true;
        done.notify_all();
    });
    const bool show = StderrIsTerminal();
    const Clock::time_point start = Clock::now();
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!done.wait_for(lock, std::chrono::milliseconds(250), [&] { return finished; })) {
            if (show) {
                const int elapsed = static_cast<int>(
                    std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
                fprintf(stderr, "\r%s\033[K", Asking(request, destinations, elapsed).c_str());
                fflush(stderr);
            }
        }
    }
    worker.join();
    if (show) {
        fprintf(stderr, "\r\033[K");
        fflush(stderr);
    }
    return outcome;
}

// The management API's own codes are not Win32 codes: a silent agent is a time-out.
DWORD Win32Code(DWORD engineError) {
    switch (engineError) {
        case snmp::kErrorTimeout:
            return ERROR_TIMEOUT;
        case snmp::kErrorInvalidSession:
        case snmp::kErrorInvalidBuffer:
            return ERROR_GEN_FAILURE;
        case ERROR_SUCCESS:
            return ERROR_TIMEOUT;  // nothing answered in time, and nothing else went wrong
        default:
            return engineError;
    }
}

// The one line that says why nothing was found.
int NothingFound(const Tool& tool, const Request& request, const Outcome& outcome, int seconds) {
    const DWORD code = Win32Code(outcome.lastError);
    const std::string community = std::string(" (community ") + kCommunity + ")";
    const std::string took = " in " + std::to_string(seconds) + " s";
    if (request.ip) {
        return tool.Fail(
            (code == ERROR_TIMEOUT ? "no SNMP answer from " + *request.ip
                                   : "the SNMP queries of " + *request.ip + " failed") +
                took + community,
            code);
    }
    std::string what = code == ERROR_TIMEOUT ? "no printer answered the SNMP broadcast to "
                                             : "the SNMP broadcast to ";
    what += AddressList(outcome.destinations) + took + community;
    if (code != ERROR_TIMEOUT) {
        what += " could not be made";
    }
    if (request.mac && !outcome.answered.empty()) {
        what = "no printer with the hardware address " + *request.mac + " among the " +
               std::to_string(outcome.answered.size()) + " that answered the SNMP broadcast" +
               took + ":";
        for (const Found& p : outcome.answered) {
            what.append(" ").append(Dotted(p.address)).append(" (");
            what.append(p.hardwareAddress.value_or("no address")).append(")");
        }
        return tool.Fail(what, ERROR_NOT_FOUND);
    }
    return tool.Fail(what, code);
}

}  // namespace

int RunDiscover(const Tool& tool, const std::vector<std::string>& args,
                const RegisterPort& registerPort) {
    Request request;
    int parsed = Parse(tool, args, &request);
    if (parsed < 0) {
        parsed = CheckAddressOption(tool, "--register", &request.registerAddress);
    }
    if (parsed < 0) {
        parsed = CheckAddressOption(tool, "--ip", &request.ip);
    }
    if (parsed >= 0) {
        return parsed;
    }
    if (request.registerAddress) {
        return registerPort(*request.registerAddress);
    }
    if (request.mac) {
        char digits[portcfg::kHardwareAddressDigits + 1];
        if (!portcfg::NormalizeHardwareAddress(request.mac->c_str(), digits)) {
            return tool.Usage(
                "--mac needs 12 hexadecimal digits, alone or in pairs with ':' or "
                "'-', not '" +
                *request.mac + "'");
        }
        request.mac = digits;  // as printers report it, and the match is exact
    }
    const Clock::time_point start = Clock::now();
    Outcome outcome;
    if (request.verbose) {
        StdoutToStderr diagnostics;
        outcome = SearchWithProgress(request);
    } else {
        StdoutSilenced diagnostics;
        outcome = SearchWithProgress(request);
    }
    const int seconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
    if (request.json) {
        PrintJson(outcome.printers);
    } else if (!outcome.printers.empty()) {
        PrintTable(outcome.printers);
    }
    fflush(stdout);
    return outcome.printers.empty() ? NothingFound(tool, request, outcome, seconds) : kExitOk;
}

const char* DiscoverOptionsHelp() {
    return kDiscoverOptionsHelp;
}

}  // namespace cli
