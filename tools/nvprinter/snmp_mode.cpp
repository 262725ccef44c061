// nvprinter snmp: the SNMPv1 agent of the printer simulator on a UDP socket.
//
// Requests may arrive at the bound address or, with a wildcard bind, at a broadcast address.
// Every reply leaves from the same socket with a unicast source: the address the request was
// sent to, or for a broadcast the address of the interface it came in on (IP_PKTINFO). A reply
// from the broadcast address itself would never reach the manager.
#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>

#include "tools/nvprinter/modes.h"
#include "tools/nvprinter/options.h"
#include "tools/nvprinter/snmp_agent.h"
#include "tools/nvprinter/stop_signals.h"

namespace nvprinter {

namespace {

using Clock = std::chrono::steady_clock;

const char kSnmpUsage[] =
    "Usage: nvprinter snmp --listen ADDR:PORT [options]\n"
    "\n"
    "An SNMPv1 agent that answers Get and GetNext like a network printer: ifPhysAddress.1,\n"
    "hrDeviceTable, ipAdEntNetMask, ipRouteNextHop and the Printer MIB. Requests with another\n"
    "community get no reply. Prints 'listening on ADDR:PORT' on stdout once ready, one line\n"
    "per request on stderr, and stops cleanly on SIGTERM or SIGINT.\n"
    "\n"
    "  --listen ADDR:PORT     UDP address to bind (port 0: any free port). With 0.0.0.0 the\n"
    "                         agent also answers broadcasts (127.255.255.255 on loopback)\n"
    "  --community TEXT       the read community (default commro)\n"
    "  --mac HEX              ifPhysAddress.1, 12 hex digits, ':' or '-' allowed\n"
    "                         (default 021a2b3c4d5e)\n"
    "  --mac-length 0|6|8     octets in ifPhysAddress.1 (8: the MAC and 00 01)\n"
    "  --device-index N       hrDeviceIndex of the printer (default 1; 768 and 1025 are the\n"
    "                         simulated processor and network device)\n"
    "  --description TEXT     hrDeviceDescr of the printer (and prtGeneralPrinterName)\n"
    "  --address A.B.C.D      index of the ipAddrTable row (default: the listen address, or\n"
    "                         with 0.0.0.0 the address each request arrived at)\n"
    "  --mask A.B.C.D         ipAdEntNetMask of that row (default 255.255.255.0)\n"
    "  --gateway A.B.C.D      ipRouteNextHop.0.0.0.0; 0.0.0.0 (default) means no default\n"
    "                         route, so the route row does not exist (noSuchName)\n"
    "\n"
    "Faults:\n"
    "  --silent               never answer\n"
    "  --late MS              answer MS milliseconds late\n"
    "  --wrong-request-id     answer with the request id plus one\n"
    "  --error-status N       answer every request with error-status N, error-index 1\n"
    "  --not-a-printer        no Printer MIB: GetNext of 1.3.6.1.2.1.43 leaves it\n"
    "\n"
    "  --quiet                no log lines on stderr\n"
    "  -h, --help             show this help\n";

constexpr std::uint32_t kMaxLateMs = 600000;           // ten minutes is later than any test waits
constexpr std::uint32_t kMaxDeviceIndex = 2147483647;  // hrDeviceIndex is 1..2147483647

struct SnmpOptions {
    Endpoint listen;
    bool haveListen = false;
    SnmpAgentConfig agent;
    bool silent = false;
    std::uint32_t lateMs = 0;
    bool quiet = false;
};

int UsageError(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, message.c_str(), program);
    return kExitUsage;
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
bool ParseMac(std::string_view text, std::array<std::uint8_t, 6>& mac) {
    std::array<std::uint8_t, 6> octets{};
    std::size_t digits = 0;
    for (char c : text) {
        if (c == ':' || c == '-') {
            continue;
        }
        const int value = HexDigit(c);
        if (value < 0 || digits == 12) {
            return false;
        }
        octets[digits / 2] = static_cast<std::uint8_t>(octets[digits / 2] << 4 | value);
        ++digits;
    }
    if (digits != 12) {
        return false;
    }
    mac = octets;
    return true;
}

enum OptionId {
    kListen = 256,
    kCommunity,
    kMac,
    kMacLength,
    kDeviceIndex,
    kDescription,
    kAddress,
    kMask,
    kGateway,
    kSilent,
    kLate,
    kWrongRequestId,
    kErrorStatus,
    kNotAPrinter,
    kQuiet,
};

// Fills options; a value means "do not run, exit with this code" (help, bad command line).
std::optional<int> ParseOptions(int argc, char** argv, SnmpOptions& options) {
    static const option kLongOptions[] = {
        {"listen", required_argument, nullptr, kListen},
        {"community", required_argument, nullptr, kCommunity},
        {"mac", required_argument, nullptr, kMac},
        {"mac-length", required_argument, nullptr, kMacLength},
        {"device-index", required_argument, nullptr, kDeviceIndex},
        {"description", required_argument, nullptr, kDescription},
        {"address", required_argument, nullptr, kAddress},
        {"mask", required_argument, nullptr, kMask},
        {"gateway", required_argument, nullptr, kGateway},
        {"silent", no_argument, nullptr, kSilent},
        {"late", required_argument, nullptr, kLate},
        {"wrong-request-id", no_argument, nullptr, kWrongRequestId},
        {"error-status", required_argument, nullptr, kErrorStatus},
        {"not-a-printer", no_argument, nullptr, kNotAPrinter},
        {"quiet", no_argument, nullptr, kQuiet},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    const char* program = argv[0];
    SnmpAgentConfig& agent = options.agent;
    optind = 1;
    opterr = 0;  // our own messages, in one format
    int id;
    while ((id = getopt_long(argc, argv, ":h", kLongOptions, nullptr)) != -1) {
        const std::string value = optarg != nullptr ? optarg : "";
        std::optional<Ipv4> address;
        std::optional<std::uint32_t> number;
        switch (id) {
            case 'h':
                std::fputs(kSnmpUsage, stdout);
                return kExitOk;
            case kListen: {
                std::optional<Endpoint> endpoint = ParseEndpoint(value);
                if (!endpoint) {
                    return UsageError(program, "--listen needs ADDR:PORT, not '" + value + "'");
                }
                options.listen = *endpoint;
                options.haveListen = true;
                break;
            }
            case kCommunity:
                agent.community = value;
                break;
            case kMac:
                if (!ParseMac(value, agent.mac)) {
                    return UsageError(program, "--mac needs 12 hex digits, not '" + value + "'");
                }
                break;
            case kMacLength:
                number = ParseNumber(value, 8);
                if (!number || (*number != 0 && *number != 6 && *number != 8)) {
                    return UsageError(program, "--mac-length must be 0, 6 or 8");
                }
                agent.macLength = *number;
                break;
            case kDeviceIndex:
                number = ParseNumber(value, kMaxDeviceIndex);
                if (!number || *number == 0) {
                    return UsageError(program, "--device-index must be 1..2147483647");
                }
                if (*number == kProcessorDeviceIndex || *number == kNetworkDeviceIndex) {
                    return UsageError(program, "--device-index " + value +
                                                   " is taken by the simulated processor (768) "
                                                   "or network device (1025)");
                }
                agent.deviceIndex = *number;
                break;
            case kDescription:
                agent.description = value;
                break;
            case kAddress:
            case kMask:
            case kGateway:
                address = ParseIpv4(value);
                if (!address) {
                    return UsageError(program, "'" + value + "' is not an IPv4 address");
                }
                if (id == kAddress) {
                    agent.address = *address;
                } else if (id == kMask) {
                    agent.mask = *address;
                } else {
                    agent.gateway = *address;
                }
                break;
            case kSilent:
                options.silent = true;
                break;
            case kLate:
                number = ParseNumber(value, kMaxLateMs);
                if (!number) {
                    return UsageError(program, "--late needs milliseconds, 0..600000");
                }
                options.lateMs = *number;
                break;
            case kWrongRequestId:
                agent.wrongRequestId = true;
                break;
            case kErrorStatus:
                number = ParseNumber(value, INT32_MAX);
                if (!number) {
                    return UsageError(program, "--error-status needs a number");
                }
                agent.errorStatus = static_cast<std::int32_t>(*number);
                break;
            case kNotAPrinter:
                agent.printerMib = false;
                break;
            case kQuiet:
                options.quiet = true;
                break;
            case ':':
                return UsageError(program, std::string(argv[optind - 1]) + " needs a value");
            default:
                return UsageError(program,
                                  std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc) {
        return UsageError(program, std::string("unexpected argument '") + argv[optind] + "'");
    }
    if (!options.haveListen) {
        return UsageError(program, "--listen ADDR:PORT is required");
    }
    return std::nullopt;
}

sockaddr_in ToSockaddr(const Endpoint& endpoint) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    std::memcpy(&address.sin_addr, endpoint.address.data(), 4);
    return address;
}

Endpoint FromSockaddr(const sockaddr_in& address) {
    Endpoint endpoint;
    std::memcpy(endpoint.address.data(), &address.sin_addr, 4);
    endpoint.port = ntohs(address.sin_port);
    return endpoint;
}

Ipv4 FromInAddr(const in_addr& address) {
    Ipv4 octets;
    std::memcpy(octets.data(), &address, 4);
    return octets;
}

// One datagram as it arrived: who sent it, where to, and on which local address.
struct Received {
    sockaddr_in peer = {};
    in_addr destination = {};  // as addressed (may be a broadcast address)
    in_addr local = {};        // the local unicast address to answer from
    std::size_t size = 0;
};

// A reply held back by --late.
struct Pending {
    Clock::time_point due;
    sockaddr_in peer;
    in_addr local;
    snmp::Bytes datagram;
};

class Agent {
  public:
    explicit Agent(const SnmpOptions& options) : options_(options), started_(Clock::now()) {}
    ~Agent() {
        if (socket_ >= 0) {
            close(socket_);
        }
    }

    int Run(const char* program) {
        // SNMP's largest datagram, plus one octet to notice anything longer.
        buffer_.resize(snmp::kMaxMessageSize + 1);
        // Armed before the ready line goes out, so a stop sent right after it is never lost.
        StopSignals stop;
        if (!Open(program)) {
            return kExitFailure;
        }
        while (!stop.stopRequested()) {
            pollfd descriptor = {socket_, POLLIN, 0};
            timespec timeout;
            const timespec* wait = NextTimeout(timeout);
            const int ready = ppoll(&descriptor, 1, wait, stop.waitMask());
            if (ready < 0 && errno != EINTR) {
                const int error = errno;
                std::fprintf(stderr, "%s: poll: %s\n", program, std::strerror(error));
                return kExitFailure;
            }
            if (ready > 0) {
                ReceiveAll();
            }
            SendDue();
        }
        if (!options_.quiet) {
            std::fprintf(stderr, "%s: stopped\n", program);
        }
        return kExitOk;
    }

  private:
    bool Open(const char* program) {
        socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket_ < 0) {
            const int error = errno;
            std::fprintf(stderr, "%s: socket: %s\n", program, std::strerror(error));
            return false;
        }
        const int on = 1;
        setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        const sockaddr_in address = ToSockaddr(options_.listen);
        if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            std::fprintf(stderr, "%s: cannot bind %s: %s\n", program,
                         FormatEndpoint(options_.listen).c_str(), std::strerror(error));
            return false;
        }
        sockaddr_in bound = {};
        socklen_t length = sizeof bound;
        getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &length);
        prefix_ = std::string(program) + ": ";
        // The ready line goes to stdout, so scripts and tests learn a port chosen with :0.
        std::printf("%slistening on %s\n", prefix_.c_str(),
                    FormatEndpoint(FromSockaddr(bound)).c_str());
        std::fflush(stdout);
        return true;
    }

    bool ReceiveOne(Received& received) {
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        iovec data = {buffer_.data(), buffer_.size()};
        msghdr message = {};
        message.msg_name = &received.peer;
        message.msg_namelen = sizeof received.peer;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = recvmsg(socket_, &message, 0);
        if (size < 0) {
            return false;  // EAGAIN: drained; anything else: try again on the next poll
        }
        received.size = static_cast<std::size_t>(size);
        if (message.msg_flags & MSG_TRUNC) {
            received.size = buffer_.size();  // longer than any SNMP message; refused below
        }
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(header), sizeof info);
                received.destination = info.ipi_addr;
                received.local = info.ipi_spec_dst;
            }
        }
        return true;
    }

    void ReceiveAll() {
        Received received;
        while (ReceiveOne(received)) {
            Handle(received);
            received = Received();
        }
    }

    // The index of the ipAddrTable row: --address, else the bound address, else (wildcard
    // bind) the local address this request came in on, as a host with that address would say.
    Ipv4 OwnAddress(const Received& received) const {
        if (options_.agent.address) {
            return *options_.agent.address;
        }
        if (!IsAnyAddress(options_.listen.address)) {
            return options_.listen.address;
        }
        return FromInAddr(received.local);
    }

    void Handle(const Received& received) {
        const Ipv4 own = OwnAddress(received);
        const auto uptime =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count() /
            10;
        const ObjectSet objects =
            BuildObjects(options_.agent, own, static_cast<std::uint32_t>(uptime));
        SnmpOutcome outcome =
            AnswerRequest(options_.agent, objects, std::span(buffer_.data(), received.size));

        std::string note;
        if (outcome.reply && options_.silent) {
            note = " [silent: not sent]";
            outcome.reply.reset();
        } else if (outcome.reply && options_.lateMs > 0) {
            note = " [sent after " + std::to_string(options_.lateMs) + " ms]";
            pending_.push_back({Clock::now() + std::chrono::milliseconds(options_.lateMs),
                                received.peer, received.local, std::move(*outcome.reply)});
            outcome.reply.reset();
        }
        // The line is written before the answer leaves, so whoever reads the answer can
        // already find it in the log.
        if (!options_.quiet) {
            std::fprintf(stderr, "%s%s -> %s: %s%s\n", prefix_.c_str(),
                         FormatEndpoint(FromSockaddr(received.peer)).c_str(),
                         FormatIpv4(FromInAddr(received.destination)).c_str(), outcome.log.c_str(),
                         note.c_str());
        }
        if (outcome.reply) {
            Send(received.peer, received.local, *outcome.reply);
        }
    }

    // Answers from the given local address whatever the socket is bound to.
    void Send(const sockaddr_in& peer, const in_addr& local, const snmp::Bytes& datagram) {
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        iovec data = {const_cast<std::uint8_t*>(datagram.data()), datagram.size()};
        msghdr message = {};
        message.msg_name = const_cast<sockaddr_in*>(&peer);
        message.msg_namelen = sizeof peer;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info = {};
        info.ipi_spec_dst = local;
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
        if (sendmsg(socket_, &message, 0) < 0 && !options_.quiet) {
            const int error = errno;
            std::fprintf(stderr, "%ssend to %s: %s\n", prefix_.c_str(),
                         FormatEndpoint(FromSockaddr(peer)).c_str(), std::strerror(error));
        }
    }

    // Replies are queued in arrival order and all wait the same time, so the front is due
    // first.
    void SendDue() {
        const Clock::time_point now = Clock::now();
        while (!pending_.empty() && pending_.front().due <= now) {
            Send(pending_.front().peer, pending_.front().local, pending_.front().datagram);
            pending_.pop_front();
        }
    }

    const timespec* NextTimeout(timespec& timeout) const {
        if (pending_.empty()) {
            return nullptr;
        }
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(pending_.front().due -
                                                                         Clock::now());
        if (wait.count() < 0) {
            wait = std::chrono::nanoseconds(0);
        }
        timeout.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
        timeout.tv_nsec = static_cast<long>(wait.count() % 1000000000);
        return &timeout;
    }

    const SnmpOptions& options_;
    const Clock::time_point started_;
    int socket_ = -1;
    std::string prefix_;
    std::vector<std::uint8_t> buffer_;
    std::deque<Pending> pending_;
};

}  // namespace

int RunSnmp(int argc, char** argv) {
    SnmpOptions options;
    if (std::optional<int> exitCode = ParseOptions(argc, argv, options)) {
        return *exitCode;
    }
    Agent agent(options);
    return agent.Run(argv[0]);
}

}  // namespace nvprinter
