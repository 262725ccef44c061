#include "tests/discover/peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

extern char** environ;

namespace nvtest {

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs a shell command; its output when it fails.
bool Shell(const std::string& command, std::string* failure) {
    const std::string full = command + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr) {
        *failure = "cannot run: " + command;
        return false;
    }
    std::string output;
    char chunk[256];
    while (fgets(chunk, sizeof chunk, pipe) != nullptr) {
        output += chunk;
    }
    const int status = pclose(pipe);
    if (status != 0) {
        *failure = command + ": " + output;
        return false;
    }
    return true;
}

}  // namespace

std::string PrivilegedPortsUnavailable() {
    return geteuid() == 0 ? "" : "needs root: the agents listen on UDP port 161";
}

std::string LabUnavailable() {
    if (geteuid() != 0) {
        return "needs root to build the network namespace lab";
    }
    const std::string probe = "nvdprobe" + std::to_string(getpid());
    std::string failure;
    if (!Shell("ip netns add " + probe, &failure)) {
        return "ip netns is not available here (" + failure + ")";
    }
    Shell("ip netns del " + probe, &failure);
    return "";
}

std::string ProgramMissing(const std::string& program) {
    std::string failure;
    if (Shell("command -v " + program + " >/dev/null", &failure)) {
        return "";
    }
    return program + " is not installed (bash scripts/install-deps.sh)";
}

// --- PeerProcess ---

PeerProcess::PeerProcess(const std::vector<std::string>& argv, const std::string& netns,
                         const std::vector<std::string>& environment) {
    std::vector<std::string> args;
    if (!netns.empty()) {
        args = {"ip", "netns", "exec", netns};
    }
    args.insert(args.end(), argv.begin(), argv.end());
    std::vector<char*> argp;
    for (std::string& arg : args) {
        argp.push_back(arg.data());
    }
    argp.push_back(nullptr);
    std::vector<std::string> envCopies(environment);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        envp.push_back(*e);
    }
    for (std::string& entry : envCopies) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    const std::string log = dir_.file("stderr.log");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawnp(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
}

PeerProcess::~PeerProcess() {
    Stop();
    if (out_ >= 0) {
        close(out_);
    }
}

void PeerProcess::ReadOutput() {
    char chunk[512];
    ssize_t n;
    while (out_ >= 0 && (n = read(out_, chunk, sizeof chunk)) > 0) {
        output_.append(chunk, static_cast<size_t>(n));
    }
}

bool PeerProcess::WaitFor(const std::string& needle, int timeoutMs, const std::string& logFile) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        ReadOutput();
        const std::string text = logFile.empty() ? output_ : ReadFile(logFile);
        if (text.find(needle) != std::string::npos) {
            return true;
        }
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;  // it ended before it was ready
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string PeerProcess::Output() {
    ReadOutput();
    return output_;
}

std::string PeerProcess::Log() const {
    return ReadFile(dir_.file("stderr.log"));
}

int PeerProcess::Stop() {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    // A daemon gets five seconds to go; then it is killed, so a test never hangs on it.
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

Simulator::Simulator(const std::string& listen, const std::vector<std::string>& options,
                     const std::string& netns)
    : PeerProcess(
          [&] {
              std::vector<std::string> argv = {BuildDir() + "/bin/nvprinter", "snmp", "--listen",
                                               listen};
              argv.insert(argv.end(), options.begin(), options.end());
              return argv;
          }(),
          netns) {
    ready_ = started() && WaitFor("listening on", 10000);
}

Snmpd::Snmpd(const Config& config, const std::string& netns)
    : PeerProcess(Arguments(config, files.path().string()), netns,
                  {"MIBS=", "SNMP_PERSISTENT_DIR=" + files.path().string()}) {
    ready_ = started() && WaitFor("NET-SNMP version", 10000, files.file("snmpd.log"));
}

// Writes the configuration (before the process starts: the base class runs this first).
std::vector<std::string> Snmpd::Arguments(const Config& config, const std::string& dir) {
    std::ofstream conf(dir + "/snmpd.conf");
    const std::string device = std::to_string(config.deviceIndex);
    conf << "agentAddress " << config.agentAddress << "\n"
         << "rocommunity commro default\n"
         << "override 1.3.6.1.2.1.43.5.1.1.1.1 counter 7\n"
         << "override 1.3.6.1.2.1.2.2.1.6.1 octet_str 0x" << config.mac << "\n"
         << "override 1.3.6.1.2.1.25.3.2.1.1." << device << " integer " << device << "\n"
         << "override 1.3.6.1.2.1.25.3.2.1.2." << device << " object_id 1.3.6.1.2.1.25.3.1.5\n"
         << "override 1.3.6.1.2.1.25.3.2.1.3." << device << " octet_str \"" << config.description
         << "\"\n";
    for (const std::string& line : config.lines) {
        conf << line << "\n";
    }
    return {
        "snmpd",           "-f", "-C", "-c", dir + "/snmpd.conf", "-p", dir + "/snmpd.pid", "-Lf",
        dir + "/snmpd.log"};
}

// --- NetnsLab ---

namespace {

// The broadcast address of address/prefixLength.
std::string BroadcastOf(const std::string& address, int prefixLength) {
    in_addr parsed = {};
    inet_pton(AF_INET, address.c_str(), &parsed);
    const std::uint32_t host = prefixLength >= 32 ? 0u : 0xffffffffu >> prefixLength;
    parsed.s_addr |= htonl(host);
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &parsed, text, sizeof text);
    return text;
}

LabLayout UsualLayout(int printers, bool defaultRoutes) {
    LabLayout layout;
    LabSegment segment{NetnsLab::kClientAddress, 24, {}};
    for (int k = 1; k <= printers; ++k) {
        segment.printers.push_back(NetnsLab::PrinterAddress(k));
    }
    layout.segments.push_back(segment);
    layout.printerDefaultRoutes = defaultRoutes;
    return layout;
}

}  // namespace

NetnsLab::NetnsLab(int printers, bool defaultRoutes) {
    Build(UsualLayout(printers, defaultRoutes));
}

NetnsLab::NetnsLab(const LabLayout& layout) {
    Build(layout);
}

void NetnsLab::Build(const LabLayout& layout) {
    prefix_ = "nvd" + std::to_string(getpid());
    client_ = prefix_ + "c";
    const std::string cli = "ip -n " + client_ + " ";
    bool ok = Run("ip netns add " + client_) && Run(cli + "link set lo up");
    for (size_t s = 0; ok && s < layout.segments.size(); ++s) {
        const LabSegment& segment = layout.segments[s];
        const std::string bridge = "br" + std::to_string(s);
        const std::string prefix = "/" + std::to_string(segment.prefixLength);
        const std::string broadcast = BroadcastOf(segment.clientAddress, segment.prefixLength);
        ok = Run(cli + "link add " + bridge + " type bridge") &&
             Run(cli + "addr add " + segment.clientAddress + prefix + " brd " + broadcast +
                 " dev " + bridge) &&
             Run(cli + "link set " + bridge + " up");
        for (size_t i = 0; ok && i < segment.printers.size(); ++i) {
            printers_.push_back({segment.printers[i], broadcast});
            const int k = static_cast<int>(printers_.size());
            const std::string ns = printer(k);
            const std::string p = "ip -n " + ns + " ";
            const std::string link = "v" + std::to_string(k);
            ok = Run("ip netns add " + ns) && Run(p + "link set lo up") &&
                 Run("ip link add " + link + " netns " + ns + " type veth peer name " + link +
                     "b netns " + client_) &&
                 Run(p + "addr add " + segment.printers[i] + prefix + " brd " + broadcast +
                     " dev " + link) &&
                 Run(p + "link set " + link + " up") &&
                 (!layout.printerDefaultRoutes ||
                  Run(p + "route add default via " + segment.clientAddress)) &&
                 Run(cli + "link set " + link + "b master " + bridge) &&
                 Run(cli + "link set " + link + "b up");
        }
    }
    if (ok && !layout.clientDefaultRoute.empty()) {
        Run(cli + "route add default " + layout.clientDefaultRoute);
    }
}

NetnsLab::~NetnsLab() {
    std::string ignored;
    for (size_t k = 1; k <= printers_.size(); ++k) {
        Shell("ip netns del " + printer(static_cast<int>(k)), &ignored);
    }
    Shell("ip netns del " + client_, &ignored);
}

std::string NetnsLab::printer(int k) const {
    return prefix_ + "p" + std::to_string(k);
}

std::string NetnsLab::address(int k) const {
    return printers_.at(static_cast<size_t>(k - 1)).address;
}

std::string NetnsLab::broadcast(int k) const {
    return printers_.at(static_cast<size_t>(k - 1)).broadcast;
}

std::string NetnsLab::PrinterAddress(int k) {
    return "192.168.77." + std::to_string(10 + k);
}

bool NetnsLab::RewriteSubnetBroadcast(int k) {
    return Run("ip netns exec " + printer(k) +
               " nft 'add table ip bcast; add chain ip bcast pre { type filter hook prerouting "
               "priority raw; policy accept; }; add rule ip bcast pre ip daddr " +
               broadcast(k) + " udp dport 161 notrack ip daddr set " + address(k) + "'");
}

bool NetnsLab::DropUnicastSnmp(int k) {
    return Run("ip netns exec " + printer(k) +
               " nft 'add table ip unicast; add chain ip unicast in { type filter hook input "
               "priority 0; policy accept; }; add rule ip unicast in ip daddr " +
               address(k) + " udp dport 161 drop'");
}

bool NetnsLab::Run(const std::string& command) {
    std::string failure;
    if (Shell(command, &failure)) {
        return true;
    }
    if (error_.empty()) {
        error_ = failure;
    }
    return false;
}

// --- GarbageFlood ---

GarbageFlood::GarbageFlood(const std::string& netns, const std::string& address,
                           std::uint16_t port) {
    thread_ = std::thread([this, netns, address, port] {
        InNamespace inside(netns);
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        std::mt19937 random(7);
        std::uint8_t junk[64];
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (inside.ok() && fd >= 0 && !stop_ && std::chrono::steady_clock::now() < end) {
            for (std::uint8_t& octet : junk) {
                octet = static_cast<std::uint8_t>(random());
            }
            junk[0] = 0x30;  // a SEQUENCE, as every SNMP message starts
            if (sendto(fd, junk, 1 + random() % sizeof junk, 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0) {
                ++sent_;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        running_ = false;
        if (fd >= 0) {
            close(fd);
        }
    });
}

GarbageFlood::~GarbageFlood() {
    stop_ = true;
    thread_.join();
}

// --- InNamespace ---

InNamespace::InNamespace(const std::string& name) {
    home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    entered_ = home_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) {
        close(target);
    }
}

InNamespace::~InNamespace() {
    if (entered_) {
        setns(home_, CLONE_NEWNET);
    }
    if (home_ >= 0) {
        close(home_);
    }
}

}  // namespace nvtest
