#include "tools/nvprinter/command_line.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>

#include "tools/nvprinter/modes.h"

namespace nvprinter {

namespace {

constexpr unsigned kTcpModes = kModeRaw | kModeLpd | kModePrinter;
constexpr unsigned kRawModes = kModeRaw | kModePrinter;
constexpr unsigned kLpdModes = kModeLpd | kModePrinter;
constexpr unsigned kSnmpModes = kModeSnmp | kModePrinter;
constexpr unsigned kAllModes = kModeRaw | kModeLpd | kModeSnmp | kModePrinter;

constexpr long long kMaxStatusBytes = 4096;            // status text sent back at most
constexpr long long kMaxReceiveBuffer = 1 << 30;       //
constexpr long long kMaxCount = 1LL << 62;             // bytes of a job: more than any job has
constexpr std::uint32_t kMaxLateMs = 600000;           // ten minutes is later than any test waits
constexpr std::uint32_t kMaxDeviceIndex = 2147483647;  // hrDeviceIndex is 1..2147483647

// Where an option's line goes in the help.
enum class Group { kGeneral, kFaults, kState };

// An option's handler: applies the value, or returns why it cannot.
using Apply = std::string (*)(PrinterSetup& s, const std::string& value);

struct OptionSpec {
    const char* name;   // without the leading "--"
    const char* value;  // the value's placeholder in the help; nullptr for a switch
    unsigned modes;
    Group group;
    const char* help;  // lines after the first are indented by the help's printer
    Apply apply;
};

std::optional<long long> ParseCount(const std::string& text, long long max) {
    if (text.empty()) {
        return std::nullopt;
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > max) {
            return std::nullopt;
        }
    }
    return value;
}

// A count option's handler: the value in [min, max] goes to the field.
template <long long RawConfig::*Field, long long Min = 0, long long Max = kMaxCount>
std::string RawCount(PrinterSetup& s, const std::string& value) {
    std::optional<long long> count = ParseCount(value, Max);
    if (!count || *count < Min) {
        return "bad number '" + value + "'";
    }
    s.rawConfig.*Field = *count;
    return "";
}

template <int LpdConfig::*Field>
std::string LpdStep(PrinterSetup& s, const std::string& value) {
    std::optional<std::uint32_t> step = ParseNumber(value, kLpdStepCount);
    if (!step || *step == 0) {
        return "needs a step 1..5, not '" + value + "'";
    }
    s.lpdConfig.*Field = static_cast<int>(*step);
    return "";
}

template <bool SnmpAgentConfig::*Field, bool Value = true>
std::string AgentSwitch(PrinterSetup& s, const std::string&) {
    s.snmpConfig.agent.*Field = Value;
    return "";
}

std::string ParseEndpointInto(Endpoint* endpoint, const std::string& value) {
    std::optional<Endpoint> parsed = ParseEndpoint(value);
    if (!parsed) {
        return "needs ADDR:PORT, not '" + value + "'";
    }
    *endpoint = *parsed;
    return "";
}

// --listen: the endpoint of the one service of the mode.
std::string Listen(PrinterSetup& s, const std::string& value) {
    Endpoint* at = s.mode == kModeRaw   ? &s.rawConfig.listen
                   : s.mode == kModeLpd ? &s.lpdConfig.listen
                                        : &s.snmpConfig.listen;
    (s.mode == kModeRaw ? s.raw : s.mode == kModeLpd ? s.lpd : s.snmp) = true;
    return ParseEndpointInto(at, value);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Twelve hex digits; ':' and '-' between them are ignored ("02:1a:2b:3c:4d:5e").
std::string Mac(PrinterSetup& s, const std::string& value) {
    std::array<std::uint8_t, 6> octets{};
    std::size_t digits = 0;
    for (char c : value) {
        if (c == ':' || c == '-') {
            continue;
        }
        const int nibble = HexDigit(c);
        if (nibble < 0 || digits == 12) {
            return "needs 12 hex digits, not '" + value + "'";
        }
        octets[digits / 2] = static_cast<std::uint8_t>(octets[digits / 2] << 4 | nibble);
        ++digits;
    }
    if (digits != 12) {
        return "needs 12 hex digits, not '" + value + "'";
    }
    s.snmpConfig.agent.mac = octets;
    return "";
}

std::string MacLength(PrinterSetup& s, const std::string& value) {
    std::optional<std::uint32_t> length = ParseNumber(value, 8);
    if (!length || (*length != 0 && *length != 6 && *length != 8)) {
        return "must be 0, 6 or 8";
    }
    s.snmpConfig.agent.macLength = *length;
    return "";
}

std::string DeviceIndex(PrinterSetup& s, const std::string& value) {
    std::optional<std::uint32_t> index = ParseNumber(value, kMaxDeviceIndex);
    if (!index || *index == 0) {
        return "must be 1..2147483647";
    }
    if (*index == kProcessorDeviceIndex || *index == kNetworkDeviceIndex) {
        return value + " is taken by the simulated processor (768) or network device (1025)";
    }
    s.snmpConfig.agent.deviceIndex = *index;
    return "";
}

template <Ipv4 SnmpAgentConfig::*Field>
std::string AgentAddress(PrinterSetup& s, const std::string& value) {
    std::optional<Ipv4> address = ParseIpv4(value);
    if (!address) {
        return "'" + value + "' is not an IPv4 address";
    }
    s.snmpConfig.agent.*Field = *address;
    return "";
}

std::string RowAddress(PrinterSetup& s, const std::string& value) {
    std::optional<Ipv4> address = ParseIpv4(value);
    if (!address) {
        return "'" + value + "' is not an IPv4 address";
    }
    s.snmpConfig.agent.address = *address;
    return "";
}

std::string Slow(PrinterSetup& s, const std::string& value) {
    std::optional<std::uint32_t> rate = ParseNumber(value, UINT32_MAX);
    if (!rate || *rate == 0) {
        return "needs bytes per second, not '" + value + "'";
    }
    s.rawConfig.slow = s.lpdConfig.slow = *rate;
    return "";
}

std::string StatusOnConnect(PrinterSetup& s, const std::string& value) {
    std::optional<long long> bytes = ParseCount(value, kMaxStatusBytes);
    if (!bytes) {
        return "bad number '" + value + "'";
    }
    s.rawConfig.status = PjlStatusText(*bytes);
    return "";
}

std::string Condition(PrinterSetup& s, const std::string& value) {
    std::optional<ScheduledState> window = ParseScheduledState(value);
    if (!window) {
        return "needs NAME, NAME@FROM or NAME@FROM-TO (milliseconds), not '" + value + "'";
    }
    s.schedule.push_back(*window);
    return "";
}

const OptionSpec kOptions[] = {
    {"listen", "ADDR:PORT", kModeRaw | kModeLpd, Group::kGeneral,
     "TCP address to listen on (port 0: any free port)", Listen},
    {"listen", "ADDR:PORT", kModeSnmp, Group::kGeneral,
     "UDP address to bind (port 0: any free port). With 0.0.0.0 the\n"
     "agent also answers broadcasts (127.255.255.255 on loopback)",
     Listen},
    {"raw", "ADDR:PORT", kModePrinter, Group::kGeneral, "the raw TCP port (port 0: any free port)",
     [](PrinterSetup& s, const std::string& v) {
         s.raw = true;
         return ParseEndpointInto(&s.rawConfig.listen, v);
     }},
    {"lpd", "ADDR:PORT", kModePrinter, Group::kGeneral, "the line printer daemon's TCP port",
     [](PrinterSetup& s, const std::string& v) {
         s.lpd = true;
         return ParseEndpointInto(&s.lpdConfig.listen, v);
     }},
    {"snmp", "ADDR:PORT", kModePrinter, Group::kGeneral,
     "the SNMP agent's UDP port (0.0.0.0: broadcasts too)",
     [](PrinterSetup& s, const std::string& v) {
         s.snmp = true;
         return ParseEndpointInto(&s.snmpConfig.listen, v);
     }},
    {"out", "DIR", kTcpModes, Group::kGeneral, "directory for the job files (created if missing)",
     [](PrinterSetup& s, const std::string& v) {
         s.rawConfig.out = s.lpdConfig.out = v;
         return std::string();
     }},
    {"discard", nullptr, kTcpModes, Group::kGeneral, "check and count each job but keep nothing",
     [](PrinterSetup& s, const std::string&) {
         s.discard = true;
         return std::string();
     }},
    {"any-source-port", nullptr, kLpdModes, Group::kGeneral,
     "accept LPR jobs from any source port, not only 721..731",
     [](PrinterSetup& s, const std::string&) {
         s.lpdConfig.anySourcePort = true;
         return std::string();
     }},
    {"once", nullptr, kTcpModes, Group::kGeneral, "stop after the first job",
     [](PrinterSetup& s, const std::string&) {
         s.rawConfig.once = s.lpdConfig.once = true;
         return std::string();
     }},
    {"community", "TEXT", kSnmpModes, Group::kGeneral, "the read community (default commro)",
     [](PrinterSetup& s, const std::string& v) {
         s.snmpConfig.agent.community = v;
         return std::string();
     }},
    {"mac", "HEX", kSnmpModes, Group::kGeneral,
     "ifPhysAddress.1, 12 hex digits, ':' or '-' allowed\n(default 021a2b3c4d5e)", Mac},
    {"mac-length", "0|6|8", kSnmpModes, Group::kGeneral,
     "octets in ifPhysAddress.1 (8: the MAC and 00 01)", MacLength},
    {"device-index", "N", kSnmpModes, Group::kGeneral,
     "hrDeviceIndex of the printer (default 1; 768 and 1025 are the\nsimulated processor and "
     "network device)",
     DeviceIndex},
    {"description", "TEXT", kSnmpModes, Group::kGeneral,
     "hrDeviceDescr of the printer (and prtGeneralPrinterName)",
     [](PrinterSetup& s, const std::string& v) {
         s.snmpConfig.agent.description = v;
         return std::string();
     }},
    {"address", "A.B.C.D", kSnmpModes, Group::kGeneral,
     "index of the ipAddrTable row (default: the listen address, or\nwith 0.0.0.0 the address "
     "each request arrived at)",
     RowAddress},
    {"mask", "A.B.C.D", kSnmpModes, Group::kGeneral,
     "ipAdEntNetMask of that row (default 255.255.255.0)", AgentAddress<&SnmpAgentConfig::mask>},
    {"gateway", "A.B.C.D", kSnmpModes, Group::kGeneral,
     "ipRouteNextHop.0.0.0.0; 0.0.0.0 (default) means no default\nroute, so the route row does "
     "not exist (noSuchName)",
     AgentAddress<&SnmpAgentConfig::gateway>},
    {"quiet", nullptr, kAllModes, Group::kGeneral,
     "no line per job or request (LPD violations are still reported)",
     [](PrinterSetup& s, const std::string&) {
         s.quiet = s.rawConfig.quiet = s.lpdConfig.quiet = s.snmpConfig.quiet = true;
         return std::string();
     }},

    {"refuse", nullptr, kRawModes, Group::kFaults,
     "hold the raw port without listening: connections are refused",
     [](PrinterSetup& s, const std::string&) {
         s.rawConfig.refuse = true;
         return std::string();
     }},
    {"stall-after", "N", kRawModes, Group::kFaults,
     "stop reading a job after N bytes, keeping the connection open",
     RawCount<&RawConfig::stallAfter>},
    {"pause-after", "N", kRawModes, Group::kFaults,
     "stop reading a job after N bytes for a while, then read on",
     RawCount<&RawConfig::pauseAfter>},
    {"pause-ms", "MS", kRawModes, Group::kFaults, "how long --pause-after pauses (default 3000)",
     RawCount<&RawConfig::pauseMs>},
    {"reset-after", "N", kRawModes, Group::kFaults, "reset the connection (RST) after N bytes",
     RawCount<&RawConfig::resetAfter>},
    {"reset-random", "MAX", kRawModes, Group::kFaults,
     "reset each job after a random count of 0..MAX-1 bytes (a job\nshorter than its count "
     "arrives whole)",
     RawCount<&RawConfig::resetRandom, 1>},
    {"seed", "N", kRawModes, Group::kFaults,
     "seed of --reset-random (default 1: the same counts every run)", RawCount<&RawConfig::seed>},
    {"close-early", "N", kRawModes, Group::kFaults, "close the connection normally after N bytes",
     RawCount<&RawConfig::closeEarly>},
    {"half-close-after", "N", kRawModes, Group::kFaults,
     "after N bytes close the sending side (FIN) and read no more,\nkeeping the connection "
     "until the sender ends it",
     RawCount<&RawConfig::halfCloseAfter>},
    {"hold-open", nullptr, kRawModes, Group::kFaults,
     "keep a job's connection open after the sender's end, until the\nsimulator stops",
     [](PrinterSetup& s, const std::string&) {
         s.rawConfig.holdOpen = true;
         return std::string();
     }},
    {"status-on-connect", "N", kRawModes, Group::kFaults,
     "send N bytes of status text back when a job starts", StatusOnConnect},
    {"rcvbuf", "BYTES", kRawModes, Group::kFaults,
     "the receive buffer of each connection (a printer's few KB)",
     RawCount<&RawConfig::receiveBuffer, 0, kMaxReceiveBuffer>},
    {"read-size", "BYTES", kRawModes, Group::kFaults, "read at most BYTES at a time",
     RawCount<&RawConfig::readSize, 1>},
    {"nak-at", "STEP", kLpdModes, Group::kFaults,
     "answer LPD step STEP with 0x01 (STEP 1..5: receive-job,\ncontrol command, control file, "
     "data command, data)",
     LpdStep<&LpdConfig::nakAt>},
    {"close-at", "STEP", kLpdModes, Group::kFaults,
     "close the connection instead of answering STEP", LpdStep<&LpdConfig::closeAt>},
    {"silent-at", "STEP", kLpdModes, Group::kFaults,
     "never answer STEP; keep reading until the client gives up", LpdStep<&LpdConfig::silentAt>},
    {"slow", "BPS", kTcpModes, Group::kFaults, "read at most BPS bytes per second of each job",
     Slow},
    {"silent", nullptr, kSnmpModes, Group::kFaults, "the agent never answers",
     [](PrinterSetup& s, const std::string&) {
         s.snmpConfig.silent = true;
         return std::string();
     }},
    {"late", "MS", kSnmpModes, Group::kFaults, "the agent answers MS milliseconds late",
     [](PrinterSetup& s, const std::string& v) {
         std::optional<std::uint32_t> ms = ParseNumber(v, kMaxLateMs);
         if (!ms) {
             return std::string("needs milliseconds, 0..600000");
         }
         s.snmpConfig.lateMs = *ms;
         return std::string();
     }},
    {"wrong-request-id", nullptr, kSnmpModes, Group::kFaults, "answer with the request id plus one",
     AgentSwitch<&SnmpAgentConfig::wrongRequestId>},
    {"error-status", "N", kSnmpModes, Group::kFaults,
     "answer every request with error-status N, error-index 1",
     [](PrinterSetup& s, const std::string& v) {
         std::optional<std::uint32_t> status = ParseNumber(v, INT32_MAX);
         if (!status) {
             return std::string("needs a number");
         }
         s.snmpConfig.agent.errorStatus = static_cast<std::int32_t>(*status);
         return std::string();
     }},
    {"not-a-printer", nullptr, kSnmpModes, Group::kFaults,
     "no Printer MIB: GetNext of 1.3.6.1.2.1.43 leaves it",
     AgentSwitch<&SnmpAgentConfig::printerMib, false>},

    {"condition", "NAME[@FROM[-TO]]", kAllModes, Group::kState,
     "the condition NAME (noPaper, jammed, doorOpen, lowToner, ...,\nor warmup) from FROM ms "
     "after the start to TO ms (default: from\nthe start, for good); may be repeated",
     Condition},
    {"control", "FIFO", kAllModes, Group::kState,
     "make and read the FIFO for commands, one a line: 'set NAME',\n'clear NAME', 'clear' "
     "(everything commands set), 'report'\n(the state and the counts, on stderr)",
     [](PrinterSetup& s, const std::string& v) {
         s.control = v;
         return std::string();
     }},
};

struct ModeText {
    unsigned mode;
    const char* usage;   // the usage line and what the mode does
    const char* faults;  // the heading of the faults
};

const ModeText kModeTexts[] = {
    {kModeRaw,
     "Usage: nvprinter raw --listen ADDR:PORT (--out DIR | --discard) [options]\n"
     "\n"
     "A printer's raw TCP port: every connection is one job, stored as DIR/job-NNNN.prn.\n"
     "Prints 'listening on ADDR:PORT' on stdout once ready, one line per job on stderr, and\n"
     "stops cleanly on SIGTERM or SIGINT.\n",
     "Faults:\n"},
    {kModeLpd,
     "Usage: nvprinter lpd --listen ADDR:PORT (--out DIR | --discard) [options]\n"
     "\n"
     "A printer's line printer daemon (RFC 1179) that receives jobs. Each connection carries\n"
     "one job: the receive-job command, the control file, then the data file. They are\n"
     "stored as DIR/job-NNNN.cf and DIR/job-NNNN.df. The conversation is checked strictly\n"
     "(source port 721..731, command order, file names, announced sizes, the 0x00 after each\n"
     "file, the control file's lines); a violation is reported on stderr and answered with\n"
     "0x01. Prints 'listening on ADDR:PORT' on stdout once ready, one summary line per job\n"
     "on stderr, and stops cleanly on SIGTERM or SIGINT.\n"
     "\n"
     "Summary status: 0 received, 1 protocol violation, 2 ended early by the client,\n"
     "3 ended by a fault option, 4 the simulator was stopped.\n",
     "Faults:\n"},
    {kModeSnmp,
     "Usage: nvprinter snmp --listen ADDR:PORT [options]\n"
     "\n"
     "An SNMPv1 agent that answers Get and GetNext like a network printer: ifPhysAddress.1,\n"
     "hrDeviceTable, hrPrinterTable, ipAdEntNetMask, ipRouteNextHop and the Printer MIB.\n"
     "Requests with another community get no reply. Prints 'nvprinter snmp: listening on\n"
     "ADDR:PORT' on stdout once ready, one line per request on stderr, and stops cleanly on\n"
     "SIGTERM or SIGINT.\n",
     "Faults:\n"},
    {kModePrinter,
     "Usage: nvprinter printer [--raw ADDR:PORT] [--lpd ADDR:PORT] [--snmp ADDR:PORT]\n"
     "                         (--out DIR | --discard) [options]\n"
     "\n"
     "One printer with any of its raw TCP port, line printer daemon and SNMP agent, in one\n"
     "process and one state: while a critical condition lasts (noPaper, noToner, doorOpen,\n"
     "jammed, offline, a tray or supply missing, outputFull) it reads no job, on either\n"
     "port, and its agent reports it (hrDeviceStatus down, hrPrinterStatus other, the bits\n"
     "of hrPrinterDetectedErrorState); the other conditions are warnings. Prints 'raw\n"
     "listening on ADDR:PORT' (and 'lpd ...', 'snmp ...') on stdout once ready, and stops\n"
     "cleanly on SIGTERM or SIGINT, with the count of SNMP datagrams it received on stderr.\n",
     "Faults (of the raw port; of the LPD; of the agent):\n"},
};

const ModeText& TextOf(unsigned mode) {
    for (const ModeText& text : kModeTexts) {
        if (text.mode == mode) {
            return text;
        }
    }
    return kModeTexts[0];
}

// "  --name VALUE         help", later help lines under the first.
void PrintOption(const OptionSpec& o) {
    std::string head = std::string("--") + o.name + (o.value != nullptr ? " " : "") +
                       (o.value != nullptr ? o.value : "");
    std::string help = o.help;
    std::string indent(23, ' ');
    for (std::size_t lf = help.find('\n'); lf != std::string::npos; lf = help.find('\n', lf + 1)) {
        help.insert(lf + 1, indent);
    }
    if (head.size() > 20) {
        std::printf("  %s\n%s%s\n", head.c_str(), indent.c_str(), help.c_str());
    } else {
        std::printf("  %-20s %s\n", head.c_str(), help.c_str());
    }
}

void PrintHelp(unsigned mode) {
    const ModeText& text = TextOf(mode);
    std::fputs(text.usage, stdout);
    const struct {
        Group group;
        const char* heading;
    } groups[] = {{Group::kGeneral, "\n"},
                  {Group::kFaults, text.faults},
                  {Group::kState, "State (while it runs):\n"}};
    for (const auto& g : groups) {
        if (g.group != Group::kGeneral) {
            std::fputs("\n", stdout);
        }
        std::fputs(g.heading, stdout);
        for (const OptionSpec& o : kOptions) {
            if ((o.modes & mode) != 0 && o.group == g.group) {
                PrintOption(o);
            }
        }
    }
    std::fputs("  -h, --help           show this help\n", stdout);
}

int UsageError(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, message.c_str(), program);
    return kExitUsage;
}

// What a mode needs besides its options; empty, or the complaint.
std::string MissingPart(const PrinterSetup& s) {
    const bool kept = !s.rawConfig.out.empty() || s.discard;
    switch (s.mode) {
        case kModeRaw:
            return s.raw && (kept || s.rawConfig.refuse)
                       ? ""
                       : "--listen ADDR:PORT and --out DIR (or --discard) are needed";
        case kModeLpd:
            return s.lpd && kept ? ""
                                 : "--listen ADDR:PORT and --out DIR (or --discard) are needed";
        case kModeSnmp:
            return s.snmp ? "" : "--listen ADDR:PORT is required";
        default:
            if (!s.raw && !s.lpd && !s.snmp) {
                return "--raw, --lpd or --snmp ADDR:PORT is needed";
            }
            return (s.raw || s.lpd) && !kept && !(s.raw && !s.lpd && s.rawConfig.refuse)
                       ? "--out DIR (or --discard) is needed"
                       : "";
    }
}

}  // namespace

std::optional<int> ParseCommandLine(unsigned mode, int argc, char** argv, PrinterSetup* setup) {
    setup->mode = mode;
    const char* program = argv[0];
    std::vector<option> longOptions;
    std::vector<const OptionSpec*> specs;
    for (const OptionSpec& o : kOptions) {
        if ((o.modes & mode) != 0) {
            longOptions.push_back(option{o.name,
                                         o.value != nullptr ? required_argument : no_argument,
                                         nullptr, static_cast<int>(1000 + specs.size())});
            specs.push_back(&o);
        }
    }
    longOptions.push_back(option{"help", no_argument, nullptr, 'h'});
    longOptions.push_back(option{nullptr, 0, nullptr, 0});
    opterr = 0;  // our own messages, in one format
    optind = 1;
    int id;
    while ((id = getopt_long(argc, argv, ":h", longOptions.data(), nullptr)) != -1) {
        if (id == 'h') {
            PrintHelp(mode);
            return kExitOk;
        }
        if (id == ':') {
            return UsageError(program, std::string(argv[optind - 1]) + " needs a value");
        }
        if (id < 1000 || static_cast<std::size_t>(id - 1000) >= specs.size()) {
            return UsageError(program, std::string("unknown option '") + argv[optind - 1] + "'");
        }
        const OptionSpec& spec = *specs[static_cast<std::size_t>(id - 1000)];
        const std::string problem = spec.apply(*setup, optarg != nullptr ? optarg : "");
        if (!problem.empty()) {
            return UsageError(program, std::string("--") + spec.name + " " + problem);
        }
    }
    if (optind < argc) {
        return UsageError(program, std::string("unexpected argument '") + argv[optind] + "'");
    }
    const std::string missing = MissingPart(*setup);
    if (!missing.empty()) {
        return UsageError(program, missing);
    }
    if (setup->discard) {
        setup->rawConfig.out.clear();
        setup->lpdConfig.out.clear();
    }
    return std::nullopt;
}

}  // namespace nvprinter
