#include "tests/discover/peers.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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
    return {
        "snmpd",           "-f", "-C", "-c", dir + "/snmpd.conf", "-p", dir + "/snmpd.pid", "-Lf",
        dir + "/snmpd.log"};
}

// --- NetnsLab ---

NetnsLab::NetnsLab(int printers, bool defaultRoutes) : printers_(printers) {
    prefix_ = "nvd" + std::to_string(getpid());
    client_ = prefix_ + "c";
    const std::string cli = "ip -n " + client_ + " ";
    bool ok = Run("ip netns add " + client_) && Run(cli + "link set lo up") &&
              Run(cli + "link add br0 type bridge") &&
              Run(cli + "addr add 192.168.77.1/24 brd 192.168.77.255 dev br0") &&
              Run(cli + "link set br0 up") && Run(cli + "route add default dev br0");
    for (int k = 1; ok && k <= printers; ++k) {
        const std::string ns = printer(k);
        const std::string p = "ip -n " + ns + " ";
        const std::string link = "v" + std::to_string(k);
        ok = Run("ip netns add " + ns) && Run(p + "link set lo up") &&
             Run("ip link add " + link + " netns " + ns + " type veth peer name " + link +
                 "b netns " + client_) &&
             Run(p + "addr add " + PrinterAddress(k) + "/24 brd 192.168.77.255 dev " + link) &&
             Run(p + "link set " + link + " up") &&
             (!defaultRoutes || Run(p + "route add default via 192.168.77.1")) &&
             Run(cli + "link set " + link + "b master br0") &&
             Run(cli + "link set " + link + "b up");
    }
}

NetnsLab::~NetnsLab() {
    std::string ignored;
    for (int k = 1; k <= printers_; ++k) {
        Shell("ip netns del " + printer(k), &ignored);
    }
    Shell("ip netns del " + client_, &ignored);
}

std::string NetnsLab::printer(int k) const {
    return prefix_ + "p" + std::to_string(k);
}

std::string NetnsLab::PrinterAddress(int k) {
    return "192.168.77." + std::to_string(10 + k);
}

bool NetnsLab::RewriteSubnetBroadcast(int k) {
    return Run("ip netns exec " + printer(k) +
               " nft 'add table ip bcast; add chain ip bcast pre { type filter hook prerouting "
               "priority raw; policy accept; }; add rule ip bcast pre ip daddr 192.168.77.255 "
               "udp dport 161 notrack ip daddr set " +
               PrinterAddress(k) + "'");
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
