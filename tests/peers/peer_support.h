// What the tests against line printer daemons share: programs run to completion or in the
// background (stopped by their own pid), LPR ports made through the monitor, loopback clients,
// and waiting for files to appear.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/run_tool.h"
#include "tests/support/test_env.h"

namespace nvtest {

// Runs a program found on PATH to its end; stdout and stderr together in `out`.
ToolResult RunCommand(const std::vector<std::string>& argv);

// A program started in the background as this process's child. Its stdout is a pipe that
// readLine() reads; its stderr goes to a file. The destructor stops it by its pid.
class BackgroundProcess {
  public:
    BackgroundProcess(const std::vector<std::string>& argv, const std::string& logPath);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    // One line of stdout without its LF; empty after timeoutMs or at its end.
    std::string readLine(int timeoutMs);
    // Sends `signal`, waits up to graceMs, then SIGKILL. The exit code, 128 + the signal that
    // ended it, or -1 when it was not running.
    int stop(int signal = SIGTERM, int graceMs = 10000);
    // Waits for the program to end by itself; -1 when it is still running after timeoutMs.
    int wait(int timeoutMs);

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

// nvprinter MODE ... in the background; the port comes from its "listening on" line.
class Simulator {
  public:
    Simulator(const std::string& mode, std::vector<std::string> options);
    uint16_t port() const { return port_; }
    std::string log() const;
    // Waits until the log has `count` lines that start with "job " and hold "status".
    bool waitForSummaries(size_t count, int timeoutMs = 20000) const;
    // The summary line of job `number` ("job N: status ..."), or empty.
    std::string summary(int number) const;
    int stop(int signal = SIGTERM) { return process_->stop(signal); }
    BackgroundProcess& process() { return *process_; }

  private:
    TempDir dir_;  // holds the log
    std::string logPath_;
    std::unique_ptr<BackgroundProcess> process_;
    uint16_t port_ = 0;
};

// Polls `done` every 10 ms until it holds (true) or timeoutMs pass (false).
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// `size` bytes that are not a repeating pattern, the same for the same seed.
std::string TestData(size_t size, uint32_t seed);

// An LPR port to 127.0.0.1:`port` made through the monitor's Xcv channel (nvspool add-port).
ToolResult AddLprPort(const std::string& name, uint16_t port, const std::string& queue,
                      int timeoutMs);

// A TCP client on loopback that talks to a daemon one command at a time.
class LoopbackClient {
  public:
    // sourcePort 0: any port the system picks.
    explicit LoopbackClient(uint16_t port, uint16_t sourcePort = 0);
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    uint16_t sourcePort() const { return sourcePort_; }
    bool send(const std::string& bytes);
    // The next byte the daemon sends; -1 at the end of the connection, -2 after timeoutMs.
    int answer(int timeoutMs = 5000);
    // Everything the daemon sends until it closes, or until timeoutMs.
    std::string rest(int timeoutMs = 5000);
    void close();

  private:
    int fd_ = -1;
    uint16_t sourcePort_ = 0;
};

}  // namespace nvtest
