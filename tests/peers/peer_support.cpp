#include "tests/peers/peer_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/test_env.h"

extern char** environ;

namespace nvtest {

namespace {

std::vector<char*> Argv(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return argv;
}

int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ToolResult RunCommand(const std::vector<std::string>& command) {
    TempDir dir;
    const std::string output = dir.file("out");
    std::vector<std::string> args(command);
    std::vector<char*> argv = Argv(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    ToolResult result;
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.exitCode = ExitCode(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = ReadFile(output);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& command,
                                     const std::string& logPath) {
    std::vector<std::string> args(command);
    std::vector<char*> argv = Argv(args);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const int spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        pid_ = -1;
        ::close(out[0]);
        throw std::runtime_error("cannot start " + command[0]);
    }
    out_ = out[0];
}

BackgroundProcess::~BackgroundProcess() {
    stop();
    if (out_ >= 0) {
        ::close(out_);
    }
}

std::string BackgroundProcess::readLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t lf = pending_.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{out_, POLLIN, 0};
        char buffer[256];
        ssize_t n = 0;
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
            (n = read(out_, buffer, sizeof buffer)) <= 0) {
            return "";
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

int BackgroundProcess::wait(int timeoutMs) {
    if (pid_ <= 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return ExitCode(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return -1;
}

int BackgroundProcess::stop(int signal, int graceMs) {
    if (pid_ <= 0) {
        return -1;
    }
    const pid_t pid = pid_;
    kill(pid, signal);
    int code = wait(graceMs);
    if (code < 0 && pid_ > 0) {
        kill(pid, SIGKILL);  // it ignored the request: this process started it, so end it
        int status = 0;
        waitpid(pid, &status, 0);
        pid_ = -1;
        code = ExitCode(status);
    }
    return code;
}

Simulator::Simulator(const std::string& mode, std::vector<std::string> options)
    : logPath_(dir_.file("nvprinter.log")) {
    std::vector<std::string> argv = {BuildDir() + "/bin/nvprinter", mode};
    argv.insert(argv.end(), options.begin(), options.end());
    process_ = std::make_unique<BackgroundProcess>(argv, logPath_);
    const std::string line = process_->readLine(10000);
    const size_t colon = line.rfind(':');
    if (line.find("listening on") == std::string::npos || colon == std::string::npos) {
        process_->stop();
        throw std::runtime_error("no ready line from nvprinter " + mode + "; its log:\n" + log());
    }
    port_ = static_cast<uint16_t>(std::stoi(line.substr(colon + 1)));
}

std::string Simulator::log() const {
    return ReadFile(logPath_);
}

bool Simulator::waitForSummaries(size_t count, int timeoutMs) const {
    return WaitUntil(
        [&] {
            std::istringstream lines(log());
            size_t found = 0;
            for (std::string line; std::getline(lines, line);) {
                found += line.rfind("job ", 0) == 0 && line.find(": status ") != std::string::npos;
            }
            return found >= count;
        },
        timeoutMs);
}

std::string Simulator::summary(int number) const {
    const std::string prefix = "job " + std::to_string(number) + ": status ";
    std::istringstream lines(log());
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(prefix, 0) == 0) {
            return line;
        }
    }
    return "";
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string TestData(size_t size, uint32_t seed) {
    std::string data(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& c : data) {
        state = state * 1664525u + 1013904223u;  // a linear congruential sequence
        c = static_cast<char>(state >> 24);
    }
    return data;
}

ToolResult AddLprPort(const std::string& name, uint16_t port, const std::string& queue,
                      int timeoutMs) {
    return RunTool("nvspool",
                   {"add-port", name, "--ip", "127.0.0.1", "--lpr", "--queue", queue,
                    "--port-number", std::to_string(port), "--timeout", std::to_string(timeoutMs)});
}

LoopbackClient::LoopbackClient(uint16_t port, uint16_t sourcePort) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sourcePort != 0) {
        const int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        address.sin_port = htons(sourcePort);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close();
            return;
        }
    }
    address.sin_port = htons(port);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return;
    }
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    sourcePort_ = ntohs(address.sin_port);
}

LoopbackClient::~LoopbackClient() {
    close();
}

bool LoopbackClient::send(const std::string& bytes) {
    size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return fd_ >= 0;
}

int LoopbackClient::answer(int timeoutMs) {
    pollfd ready{fd_, POLLIN, 0};
    if (fd_ < 0 || poll(&ready, 1, timeoutMs) <= 0) {
        return -2;
    }
    unsigned char byte = 0;
    return recv(fd_, &byte, 1, 0) == 1 ? byte : -1;
}

std::string LoopbackClient::rest(int timeoutMs) {
    std::string text;
    for (;;) {
        const int byte = answer(timeoutMs);
        if (byte < 0) {
            return text;
        }
        text.push_back(static_cast<char>(byte));
    }
}

void LoopbackClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace nvtest
