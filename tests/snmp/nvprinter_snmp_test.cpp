// nvprinter snmp as a black box: the built simulator, queried over loopback UDP with the codec
// (and with net-snmp's snmpget/snmpgetnext where they are installed).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "snmp/message.h"
#include "tests/support/test_env.h"

extern char** environ;

using namespace snmp;

namespace {

const Oid kIfPhysAddress1 = *Oid::Parse("2.2.1.6.1");
const Oid kPrinterMib = *Oid::Parse("43");
const Oid kPrtGeneralConfigChanges1 = *Oid::Parse("43.5.1.1.1.1");
const Oid kHrDeviceType = *Oid::Parse("25.3.2.1.2");
const Oid kHrDevicePrinter = *Oid::Parse("25.3.1.5");

std::string SimulatorPath() {
    return nvtest::BuildDir() + "/bin/nvprinter";
}

// One running "nvprinter snmp"; stopped with SIGTERM when the test is done with it.
class Simulator {
  public:
    explicit Simulator(std::vector<std::string> options, const std::string& listen = "127.0.0.1:0")
        : log_(dir_.file("stderr.log")) {
        std::vector<std::string> args = {SimulatorPath(), "snmp", "--listen", listen};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);

        int out[2];
        if (pipe(out) != 0) {
            ADD_FAILURE() << "pipe failed";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (spawned != 0) {
            pid_ = -1;
            close(out[0]);
            ADD_FAILURE() << "cannot start " << argv[0];
            return;
        }
        // The ready line: "nvprinter snmp: listening on 127.0.0.1:PORT".
        std::string line;
        char c;
        pollfd ready = {out[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&ready, 1, 10000) > 0 &&
               read(out[0], &c, 1) == 1) {
            line += c;
        }
        close(out[0]);
        const std::size_t colon = line.rfind(':');
        if (line.find("listening on") == std::string::npos || colon == std::string::npos) {
            ADD_FAILURE() << "no ready line from the simulator; log:\n" << Log();
            return;
        }
        port_ = static_cast<std::uint16_t>(std::stoi(line.substr(colon + 1)));
    }

    ~Simulator() {
        if (pid_ > 0) {
            Stop(SIGTERM);
        }
    }

    std::uint16_t port() const { return port_; }

    // Sends signal and returns the exit code, or -1 if the process did not exit normally.
    int Stop(int signal) {
        if (pid_ <= 0) {
            return -1;  // never started (or already stopped): there is nothing to signal
        }
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Log() const {
        std::ifstream file(log_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

  private:
    nvtest::TempDir dir_;
    std::string log_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

// A manager's UDP socket on 127.0.0.1.
class Client {
  public:
    Client() {
        socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        const int on = 1;
        setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    ~Client() { close(socket_); }

    void Send(const Bytes& datagram, std::uint16_t port, const char* address = "127.0.0.1") {
        ASSERT_NE(port, 0) << "the simulator did not start";
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address, &to.sin_addr);
        ASSERT_EQ(sendto(socket_, datagram.data(), datagram.size(), 0,
                         reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(datagram.size()));
    }

    std::optional<Bytes> Receive(int timeoutMs, std::string* from = nullptr) {
        pollfd readable = {socket_, POLLIN, 0};
        if (poll(&readable, 1, timeoutMs) <= 0) {
            return std::nullopt;
        }
        Bytes datagram(kMaxMessageSize);
        sockaddr_in source = {};
        socklen_t length = sizeof source;
        const ssize_t size = recvfrom(socket_, datagram.data(), datagram.size(), 0,
                                      reinterpret_cast<sockaddr*>(&source), &length);
        if (size < 0) {
            return std::nullopt;
        }
        datagram.resize(static_cast<std::size_t>(size));
        if (from != nullptr) {
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &source.sin_addr, text, sizeof text);
            *from = text;
        }
        return datagram;
    }

    // One request and its decoded answer, or nullopt when none came within timeoutMs.
    std::optional<Message> Ask(std::uint16_t port, PduType type, std::vector<Oid> names,
                               const char* community = "commro", int timeoutMs = 5000) {
        if (port == 0) {
            ADD_FAILURE() << "the simulator did not start";
            return std::nullopt;
        }
        Result<Bytes> request = EncodeRequest(type, community, ++requestId_, names);
        EXPECT_TRUE(request.ok());
        Send(*request, port);
        std::optional<Bytes> answer = Receive(timeoutMs);
        if (!answer) {
            return std::nullopt;
        }
        Result<Message> response = DecodeResponse(*answer);
        EXPECT_TRUE(response.ok()) << ErrorText(response.error());
        if (!response) {
            return std::nullopt;
        }
        return *response;
    }

    // The value of one object by Get, failing the test if it is not there.
    Value Get(std::uint16_t port, const Oid& name) {
        std::optional<Message> answer = Ask(port, PduType::GetRequest, {name});
        if (!answer || answer->pdu.errorStatus != kNoError || answer->pdu.varbinds.size() != 1) {
            ADD_FAILURE() << "no value for " << name.ToString();
            return Value();
        }
        return answer->pdu.varbinds[0].value;
    }

    std::int32_t lastRequestId() const { return requestId_; }

  private:
    int socket_ = -1;
    std::int32_t requestId_ = 1000;
};

// Runs a command line through the shell; returns its exit code and what it printed.
int RunCommand(const std::string& command, std::string* output) {
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    std::size_t size;
    output->clear();
    while ((size = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output->append(buffer, size);
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The variable bindings that net-snmp's tools print with -On, one ".1.3..." line each, without
// anything else they may print (a first run, for instance, announces the directories it creates).
std::string BindingLines(const std::string& output) {
    std::string lines;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        end = end == std::string::npos ? output.size() : end + 1;
        if (output.compare(start, 3, ".1.") == 0) {
            lines.append(output, start, end - start);
        }
        start = end;
    }
    return lines;
}

}  // namespace

TEST(NvprinterSnmp, GetNextOfPrinterMibRootAnswersInsideIt) {
    Simulator simulator({});
    Client client;
    std::optional<Message> answer =
        client.Ask(simulator.port(), PduType::GetNextRequest, {kPrinterMib});
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->community, "commro");
    EXPECT_EQ(answer->pdu.requestId, client.lastRequestId());
    EXPECT_EQ(answer->pdu.errorStatus, kNoError);
    ASSERT_EQ(answer->pdu.varbinds.size(), 1u);
    EXPECT_EQ(answer->pdu.varbinds[0].name, kPrtGeneralConfigChanges1);
    EXPECT_EQ(answer->pdu.varbinds[0].value, Value::Counter(7));
}

TEST(NvprinterSnmp, IfPhysAddressIsTheConfiguredMac) {
    struct Case {
        std::vector<std::string> options;
        Bytes expected;
    } cases[] = {
        {{}, {0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
        {{"--mac", "00:80:77:ab:CD:ef"}, {0x00, 0x80, 0x77, 0xab, 0xcd, 0xef}},
        {{"--mac-length", "0"}, {}},
        {{"--mac", "0a0b0c0d0e0f", "--mac-length", "8"},
         {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x00, 0x01}},
    };
    Client client;
    for (const Case& c : cases) {
        Simulator simulator(c.options);
        EXPECT_EQ(client.Get(simulator.port(), kIfPhysAddress1), Value::OctetString(c.expected))
            << ::testing::PrintToString(c.options);
    }
}

TEST(NvprinterSnmp, HrDeviceTableHasThePrinterAtItsIndexAmongOtherDevices) {
    Simulator simulator({"--device-index", "3", "--description", "Lab Printer 1"});
    Client client;
    // Walk the hrDeviceType column as discovery would.
    std::vector<std::pair<std::uint32_t, Oid>> types;
    Oid cursor = kHrDeviceType;
    while (true) {
        std::optional<Message> answer =
            client.Ask(simulator.port(), PduType::GetNextRequest, {cursor});
        ASSERT_TRUE(answer.has_value());
        ASSERT_EQ(answer->pdu.errorStatus, kNoError);
        cursor = answer->pdu.varbinds[0].name;
        if (!cursor.StartsWith(kHrDeviceType) || types.size() > 10) {
            break;
        }
        ASSERT_NE(answer->pdu.varbinds[0].value.AsOid(), nullptr);
        types.push_back({cursor.arcs().back(), *answer->pdu.varbinds[0].value.AsOid()});
    }
    ASSERT_GE(types.size(), 3u);
    int printers = 0;
    for (const auto& [index, type] : types) {
        if (type == kHrDevicePrinter) {
            ++printers;
            EXPECT_EQ(index, 3u);
        }
    }
    EXPECT_EQ(printers, 1);
    EXPECT_EQ(client.Get(simulator.port(), *Oid::Parse("25.3.2.1.1.3")), Value::Integer(3));
    EXPECT_EQ(client.Get(simulator.port(), *Oid::Parse("25.3.2.1.3.3")),
              Value::OctetString("Lab Printer 1"));
}

TEST(NvprinterSnmp, NetMaskRowAndDefaultRoute) {
    const Oid mask127 = *Oid::Parse("4.20.1.3.127.0.0.1");
    const Oid nextHop = *Oid::Parse("4.21.1.7.0.0.0.0");
    Client client;
    {
        // Defaults: the row of the listen address, /24, and no default route at all.
        Simulator simulator({});
        EXPECT_EQ(client.Get(simulator.port(), mask127), Value::IpAddress({255, 255, 255, 0}));
        std::optional<Message> answer =
            client.Ask(simulator.port(), PduType::GetRequest, {nextHop});
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->pdu.errorStatus, kNoSuchName);
    }
    {
        Simulator simulator(
            {"--address", "192.0.2.10", "--mask", "255.255.0.0", "--gateway", "192.0.2.1"});
        EXPECT_EQ(client.Get(simulator.port(), *Oid::Parse("4.20.1.3.192.0.2.10")),
                  Value::IpAddress({255, 255, 0, 0}));
        EXPECT_EQ(client.Get(simulator.port(), nextHop), Value::IpAddress({192, 0, 2, 1}));
        std::optional<Message> answer =
            client.Ask(simulator.port(), PduType::GetRequest, {mask127});
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->pdu.errorStatus, kNoSuchName);
    }
}

TEST(NvprinterSnmp, MissingObjectsGiveNoSuchNameWithTheirIndex) {
    Simulator simulator({});
    Client client;
    // Get: the second of three is missing; the answer repeats the request's bindings.
    const std::vector<Oid> names = {kIfPhysAddress1, *Oid::Parse("43.99.0"), kPrinterMib};
    std::optional<Message> answer = client.Ask(simulator.port(), PduType::GetRequest, names);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->pdu.errorStatus, kNoSuchName);
    EXPECT_EQ(answer->pdu.errorIndex, 2);
    ASSERT_EQ(answer->pdu.varbinds.size(), 3u);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(answer->pdu.varbinds[i], (VarBind{names[i], Value::Null()}));
    }
    // GetNext past the last object: the end of the view.
    answer = client.Ask(simulator.port(), PduType::GetNextRequest, {kPrinterMib, Oid{2, 999}});
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->pdu.errorStatus, kNoSuchName);
    EXPECT_EQ(answer->pdu.errorIndex, 2);
}

TEST(NvprinterSnmp, GetNextWalksEveryObjectInIncreasingOrder) {
    Simulator simulator({});
    Client client;
    Oid cursor{0, 0};
    std::vector<Oid> walked;
    while (walked.size() < 200) {
        std::optional<Message> answer =
            client.Ask(simulator.port(), PduType::GetNextRequest, {cursor});
        ASSERT_TRUE(answer.has_value());
        if (answer->pdu.errorStatus == kNoSuchName) {
            break;
        }
        ASSERT_EQ(answer->pdu.errorStatus, kNoError);
        ASSERT_GT(answer->pdu.varbinds[0].name, cursor);
        cursor = answer->pdu.varbinds[0].name;
        walked.push_back(cursor);
    }
    EXPECT_GT(walked.size(), 15u);
    EXPECT_LT(walked.size(), 200u);
    EXPECT_NE(std::find(walked.begin(), walked.end(), kIfPhysAddress1), walked.end());
    EXPECT_NE(std::find(walked.begin(), walked.end(), kPrtGeneralConfigChanges1), walked.end());
}

TEST(NvprinterSnmp, WrongCommunityAndGarbageGetNoReplyAndDoNoHarm) {
    Simulator simulator({});
    Client client;
    EXPECT_FALSE(client.Ask(simulator.port(), PduType::GetRequest, {kIfPhysAddress1}, "public", 300)
                     .has_value());
    client.Send({0x30, 0x80, 0x00, 0x00}, simulator.port());
    client.Send(Bytes(3000, 0xff), simulator.port());
    EXPECT_FALSE(client.Receive(300).has_value());
    EXPECT_TRUE(client.Ask(simulator.port(), PduType::GetRequest, {kIfPhysAddress1}).has_value());
}

TEST(NvprinterSnmp, SetIsRefusedAsReadOnly) {
    Simulator simulator({});
    Client client;
    Message set;
    set.community = "commro";
    set.pdu.type = PduType::SetRequest;
    set.pdu.requestId = 77;
    set.pdu.varbinds.push_back({*Oid::Parse("1.5.0"), Value::OctetString("renamed")});
    client.Send(*Encode(set), simulator.port());
    std::optional<Bytes> answer = client.Receive(5000);
    ASSERT_TRUE(answer.has_value());
    Result<Message> response = DecodeResponse(*answer);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response->pdu.errorStatus, kNoSuchName);
    EXPECT_EQ(response->pdu.errorIndex, 1);
    EXPECT_EQ(client.Get(simulator.port(), *Oid::Parse("1.5.0")), Value::OctetString("nvprinter"));
}

TEST(NvprinterSnmp, AnswersABroadcastFromAUnicastAddress) {
    Simulator simulator({}, "0.0.0.0:0");
    Client client;
    Result<Bytes> request = EncodeRequest(PduType::GetRequest, "commro", 5,
                                          std::vector<Oid>{*Oid::Parse("4.20.1.3.127.0.0.1")});
    ASSERT_TRUE(request.ok());
    client.Send(*request, simulator.port(), "127.255.255.255");
    std::string from;
    std::optional<Bytes> answer = client.Receive(5000, &from);
    ASSERT_TRUE(answer.has_value()) << simulator.Log();
    EXPECT_EQ(from, "127.0.0.1");
    // With a wildcard bind the address row is the one the request came in on.
    Result<Message> response = DecodeResponse(*answer);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response->pdu.errorStatus, kNoError);
    EXPECT_NE(simulator.Log().find("-> 127.255.255.255: GetRequest"), std::string::npos)
        << simulator.Log();
}

TEST(NvprinterSnmpFaults, SilentNeverAnswers) {
    Simulator simulator({"--silent"});
    Client client;
    EXPECT_FALSE(client.Ask(simulator.port(), PduType::GetRequest, {kIfPhysAddress1}, "commro", 500)
                     .has_value());
}

TEST(NvprinterSnmpFaults, LateAnswersAfterTheDelay) {
    Simulator simulator({"--late", "600"});
    Client client;
    Result<Bytes> request =
        EncodeRequest(PduType::GetRequest, "commro", 9, std::vector<Oid>{kIfPhysAddress1});
    const auto sent = std::chrono::steady_clock::now();
    client.Send(*request, simulator.port());
    std::optional<Bytes> answer = client.Receive(10000);
    ASSERT_TRUE(answer.has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(600));
    EXPECT_EQ(DecodeResponse(*answer)->pdu.requestId, 9);
}

TEST(NvprinterSnmpFaults, WrongRequestIdAnswersWithAnotherId) {
    Simulator simulator({"--wrong-request-id"});
    Client client;
    std::optional<Message> answer =
        client.Ask(simulator.port(), PduType::GetRequest, {kIfPhysAddress1});
    ASSERT_TRUE(answer.has_value());
    EXPECT_NE(answer->pdu.requestId, client.lastRequestId());
    EXPECT_EQ(answer->pdu.errorStatus, kNoError);
}

TEST(NvprinterSnmpFaults, ErrorStatusAnswersEveryRequestWithIt) {
    Simulator simulator({"--error-status", "5"});
    Client client;
    for (PduType type : {PduType::GetRequest, PduType::GetNextRequest}) {
        std::optional<Message> answer = client.Ask(simulator.port(), type, {kIfPhysAddress1});
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->pdu.errorStatus, kGenErr);
        EXPECT_EQ(answer->pdu.errorIndex, 1);
    }
}

TEST(NvprinterSnmpFaults, NotAPrinterHasNoPrinterMib) {
    Simulator simulator({"--not-a-printer"});
    Client client;
    std::optional<Message> answer =
        client.Ask(simulator.port(), PduType::GetNextRequest, {kPrinterMib});
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->pdu.errorStatus, kNoError);
    EXPECT_FALSE(answer->pdu.varbinds[0].name.StartsWith(kPrinterMib))
        << answer->pdu.varbinds[0].name.ToString();
    EXPECT_EQ(client.Get(simulator.port(), kIfPhysAddress1).type(), Type::OctetString);
}

TEST(NvprinterSnmpProcess, LogsOneLinePerRequestUnlessQuiet) {
    Client client;
    for (bool quiet : {false, true}) {
        Simulator simulator(quiet ? std::vector<std::string>{"--quiet"}
                                  : std::vector<std::string>{});
        client.Get(simulator.port(), kIfPhysAddress1);
        client.Ask(simulator.port(), PduType::GetNextRequest, {kPrinterMib});
        client.Ask(simulator.port(), PduType::GetRequest, {kIfPhysAddress1}, "public", 200);
        EXPECT_EQ(simulator.Stop(SIGTERM), 0);
        const std::string log = simulator.Log();
        std::size_t lines = 0;
        for (std::size_t at = log.find("-> 127.0.0.1: "); at != std::string::npos;
             at = log.find("-> 127.0.0.1: ", at + 1)) {
            ++lines;
        }
        EXPECT_EQ(lines, quiet ? 0u : 3u) << log;
        if (quiet) {
            EXPECT_EQ(log, "");
        }
    }
}

TEST(NvprinterSnmpProcess, StopsCleanlyOnSigtermAndSigint) {
    for (int signal : {SIGTERM, SIGINT}) {
        Simulator simulator({"--late", "60000"});
        Client client;
        // A reply still waiting for its delay must not hold up the stop.
        client.Ask(simulator.port(), PduType::GetRequest, {kIfPhysAddress1}, "commro", 100);
        EXPECT_EQ(simulator.Stop(signal), 0) << strsignal(signal);
    }
}

TEST(NvprinterCommandLine, HelpUsageErrorsAndBindFailure) {
    const std::string tool = SimulatorPath();
    std::string output;
    EXPECT_EQ(RunCommand(tool, &output), 2);
    EXPECT_EQ(RunCommand(tool + " --help", &output), 0);
    EXPECT_NE(output.find("snmp"), std::string::npos);
    EXPECT_EQ(RunCommand(tool + " snmp --help", &output), 0);
    EXPECT_NE(output.find("--not-a-printer"), std::string::npos);
    EXPECT_EQ(RunCommand(tool + " telnet", &output), 2);
    EXPECT_NE(output.find("unknown mode 'telnet'"), std::string::npos) << output;

    for (const char* options :
         {"", "--listen 127.0.0.1", "--listen 127.0.0.1:70000", "--listen localhost:161",
          "--listen 127.0.0.1:0 --mac 021a2b3c4d", "--listen 127.0.0.1:0 --mac-length 7",
          "--listen 127.0.0.1:0 --device-index 0", "--listen 127.0.0.1:0 --device-index 768",
          "--listen 127.0.0.1:0 --mask 255.255.255", "--listen 127.0.0.1:0 --late soon",
          "--listen 127.0.0.1:0 --frobnicate", "--listen 127.0.0.1:0 extra"}) {
        EXPECT_EQ(RunCommand(tool + " snmp " + options, &output), 2) << options;
        EXPECT_NE(output.find("nvprinter snmp: "), std::string::npos) << options << output;
    }

    // A port that is already taken.
    Simulator first({});
    EXPECT_EQ(
        RunCommand(tool + " snmp --listen 127.0.0.1:" + std::to_string(first.port()), &output), 1);
    EXPECT_NE(output.find("cannot bind 127.0.0.1:"), std::string::npos) << output;
}

// net-snmp's tools as the manager: they must read the simulator exactly as the codec does.
TEST(NvprinterSnmpNetSnmp, SnmpgetAndSnmpgetnextAgreeWithTheCodec) {
    std::string output;
    if (RunCommand("command -v snmpget && command -v snmpgetnext", &output) != 0) {
        GTEST_SKIP() << "net-snmp's snmpget/snmpgetnext are not installed "
                        "(apt-get install snmp)";
    }
    Simulator simulator({"--mac", "021a2b3c4d5e"});
    const std::string target =
        " -v1 -c commro -On -r 1 -t 2 127.0.0.1:" + std::to_string(simulator.port()) + " ";
    Client client;

    ASSERT_EQ(RunCommand("MIBS= snmpget" + target + "1.3.6.1.2.1.2.2.1.6.1", &output), 0) << output;
    EXPECT_EQ(BindingLines(output), ".1.3.6.1.2.1.2.2.1.6.1 = Hex-STRING: 02 1A 2B 3C 4D 5E \n");
    EXPECT_EQ(client.Get(simulator.port(), kIfPhysAddress1),
              Value::OctetString(Bytes{0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));

    ASSERT_EQ(RunCommand("MIBS= snmpgetnext" + target + "1.3.6.1.2.1.43", &output), 0) << output;
    std::optional<Message> next =
        client.Ask(simulator.port(), PduType::GetNextRequest, {kPrinterMib});
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(BindingLines(output), next->pdu.varbinds[0].name.ToString() + " = Counter32: 7\n");

    ASSERT_EQ(RunCommand("MIBS= snmpget" + target + "1.3.6.1.2.1.4.20.1.3.127.0.0.1", &output), 0)
        << output;
    EXPECT_EQ(BindingLines(output), ".1.3.6.1.2.1.4.20.1.3.127.0.0.1 = IpAddress: 255.255.255.0\n");

    // A missing object: snmpget reports noSuchName and names it.
    RunCommand("MIBS= snmpget" + target + "1.3.6.1.2.1.43.99.0", &output);
    EXPECT_NE(output.find("noSuchName"), std::string::npos) << output;
    EXPECT_NE(output.find(".1.3.6.1.2.1.43.99.0"), std::string::npos) << output;
}
